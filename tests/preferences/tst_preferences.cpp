#include "FakeEngine.h"
#include "FakePrompts.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "async/Sleep.h"

#include "app/AppServices.h"
#include "models/AppPreferences.h"
#include "platform/DesktopEntry.h"
#include "services/HerdService.h"

#include <QCoroTask>
#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace halvik;

class PreferencesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString settingsFile() const { return m_dir->filePath("prefs.ini"); }
    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat);
    }
    void store(const QString& key, const QVariant& value) const
    {
        auto s = settings();
        s->setValue(key, value);
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void firstLaunchDefaults()
    {
        AppPreferences prefs(settings());
        QCOMPARE(prefs.defaultSitesDirectoryPath(), QString());
        QVERIFY(prefs.preferHerd());
        QVERIFY(!prefs.secureNewSites());
        QCOMPARE(prefs.defaultPHPSourceRaw(), QString("automatic"));
        QCOMPARE(prefs.sitesSort(), ListSortOrder::newest);
        QCOMPARE(prefs.hostsSort(), ListSortOrder::name);
        QCOMPARE(prefs.appearance(), AppearancePreference::system);
        QCOMPARE(prefs.gitSplitMasterWidth(), 320.0);
        QCOMPARE(prefs.defaultEditorName(), QString("None"));
        QVERIFY(prefs.canApplyAppearance());
    }

    void oddStoredValuesAreReadSensibly()
    {
        store("prefs.gitSplitMasterWidth", 200);
        store("prefs.sitesSort", "sideways");
        store("prefs.hostsSort", "newest");
        store("prefs.appearance", "purple");
        store("prefs.preferHerd", false);
        {
            AppPreferences prefs(settings());
            QCOMPARE(prefs.gitSplitMasterWidth(), 320.0);
            QCOMPARE(prefs.sitesSort(), ListSortOrder::newest);
            QCOMPARE(prefs.sitesSortRaw(), QString("sideways"));
            QCOMPARE(prefs.hostsSort(), ListSortOrder::newest);
            QCOMPARE(prefs.appearance(), AppearancePreference::system);
            QVERIFY(!prefs.preferHerd());
        }
        store("prefs.gitSplitMasterWidth", 260);
        QCOMPARE(AppPreferences(settings()).gitSplitMasterWidth(), 260.0);
    }

    void changesAreWrittenAtOnce()
    {
        {
            AppPreferences prefs(settings());
            prefs.setSitesSort(ListSortOrder::oldest);
            prefs.setSecureNewSites(true);
            prefs.setDefaultSitesDirectoryPath("/srv/sites");
        }
        QCOMPARE(settings()->value("prefs.sitesSort").toString(), QString("oldest"));
        AppPreferences again(settings());
        QCOMPARE(again.sitesSort(), ListSortOrder::oldest);
        QVERIFY(again.secureNewSites());
        QCOMPARE(again.defaultSitesDirectoryPath(), QString("/srv/sites"));
    }

    void phpSourceForNewSites()
    {
        AppPreferences prefs(settings());
        QCOMPARE(prefs.phpSource(true, true), PHPSource::herd);
        QCOMPARE(prefs.phpSource(true, false), PHPSource::automatic);
        prefs.setDefaultPHPSourceRaw("herd");
        QCOMPARE(prefs.phpSource(false, false), PHPSource::automatic);
        QCOMPARE(prefs.phpSource(false, true), PHPSource::herd);
        prefs.setDefaultPHPSourceRaw("managed");
        QCOMPARE(prefs.phpSource(false, true), PHPSource::managed);
        prefs.setDefaultPHPSourceRaw("bogus");
        QCOMPARE(prefs.phpSource(false, true), PHPSource::automatic);
    }

    void sitesDirectoryFallsBackToTheParkedFolderThenHome()
    {
        // The engine's parked folder reaches the preferences through the application's wiring.
        halvik::test::FakeEngine fake(m_dir->filePath("machine"));
        SecretStore secrets;
        halvik::test::FakePrompts prompts;
        AppServices services(secrets, prompts, fake.roots(), settings());
        AppPreferences& prefs = services.preferences();
        prefs.setDefaultSitesDirectoryPath("   ");
        services.herd().refresh();
        QCOMPARE(prefs.resolvedSitesDirectory(), QDir::homePath() + "/Quillmar Sites");

        fake.installValet(QJsonObject{{"tld", "test"}});
        QDir().mkpath(fake.home() + "/Sites");
        services.herd().refresh();
        QCOMPARE(prefs.resolvedSitesDirectory(), fake.home() + "/Sites");

        prefs.setDefaultSitesDirectoryPath("  /srv/mine ");
        QCOMPARE(prefs.resolvedSitesDirectory(), QString("/srv/mine"));

        // On their own, the preferences know of no engine.
        AppPreferences alone(settings());
        alone.setDefaultSitesDirectoryPath("");
        QCOMPARE(alone.resolvedSitesDirectory(), QDir::homePath() + "/Quillmar Sites");
    }

    void appearanceIsAppliedOnChange()
    {
        store("prefs.appearance", "dark");
        AppPreferences prefs(settings());
        QList<AppearancePreference> applied;
        prefs.setAppearanceApplier([&](AppearancePreference a) { applied << a; });
        prefs.applyAppearance();
        prefs.setAppearanceRaw("light");
        prefs.setAppearanceRaw("light");
        prefs.setAppearance(AppearancePreference::system);
        QCOMPARE(applied,
                 (QList<AppearancePreference>{AppearancePreference::dark, AppearancePreference::light,
                                              AppearancePreference::system}));
        QCOMPARE(settings()->value("prefs.appearance").toString(), QString("system"));
    }

    void editorIsChosenOnceAndOpensFolders()
    {
        AppPreferences prefs(settings());
        QList<QStringList> launched;
        prefs.setEditorLauncher([&](const QString& editor, const QString& folder) {
            launched << QStringList{editor, folder};
            return true;
        });

        // No editor and the panel cancelled: nothing opens.
        QList<EditorPanel> panels;
        prefs.setEditorChooser([&](EditorPanel panel) -> QCoro::Task<std::optional<QString>> {
            panels << panel;
            co_return std::nullopt;
        });
        halvik::waitFor(prefs.openInEditor("/srv/site"));
        QVERIFY(launched.isEmpty());
        QCOMPARE(panels.size(), 1);
        QCOMPARE(panels.first().message, QString("Choose the editor Halvik should open site folders with."));
        QCOMPARE(panels.first().prompt, QString("Choose"));

        const QString desktop = m_dir->filePath("code.desktop");
        halvik::test::FakeEngine::writeFile(desktop, "[Desktop Entry]\nName=Code Writer\nName[de]=Kode\n"
                                                     "Exec=/opt/writer/bin/writer --new-window %F\n"
                                                     "[Desktop Action new]\nName=Other\n");
        prefs.setEditorChooser(
            [&](EditorPanel) -> QCoro::Task<std::optional<QString>> { co_return desktop; });
        halvik::waitFor(prefs.openInEditor("/srv/site"));
        QCOMPARE(launched, (QList<QStringList>{{desktop, "/srv/site"}}));
        QCOMPARE(prefs.defaultEditorName(), QString("code.desktop")); // no namer: the file name
        prefs.setEditorNamer(DesktopEntry::applicationName);
        QCOMPARE(prefs.defaultEditorName(), QString("Code Writer"));
        QCOMPARE(settings()->value("prefs.defaultEditor").toString(), desktop);

        // Chosen once: the next open goes straight to the editor.
        prefs.setEditorChooser({});
        halvik::waitFor(prefs.openInEditor("/srv/other"));
        QCOMPARE(launched.size(), 2);

        // An answer that arrives after the preferences have gone is dropped, not written.
        {
            auto fresh = settings();
            fresh->remove("prefs.defaultEditor");
            fresh->sync();
        }
        auto later = std::make_unique<AppPreferences>(settings());
        later->setEditorLauncher([&](const QString& editor, const QString& folder) {
            launched << QStringList{editor, folder};
            return true;
        });
        later->setEditorChooser([](EditorPanel) -> QCoro::Task<std::optional<QString>> {
            co_await halvik::sleepFor(std::chrono::milliseconds(10));
            co_return QStringLiteral("/usr/bin/late-editor");
        });
        auto opening = later->openInEditor("/srv/late");
        QVERIFY(!opening.isReady());
        later.reset();
        QTRY_VERIFY(opening.isReady());
        QCOMPARE(launched.size(), 2);
        QVERIFY(!settings()->contains("prefs.defaultEditor"));
    }

    void desktopEntriesBecomeCommandLines()
    {
        const QString desktop = m_dir->filePath("e.desktop");
        halvik::test::FakeEngine::writeFile(
            desktop, "[Desktop Entry]\nExec=\"/opt/My Editor/editor\" --reuse %U %i 100%%\n");
        QCOMPARE(DesktopEntry::commandLine(desktop, "/srv/a b"),
                 QStringList({"/opt/My Editor/editor", "--reuse", "/srv/a b", "100%"}));
        halvik::test::FakeEngine::writeFile(desktop, "[Desktop Entry]\nExec=gedit\n");
        QCOMPARE(DesktopEntry::commandLine(desktop, "/srv/a"), QStringList({"gedit", "/srv/a"}));

        // Without a Name the entry is known by its file name, like any other program.
        QCOMPARE(DesktopEntry::applicationName(desktop), QString("e.desktop"));
        QCOMPARE(DesktopEntry::applicationName("/Applications/Code Writer.app"), QString("Code Writer"));
        QCOMPARE(DesktopEntry::applicationName("/usr/bin/vim"), QString("vim"));
    }
};

HALVIK_TEST_MAIN_CORE(PreferencesTest)
#include "tst_preferences.moc"
