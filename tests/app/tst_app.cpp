#include "FakePrompts.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "platform/AppDataDir.h"
#include "platform/DesktopNotifier.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "platform/SleepInhibitor.h"
#include "services/accounts/SourceControlService.h"
#include "services/runtime/RuntimeManager.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik;
using halvik::test::FakePrompts;

namespace {

struct Fixture
{
    halvik::test::IsolatedHome home;
    SecretStore secrets;
    FakePrompts prompts;
    AppServices services{secrets, prompts};

    // Registers a site whose folder really exists, `age` seconds old.
    SitePtr addSite(const QString& name, int age = 0)
    {
        const QString path = home.path() + "/Sites/" + name;
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(name, path);
        site->setCreatedAt(QDateTime::currentDateTimeUtc().addSecs(-age));
        services.store().insertSite(site);
        return site;
    }
};

QStringList names(const QList<SitePtr>& sites)
{
    QStringList out;
    for (const auto& s : sites)
        out << s->displayName();
    return out;
}

} // namespace

class AppTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void deleteDialogsListAtMostEightNames()
    {
        Fixture f;
        QList<SitePtr> ten;
        for (int i = 0; i < 10; ++i)
            ten << f.addSite(QString("site%1").arg(i), 100 - i);
        halvik::waitFor(f.services.promptDeleteSites(ten)); // cancelled: nothing happens
        QCOMPARE(f.prompts.asked.size(), 1);
        const PromptDialog& many = f.prompts.asked.first();
        QCOMPARE(many.title, QString("Delete 10 sites?"));
        QStringList expected{
            "Remove keeps folders on disk. Delete site files moves project folders to the Trash.", ""};
        expected << names(ten.mid(0, 8)) << "…";
        QCOMPARE(many.text, expected.join('\n'));
        QCOMPARE(many.buttons, QStringList({"Remove from Halvik", "Delete Site Files…", "Cancel"}));
        QCOMPARE(many.cancelIndex, 2);
        QCOMPARE(f.services.store().sites().size(), 10);

        halvik::waitFor(f.services.promptDeleteSites(ten.mid(0, 8)));
        QVERIFY(!f.prompts.asked.last().text.contains("…"));
        QCOMPARE(f.prompts.asked.last().text.count('\n'), 2 + 7);
    }

    void duplicatesCountOnceAndOneSiteGetsTheSingleDialog()
    {
        Fixture f;
        auto a = f.addSite("alpha");
        f.prompts.answers = {"Delete Site Files…", "Move to Trash"};
        halvik::waitFor(f.services.promptDeleteSites({a, a}));
        QCOMPARE(f.prompts.asked.size(), 2);
        QCOMPARE(f.prompts.asked[0].title, QString("Delete alpha?"));
        QCOMPARE(
            f.prompts.asked[0].text,
            QString(
                "Remove keeps the folder on disk. Delete site files moves the project folder to the Trash."));
        QCOMPARE(f.prompts.asked[1].title, QString("Delete site files?"));
        QCOMPARE(f.prompts.asked[1].text,
                 "This moves " + a->path() +
                     " to the Trash and removes it from Halvik. Can’t be undone from here.");
        QCOMPARE(f.prompts.asked[1].buttons, QStringList({"Move to Trash", "Cancel"}));
        // Really in the freedesktop trash of the test's home, and gone from the registry.
        QVERIFY(!QFile::exists(a->path()));
        QVERIFY(QFile::exists(f.home.dataHome() + "/Trash/files/alpha"));
        QVERIFY(f.services.store().sites().isEmpty());

        // The plural confirmation, declined, leaves everything in place.
        auto b = f.addSite("b");
        auto c = f.addSite("c");
        f.prompts.answers = {"Delete Site Files…", "Cancel"};
        halvik::waitFor(f.services.promptDeleteSites({b, c}));
        QCOMPARE(f.prompts.asked.last().title, QString("Delete 2 site folders?"));
        QCOMPARE(f.prompts.asked.last().text,
                 QString("This moves the project folders to the Trash and removes them from Halvik. Can’t be "
                         "undone from here."));
        QCOMPARE(f.services.store().sites().size(), 2);
        QVERIFY(QFile::exists(b->path()));
    }

    void oneTrashFailureAmongThreeIsReportedOnce()
    {
        Fixture f;
        auto a = f.addSite("a", 30);
        auto b = f.addSite("b", 20);
        auto c = f.addSite("c", 10);
        QDir(b->path()).removeRecursively(); // cannot be moved: it no longer exists
        f.services.setSelectedSiteID(c->id());
        f.services.setSelectedSiteIDs({a->id(), b->id(), c->id()});

        f.prompts.answers = {"Delete Site Files…", "Move to Trash"};
        halvik::waitFor(f.services.promptDeleteSites({a, b, c}));
        QCOMPARE(names(f.services.store().sites()), QStringList({"b"}));
        QCOMPARE(f.prompts.alerts.size(), 1);
        QCOMPARE(f.prompts.alerts.first().first, QString("Couldn’t delete some site files"));
        QVERIFY(f.prompts.alerts.first().second.startsWith("b: "));
        QVERIFY(!f.prompts.alerts.first().second.contains('\n'));
        QCOMPARE(f.services.selectedSiteIDs(), QSet<QUuid>({b->id()}));
        QCOMPARE(f.services.selectedSiteID(), std::optional(b->id())); // fixed up to the newest remaining

        // Deleting without asking reports the failure to its caller instead.
        const QStringList failures = f.services.deleteSites({b}, true);
        QCOMPARE(failures.size(), 1);
        QVERIFY(failures.first().startsWith("b: "));
        QCOMPARE(f.prompts.alerts.size(), 1);
    }

    void removingKeepsFoldersAndFixesTheSelection()
    {
        Fixture f;
        auto older = f.addSite("older", 20);
        auto newer = f.addSite("newer", 10);
        auto selected = f.addSite("selected", 5);
        f.services.setSelectedSiteID(selected->id());
        f.prompts.answers = {"Remove from Halvik"};
        halvik::waitFor(f.services.promptDeleteSites({selected}));
        QVERIFY(QFile::exists(selected->path()));
        QCOMPARE(f.services.selectedSiteID(), std::optional(newer->id()));

        QVERIFY(f.services.deleteSites({older, newer}, false).isEmpty());
        QVERIFY(!f.services.selectedSiteID().has_value());
        QVERIFY(f.prompts.alerts.isEmpty());
    }

    void deleteQuestionLeftOpenNeitherRepeatsNorActsOnWhatWent()
    {
        Fixture f;
        auto a = f.addSite("alpha", 20);
        auto b = f.addSite("beta", 10);
        f.prompts.holdQuestions = true;

        // While the question is open the window goes on; asking again is refused at once.
        auto first = f.services.promptDeleteSites({a, b});
        QVERIFY(!first.isReady());
        QVERIFY(f.services.isAskingToDeleteSites());
        auto second = f.services.promptDeleteSites({a});
        QVERIFY(second.isReady());
        QCOMPARE(f.prompts.asked.size(), 1);
        QCOMPARE(f.prompts.openQuestions(), 1);

        // Meanwhile alpha goes by another way; the answer then removes only what is left.
        QVERIFY(f.services.deleteSites({a}, false).isEmpty());
        f.prompts.answer("Remove from Halvik");
        QVERIFY(first.isReady());
        QVERIFY(!f.services.isAskingToDeleteSites());
        QVERIFY(f.services.store().sites().isEmpty());
        QVERIFY(QFile::exists(a->path()) && QFile::exists(b->path()));

        // The confirmation is a second question of the same flow, not a new request.
        auto c = f.addSite("gamma");
        auto third = f.services.promptDeleteSites({c});
        f.prompts.answer("Delete Site Files…");
        QCOMPARE(f.prompts.openQuestions(), 1);
        QCOMPARE(f.prompts.asked.last().title, QString("Delete site files?"));
        f.prompts.answer("Cancel");
        QVERIFY(third.isReady());
        QCOMPARE(f.services.store().sites().size(), 1);
        QVERIFY(QFile::exists(c->path()));
    }

    void deleteQuestionOutlivingTheServicesResumesHarmlessly()
    {
        halvik::test::IsolatedHome home;
        SecretStore secrets;
        FakePrompts prompts;
        prompts.holdQuestions = true;
        QDir().mkpath(home.path() + "/Sites/alpha");
        auto site = std::make_shared<Site>("alpha", home.path() + "/Sites/alpha");
        QCoro::Task<> asking;
        {
            AppServices services(secrets, prompts);
            services.store().insertSite(site);
            asking = services.promptDeleteSites({site});
            QCOMPARE(prompts.openQuestions(), 1);
        }
        // The answer arrives after the services have gone: the flow must end without them
        // (AddressSanitizer reports any touch of the dead object).
        prompts.answer("Delete Site Files…");
        QVERIFY(asking.isReady());
        QCOMPARE(prompts.asked.size(), 1);
        QVERIFY(QFile::exists(site->path()));
    }

    void bootstrapLoadsAndQuitSavesLast()
    {
        Fixture f;
        // A store and a secret written by an earlier run.
        {
            SecretStore earlierSecrets;
            FakePrompts p;
            AppServices earlier(earlierSecrets, p);
            auto host = std::make_shared<HostAccount>(HostProviderKind::netlify, "N");
            earlier.store().addHost(host);
            earlier.store().upsertSourceControl({"gitlab", "me", QDateTime::currentDateTimeUtc()});
            earlierSecrets.set("tok", host->secretAccount());
        }
        QSignalSpy done(&f.services, &AppServices::bootstrapped);
        halvik::waitFor(f.services.bootstrap());
        QCOMPARE(done.count(), 1);
        QCOMPARE(f.services.store().hosts().size(), 1);
        const QStringList keys = f.services.requiredSecretAccounts();
        QCOMPARE(keys.size(), 2);
        QVERIFY(keys[0].startsWith("netlify."));
        QCOMPARE(keys[1], QString("sourceControl.gitlab"));
        QCOMPARE(f.secrets.get(keys[0]), std::optional<QString>("tok"));

        // Quit: whatever runs is stopped first, and the store is written after it.
        auto site = f.addSite("running");
        QStringList order;
        f.services.addQuitHook([&] {
            order << "stop";
            site->setNotes("stopped cleanly"); // a change made while stopping must be saved
        });
        f.services.shutdown();
        QCOMPARE(order, QStringList({"stop"}));
        QFile stored(AppDataDir::directory() + "/store.json");
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("stopped cleanly"));
    }

    void startUpChecksTheOriginSignInAndTheStaticSiteFlagsWithOneSave()
    {
        Fixture f;
        // Origin's command-line tool says who is signed in; a stored account of someone who
        // signed out elsewhere would otherwise linger.
        const QString origin = f.home.path() + "/bin/origin";
        QDir().mkpath(f.home.path() + "/bin");
        QFile script(origin);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho 'Logged in as @river'\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        f.services.sourceControl().origin().setCandidates({origin});

        // One site uses the static-site generator (its lock file says so), one no longer does.
        auto generated = f.addSite("generated");
        auto plain = f.addSite("plain");
        plain->setUsesSSG(true);
        QFile lock(generated->path() + "/composer.lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write("{\"packages\": [{\"name\": \"quillmar/ssg\"}]}");
        lock.close();
        f.services.store().flush();

        halvik::waitFor(f.services.bootstrap());
        QCOMPARE(f.services.store().sourceControlAccount(SourceControlProvider::origin)->login,
                 QString("river"));
        QVERIFY(f.services.store().site(generated->id())->usesSSG());
        QVERIFY(!f.services.store().site(plain->id())->usesSSG());
        QTRY_VERIFY(!f.services.store().isSaving());
        QFile stored(AppDataDir::directory() + "/store.json");
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray saved = stored.readAll();
        QVERIFY(saved.contains("river"));
        QVERIFY(saved.contains("\"usesSSG\":true"));

        // The environment picture finds the GitHub CLI where the accounts do: ~/.local/bin.
        const QString gh = f.home.path() + "/.local/bin/gh";
        QDir().mkpath(f.home.path() + "/.local/bin");
        QFile tool(gh);
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
        AppServices fresh(f.secrets, f.prompts);
        halvik::waitFor(fresh.devEnvironment().refresh());
        QCOMPARE(fresh.devEnvironment().githubCLIPath(), std::optional<QString>(gh));
        f.services.shutdown();
        fresh.shutdown();
    }

    void bootstrapSurvivesABadStore()
    {
        Fixture f;
        QDir().mkpath(AppDataDir::directory());
        QFile bad(AppDataDir::directory() + "/store.json");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("[1,2");
        bad.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Halvik store load failed"));
        halvik::waitFor(f.services.bootstrap());
        QVERIFY(f.services.isBootstrapped());
        QVERIFY(f.services.store().sites().isEmpty());
    }

    void aFailedRuntimeSeedingIsShownAndStartUpGoesOn()
    {
        // The application folder cannot hold bin/: a file sits where the folder should be.
        QTemporaryDir dir;
        QFile blocker(dir.filePath("support"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        RuntimeRoots roots = RuntimeRoots::system();
        roots.support = dir.filePath("support");
        SecretStore secrets;
        FakePrompts prompts;
        AppServices services(secrets, prompts, HerdRoots::system(), nullptr, roots);
        halvik::waitFor(services.bootstrap());
        QVERIFY(services.isBootstrapped());
        QVERIFY(services.busyMessage().value_or("").startsWith("Couldn’t create the folder"));
        QCOMPARE(services.runtime().lastError(), services.busyMessage());

        // A command's start-up leaves the runtimes alone.
        AppServices command(secrets, prompts, HerdRoots::system(), nullptr, roots);
        halvik::waitFor(command.bootstrap(AppServices::BootstrapScope::command));
        QCOMPARE(command.busyMessage(), std::nullopt);
    }

    void quitSignalsArriveOnTheMainThreadAndLeaveNoHandlerBehind()
    {
        {
            QuitSignals watcher;
            QVERIFY(watcher.isWatching());
            QTest::ignoreMessage(QtWarningMsg, "Halvik quit signals are already watched");
            QuitSignals second; // one watcher per process: the second stays inert
            QVERIFY(!second.isWatching());
            QSignalSpy received(&watcher, &QuitSignals::received);
            for (const int number : {SIGTERM, SIGINT, SIGHUP})
                QCOMPARE(::raise(number), 0);
            QTRY_COMPARE(received.count(), 3);
            QCOMPARE(received.at(0).at(0).toInt(), SIGTERM);
            QCOMPARE(received.at(1).at(0).toInt(), SIGINT);
            QCOMPARE(received.at(2).at(0).toInt(), SIGHUP);
        }
        struct sigaction current = {};
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            QCOMPARE(::sigaction(number, nullptr, &current), 0);
            QVERIFY(current.sa_handler == SIG_DFL);
        }
        // Watching again after the first is gone works.
        QuitSignals again;
        QVERIFY(again.isWatching());
    }

    void onlyTheFirstInstanceListensAndLaterOnesAskItToRaise()
    {
        QTemporaryDir runtime;
        const QString path = runtime.filePath("halvik-window-test");
        SingleInstance first(path);
        QVERIFY(first.claim());
        QSignalSpy raised(&first, &SingleInstance::raiseRequested);
        SingleInstance second(path);
        QVERIFY(!second.claim());
        QTRY_COMPARE(raised.count(), 1);
        QVERIFY(!second.claim());
        QTRY_COMPARE(raised.count(), 2);
    }

    void desktopFacilitiesAreQuietWithoutABusAndNotificationsReachTheNotifier()
    {
        // The tests run without a session bus: taking and dropping the guard must be harmless.
        {
            SleepInhibitor guard("Publishing site");
            QVERIFY(!guard.isHeld());
        }
        NotificationService system;
        system.requestPermission();
        system.finished("Installed", "alpha", true);

        struct RecordingNotifier : DesktopNotifier
        {
            QStringList* log;
            explicit RecordingNotifier(QStringList* into) : log(into) {}
            void prepare() override { log->append("prepare"); }
            void post(const QString& title, const QString& body) override
            {
                log->append(title + " | " + body);
            }
        };
        QStringList posted;
        NotificationService notifications(std::make_unique<RecordingNotifier>(&posted));
        QSignalSpy badge(&notifications, &NotificationService::badgeChanged);
        notifications.requestPermission();
        notifications.finished("Install failed", "alpha", false);
        QCOMPARE(notifications.badge(), QString("!"));
        notifications.finished("Install failed", "beta", false);
        notifications.finished("Installed", "alpha", true);
        QCOMPARE(notifications.badge(), QString());
        QCOMPARE(badge.count(), 2);
        QCOMPARE(posted, QStringList({"prepare", "Install failed | alpha", "Install failed | beta",
                                      "Installed | alpha"}));
    }
};

HALVIK_TEST_MAIN_CORE(AppTest)
#include "tst_app.moc"
