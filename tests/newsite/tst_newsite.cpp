#include "NewSiteData.h"
#include "NewSiteMachine.h"
#include "TestMain.h"

#include "app/InstallCoordinator.h"
#include "app/NewSitePreflight.h"
#include "models/SiteStore.h"
#include "services/newsite/InstallJob.h"
#include "services/newsite/NewSiteChecks.h"
#include "services/newsite/PhpRequirement.h"
#include "services/newsite/SiteAddress.h"
#include "services/serving/LocalServer.h"

#include <QCoroSignal>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>

#include <cerrno>
#include <csignal>

using namespace halvik;
using namespace halvik::test;

namespace {

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Waits for the job to end, recording every fraction it passed through.
QList<double> followToEnd(InstallJob* job)
{
    QList<double> fractions;
    QObject::connect(job, &InstallJob::progressChanged, job,
                     [&fractions, job] { fractions << job->fractionComplete(); });
    if (!job->isFinished())
        (void)QTest::qWaitFor([job] { return job->isFinished(); }, 180000);
    return fractions;
}

InstallRequest requestFor(const SitePtr& site)
{
    InstallRequest request;
    request.siteID = site->id();
    request.destination = QUrl::fromLocalFile(site->path());
    request.slug = QFileInfo(site->path()).fileName();
    return request;
}

SitePtr registerSite(AppServices& services, const QString& path)
{
    auto site = std::make_shared<Site>(QFileInfo(path).fileName(), path);
    services.store().insertSite(site);
    return site;
}

} // namespace

class NewSiteTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // No Git identity but what a test gives.
        for (const char* name : {"GIT_AUTHOR_NAME", "GIT_AUTHOR_EMAIL", "GIT_COMMITTER_NAME",
                                 "GIT_COMMITTER_EMAIL", "EMAIL", "GIT_CONFIG_GLOBAL"})
            qunsetenv(name);
        qputenv("GIT_CONFIG_NOSYSTEM", "1");
        QFile::remove(QDir::homePath() + "/.gitconfig");
    }

    void progressFollowsComposerAndNeverMovesBackwards()
    {
        InstallJob job(QUuid::createUuid(), "blog");
        job.enterStep(InstallStep::download);
        QCOMPARE(job.fractionComplete(), 0.05);
        job.noteComposerLine(InstallStep::download, "Package operations: 12 installs, 0 updates, 0 removals");
        for (int i = 0; i < 6; ++i)
            job.noteComposerLine(InstallStep::download, QString("  - Installing acme/p%1 (1.0.0)").arg(i));
        QCOMPARE(job.composerPackagesTotal(), std::optional<int>(12));
        QCOMPARE(job.composerPackagesDone(), 6);
        QVERIFY(qFuzzyCompare(job.fractionComplete(), 0.14));

        // The pinning run announces its own operations from its step's lower base.
        job.enterStep(InstallStep::dependencies, 0.5);
        QCOMPARE(job.fractionComplete(), 0.5);
        job.noteComposerLine(InstallStep::dependencies,
                             "Package operations: 4 installs, 1 update, 0 removals");
        QCOMPARE(job.fractionComplete(), 0.5);
        job.noteComposerLine(InstallStep::dependencies, "  - Installing acme/x (1.0.0)");
        QCOMPARE(job.fractionComplete(), 0.5);
        for (int i = 0; i < 5; ++i) // more installs than announced stop at the span's end
            job.noteComposerLine(InstallStep::dependencies, "  - Installing acme/y (1.0.0)");
        QVERIFY(qFuzzyCompare(job.fractionComplete(), 0.5));
        job.enterStep(InstallStep::configure);
        QCOMPARE(job.fractionComplete(), 0.75);

        job.appendLine("first");
        job.finish(false, QString("boom"));
        job.appendLine("after the end");
        QCOMPARE(job.log(), QString("first"));
        QCOMPARE(job.fractionComplete(), 0.75);
        QCOMPARE(InstallSteps::toRaw(InstallStep::linkHerd), QString("linkHerd"));
    }

    void phpRequirementsAreJudgedAsTheWizardShowsThem()
    {
        using PhpRequirement::satisfies;
        QVERIFY(satisfies("8.1.2", ""));
        QVERIFY(satisfies("8.1.2", "*"));
        QVERIFY(satisfies("8.2.0", "^8.1"));
        QVERIFY(!satisfies("8.0.30", "^8.1"));
        QVERIFY(!satisfies("9.0.0", "^8.1"));
        QVERIFY(satisfies("7.4.3", "^7.4 || ^8.0"));
        QVERIFY(satisfies("8.3.1", "^7.4|^8.0"));
        QVERIFY(satisfies("8.1.9", "~8.1.3"));
        QVERIFY(!satisfies("8.2.0", "~8.1.3"));
        QVERIFY(!satisfies("8.1.2", "~8.1.3"));
        QVERIFY(satisfies("8.2.0", ">=8.2"));
        QVERIFY(!satisfies("8.1.99", ">=8.2"));
        QVERIFY(satisfies("8.1.0", "<8.2"));
        QVERIFY(!satisfies("8.2.0", ">8.2"));
        QVERIFY(satisfies("8.2.7", "8.2"));
        QVERIFY(!satisfies("8.3.0", "8.2"));
        QVERIFY(satisfies("8.2.7", "8.2.7"));
        QVERIFY(!satisfies("8.2.8", "8.2.7"));
    }

    void applicationURLsAndPortsNeverCollide()
    {
        QTemporaryDir dir;
        const QString folder = dir.path();
        NewSiteMachine::writeText(folder + "/.env",
                                  "APP_NAME=Blog\nAPP_URL=http://localhost\nASSET_APP_URL=x\n");
        SiteAddress::writeAppURL(folder, "http://127.0.0.1:4100");
        QCOMPARE(NewSiteMachine::readText(folder + "/.env"),
                 QString("APP_NAME=Blog\nAPP_URL=http://127.0.0.1:4100\nASSET_APP_URL=x\n"));
        NewSiteMachine::writeText(folder + "/.env", "APP_NAME=Blog");
        SiteAddress::writeAppURL(folder, "https://blog.test");
        QCOMPARE(NewSiteMachine::readText(folder + "/.env"),
                 QString("APP_NAME=Blog\nAPP_URL=https://blog.test\n"));
        SiteAddress::configureSQLite(folder);
        QVERIFY(NewSiteMachine::readText(folder + "/.env").endsWith("\nDB_CONNECTION=sqlite\n"));
        NewSiteMachine::writeText(folder + "/.env", "DB_CONNECTION=mysql\n");
        SiteAddress::configureSQLite(folder);
        QCOMPARE(NewSiteMachine::readText(folder + "/.env"), QString("DB_CONNECTION=sqlite\n"));

        // Ports another site keeps, stored or named in its .env, and ports someone listens on,
        // are never handed out again.
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
        auto stored = std::make_shared<Site>("stored", dir.path() + "/stored");
        stored->setLocalPort(int(busy.serverPort()) + 1);
        auto named = std::make_shared<Site>("named", dir.path() + "/named");
        NewSiteMachine::writeText(
            named->path() + "/.env",
            QString("APP_URL=http://127.0.0.1:%1\n").arg(busy.serverPort() + 2).toUtf8());
        const QList<SitePtr> sites{stored, named};
        const QSet<int> claimed = SiteAddress::portsInUse(sites, QUuid());
        QCOMPARE(claimed, (QSet<int>{int(busy.serverPort()) + 1, int(busy.serverPort()) + 2}));
        QVERIFY(!SiteAddress::portsInUse(sites, named->id()).contains(int(busy.serverPort()) + 2));
        const int port = LocalServer::freePort(int(busy.serverPort()), claimed);
        QCOMPARE(port, int(busy.serverPort()) + 3);
        QVERIFY(!claimed.contains(SiteAddress::pickLocalPort(sites, QUuid())));
    }

    void doomedInstallsAreRefusedBeforeAnythingExists()
    {
        NewSiteMachine m;
        SiteStore& store = m.services->store();
        const QString taken = m.sitesFolder() + "/taken";
        QDir().mkpath(taken + "/content");
        registerSite(*m.services, m.sitesFolder() + "/registered");
        QCOMPARE(NewSiteChecks::destination(store, m.sitesFolder() + "/registered", true),
                 std::optional<QString>("Halvik already has a site at this path."));
        QCOMPARE(NewSiteChecks::destination(store, taken, true),
                 std::optional<QString>("A folder already exists at " + taken));
        QDir().mkpath(m.sitesFolder() + "/empty");
        QCOMPARE(NewSiteChecks::destination(store, m.sitesFolder() + "/empty", true), std::nullopt);
        QVERIFY(NewSiteChecks::destination(store, m.sitesFolder() + "/empty", false));

        MarketplaceStarterKit listed;
        listed.package = "acme/starter-blog";
        MarketplaceStarterKit hidden;
        hidden.package = "acme/hidden";
        hidden.isListed = false;
        const QList<MarketplaceStarterKit> kits{listed, hidden};
        QCOMPARE(NewSiteChecks::starterKit("ACME/starter-blog", kits), std::nullopt);
        QCOMPARE(NewSiteChecks::starterKit("acme/hidden", kits),
                 std::optional<QString>("There is no starter kit “acme/hidden” in the marketplace."));
        const QList<PackagistVersion> versions{{"5.2.0", {}, {}, false}, {"v4.3.1", {}, {}, false}};
        QCOMPARE(NewSiteChecks::release("4.3.1", versions), std::nullopt);
        QCOMPARE(NewSiteChecks::release("5.3.0", versions),
                 std::optional<QString>("quillmar/cms has no release 5.3.0."));
        QCOMPARE(NewSiteChecks::release("5.3.0", std::nullopt), std::nullopt); // list did not load
        QCOMPARE(NewSiteChecks::password("short"),
                 std::optional<QString>("Password must be at least 8 characters."));
        QCOMPARE(NewSiteChecks::cloneDestination("/srv/blog", "/srv/blog/copy"),
                 std::optional<QString>("Choose a folder outside the site you are copying."));
        QCOMPARE(NewSiteChecks::cloneDestination("/srv/blog", "/srv/blog-copy"), std::nullopt);
        // Copying a site onto itself names the registered site first.
        const QString registered = m.sitesFolder() + "/registered";
        QCOMPARE(NewSiteChecks::cloneTarget(store, registered, registered),
                 std::optional<QString>("Halvik already has a site at this path."));
        QCOMPARE(NewSiteChecks::cloneTarget(store, registered, registered + "/inner"),
                 std::optional<QString>("Choose a folder outside the site you are copying."));
        QCOMPARE(NewSiteChecks::cloneTarget(store, registered, m.sitesFolder() + "/empty"),
                 std::optional<QString>("A folder already exists at " + m.sitesFolder() + "/empty"));

        NewSiteDraft draft;
        draft.destination = m.sitesFolder() + "/fresh";
        draft.createGitHubRepo = true;
        QCOMPARE(localNewSiteProblem(*m.services, draft),
                 std::optional<QString>("Connect GitHub under Source Control."));
        draft.createGitHubRepo = false;
        QCOMPARE(localNewSiteProblem(*m.services, draft), std::nullopt);

        // Without Composer on the machine nothing starts either.
        NewSiteMachine bare({m.dir.path() + "/nothing-here"});
        const auto missing = localNewSiteProblem(*bare.services, draft);
        QVERIFY(missing.has_value());
        QVERIFY2(missing->contains("PHP") || missing->contains("Composer"), qPrintable(*missing));
    }

    void kitSiteWithDatabaseAndSuperUserInstallsForReal()
    {
        NewSiteMachine m;
        const SitePtr site = registerSite(*m.services, m.sitesFolder() + "/kit-site");
        InstallRequest request = requestFor(site);
        request.version = "5.0.0";
        request.starterKit = "acme/starter-blog";
        request.contentStorage = ContentStorage::database;
        request.createSuperUser = true;
        request.adminEmail = "ada@example.com";
        request.adminPassword = "correct-horse-9";
        request.initGit = true; // nobody has told Git who they are here
        m.services->installs().start(request);
        InstallJob* job = m.services->installs().job(site->id());
        const QList<double> fractions = followToEnd(job);
        QVERIFY2(job->succeeded(), qPrintable(job->log()));
        QVERIFY(fractions.contains(0.5)); // halfway once the project is downloaded
        for (int i = 1; i < fractions.size(); ++i)
            QVERIFY2(fractions[i] >= fractions[i - 1],
                     qPrintable(QString("fell from %1 to %2").arg(fractions[i - 1]).arg(fractions[i])));

        const QString path = site->path();
        QCOMPARE(job->postInstallInstructions(),
                 std::optional<QString>("Your blog is ready.\nRun npm install to build its theme."));
        QVERIFY(QFile::exists(path + "/content/collections/posts/hello.md"));
        const QString env = NewSiteMachine::readText(path + "/.env");
        QVERIFY2(env.contains("DB_CONNECTION=sqlite\n"), qPrintable(env));
        QVERIFY(QRegularExpression("APP_KEY=base64:\\S{40,}").match(env).hasMatch());
        QVERIFY(env.contains(QString("APP_URL=http://127.0.0.1:%1").arg(site->localPort().value_or(-1))));
        QVERIFY(QFileInfo(path + "/database/database.sqlite").size() > 0); // migrated for real
        QVERIFY(
            NewSiteMachine::readText(path + "/config/quillmar/eloquent-driver.php").contains("'eloquent'"));
        QVERIFY(NewSiteMachine::readText(path + "/vendor/composer/installed.json")
                    .contains("\"version\": \"5.0.0\""));
        QVERIFY(QFile::exists(path + "/users/ada@example.com.json"));
        QVERIFY(job->log().contains("Pinning quillmar/cms 5.0.0…"));
        QVERIFY(job->log().contains(
            "Git repo created. Commit skipped — set your name and email in the Git tab."));
        QVERIFY(QFileInfo(path + "/.git").isDir());
        // The password reached the user file only: never the log or the site's history.
        QVERIFY(!job->log().contains("correct-horse-9"));
        for (const auto& operation : site->operations()) {
            QVERIFY(!operation->command().contains("correct-horse-9"));
            QVERIFY(!operation->log().contains("correct-horse-9"));
        }
        m.services->store().flush();
        QVERIFY(!NewSiteMachine::readText(m.services->store().filePath()).contains("correct-horse-9"));
        QCOMPARE(job->step(), InstallStep::done);
    }

    void failingKitKeepsFolderAndSiteAndGivesAdvice()
    {
        NewSiteMachine m;
        const SitePtr site = registerSite(*m.services, m.sitesFolder() + "/broken");
        InstallRequest request = requestFor(site);
        request.starterKit = "acme/broken-kit";
        m.services->installs().start(request);
        InstallJob* job = m.services->installs().job(site->id());
        followToEnd(job);
        QVERIFY(!job->succeeded());
        QVERIFY(job->errorMessage().has_value());
        QCOMPARE(job->step(), InstallStep::starterKit);
        QVERIFY(QFile::exists(site->path() + "/artisan"));
        QVERIFY(m.services->store().site(site->id()));
        QStringList titles;
        for (const ConflictAdvice& advice : m.services->lastAdvice())
            titles << advice.title;
        QVERIFY2(titles.contains("Composer could not resolve dependencies"), qPrintable(titles.join(", ")));
    }

    void cancellingDuringComposerStopsItsProcessGroupAndKeepsTheSite()
    {
        // A Composer that announces work, starts a helper of its own and then takes its time.
        QTemporaryDir tools;
        const QString composer = tools.path() + "/composer";
        NewSiteMachine::writeText(composer, newsite_data::slowComposer);
        QFile::setPermissions(composer, QFile::permissions(composer) | QFile::ExeOwner);
        const QString pids = tools.path() + "/pids";
        qputenv("PIDS_FILE", pids.toUtf8());
        NewSiteMachine m({tools.path(), "/usr/bin"});
        const SitePtr site = registerSite(*m.services, m.sitesFolder() + "/slow");
        m.services->installs().start(requestFor(site));
        InstallJob* job = m.services->installs().job(site->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->composerPackagesDone() == 1, 30000);
        QVERIFY(qFuzzyCompare(job->fractionComplete(), 0.05 + 0.18 / 4));
        const QStringList ids = NewSiteMachine::readText(pids).split('\n');
        QCOMPARE(ids.size(), 2);
        m.services->installs().cancel(site->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 15000);
        QCOMPARE(job->errorMessage(), std::optional<QString>("Cancelled"));
        QVERIFY(job->log().endsWith("Install cancelled."));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(ids[0].toLongLong()) && processGone(ids[1].toLongLong()), 10000);
        QVERIFY(QFileInfo(site->path()).isDir());
        QVERIFY(m.services->store().site(site->id()));
        qunsetenv("PIDS_FILE");
    }

    void newFromTheCommandLineGivesACommittedSiteAnsweringAtItsURL()
    {
        NewSiteMachine m;
        const QString gitConfig = m.dir.path() + "/gitconfig";
        NewSiteMachine::writeText(gitConfig, "[user]\n\tname = Ada\n\temail = ada@example.com\n");
        // Another site already claims the first free port in its .env.
        const int firstFree = LocalServer::freePort(std::nullopt, {});
        const SitePtr other = registerSite(*m.services, m.sitesFolder() + "/other");
        NewSiteMachine::writeText(other->path() + "/.env",
                                  QString("APP_URL=http://127.0.0.1:%1\n").arg(firstFree).toUtf8());
        m.services->store().flush();

        QProcess process;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("GIT_CONFIG_GLOBAL", gitConfig);
        process.setProcessEnvironment(env);
        const QString folder = m.sitesFolder() + "/nested/blog";
        process.start(halvikBinary(), {"new", folder, "--name", "My Blog", "--git", "--json"});
        QVERIFY(process.waitForFinished(180000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(err.contains("Created initial commit."), qPrintable(err));
        const QJsonObject printed = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(printed["name"].toString(), QString("My Blog"));
        QCOMPARE(printed["path"].toString(), folder);
        const int port = printed["localPort"].toInt();
        QVERIFY(port > 0);
        QVERIFY(port != firstFree);

        QCOMPARE(NewSiteMachine::git(folder, {"log", "--format=%s"}), QString("Initial commit from Halvik"));
        QVERIFY(NewSiteMachine::git(folder, {"ls-files"}).contains("artisan"));
        const QString dotEnv = NewSiteMachine::readText(folder + "/.env");
        QVERIFY(dotEnv.contains(QString("APP_URL=http://127.0.0.1:%1\n").arg(port)));
        QVERIFY(dotEnv.contains("APP_KEY=base64:"));

        // Registered, and opening it serves exactly at APP_URL.
        m.services->store().load();
        const SitePtr site = m.services->store().siteAtPath(folder);
        QVERIFY(site);
        halvik::waitFor(m.services->openInBrowser(site));
        QCOMPARE(m.opened, QList<QUrl>{QUrl(QString("http://127.0.0.1:%1").arg(port))});
        QNetworkAccessManager network;
        QNetworkReply* reply = network.get(QNetworkRequest(m.opened.first()));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
        QCOMPARE(reply->readAll(), QByteArray("Welcome to your new Quillmar site"));
        reply->deleteLater();

        // A second new site into the same folder never starts.
        process.start(halvikBinary(), {"new", folder});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()).trimmed(),
                 QString("halvik: Halvik already has a site at this path."));
    }
};

HALVIK_TEST_MAIN_CORE(NewSiteTest)
#include "tst_newsite.moc"
