// The Forge screens under load, against the tests' Forge fake on loopback:
// - deploy-poll-stall: the longest main-thread stall while the Deploy tab follows a deployment
//   whose output grows to 20,000 lines over 40 polls (no wait between polls). Goal: 16 ms.
// - deploy-first-status: "Deploy now" to the first poll's status and output on screen, every
//   answer delayed 20 ms, against a bare client sending the same three requests in sequence
//   (trigger, latest deployment, its output). Goal: ratio 1.3.
// - hosts-filter: a Forge account with 500 servers loaded; the slowest keystroke in the Hosts
//   search to the repainted lists. Goal: 16 ms.
#include "BenchMachine.h"
#include "BenchReport.h"
#include "StallMeter.h"

#include "FakeForge.h"
#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "async/Sleep.h"
#include "models/SiteStore.h"
#include "services/hosting/HostAccountService.h"
#include "views/accounts/HostsPage.h"
#include "views/common/LiveLogView.h"
#include "views/deploy/DeployTab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>

using namespace halvik;
using test::FakeForge;

namespace {

constexpr auto token = "forge-bench-token";

// Turns the event loop until `done` holds; false after a minute.
bool spinUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The same three requests a redeploy's first poll makes, one after another, nothing else.
double bareClientSeconds(const QString& root, qint64 server, qint64 site)
{
    QNetworkAccessManager network;
    const auto send = [&](const QByteArray& method, const QString& path) {
        QNetworkRequest request(QUrl(root + QStringLiteral("/api/v1/") + path));
        request.setRawHeader("Authorization", QByteArray("Bearer ") + token);
        request.setRawHeader("Accept", "application/json");
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply* reply = network.sendCustomRequest(request, method, QByteArray());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    };
    const QString base = QStringLiteral("servers/%1/sites/%2").arg(server).arg(site);
    QElapsedTimer clock;
    clock.start();
    send("POST", base + QStringLiteral("/deployment/deploy"));
    const QByteArray history = send("GET", base + QStringLiteral("/deployment-history"));
    const auto document = QJsonDocument::fromJson(history).object();
    const qint64 id = document.value("deployments").toArray().first().toObject().value("id").toInteger();
    send("GET", base + QStringLiteral("/deployment-history/%1/output").arg(id));
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")).toUtf8());
    QTemporaryDir home;
    bench::isolateHome(home.path());
    QApplication app(argc, argv);

    FakeForge forge{token};
    QJsonArray servers;
    for (int i = 0; i < 500; ++i)
        servers.append(FakeForge::server(1000 + i, QStringLiteral("web-%1").arg(i),
                                         QStringLiteral("10.%1.%2.7").arg(i / 200).arg(i % 200)));
    forge.servers = servers;
    if (!forge.start())
        qFatal("deploy-screens: the Forge fake did not start");
    qputenv("HALVIK_FORGE_URL", forge.root().toUtf8());

    SecretStore secrets;
    test::FakePrompts prompts;
    AppServices services(secrets, prompts, HerdRoots::under(home.path() + QStringLiteral("/machine")),
                         nullptr, RuntimeRoots::system());
    ForgeDeployJob::Timing timing;
    timing.interval = std::chrono::milliseconds(0);
    timing.sleep = [](std::chrono::milliseconds, CancellationToken cancel) -> QCoro::Task<> {
        co_await sleepFor(std::chrono::milliseconds(0), cancel);
    };
    services.deploys().setForgeTiming(timing);
    const HostAccountPtr host =
        halvik::waitFor(services.hostAccounts().connect(HostProviderKind::forge, QString::fromUtf8(token)));

    // A site already on Forge: Deploy now triggers and follows.
    QDir().mkpath(home.path() + QStringLiteral("/Sites/shop"));
    auto site = std::make_shared<Site>(QStringLiteral("Shop"), home.path() + QStringLiteral("/Sites/shop"));
    site->setForgeHostId(host->id());
    site->setForgeServerId(1012);
    site->setForgeSiteId(77);
    services.store().insertSite(site);

    views::DeployTab tab(services);
    tab.resize(900, 620);
    tab.setSite(site);
    tab.show();
    QCoreApplication::processEvents();
    const auto deployed = [&tab] { return tab.runStatus()->text() == QStringLiteral("Deployed."); };

    // 1. Forty polls, 500 new lines each.
    QStringList statuses(39, QStringLiteral("deploying"));
    statuses << QStringLiteral("finished");
    forge.statuses = statuses;
    forge.outputPerPoll = 500;
    bench::StallMeter meter;
    meter.start();
    tab.deployNowButton()->click();
    if (!spinUntil(deployed))
        qFatal("deploy-poll-stall: the deployment did not finish: %s", qPrintable(tab.runStatus()->text()));
    const double stall = meter.stopMilliseconds();
    const int lines = int(tab.liveLog()->text().count(QLatin1Char('\n'))) + 1;
    bench::report(QStringLiteral("deploy-poll-stall"), stall, QStringLiteral("ms"), -1,
                  QStringLiteral("longest stall following %1 lines over 40 polls; goal 16 ms").arg(lines));

    // 2. First status on screen, every answer 20 ms late; best of five each.
    forge.statuses = {QStringLiteral("deploying"), QStringLiteral("finished")};
    forge.outputPerPoll = 2;
    forge.server().setDelay(20);
    double first = 1e300;
    for (int run = 0; run < 5; ++run) {
        spinUntil([&tab] { return tab.deployNowButton()->isEnabled(); });
        QElapsedTimer clock;
        clock.start();
        tab.deployNowButton()->click();
        if (!spinUntil([&tab] {
                return tab.runStatus()->text().startsWith(QStringLiteral("Forge: ")) &&
                       tab.liveLog()->text().contains(QStringLiteral("line"));
            }))
            qFatal("deploy-first-status: no status came: %s", qPrintable(tab.runStatus()->text()));
        first = std::min(first, clock.nsecsElapsed() / 1e9);
        spinUntil(deployed);
    }
    double bare = 1e300;
    for (int run = 0; run < 5; ++run)
        bare = std::min(bare, bareClientSeconds(forge.root(), 1012, 77));
    bench::report(
        QStringLiteral("deploy-first-status"), first, QStringLiteral("s"), bare,
        QStringLiteral(
            "Deploy now to the first status and output painted, answers 20 ms late; goal ratio 1.3"));
    forge.server().setDelay(0);

    // 3. The Hosts search over 500 servers.
    views::HostsPage page(services);
    page.resize(1100, 700);
    page.show();
    page.selectHost(host->id());
    if (!spinUntil([&page] { return page.list()->count() > 0; }))
        qFatal("hosts-filter: no hosts listed");
    // The servers load with the host's detail; searching matches their names and addresses.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    double slowest = 0;
    for (const QString& text : {QStringLiteral("w"), QStringLiteral("we"), QStringLiteral("web"),
                                QStringLiteral("web-"), QStringLiteral("web-4"), QStringLiteral("web-49"),
                                QStringLiteral("10.1"), QStringLiteral("10.1."), QString()}) {
        QElapsedTimer clock;
        clock.start();
        page.searchField()->setText(text);
        page.repaint();
        QCoreApplication::processEvents();
        slowest = std::max(slowest, clock.nsecsElapsed() / 1e6);
    }
    bench::report(QStringLiteral("hosts-filter"), slowest, QStringLiteral("ms"), -1,
                  QStringLiteral("slowest keystroke to the repainted lists, 500 servers; goal 16 ms"));
    return 0;
}
