// Sharing a site: from SiteTunnelService::start to the session's public URL, with the Laravel
// skeleton (no frontend) and a stand-in cloudflared that registers at once. Baseline, same run:
// the same `php -S` router and stand-in started directly, waiting for the origin's first answer
// and then the registered line. Best of five each.
#include "BenchMachine.h"
#include "BenchReport.h"

#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"
#include "services/sharing/SharingServer.h"
#include "services/sharing/SiteTunnelService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

using namespace halvik;

namespace {

const QString fakeTool = QStringLiteral(HALVIK_SOURCE_DIR "/tests/support/fake-cloudflared");

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (entry.isDir())
            copyTree(entry.filePath(), to + QLatin1Char('/') + entry.fileName());
        else
            QFile::copy(entry.filePath(), to + QLatin1Char('/') + entry.fileName());
    }
}

void stopGroup(QProcess& process)
{
    ::kill(-static_cast<pid_t>(process.processId()), SIGTERM);
    process.waitForFinished();
}

double direct(const QString& site, const QString& router)
{
    QElapsedTimer timer;
    timer.start();
    const int port = LocalServer::freePort(49000, {});
    QProcess php;
    php.setWorkingDirectory(site);
    php.setChildProcessModifier([] { ::setsid(); });
    php.setStandardOutputFile(QProcess::nullDevice());
    php.setStandardErrorFile(QProcess::nullDevice());
    php.start(QStringLiteral("/usr/bin/php"),
              {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-t"),
               site + QStringLiteral("/public"), router});
    const QUrl origin(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    QNetworkAccessManager network;
    QEventLoop loop;
    std::function<void()> poll = [&] {
        QNetworkReply* reply = network.get(QNetworkRequest(origin));
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            reply->deleteLater();
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
                loop.quit();
            else
                QTimer::singleShot(10, &loop, poll);
        });
    };
    poll();
    loop.exec();
    QProcess tool;
    tool.setChildProcessModifier([] { ::setsid(); });
    tool.setProcessChannelMode(QProcess::MergedChannels); // the tool logs on standard error
    tool.start(fakeTool, {QStringLiteral("tunnel"), QStringLiteral("--url"), origin.toString()});
    QByteArray output;
    while (!output.contains("Registered tunnel connection") && tool.waitForReadyRead(10000))
        output += tool.readAll();
    const double seconds = timer.nsecsElapsed() / 1e9;
    stopGroup(tool);
    stopGroup(php);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());
    QDir().mkpath(home.path() + QStringLiteral("/bin"));
    QFile::link(fakeTool, home.path() + QStringLiteral("/bin/cloudflared"));
    qputenv("PATH", (home.path() + QStringLiteral("/bin:")).toUtf8() + qgetenv("PATH"));
    qputenv("FAKE_TUNNEL_REGISTER_DELAY", "0");
    const QString site = home.path() + QStringLiteral("/shop");
    copyTree(QStringLiteral(HALVIK_SOURCE_DIR "/tests/fixtures/laravel-app"), site);
    const QString router = home.path() + QStringLiteral("/router.php");
    QFile routerFile(router);
    routerFile.open(QIODevice::WriteOnly);
    routerFile.write(SharingServer::routerScript());
    routerFile.close();

    SecretStore secrets;
    test::FakePrompts prompts;
    RuntimeRoots roots = RuntimeRoots::system();
    roots.fixedSearch = {QStringLiteral("/usr/bin")};
    AppServices services(secrets, prompts, HerdRoots::under(home.path() + QStringLiteral("/machine")),
                         nullptr, roots);
    auto record = std::make_shared<Site>(QStringLiteral("shop"), site);
    services.store().insertSite(record);
    SiteTunnelService& tunnels = services.processes().tunnels();

    const double shared = bench::bestOf(5, [&] {
        QElapsedTimer timer;
        timer.start();
        halvik::waitFor(tunnels.start(record));
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!tunnels.session(record->id()).url)
            qFatal("share-ready: %s",
                   qPrintable(tunnels.session(record->id()).error.value_or(QStringLiteral("?"))));
        tunnels.stop(record->id());
        return seconds;
    });
    const double baseline = bench::bestOf(5, [&] { return direct(site, router); });
    bench::report(
        QStringLiteral("share-ready"), shared, QStringLiteral("s"), baseline,
        QStringLiteral("Laravel skeleton, stand-in tool registering at once; baseline php -S and the tool "
                       "started directly"));
    services.shutdown();
    return 0;
}
