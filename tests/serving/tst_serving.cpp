#include "FakeEngine.h"
#include "FakePrompts.h"
#include "FakeWebServer.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "services/HerdService.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/LaravelConfigurationResolver.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"
#include "views/common/Appearance.h"
#include "views/environment/EnvironmentPage.h"
#include "views/site/SiteDetailPane.h"
#include "views/site/SiteOverviewTab.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "services/ReachabilityProbe.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace halvik;
using namespace halvik::test;

namespace {

// Copies a folder tree (the Laravel fixture) so a test can change it.
void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + entry.fileName();
        if (entry.isDir())
            copyTree(entry.filePath(), target);
        else
            QFile::copy(entry.filePath(), target);
    }
}

bool groupIsGone(qint64 pid)
{
    return ::kill(-static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// A machine with the real php on the fixed search, no engine unless a test installs one, and a
// browser that only records what it was asked to open.
// Watches held by this process's inotify instances, as the kernel lists them.
int inotifyWatches()
{
    int watches = 0;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files)) {
        char target[64] = {};
        const QByteArray link = QByteArrayLiteral("/proc/self/fd/") + fd.toLatin1();
        if (::readlink(link.constData(), target, sizeof target - 1) <= 0 ||
            qstrcmp(target, "anon_inode:inotify") != 0)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (info.open(QIODevice::ReadOnly))
            watches += int(info.readAll().count("inotify wd:"));
    }
    return watches;
}

struct Machine
{
    QTemporaryDir dir;
    FakeEngine engine{dir.path() + "/machine"};
    // Each machine keeps its own store (and the commands it starts use the same one).
    bool ownData = qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
    SecretStore secrets;
    FakePrompts prompts;
    std::unique_ptr<AppServices> services;
    QList<QUrl> opened;

    explicit Machine(const QStringList& phpFolders = {"/usr/bin"})
    {
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = phpFolders;
        services = std::make_unique<AppServices>(secrets, prompts, engine.roots(), nullptr, roots);
        services->herd().refresh();
        services->setBrowserOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
    }

    SitePtr addSite(const QString& name, const QString& env = {})
    {
        const QString path = dir.path() + "/sites/" + name;
        copyTree(fixturesDir() + "/laravel-app", path);
        if (!env.isEmpty()) {
            // The given keys replace the fixture's own.
            QFile file(path + "/.env");
            file.open(QIODevice::ReadOnly);
            QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
            file.close();
            for (const QString& line : env.split('\n', Qt::SkipEmptyParts))
                lines.removeIf([&line](const QString& old) {
                    return old.section('=', 0, 0) == line.section('=', 0, 0);
                });
            lines << env.split('\n', Qt::SkipEmptyParts);
            file.open(QIODevice::WriteOnly | QIODevice::Truncate);
            file.write((lines.join('\n') + '\n').toUtf8());
        }
        auto site = std::make_shared<Site>(name, path);
        services->store().insertSite(site);
        return site;
    }

    QString fakePHP(const QString& body)
    {
        const QString path = dir.path() + "/fake-bin/php";
        FakeEngine::writeFile(path, ("#!/bin/sh\n" + body).toUtf8());
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        return path;
    }
};

// What the window shows for a site: its row's tooltip, the header chip and the Environment row.
struct Shown
{
    QString row;
    QString chip;
    QString environment;
};

Shown shownFor(views::MainWindow& window, const SitePtr& site)
{
    Shown shown;
    QListView* list = window.findChild<views::SitesPage*>()->list();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QModelIndex index = list->model()->index(row, 0);
        if (index.data(Qt::ToolTipRole).toString().startsWith(site->path() + "\n"))
            shown.row = index.data(Qt::ToolTipRole).toString().section('\n', 1);
    }
    shown.chip = window.findChild<QLabel*>("statusChip")->text();
    QTreeWidget* rows = window.findChild<views::EnvironmentPage*>()->sites();
    for (int i = 0; i < rows->topLevelItemCount(); ++i)
        if (rows->topLevelItem(i)->text(0) == site->displayName())
            shown.environment = rows->topLevelItem(i)->text(2) + " · " + rows->topLevelItem(i)->text(3);
    return shown;
}

} // namespace

class ServingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void externalURLsAndPortListeners()
    {
        Site site("shop", "/tmp/shop");
        QVERIFY(!DevEnvironment::isExternalURL(QUrl("http://shop.test:8080"), site));
        QVERIFY(!DevEnvironment::isExternalURL(QUrl("http://127.0.0.1"), site));
        QVERIFY(!DevEnvironment::isExternalURL(QUrl("http://example.com"), site));
        QVERIFY(DevEnvironment::isExternalURL(QUrl("http://example.com:3000"), site));
        QVERIFY(DevEnvironment::isExternalURL(QUrl("http://127.0.0.1:8080"), site));
        site.setLocalPort(8080);
        QVERIFY(!DevEnvironment::isExternalURL(QUrl("http://127.0.0.1:8080"), site));

        const auto lsof = PortListener::fromLsof("p812\ncnginx\nf6\np900\ncother\n");
        QCOMPARE(lsof->description(), QString("nginx, pid 812"));
        QCOMPARE(PortListener::fromLsof(""), std::nullopt);
        const auto ss =
            PortListener::fromSs("LISTEN 0 511 0.0.0.0:80 0.0.0.0:* users:((\"caddy\",pid=77,fd=6))\n");
        QCOMPARE(ss->description(), QString("caddy, pid 77"));
        QCOMPARE(PortListener::fromSs("LISTEN 0 511 0.0.0.0:80 0.0.0.0:*\n")->description(),
                 QString("unknown process"));
    }

    void portsAreChosenAndRemembered()
    {
        Machine m;
        auto first = m.addSite("first");
        auto second = m.addSite("second");
        LocalServer& server = m.services->localServer();
        const int expectedFirst = LocalServer::freePort(std::nullopt, {});
        server.start(first, "/usr/bin/php");
        server.start(second, "/usr/bin/php");
        QCOMPARE(first->localPort(), std::optional<int>(expectedFirst));
        QCOMPARE(second->localPort(),
                 std::optional<int>(LocalServer::freePort(expectedFirst, {expectedFirst})));
        QVERIFY(second->localPort() > first->localPort());
        server.start(first, "/usr/bin/php"); // already running: left alone
        QCOMPARE(server.allRunning().size(), 2);

        // Serving is a run like any other: it shows in the site's activity while it lasts.
        QCOMPARE(first->operations().size(), 1);
        const SiteOperationPtr serving = first->operations().constLast();
        QCOMPARE(serving->kind(), std::optional(OperationKind::serve));
        QCOMPARE(
            serving->command(),
            QString("php artisan serve --host=127.0.0.1 --port=%1 --no-reload").arg(*first->localPort()));
        QVERIFY(serving->isRunning());
        server.stopAll();
        QTRY_VERIFY(!serving->isRunning());
        // Nothing of the stopped servers is left to pass for another process's server.
        server.refresh();
        QCOMPARE(server.allRunning().size(), 0);

        // A stored port another program holds: the site moves on and remembers where.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        first->setLocalPort(squatter.serverPort());
        server.start(first, "/usr/bin/php");
        QVERIFY(first->localPort() != std::optional<int>(squatter.serverPort()));
        QVERIFY(*first->localPort() > squatter.serverPort());
        server.stopAll();
        QVERIFY_THROWS_EXCEPTION(ProcessRunnerError, server.start(first, m.dir.path() + "/no-php"));
    }

    void openFallsBackToHalviksServerAndQuitStopsIt()
    {
        Machine m;
        // APP_URL points at a local port nothing listens on: the site's own URL refuses.
        const int dead = unusedLocalPort();
        auto site = m.addSite("shop", QString("APP_URL=http://127.0.0.1:%1\nCP_ROUTE=/admin/\n").arg(dead));
        AppServices& services = *m.services;

        // Asked twice while the first attempt runs: one attempt, one server, one page.
        QCoro::Task<> first = services.openInBrowser(site);
        QCoro::Task<> second = services.openInBrowser(site);
        halvik::waitFor(std::move(second));
        halvik::waitFor(std::move(first));
        QCOMPARE(services.openSiteError(site->id()), std::nullopt);
        QCOMPARE(m.opened.size(), 1);
        const int port = *site->localPort();
        QCOMPARE(m.opened.first(), QUrl(QString("http://127.0.0.1:%1").arg(port)));
        QCOMPARE(services.localServer().allRunning().size(), 1);
        const QString notice = services.devEnvironment().serveFallbackNotices().value(site->id());
        QVERIFY2(notice.startsWith(QString("http://127.0.0.1:%1 isn't answering (").arg(dead)),
                 qPrintable(notice));
        QVERIFY(notice.endsWith("). Using Halvik's server instead of APP_URL."));
        QCOMPARE(services.siteURL(*site),
                 std::optional<QUrl>(QUrl(QString("http://127.0.0.1:%1").arg(port))));
        QCOMPARE(services.devEnvironment().mode(*site).kind, ServeMode::Kind::halvikServer);

        // The control panel goes to the route the site configures, on the server now running.
        halvik::waitFor(services.openInBrowser(site, true));
        QCOMPARE(m.opened.last(), QUrl(QString("http://127.0.0.1:%1/admin").arg(port)));

        // Quitting stops `serve` and the `php -S` it started.
        QTRY_VERIFY(services.localServer().running(site->id())->pid > 0);
        const qint64 pid = services.localServer().running(site->id())->pid;
        services.shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(pid), 10000);
        QVERIFY(!services.localServer().isRunning(site->id()));
        QVERIFY(services.localServer().registry().entries().isEmpty());
    }

    void aServerThatDiesSaysWhy()
    {
        Machine m({QDir::tempPath() + "/none"});
        const QString php = m.fakePHP(
            "echo 'PHP Warning: something' >&2\necho 'Could not open input file: artisan' >&2\nexit 1\n");
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = {QFileInfo(php).absolutePath()};
        AppServices services(m.secrets, m.prompts, m.engine.roots(), nullptr, roots);
        services.setBrowserOpener([](const QUrl&) { return true; });
        auto site = std::make_shared<Site>("broken", m.dir.path());
        FakeEngine::writeFile(m.dir.path() + "/artisan", "<?php\n");
        services.store().insertSite(site);

        QElapsedTimer timer;
        timer.start();
        halvik::waitFor(services.openInBrowser(site));
        QCOMPARE(
            services.openSiteError(site->id()),
            std::optional<QString>("Halvik’s local server didn’t start. Could not open input file: artisan"));
        QVERIFY2(timer.elapsed() < 5000, "a dead server is not waited for");
        QVERIFY(services.openingSites().isEmpty());

        m.fakePHP("exit 255\n");
        halvik::waitFor(services.openInBrowser(site));
        QCOMPARE(services.openSiteError(site->id()),
                 std::optional<QString>(
                     "Halvik’s local server didn’t start. php artisan serve exited with status 255."));

        // No PHP at all.
        RuntimeRoots empty = roots;
        empty.fixedSearch = {};
        AppServices bare(m.secrets, m.prompts, m.engine.roots(), nullptr, empty);
        bare.store().insertSite(site);
        bare.toggleLocalServer(site);
        QVERIFY(bare.openSiteError(site->id())->startsWith("No PHP binary found."));
    }

    void onlyAWindowWatchesForOtherProcessesServers()
    {
        // A watched folder makes every exit wait in the kernel; a command reads the registries
        // when asked instead.
        const int before = inotifyWatches();
        Machine m;
        halvik::waitFor(m.services->bootstrap(AppServices::BootstrapScope::command));
        QCOMPARE(inotifyWatches(), before);
        m.services->processes().watchOtherProcesses();
        m.services->processes().watchOtherProcesses();
        QCOMPARE(inotifyWatches(), before + 2);
    }

    void aServerStartedByACommandIsSeenAndStoppedHere()
    {
        Machine m;
        auto site = m.addSite("terminal");
        m.services->store().flush();
        QProcess serve;
        serve.start(halvikBinary(), {"serve", site->path()});
        QVERIFY(serve.waitForStarted());
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += serve.readAllStandardOutput()).contains("Serving"), 15000);
        LocalServer& server = m.services->localServer();
        // The window learns of it by itself: the registry folder is watched.
        m.services->processes().watchOtherProcesses();
        QTRY_VERIFY_WITH_TIMEOUT(server.isRunning(site->id()), 15000);
        const auto running = *server.running(site->id());
        QVERIFY(!running.startedHere);
        QVERIFY(m.services->siteURL(*site)->toString().startsWith("http://127.0.0.1:"));
        halvik::waitFor(m.services->devEnvironment().refreshSiteMappings());
        SiteMapping mapping;
        for (const SiteMapping& row : m.services->devEnvironment().siteMappings())
            if (row.id == site->id())
                mapping = row;
        QCOMPARE(mapping.mode.servedBy(), QString("Halvik server"));
        QVERIFY(mapping.reachability.isServing());

        server.stop(site->id());
        QVERIFY(serve.waitForFinished(15000));
        QCOMPARE(serve.exitCode(), 0); // stopped from elsewhere is not a failure
        QTRY_VERIFY(groupIsGone(running.pid));
    }

    void openFromTheCommandLineServesUntilInterrupted()
    {
        Machine m;
        auto site = m.addSite("cli-open", "CP_ROUTE=backstage\n");
        m.services->store().flush();
        const QString opened = m.dir.path() + "/opened";
        const QString browser = m.dir.path() + "/browser";
        FakeEngine::writeFile(browser, ("#!/bin/sh\necho \"$1\" >> '" + opened + "'\n").toUtf8());
        QFile::setPermissions(browser, QFile::permissions(browser) | QFile::ExeOwner);

        QProcess open;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BROWSER", browser);
        open.setProcessEnvironment(env);
        open.start(halvikBinary(), {"open", "cli-open", "--control-panel"});
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += open.readAllStandardOutput()).contains("press Ctrl-C to stop"),
                                 20000);
        QTRY_VERIFY(QFileInfo(opened).size() > 0);
        QFile file(opened);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QUrl url(QString::fromUtf8(file.readAll()).trimmed());
        QCOMPARE(url.host(), QString("127.0.0.1"));
        QCOMPARE(url.path(), QString("/backstage"));
        QVERIFY(halvik::waitFor(ReachabilityProbe::probe(url)).isServing());

        // Ctrl-C stops the server with the command, and nothing keeps serving.
        ::kill(static_cast<pid_t>(open.processId()), SIGINT);
        QVERIFY(open.waitForFinished(15000));
        QCOMPARE(open.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!halvik::waitFor(ReachabilityProbe::probe(url)).isServing(), 10000);
        QVERIFY(m.services->localServer().registry().entries().isEmpty());
    }

    void configurationIsReadFromTheSite()
    {
        Machine m;
        auto site = m.addSite("configured", "CP_ROUTE=backstage\n");
        ProcessRunner runner;
        LaravelConfigurationResolver resolver(runner);
        QCOMPARE(halvik::waitFor(resolver.string("quillmar.cp.route", site->path(), "/usr/bin/php")),
                 QString("backstage"));
        QVERIFY(halvik::waitFor(resolver.string("quillmar.ssg.destination", site->path(), "/usr/bin/php"))
                    .endsWith("/storage/app/static"));
        try {
            halvik::waitFor(resolver.string("app.key", site->path(), "/usr/bin/php"));
            QFAIL("an unsupported key was read");
        } catch (const LaravelConfigurationError& error) {
            QCOMPARE(error.description(), QString("Couldn’t read app.key from this site’s "
                                                  "configuration.\n\nUnsupported configuration key."));
        }
        QFile::remove(site->path() + "/vendor/autoload.php");
        try {
            halvik::waitFor(resolver.string("quillmar.cp.route", site->path(), "/usr/bin/php"));
            QFAIL("a site without its dependencies answered");
        } catch (const LaravelConfigurationError& error) {
            QVERIFY(error.description().endsWith("Run Composer install and retry."));
        }
        QCOMPARE(LaravelConfigurationResolver::valueFrom("noise\nHALVIK_CONFIGURATION:{\"value\":\"a\"}\n"
                                                         "HALVIK_CONFIGURATION:{\"value\":\"b\"}"),
                 std::optional<QString>("b"));
        QCOMPARE(LaravelConfigurationResolver::valueFrom("HALVIK_CONFIGURATION:{oops"), std::nullopt);
    }

    void theEnvironmentPictureAndItsReport()
    {
        Machine m;
        AppServices& services = *m.services;
        DevEnvironment& environment = services.devEnvironment();
        QVERIFY(environment.diagnosticsReport().contains("Engine: none (Herd/Valet not detected)"));
        QVERIFY(environment.diagnosticsReport().contains("--- sites ---\n(none)\n"));
        QVERIFY(environment.howSitesOpen().startsWith("No Herd or Valet found."));

        // A site that answers through an outside server, and one that is not served.
        FakeWebServer outside;
        QVERIFY(outside.start());
        auto answering =
            m.addSite("answering", QString("APP_URL=http://127.0.0.1:%1\n").arg(outside.serverPort()));
        m.addSite("idle");

        // Two refreshes at once: the second returns at once, the first does the work.
        QCoro::Task<> one = environment.refresh();
        QCoro::Task<> two = environment.refresh();
        halvik::waitFor(std::move(two));
        QVERIFY(environment.isRefreshing());
        halvik::waitFor(std::move(one));
        QVERIFY(!environment.isRefreshing() && environment.lastRefreshed());
        const QList<SiteMapping> rows = environment.siteMappings();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].name, QString("answering"));
        QCOMPARE(rows[0].mode.servedBy(), QString("External"));
        QVERIFY(rows[0].reachability.isServing());
        QCOMPARE(rows[1].reachability.kind(), Reachability::Case::notRunning);
        // Each row is found by its site; rows sorted by name after probing still match their ids.
        QVERIFY(environment.siteMapping(answering->id()));
        QCOMPARE(*environment.siteMapping(answering->id()), rows[0]);
        QCOMPARE(environment.siteMapping(rows[1].id)->name, QString("idle"));
        QVERIFY(!environment.siteMapping(QUuid::createUuid()));
        const QString report = environment.diagnosticsReport();
        QVERIFY(report.contains("answering\n  URL: http://127.0.0.1:"));
        QVERIFY(
            report.contains("idle\n  URL: none yet\n  Served by: Not served\n  Status: Server not started"));
        QVERIFY(report.contains("--- tools ---"));
        QVERIFY(report.contains("\nPort 80: "));

        views::EnvironmentPage page(services);
        page.resize(980, 720);
        page.show();
        QCOMPARE(page.sites()->topLevelItemCount(), 2);
        for (auto scheme : {views::ColorScheme::light, views::ColorScheme::dark}) {
            views::applyColorScheme(scheme);
            QCoreApplication::processEvents();
            QVERIFY(saveScreenshot(&page,
                                   scheme == views::ColorScheme::light ? "environment" : "environment-dark"));
        }
        views::applyColorScheme(views::ColorScheme::light);

        // With an engine, the report has its section and how sites open names it.
        m.engine.installValet(QJsonObject{{"tld", "test"}});
        services.herd().refresh();
        QVERIFY(services.herd().engine());
        QVERIFY(environment.diagnosticsReport().contains("Engine: Valet\n"));
        QVERIFY(environment.diagnosticsReport().contains("TLD: .test\n"));
        QVERIFY(environment.howSitesOpen().contains("Valet"));
        QCOMPARE(environment.mode(*answering).kind, ServeMode::Kind::engine);
    }

    void portsStayInRangeAndTheCommandLineSaysWhichItTook()
    {
        // Near the top of the range nothing past 65535 is tried or returned.
        QTcpServer top;
        const bool holdsTop = top.listen(QHostAddress::LocalHost, 65535);
        const int near = LocalServer::freePort(65530, {65530, 65531, 65532, 65533, 65534});
        QVERIFY2(near <= 65535, qPrintable(QString::number(near)));
        if (holdsTop)
            QCOMPARE(near, 65535); // none free: the last port, untested
        QVERIFY(LocalServer::freePort(70000, {}) <= 65535);

        Machine m;
        auto site = m.addSite("taken");
        m.services->store().flush();
        const auto halvik = [](const QStringList& arguments) {
            QProcess process;
            process.start(halvikBinary(), arguments);
            process.waitForFinished(20000);
            return std::pair{process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
        };
        QCOMPARE(halvik({"serve", "taken", "--port", "70000"}).first, 2);

        // A port another program holds: the command says which one it took instead.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        QProcess serve;
        serve.start(halvikBinary(), {"serve", "taken", "--port", QString::number(squatter.serverPort())});
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += serve.readAllStandardOutput()).contains("Serving"), 20000);
        QVERIFY2(printed.startsWith(
                     QString("Port %1 is in use; serving on port ").arg(squatter.serverPort()).toUtf8()),
                 printed.constData());
        ::kill(static_cast<pid_t>(serve.processId()), SIGINT);
        QVERIFY(serve.waitForFinished(15000));
    }

    void theConfigurationLookupGivesUpAndTheOpenGoesOn()
    {
        Machine m({QDir::tempPath() + "/none"});
        // A PHP whose configuration lookup never ends, and that serves like the real one.
        const QString php = m.fakePHP("if [ \"$1\" = -r ] || [ -f .hang ]; then exec sleep 60; fi\n"
                                      "exec /usr/bin/php \"$@\"\n");
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = {QFileInfo(php).absolutePath()};
        AppServices services(m.secrets, m.prompts, m.engine.roots(), nullptr, roots);
        QList<QUrl> opened;
        services.setBrowserOpener([&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        services.configuration().setTimeLimit(std::chrono::milliseconds(1000));
        const QString path = m.dir.path() + "/sites/slow";
        copyTree(fixturesDir() + "/laravel-app", path);
        auto site = std::make_shared<Site>("slow", path);
        services.store().insertSite(site);

        QElapsedTimer clock;
        clock.start();
        halvik::waitFor(services.openInBrowser(site, true));
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(services.openingSites().isEmpty());
        QCOMPARE(services.openSiteError(site->id()), std::nullopt);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().path(), QString("/cp"));
        const QString notice = services.devEnvironment().serveFallbackNotices().value(site->id());
        QVERIFY2(notice.contains("The site’s configuration didn’t load within 1 second. Opening the default "
                                 "control panel route /cp."),
                 qPrintable(notice));
        // Nothing was tried before Halvik's server here, so no engine is named.
        QVERIFY2(!notice.contains("instead of"), qPrintable(notice));
        QCOMPARE(LaravelConfigurationResolver::timedOutText(LaravelConfigurationResolver::defaultTimeLimit),
                 QString("The site’s configuration didn’t load within 10 seconds."));

        // Halvik's own server was the address tried and never answers: no engine is named.
        const QString hangingPath = m.dir.path() + "/sites/hanging";
        copyTree(fixturesDir() + "/laravel-app", hangingPath);
        FakeEngine::writeFile(hangingPath + "/.hang", "");
        auto hanging = std::make_shared<Site>("hanging", hangingPath);
        services.store().insertSite(hanging);
        services.setServerWaitLimit(std::chrono::milliseconds(1000));
        services.toggleLocalServer(hanging);
        QVERIFY(services.localServer().isRunning(hanging->id()));
        halvik::waitFor(services.openInBrowser(hanging));
        QCOMPARE(services.openSiteError(hanging->id()),
                 std::optional<QString>("Halvik’s local server didn’t start."));
        QVERIFY2(!services.devEnvironment().serveFallbackNotices().contains(hanging->id()),
                 qPrintable(services.devEnvironment().serveFallbackNotices().value(hanging->id())));
        services.shutdown();
    }

    void aRefreshAskedForDuringAnotherRunsAfterIt()
    {
        Machine m;
        FakeWebServer first;
        FakeWebServer second;
        QVERIFY(first.start() && second.start());
        auto site = m.addSite("moving", QString("APP_URL=http://127.0.0.1:%1\n").arg(first.serverPort()));
        DevEnvironment& environment = m.services->devEnvironment();

        QCoro::Task<> running = environment.refreshSiteMappings(); // reads the first address
        m.addSite("other");
        QFile env(site->path() + "/.env");
        QVERIFY(env.open(QIODevice::WriteOnly | QIODevice::Truncate));
        env.write(QString("APP_URL=http://127.0.0.1:%1\n").arg(second.serverPort()).toUtf8());
        env.close();
        // The site moved while the pass ran: asking again waits for a pass that sees it.
        halvik::waitFor(environment.refreshSiteMappings());
        QCOMPARE(environment.siteMappings().size(), 2);
        QCOMPARE(environment.siteMappings().first().url,
                 std::optional<QUrl>(QUrl(QString("http://127.0.0.1:%1").arg(second.serverPort()))));
        halvik::waitFor(std::move(running));
        QVERIFY(!second.requestLines().isEmpty());
    }

    void theWindowFollowsServersThatComeAndGo()
    {
        Machine m;
        auto site = m.addSite("followed");
        m.services->store().flush();
        views::MainWindow window(*m.services);
        window.resize(1180, 760);
        window.show();
        // The Environment page is built when first shown; the rows are read from it below.
        m.services->setSelectedSection(SidebarSection::environment);
        m.services->setSelectedSection(SidebarSection::sites);
        m.services->processes().watchOtherProcesses(); // as the window's start-up does
        window.findChild<views::SitesPage*>()->selectSite(site->id());
        halvik::waitFor(m.services->devEnvironment().refreshSiteMappings());
        QCOMPARE(shownFor(window, site).chip, QString("Not started"));

        // Another Halvik process starts a server for the site: row, chip and list follow.
        QProcess serve;
        serve.start(halvikBinary(), {"serve", site->path()});
        QVERIFY(serve.waitForStarted());
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += serve.readAllStandardOutput()).contains("Serving"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(shownFor(window, site).chip, QString("Answering"), 2000);
        const Shown served = shownFor(window, site);
        QVERIFY2(served.row.contains(" · Halvik server · Responding (HTTP "), qPrintable(served.row));
        QVERIFY2(served.environment.startsWith("Halvik server · Responding (HTTP "),
                 qPrintable(served.environment));

        // That process stops it: the window sees it go.
        ::kill(static_cast<pid_t>(serve.processId()), SIGINT);
        QVERIFY(serve.waitForFinished(15000));
        QTRY_COMPARE_WITH_TIMEOUT(shownFor(window, site).chip, QString("Not started"), 2000);
        QVERIFY(shownFor(window, site).environment.startsWith("Not served · "));

        // Halvik's own server, started from the window, then ending by itself.
        m.services->toggleLocalServer(site);
        QTRY_COMPARE_WITH_TIMEOUT(shownFor(window, site).chip, QString("Answering"), 10000);
        QVERIFY(!shownFor(window, site).row.contains("Failing"));
        const qint64 pid = m.services->localServer().running(site->id())->pid;
        QVERIFY(pid > 0);
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(shownFor(window, site).chip, QString("Not started"), 2000);
        const Shown ended = shownFor(window, site);
        QVERIFY2(ended.row.contains("Not served"), qPrintable(ended.row));
        QVERIFY2(ended.environment.startsWith("Not served · "), qPrintable(ended.environment));
        QVERIFY(halvik::test::saveLightAndDark(&window, "site-server-ended"));
    }

    void theSitePaneServesOpensAndShowsFailures()
    {
        Machine m;
        auto site = m.addSite("pane");
        views::MainWindow window(*m.services);
        window.resize(1180, 760);
        window.show();
        auto* page = window.findChild<views::SitesPage*>();
        page->selectSite(site->id());
        const auto button = [&window](const QString& text) {
            for (QPushButton* b : window.findChildren<QPushButton*>())
                if (b->text() == text && b->isVisible())
                    return b;
            return static_cast<QPushButton*>(nullptr);
        };
        auto* serving = window.findChild<QLabel*>("siteServing");
        QVERIFY(button("Serve"));
        button("Serve")->click();
        QTRY_VERIFY(button("Stop Server"));
        QVERIFY(serving->text().startsWith("Opens at <a href=\"http://127.0.0.1:"));
        QTRY_VERIFY_WITH_TIMEOUT(
            halvik::waitFor(ReachabilityProbe::probe(*m.services->siteURL(*site))).isServing(), 10000);
        // Once the environment has looked, the header's chip says the site answers.
        halvik::waitFor(m.services->devEnvironment().refreshSiteMappings());
        QCOMPARE(window.findChild<QLabel*>("statusChip")->text(), QString("Answering"));
        QCoreApplication::processEvents(); // lets the header lay out the chip's new text
        QVERIFY(halvik::test::saveLightAndDark(&window, "site-serving"));
        button("Stop Server")->click();
        QTRY_VERIFY(button("Serve"));

        // A PHP that cannot serve: the failure shows in the pane, word for word.
        Machine broken({m.dir.path() + "/fake-bin"});
        m.fakePHP("echo 'PHP Fatal error: no artisan here' >&2\nexit 1\n");
        auto failing = broken.addSite("failing");
        views::MainWindow other(*broken.services);
        other.resize(1180, 760);
        other.show();
        other.findChild<views::SitesPage*>()->selectSite(failing->id());
        for (QPushButton* b : other.findChildren<QPushButton*>())
            if (b->text() == "Open Site" && b->isVisible())
                b->click();
        auto* error = other.findChild<QLabel*>("openSiteError");
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10000);
        QCOMPARE(error->text(),
                 QString("Halvik’s local server didn’t start. PHP Fatal error: no artisan here"));
        QVERIFY(halvik::test::saveLightAndDark(&other, "site-open-failed"));
    }

    void theOverviewTabShowsAndChangesTheSite()
    {
        Machine m;
        auto site = m.addSite("overview", "APP_URL=http://overview.test\nDB_CONNECTION=sqlite\n");
        views::MainWindow window(*m.services);
        window.resize(1180, 760);
        window.show();
        window.findChild<views::SitesPage*>()->selectSite(site->id());
        auto* overview = window.findChild<views::SiteDetailPane*>()->overview();
        const auto texts = [overview] {
            QStringList all;
            for (QLabel* label : overview->findChildren<QLabel*>())
                all << label->text();
            return all.join('\n');
        };
        // The site's files are read off the main thread, just after the site is shown.
        QTRY_VERIFY(texts().contains("http://overview.test"));
        QVERIFY(texts().contains("sqlite"));
        QVERIFY(texts().contains("Flat files"));
        QVERIFY(texts().contains("/usr/bin/php")); // automatic, no engine: the system's PHP

        // Choosing Halvik PHP is kept on the site.
        QComboBox* source = overview->phpSourcePicker();
        source->setCurrentIndex(source->findData("managed"));
        Q_EMIT source->activated(source->currentIndex());
        QCOMPARE(site->phpSourceRaw(), QString("managed"));
        QVERIFY(texts().contains("No PHP binary found.")); // Halvik has no PHP of its own here
        source->setCurrentIndex(source->findData("automatic"));
        Q_EMIT source->activated(source->currentIndex());

        // The cache utilities run through the CMS console and say how it went.
        overview->utilityButton("Clear Tarnel")->click();
        QTRY_COMPARE_WITH_TIMEOUT(overview->utilityResult()->text(), QString("Clear Tarnel: done."), 15000);
        QCOMPARE(site->operations().last()->command().contains("tarnel:clear"), true);
        QVERIFY(halvik::test::saveLightAndDark(&window, "site-overview"));
    }
};

HALVIK_TEST_MAIN(ServingTest)
#include "tst_serving.moc"
