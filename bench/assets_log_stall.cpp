// The window while a dev server floods its log: the longest main-thread stall while the script
// prints 200,000 lines with the Overview's Frontend log open.
#include "BenchMachine.h"
#include "BenchNodeProject.h"
#include "BenchReport.h"
#include "StallMeter.h"

#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "services/frontend/ViteDevServer.h"
#include "services/serving/SiteProcesses.h"
#include "views/frontend/FrontendSection.h"
#include "views/site/SiteOverviewTab.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

using namespace halvik;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")).toUtf8());
    QApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());
    constexpr int lines = 200000;
    const QString folder = home.path() + QStringLiteral("/site");
    bench::writeNodeProject(
        folder,
        bench::bannerProgram.left(bench::bannerProgram.lastIndexOf("setInterval")) +
            "let out = '';\n"
            "for (let i = 0; i < 200000; i++) out += `  hmr update /resources/js/app.js (x${i})\\n`;\n"
            "process.stdout.write(out);\n"
            "setInterval(() => {}, 1000);\n");

    SecretStore secrets;
    test::FakePrompts prompts;
    AppServices services(secrets, prompts, HerdRoots::under(home.path() + QStringLiteral("/machine")));
    auto site = std::make_shared<Site>(QStringLiteral("site"), folder);
    services.store().insertSite(site);
    views::SiteOverviewTab overview(services);
    overview.resize(900, 900);
    overview.setSite(site);
    overview.show();
    overview.frontend()->logToggle()->click();

    ViteDevServer& dev = services.processes().devServer();
    qsizetype received = 0;
    QEventLoop loop;
    QObject::connect(&dev, &ViteDevServer::logAppended, &loop, [&](const QUuid&, const QString& batch) {
        received += batch.count(QLatin1Char('\n')) + 1;
        if (received >= lines)
            QTimer::singleShot(100, &loop, &QEventLoop::quit); // and the paint after the last batch
    });
    bench::StallMeter meter;
    meter.start();
    halvik::waitFor(dev.start(site));
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double stall = meter.stopMilliseconds();
    if (received < lines)
        qFatal("assets-log-stall: only %lld lines arrived", static_cast<long long>(received));
    bench::report(QStringLiteral("assets-log-stall"), stall, QStringLiteral("ms"), -1,
                  QStringLiteral("200,000 lines with the Frontend log open; goal ≤ 16 ms"));
    services.shutdown();
    return 0;
}
