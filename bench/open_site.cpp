// Opening a site that Halvik's own server must serve (a real Laravel skeleton): from the open
// request to the first successful answer, which is when the browser is told to open the page.
// Baseline, same run: `php artisan serve` launched directly and polled every 10 ms until it
// answers. Best of five each.
#include "BenchMachine.h"
#include "BenchReport.h"

#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "services/serving/LocalServer.h"

#include <QCoreApplication>
#include <QDir>
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

// Launches artisan serve itself and polls until a GET answers; returns the seconds taken.
double directServe(const QString& site, int port)
{
    QElapsedTimer timer;
    timer.start();
    QProcess server;
    server.setWorkingDirectory(site);
    server.setChildProcessModifier([] { ::setsid(); });
    server.start(QStringLiteral("/usr/bin/php"),
                 {QStringLiteral("artisan"), QStringLiteral("serve"), QStringLiteral("--host=127.0.0.1"),
                  QStringLiteral("--port=%1").arg(port), QStringLiteral("--no-reload")});
    QNetworkAccessManager network;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    double seconds = -1;
    QEventLoop loop;
    std::function<void()> poll = [&] {
        QNetworkReply* reply = network.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            reply->deleteLater();
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
                seconds = timer.nsecsElapsed() / 1e9;
                loop.quit();
            } else {
                QTimer::singleShot(10, &loop, poll);
            }
        });
    };
    poll();
    loop.exec();
    ::kill(-static_cast<pid_t>(server.processId()), SIGTERM);
    server.waitForFinished();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());
    const QString site = home.path() + QStringLiteral("/shop");
    copyTree(QStringLiteral(HALVIK_SOURCE_DIR "/tests/fixtures/laravel-app"), site);

    SecretStore secrets;
    test::FakePrompts prompts;
    RuntimeRoots roots = RuntimeRoots::system();
    roots.fixedSearch = {QStringLiteral("/usr/bin")};
    AppServices services(secrets, prompts, HerdRoots::under(home.path() + QStringLiteral("/machine")),
                         nullptr, roots);
    auto record = std::make_shared<Site>(QStringLiteral("shop"), site);
    services.store().insertSite(record);

    const double opened = bench::bestSeconds(5, [&] {
        QElapsedTimer timer;
        double seconds = -1;
        services.setBrowserOpener([&](const QUrl&) {
            seconds = timer.nsecsElapsed() / 1e9;
            return true;
        });
        timer.start();
        halvik::waitFor(services.openInBrowser(record));
        if (seconds < 0)
            qFatal("open-site: %s",
                   qPrintable(services.openSiteError(record->id()).value_or(QStringLiteral("?"))));
        services.localServer().stop(record->id());
        QThread::msleep(200); // the port is free again before the next round
    });
    const int port = LocalServer::freePort(4600, {});
    const double direct = bench::bestSeconds(5, [&] {
        directServe(site, port);
        QThread::msleep(200);
    });
    bench::report(QStringLiteral("open-site"), opened, QStringLiteral("s"), direct,
                  QStringLiteral("real Laravel skeleton; baseline php artisan serve polled every 10 ms"));
    services.shutdown();
    return 0;
}
