#include "FakePrompts.h"
#include "FakeWebServer.h"
#include "NodeProject.h"
#include "TestMain.h"
#include "WaitFor.h"
#include "tst_sharing_cli.h"

#include "app/AppServices.h"
#include "services/serving/SiteProcesses.h"
#include "services/sharing/SharingPreparation.h"
#include "services/sharing/SharingServer.h"
#include "services/sharing/SiteTunnelService.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

using namespace halvik;
using namespace halvik::test;

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir())
            copyTree(entry.filePath(), target);
        else
            QFile::copy(entry.filePath(), target);
    }
}

bool commandLineRuns(const QString& needle)
{
    return anyLiveProcess([&needle](qint64 pid, qint64) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return cmdline.open(QIODevice::ReadOnly) &&
               cmdline.readAll().replace('\0', ' ').contains(needle.toUtf8());
    });
}

QJsonObject readRecord(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray get(const QUrl& url)
{
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(QNetworkRequest(url));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(15000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// Everything sharing needs: the real PHP, the dev server it guards against, and the tunnel.
struct SharingHarness
{
    explicit SharingHarness(const QString& registry)
        : dev(registry, roots()), tunnels(dev.runner, dev.runtime, nullptr, dev.dev)
    {
    }
    static RuntimeRoots roots()
    {
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = {QStringLiteral("/usr/bin")};
        return roots;
    }
    DevServerHarness dev;
    SiteTunnelService tunnels;
};

} // namespace

class SharingTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_state;
    QTemporaryDir m_temp;
    QTemporaryDir m_bin;
    QString m_record;

    QString registry() const { return m_state.filePath(QStringLiteral("dev-servers.json")); }

    SitePtr laravelSite(const QString& folder) const
    {
        copyTree(fixturesDir() + QStringLiteral("/laravel-app"), folder);
        return std::make_shared<Site>(QStringLiteral("Shared"), folder);
    }

    QStringList leftoverFolders() const
    {
        return QDir(m_temp.path()).entryList({QStringLiteral("Halvik-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    void useTool(bool present)
    {
        QFile::remove(m_bin.filePath(QStringLiteral("cloudflared")));
        if (present)
            QFile::link(
                QFileInfo(fixturesDir() + QStringLiteral("/../support/fake-cloudflared")).canonicalFilePath(),
                m_bin.filePath(QStringLiteral("cloudflared")));
        QFile::remove(m_record);
    }

    static void setMode(const char* mode, const char* delay = "0.3")
    {
        qputenv("FAKE_TUNNEL_MODE", mode);
        qputenv("FAKE_TUNNEL_REGISTER_DELAY", delay);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Temporary folders land where the test can count them; the fake tool comes first on PATH.
        qputenv("TMPDIR", m_temp.path().toUtf8());
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
        m_record = m_state.filePath(QStringLiteral("tunnel.json"));
        qputenv("FAKE_TUNNEL_RECORD", m_record.toUtf8());
        useTool(true);
    }

    void init()
    {
        setMode("normal");
        QFile::remove(m_record);
    }

    void sharesThroughTheTunnelWithHttpsLinks()
    {
        qputenv("TUNNEL_TOKEN", "secret-token");
        qputenv("CLOUDFLARED_OPTS", "--edge bad");
        qputenv("HALVIK_KEPT", "yes");
        SharingHarness harness(registry());
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        QSignalSpy changes(&harness.tunnels, &SiteTunnelService::sessionChanged);
        halvik::waitFor(harness.tunnels.start(site));
        const SiteTunnelService::Session session = harness.tunnels.session(site->id());
        QVERIFY2(session.url, qPrintable(session.error.value_or(session.log)));
        QVERIFY(session.isActive());

        const QJsonObject record = readRecord(m_record);
        const QString host = record.value("host").toString();
        QCOMPARE(session.url->toString(), QStringLiteral("https://") + host);
        QVERIFY(session.log.contains(QStringLiteral("Preparing site…")));
        QVERIFY(session.log.contains(QStringLiteral("Starting local site…")));
        QVERIFY(session.log.contains(QStringLiteral("Connecting to Cloudflare…")));

        const QStringList args = record.value("args").toVariant().toStringList();
        QCOMPARE(args.size(), 10);
        QCOMPARE(args.mid(0, 2), (QStringList{"tunnel", "--config"}));
        QVERIFY(args[2].startsWith(m_temp.path() + QStringLiteral("/Halvik-Tunnel-")));
        QCOMPARE(args.mid(3), (QStringList{"--no-autoupdate", "--url", session.origin->toString(),
                                           "--loglevel", "info", "--grace-period", "0s"}));
        QVERIFY(session.origin->toString().startsWith(QStringLiteral("http://127.0.0.1:49")));
        QCOMPARE(record.value("config").toString(), QStringLiteral("{}\n"));
        const QJsonObject env = record.value("env").toObject();
        QVERIFY(!env.contains("TUNNEL_TOKEN"));
        QVERIFY(!env.contains("CLOUDFLARED_OPTS"));
        QCOMPARE(env.value("HALVIK_KEPT").toString(), QStringLiteral("yes"));
        qunsetenv("TUNNEL_TOKEN");
        qunsetenv("CLOUDFLARED_OPTS");

        // A request through the fake edge makes the site link to its public https address.
        const QByteArray page =
            get(QUrl(QStringLiteral("http://127.0.0.1:%1/links").arg(record.value("edgePort").toInt())));
        QVERIFY2(page.contains("https://" + host.toUtf8() + "/about"), page);
        QVERIFY2(page.contains("https://" + host.toUtf8() + "/css/app.css"), page);
        QCOMPARE(leftoverFolders().size(), 2);

        const int port = session.origin->port();
        harness.tunnels.stop(site->id());
        QVERIFY(!harness.tunnels.isActive(site->id()));
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(record.value("pid").toInteger()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!commandLineRuns(QStringLiteral("127.0.0.1:%1").arg(port)), 5000);
        QCOMPARE(leftoverFolders(), QStringList());
    }

    void nothingStartsWithoutTheEntryPointOrTheTool()
    {
        SharingHarness harness(registry());
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        QFile::remove(folder.filePath(QStringLiteral("public/index.php")));
        halvik::waitFor(harness.tunnels.start(site));
        QCOMPARE(harness.tunnels.session(site->id()).error,
                 QStringLiteral(
                     "This site’s public entry point is missing. Restore public/index.php before sharing."));
        QVERIFY(!harness.tunnels.isActive(site->id()));
        QVERIFY(!QFileInfo::exists(m_record));
        QCOMPARE(leftoverFolders(), QStringList());

        useTool(false);
        const SitePtr other = laravelSite(QDir(folder.path()).filePath(QStringLiteral("other")));
        halvik::waitFor(harness.tunnels.start(other));
        QCOMPARE(harness.tunnels.session(other->id()).error,
                 QStringLiteral(
                     "Sharing needs Cloudflare’s cloudflared tool, which isn’t installed on this computer. "
                     "Install Cloudflare’s cloudflared package, or put the cloudflared program in "
                     "~/.local/bin, then retry."));
        // ~/.local/bin counts too.
        const QString local = QDir::homePath() + QStringLiteral("/.local/bin/cloudflared");
        QDir().mkpath(QFileInfo(local).absolutePath());
        QVERIFY(QFile::link(
            QFileInfo(fixturesDir() + QStringLiteral("/../support/fake-cloudflared")).canonicalFilePath(),
            local));
        QCOMPARE(harness.tunnels.findExecutable(), local);
        QFile::remove(local);
        useTool(true);
    }

    // Connected means the address and the registered line, not the address alone.
    void waitsForTheRegisteredConnection()
    {
        setMode("normal", "1.5");
        SharingHarness harness(registry());
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        bool finished = false;
        auto sharing = [&]() -> QCoro::Task<> {
            co_await harness.tunnels.start(site);
            finished = true;
        }();
        QTRY_VERIFY_WITH_TIMEOUT(harness.tunnels.session(site->id()).assignedURL, 15000);
        QVERIFY(!harness.tunnels.session(site->id()).url);
        QCOMPARE(harness.tunnels.session(site->id()).status, QStringLiteral("Connecting to Cloudflare…"));
        QVERIFY(!finished);
        QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
        QCOMPARE(harness.tunnels.session(site->id()).url, harness.tunnels.session(site->id()).assignedURL);
        harness.tunnels.stopAll();
        QCOMPARE(leftoverFolders(), QStringList());
    }

    void timeoutAndToolExitStopEverything_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("error");
        QTest::newRow("never registers")
            << QByteArray("silent")
            << "Cloudflare didn’t connect within 60 seconds. Check your connection and try again.";
        QTest::newRow("tool exits") << QByteArray("exit")
                                    << "Sharing disconnected. Retry to create a new link.";
    }

    void timeoutAndToolExitStopEverything()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QString, error);
        setMode(mode.constData());
        SharingHarness harness(registry());
        harness.tunnels.setConnectLimit(std::chrono::milliseconds(1500));
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        halvik::waitFor(harness.tunnels.start(site));
        const SiteTunnelService::Session session = harness.tunnels.session(site->id());
        QCOMPARE(session.error, error);
        QVERIFY(!session.isActive());
        QVERIFY(!session.url);
        const QJsonObject record = readRecord(m_record);
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(record.value("pid").toInteger()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!commandLineRuns(QStringLiteral("127.0.0.1:%1").arg(session.origin->port())),
                                 5000);
        QCOMPARE(leftoverFolders(), QStringList());
    }

    void theServerStoppingEndsSharingWithItsLastWords()
    {
        SharingHarness harness(registry());
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        halvik::waitFor(harness.tunnels.start(site));
        const SiteTunnelService::Session session = harness.tunnels.session(site->id());
        QVERIFY(session.url);
        QVERIFY(anyLiveProcess([&](qint64 pid, qint64) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!cmdline.open(QIODevice::ReadOnly) ||
                !cmdline.readAll().contains(
                    QStringLiteral("127.0.0.1:%1").arg(session.origin->port()).toUtf8()))
                return false;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            return true;
        }));
        QTRY_COMPARE_WITH_TIMEOUT(
            harness.tunnels.session(site->id()).error,
            QStringLiteral("The shared site’s server stopped. Retry to restart sharing."), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(readRecord(m_record).value("pid").toInteger()), 5000);
        QCOMPARE(leftoverFolders(), QStringList());
    }

    void preparationGuardsAndBuilds()
    {
        SharingHarness harness(registry());
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        const auto write = [&](const QJsonObject& package) {
            QFile file(folder.filePath(QStringLiteral("package.json")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QJsonDocument(package).toJson());
        };
        const auto shareError = [&]() {
            halvik::waitFor(harness.tunnels.start(site));
            const auto error = harness.tunnels.session(site->id()).error;
            harness.tunnels.stop(site->id());
            return error.value_or(QString());
        };
        const QDir fixtures(fixturesDir() + QStringLiteral("/frontend"));
        for (const QString& script : fixtures.entryList({QStringLiteral("*.js")}))
            QFile::copy(fixtures.filePath(script), folder.filePath(script));
        QDir(folder.path()).mkdir(QStringLiteral("node_modules"));

        write(viteProject(QStringLiteral("vite-banner.js")));
        QCOMPARE(shareError(), SharingPreparation::noProductionBuild());
        write(QJsonObject{{"scripts", QJsonObject{{"dev", "node serve.js --hot"}}}});
        QCOMPARE(shareError(), SharingPreparation::unsupportedBuild());

        // public/hot from another program: answering, then not.
        write(viteProject(QStringLiteral("vite-banner.js"), {{"build", "node build.js"}}));
        FakeWebServer other;
        QVERIFY(other.start());
        QFile hot(folder.filePath(QStringLiteral("public/hot")));
        QVERIFY(hot.open(QIODevice::WriteOnly));
        hot.write(other.url().toString().toUtf8());
        hot.close();
        QCOMPARE(shareError(), SharingPreparation::otherAppRunning());
        other.close();
        QCOMPARE(shareError(), SharingPreparation::otherAppConfigured());
        QFile::remove(hot.fileName());

        // Our own preview while it starts, then once it runs: that one is stopped and the build runs.
        qputenv("FIXTURE_BANNER", "0");
        qputenv("FIXTURE_HOT_DELAY_MS", "600000");
        QVERIFY(!QTest::currentTestFailed());
        halvik::waitFor(harness.dev.dev.start(site));
        QCOMPARE(harness.dev.dev.session(site->id()).phase, ViteDevServerPhase::starting);
        QCOMPARE(shareError(), SharingPreparation::stillStarting());
        harness.dev.dev.stop(site->id());
        qunsetenv("FIXTURE_BANNER");
        qunsetenv("FIXTURE_HOT_DELAY_MS");
        halvik::waitFor(harness.dev.dev.start(site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.dev.session(site->id()).phase, ViteDevServerPhase::running,
                                  10000);
        const qint64 preview = harness.dev.dev.session(site->id()).pid;

        halvik::waitFor(harness.tunnels.start(site));
        const SiteTunnelService::Session session = harness.tunnels.session(site->id());
        QVERIFY2(session.url, qPrintable(session.log));
        QCOMPARE(harness.dev.dev.session(site->id()).phase, ViteDevServerPhase::idle);
        QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(preview), 5000);
        QVERIFY(session.log.contains(QStringLiteral("Building site assets…")));
        QVERIFY(session.log.contains(QStringLiteral("built in 12ms")));
        QFile manifest(folder.filePath(QStringLiteral("public/build/manifest.json")));
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(manifest.readAll()).object().value("assetUrl").toString(),
                 QStringLiteral("/"));
        harness.tunnels.stopAll();
    }

    // Stopping a site's server ends its share first; removing the site ends everything it runs.
    void stoppingAServerOrRemovingASiteEndsWhatRunsForIt()
    {
        SecretStore secrets;
        FakePrompts prompts;
        AppServices services(secrets, prompts, HerdRoots::under(m_state.filePath(QStringLiteral("machine"))),
                             nullptr, SharingHarness::roots());
        SiteProcesses& processes = services.processes();
        processes.devServer().setStopGrace(std::chrono::milliseconds(300));
        QTemporaryDir folder;
        const SitePtr site = laravelSite(folder.path());
        services.store().insertSite(site);

        services.toggleLocalServer(site);
        QVERIFY(services.localServer().isRunning(site->id()));
        halvik::waitFor(processes.tunnels().start(site));
        QVERIFY(processes.tunnels().session(site->id()).url);
        const qint64 firstTool = readRecord(m_record).value("pid").toInteger();
        services.toggleLocalServer(site);
        QVERIFY(!processes.tunnels().isActive(site->id()));
        QVERIFY(!services.localServer().isRunning(site->id()));
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(firstTool), 5000);

        halvik::waitFor(processes.tunnels().start(site));
        QVERIFY(processes.tunnels().session(site->id()).url);
        const qint64 tool = readRecord(m_record).value("pid").toInteger();
        NodeProject::writeInto(folder.path(), viteProject(QStringLiteral("vite-banner.js")));
        halvik::waitFor(processes.devServer().start(site));
        QTRY_COMPARE_WITH_TIMEOUT(processes.devServer().session(site->id()).phase,
                                  ViteDevServerPhase::running, 10000);
        const qint64 group = processes.devServer().session(site->id()).pid;

        QCOMPARE(services.deleteSites({site}, false), QStringList());
        QVERIFY(!processes.tunnels().isActive(site->id()));
        QCOMPARE(processes.devServer().session(site->id()).phase, ViteDevServerPhase::idle);
        QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(group), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(tool), 5000);
        QCOMPARE(leftoverFolders(), QStringList());
    }

    // The foreground commands print their line once ready and end everything on Ctrl-C.
    void commandsRunInTheForegroundUntilInterrupted()
    {
        QTemporaryDir folder;
        laravelSite(folder.path());
        NodeProject::writeInto(folder.path(), viteProject(QStringLiteral("vite-banner.js")));
        QCOMPARE(runHalvik({"import", folder.path()}).exitCode, 0);

        const CliRun status = runHalvik({"assets", "status", folder.path(), "--json"});
        QCOMPARE(status.exitCode, 0);
        const QJsonObject idle = QJsonDocument::fromJson(status.out).object();
        QCOMPARE(idle.keys(), (QStringList{"buildScript", "bundler", "devScript", "nodeModulesPresent",
                                           "phase", "pid", "site", "url"}));
        QCOMPARE(idle.value("bundler").toString(), QStringLiteral("vite"));
        QCOMPARE(idle.value("devScript").toString(), QStringLiteral("dev"));
        QCOMPARE(idle.value("phase").toString(), QStringLiteral("idle"));

        QProcess assets;
        assets.start(halvikBinary(), {"assets", "start", folder.path(), "--json"});
        const QJsonObject running = QJsonDocument::fromJson(firstLine(assets)).object();
        QCOMPARE(running.value("phase").toString(), QStringLiteral("running"));
        QCOMPARE(running.value("url").toString(), QStringLiteral("http://localhost:5173/"));
        const QJsonObject seen =
            QJsonDocument::fromJson(runHalvik({"assets", "status", folder.path(), "--json"}).out).object();
        QCOMPARE(seen.value("phase").toString(), QStringLiteral("running"));
        const qint64 group = seen.value("pid").toInteger();
        QVERIFY(group > 0);
        QCOMPARE(runHalvik({"assets", "start", folder.path()}).err.trimmed(),
                 QByteArray("halvik: The asset dev server is already running for this site."));
        // Stopped from another process: the foreground one ends quietly.
        QCOMPARE(runHalvik({"assets", "stop", folder.path()}).exitCode, 0);
        QVERIFY(assets.waitForFinished(10000));
        QCOMPARE(assets.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(group), 5000);
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("public/hot"))));

        // Sharing needs a build here (a dev script and no build script): its sentence, exit 1.
        const CliRun refused = runHalvik({"share", folder.path()});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.endsWith(("halvik: " + SharingPreparation::noProductionBuild() + "\n").toUtf8()),
                 refused.err);
        QFile::remove(folder.filePath(QStringLiteral("package.json")));
        QProcess share;
        share.start(halvikBinary(), {"share", folder.path(), "--json"});
        const QJsonObject link = QJsonDocument::fromJson(firstLine(share)).object();
        QCOMPARE(link.keys(), (QStringList{"origin", "site", "url"}));
        QVERIFY(link.value("url").toString().endsWith(QStringLiteral(".trycloudflare.com")));
        const qint64 tool = readRecord(m_record).value("pid").toInteger();
        ::kill(static_cast<pid_t>(share.processId()), SIGINT);
        QVERIFY(share.waitForFinished(10000));
        QCOMPARE(share.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(processIsGone(tool), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!commandLineRuns(QUrl(link.value("origin").toString()).authority()), 5000);
        QCOMPARE(leftoverFolders(), QStringList());
    }
};

HALVIK_TEST_MAIN_CORE(SharingTest)
#include "tst_sharing.moc"
