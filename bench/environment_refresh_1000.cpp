// A full environment refresh with 1,000 registered sites: half whose APP_URL answers (local HTTP
// server processes) and half whose APP_URL refuses connections, against the same refresh with
// 200 sites in the same run. Measured: the refresh's wall time (goal 2.0 s) and the longest the
// main thread went without turning its event loop meanwhile (goal 16 ms).
#include "BenchMachine.h"
#include "BenchReport.h"
#include "StallMeter.h"

#include "FakePrompts.h"
#include "WaitFor.h"
#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "platform/AppDataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace halvik;

namespace {

// A threaded HEAD/GET server with a deep backlog, in a process of its own.
const char* const serverScript = "import http.server, sys\n"
                                 "class S(http.server.ThreadingHTTPServer):\n"
                                 "    request_queue_size = 1024\n"
                                 "class H(http.server.BaseHTTPRequestHandler):\n"
                                 "    def do_HEAD(self):\n"
                                 "        self.send_response(200); self.send_header('Content-Length', '0')\n"
                                 "        self.end_headers()\n"
                                 "    do_GET = do_HEAD\n"
                                 "    def log_message(self, *a): pass\n"
                                 "S(('127.0.0.1', int(sys.argv[1])), H).serve_forever()\n";

struct Figures
{
    double seconds = 0;
    double stall = 0;
};

// Registers `count` sites, every other one on an answering server, and times the refresh.
Figures measure(const QString& root, int count, const QList<quint16>& answering, quint16 refusing)
{
    SecretStore secrets(root + QStringLiteral("/secrets-%1.json").arg(count));
    test::FakePrompts prompts;
    AppServices services(secrets, prompts, HerdRoots::under(root + QStringLiteral("/machine")), nullptr,
                         RuntimeRoots::system());
    for (int i = 0; i < count; ++i) {
        const QString path = root + QStringLiteral("/sites-%1/site-%2").arg(count).arg(i);
        QDir().mkpath(path);
        QFile env(path + QStringLiteral("/.env"));
        env.open(QIODevice::WriteOnly);
        const quint16 port = i % 2 ? refusing : answering[(i / 2) % answering.size()];
        env.write(QStringLiteral("APP_URL=http://127.0.0.1:%1\n").arg(port).toUtf8());
        env.close();
        services.store().insertSite(std::make_shared<Site>(QStringLiteral("site-%1").arg(i), path));
    }
    DevEnvironment& environment = services.devEnvironment();
    halvik::waitFor(environment.refresh()); // warm-up: tools found, caches filled
    Figures figures;
    bench::StallMeter meter;
    figures.seconds = bench::bestSeconds(3, [&] {
        meter.start();
        halvik::waitFor(environment.refresh());
        figures.stall = std::max(figures.stall, meter.stopMilliseconds());
    });
    int served = 0;
    for (const SiteMapping& mapping : environment.siteMappings())
        served += mapping.reachability.isServing() ? 1 : 0;
    if (served != count / 2)
        qFatal("environment-refresh-1000: %d of %d sites answered, expected %d", served, count, count / 2);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());

    // Several servers share the answering half, as several local servers would.
    std::vector<std::unique_ptr<QProcess>> servers;
    QList<quint16> answering;
    for (int i = 0; i < 4; ++i) {
        const quint16 port = bench::freePort();
        auto server = std::make_unique<QProcess>();
        server->start(QStringLiteral("python3"),
                      {QStringLiteral("-c"), QString::fromLatin1(serverScript), QString::number(port)});
        if (!bench::waitUntilListening(port))
            qFatal("environment-refresh-1000: a local server did not start");
        answering << port;
        servers.push_back(std::move(server));
    }
    const quint16 refusing = bench::freePort(); // nothing listens there

    const Figures baseline = measure(home.path(), 200, answering, refusing);
    // Each measurement starts from an empty store, or the next one would adopt these sites.
    QFile::remove(AppDataDir::directory() + QStringLiteral("/store.json"));
    const Figures large = measure(home.path(), 1000, answering, refusing);
    for (auto& server : servers) {
        server->terminate();
        server->waitForFinished();
    }
    bench::report(QStringLiteral("environment-refresh-1000"), large.seconds, QStringLiteral("s"),
                  baseline.seconds,
                  QStringLiteral("1,000 sites, 500 answering; baseline 200 sites; goal 2.0 s"));
    bench::report(QStringLiteral("environment-refresh-1000-stall"), large.stall, QStringLiteral("ms"),
                  baseline.stall, QStringLiteral("longest main-thread stall during the refresh; goal 16 ms"));
    return 0;
}
