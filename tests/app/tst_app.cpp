#include "FakePrompts.h"
#include "TestMain.h"

#include "app/AppServices.h"
#include "async/WaitFor.h"
#include "platform/AppDataDir.h"
#include "platform/DesktopNotifier.h"
#include "platform/SleepInhibitor.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

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
        f.services.promptDeleteSites(ten); // cancelled: nothing happens
        QCOMPARE(f.prompts.asked.size(), 1);
        const PromptDialog& many = f.prompts.asked.first();
        QCOMPARE(many.title, QString("Delete 10 sites?"));
        QStringList expected{"Remove keeps folders on disk. Delete site files moves project folders to the Trash.", ""};
        expected << names(ten.mid(0, 8)) << "…";
        QCOMPARE(many.text, expected.join('\n'));
        QCOMPARE(many.buttons, QStringList({"Remove from Halvik", "Delete Site Files…", "Cancel"}));
        QCOMPARE(many.cancelIndex, 2);
        QCOMPARE(f.services.store().sites().size(), 10);

        f.services.promptDeleteSites(ten.mid(0, 8));
        QVERIFY(!f.prompts.asked.last().text.contains("…"));
        QCOMPARE(f.prompts.asked.last().text.count('\n'), 2 + 7);
    }

    void duplicatesCountOnceAndOneSiteGetsTheSingleDialog()
    {
        Fixture f;
        auto a = f.addSite("alpha");
        f.prompts.answers = {"Delete Site Files…", "Move to Trash"};
        f.services.promptDeleteSites({a, a});
        QCOMPARE(f.prompts.asked.size(), 2);
        QCOMPARE(f.prompts.asked[0].title, QString("Delete alpha?"));
        QCOMPARE(f.prompts.asked[0].text,
                 QString("Remove keeps the folder on disk. Delete site files moves the project folder to the Trash."));
        QCOMPARE(f.prompts.asked[1].title, QString("Delete site files?"));
        QCOMPARE(f.prompts.asked[1].text, "This moves " + a->path() +
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
        f.services.promptDeleteSites({b, c});
        QCOMPARE(f.prompts.asked.last().title, QString("Delete 2 site folders?"));
        QCOMPARE(f.prompts.asked.last().text,
                 QString("This moves the project folders to the Trash and removes them from Halvik. Can’t be undone from here."));
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

        f.services.deleteSites({a, b, c}, true);
        QCOMPARE(names(f.services.store().sites()), QStringList({"b"}));
        QCOMPARE(f.prompts.alerts.size(), 1);
        QCOMPARE(f.prompts.alerts.first().first, QString("Couldn’t delete some site files"));
        QVERIFY(f.prompts.alerts.first().second.startsWith("b: "));
        QVERIFY(!f.prompts.alerts.first().second.contains('\n'));
        QCOMPARE(f.services.selectedSiteIDs(), QSet<QUuid>({b->id()}));
        QCOMPARE(f.services.selectedSiteID(), std::optional(b->id())); // fixed up to the newest remaining

        f.services.deleteSites({b}, true);
        QCOMPARE(f.prompts.alerts.last().first, QString("Couldn’t delete site files"));
    }

    void removingKeepsFoldersAndFixesTheSelection()
    {
        Fixture f;
        auto older = f.addSite("older", 20);
        auto newer = f.addSite("newer", 10);
        auto selected = f.addSite("selected", 5);
        f.services.setSelectedSiteID(selected->id());
        f.prompts.answers = {"Remove from Halvik"};
        f.services.promptDeleteSites({selected});
        QVERIFY(QFile::exists(selected->path()));
        QCOMPARE(f.services.selectedSiteID(), std::optional(newer->id()));

        f.services.deleteSites({older, newer}, false);
        QVERIFY(!f.services.selectedSiteID().has_value());
        QVERIFY(f.prompts.alerts.isEmpty());
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
            explicit RecordingNotifier(QStringList* log) : log(log) {}
            void prepare() override { log->append("prepare"); }
            void post(const QString& title, const QString& body) override { log->append(title + " | " + body); }
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
        QCOMPARE(posted, QStringList({"prepare", "Install failed | alpha", "Install failed | beta", "Installed | alpha"}));
    }
};

HALVIK_TEST_MAIN_CORE(AppTest)
#include "tst_app.moc"
