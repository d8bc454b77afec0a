// A full environment refresh with 200 registered sites: 100 whose APP_URL answers (a separate
// HTTP server process) and 100 whose APP_URL refuses connections. Measured: the refresh's wall
// time (goal 1.5 s) and the longest the main thread went without turning its event loop.
#include "BenchMachine.h"
#include "BenchReport.h"
#include "StallMeter.h"

#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "app/DevEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

using namespace halvik;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());

    const quint16 answering = bench::freePort();
    QProcess server;
    // A threaded server with a backlog deep enough for 100 sites probed at once.
    const QString script = QStringLiteral(
        "import http.server, sys\n"
        "class S(http.server.ThreadingHTTPServer):\n"
        "    request_queue_size = 512\n"
        "class H(http.server.BaseHTTPRequestHandler):\n"
        "    def do_HEAD(self):\n"
        "        self.send_response(200); self.send_header('Content-Length', '0'); self.end_headers()\n"
        "    do_GET = do_HEAD\n"
        "    def log_message(self, *a): pass\n"
        "S(('127.0.0.1', int(sys.argv[1])), H).serve_forever()\n");
    server.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, QString::number(answering)});
    bench::waitUntilListening(answering);
    const quint16 refusing = bench::freePort(); // nothing listens there

    SecretStore secrets;
    test::FakePrompts prompts;
    AppServices services(secrets, prompts, HerdRoots::under(home.path() + QStringLiteral("/machine")),
                         nullptr, RuntimeRoots::system());
    for (int i = 0; i < 200; ++i) {
        const QString path = home.path() + QStringLiteral("/sites/site-%1").arg(i);
        QDir().mkpath(path);
        QFile env(path + QStringLiteral("/.env"));
        env.open(QIODevice::WriteOnly);
        env.write(QStringLiteral("APP_URL=http://127.0.0.1:%1\n").arg(i % 2 ? refusing : answering).toUtf8());
        env.close();
        services.store().insertSite(std::make_shared<Site>(QStringLiteral("site-%1").arg(i), path));
    }

    DevEnvironment& environment = services.devEnvironment();
    halvik::waitFor(environment.refresh()); // warm-up: tools found, caches filled
    double stall = 0;
    bench::StallMeter meter;
    const double seconds = bench::bestSeconds(3, [&] {
        meter.start();
        halvik::waitFor(environment.refresh());
        stall = std::max(stall, meter.stopMilliseconds());
    });
    int served = 0;
    for (const SiteMapping& mapping : environment.siteMappings())
        served += mapping.reachability.isServing() ? 1 : 0;
    server.terminate();
    server.waitForFinished();
    if (served != 100)
        qFatal("environment-refresh: %d sites answered, expected 100", served);
    bench::report(QStringLiteral("environment-refresh"), seconds, QStringLiteral("s"), -1,
                  QStringLiteral("200 sites, 100 answering; goal 1.5 s"));
    bench::report(QStringLiteral("environment-refresh-stall"), stall, QStringLiteral("ms"), -1,
                  QStringLiteral("longest main-thread stall during a refresh; goal 50 ms"));
    return 0;
}
