// Starting a site's frontend dev server: from ViteDevServer::start to the running phase, with a
// script that prints Vite's banner at once and node_modules present. Baseline, same run:
// `npm run dev` spawned directly and read until the banner's address line. Best of five each.
#include "BenchMachine.h"
#include "BenchNodeProject.h"
#include "BenchReport.h"

#include "WaitFor.h"
#include "services/ProcessRunner.h"
#include "services/frontend/ViteDevServer.h"
#include "services/runtime/RuntimeManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik;

namespace {

double direct(const QString& folder)
{
    QElapsedTimer timer;
    timer.start();
    QProcess npm;
    npm.setWorkingDirectory(folder);
    npm.setChildProcessModifier([] { ::setsid(); });
    npm.start(QStringLiteral("/usr/bin/npm"), {QStringLiteral("run"), QStringLiteral("dev")});
    QByteArray output;
    // The address line, however the banner colours its words.
    while (!output.contains("http://localhost:5173/") && npm.waitForReadyRead(10000))
        output += npm.readAllStandardOutput();
    const double seconds = timer.nsecsElapsed() / 1e9;
    ::kill(-static_cast<pid_t>(npm.processId()), SIGTERM);
    npm.waitForFinished();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());
    const QString folder = home.path() + QStringLiteral("/site");
    bench::writeNodeProject(folder, bench::bannerProgram);
    auto site = std::make_shared<Site>(QStringLiteral("site"), folder);

    ProcessRunner runner;
    RuntimeManager runtime(runner);
    ViteDevServer dev(runner, runtime, nullptr, {},
                      DevServerRegistry(home.path() + QStringLiteral("/dev.json")));
    const double started = bench::bestOf(5, [&] {
        QElapsedTimer timer;
        timer.start();
        QEventLoop loop;
        double seconds = -1;
        const auto watch = QObject::connect(&dev, &ViteDevServer::sessionChanged, &loop, [&] {
            const ViteDevSession session = dev.session(site->id());
            if (session.phase == ViteDevServerPhase::running) {
                seconds = timer.nsecsElapsed() / 1e9;
                loop.quit();
            } else if (session.phase == ViteDevServerPhase::failed) {
                qFatal("assets-ready: %s", qPrintable(session.failure));
            }
        });
        halvik::waitFor(dev.start(site));
        if (seconds < 0)
            loop.exec();
        QObject::disconnect(watch);
        dev.stopAll();
        return seconds;
    });
    const double baseline = bench::bestOf(5, [&] { return direct(folder); });
    bench::report(
        QStringLiteral("assets-ready"), started, QStringLiteral("s"), baseline,
        QStringLiteral("banner at once, node_modules present; baseline npm run dev read to the banner"));
    return 0;
}
