#include "FakePrompts.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "views/Appearance.h"
#include "views/GeneralSettingsPane.h"
#include "views/HostsPage.h"
#include "views/LiveLogView.h"
#include "views/MainWindow.h"
#include "views/SettingsWindow.h"
#include "views/SiteDetailPane.h"
#include "views/SiteListModel.h"
#include "views/SitesPage.h"
#include "views/WidgetPrompts.h"

#include "app/DeleteSitesDialogs.h"
#include "app/DevEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakePrompts;
using halvik::test::saveScreenshot;

namespace {

struct Window
{
    halvik::test::IsolatedHome home;
    SecretStore secrets;
    FakePrompts prompts;
    AppServices services{secrets, prompts};
    MainWindow window{services};

    SitePtr addSite(const QString& name, int age)
    {
        const QString path = home.path() + "/Sites/" + name.toLower();
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(name, path);
        site->setCreatedAt(QDateTime::currentDateTimeUtc().addSecs(-age));
        // Insert in order of age so the list stays newest first.
        services.store().insertSite(site);
        return site;
    }
    QListView* list() const { return window.sitesPage()->list(); }
    QStringList rows() const
    {
        QStringList out;
        for (int r = 0; r < list()->model()->rowCount(); ++r)
            out << list()->model()->index(r, 0).data().toString();
        return out;
    }
    QString detailText() const
    {
        auto* detail = window.findChild<QStackedWidget*>("siteDetail");
        QStringList texts;
        for (auto* label : detail->currentWidget()->findChildren<QLabel*>())
            texts << label->text();
        return texts.join(" | ");
    }
};

// The visible window of type T among the application's windows, if any.
template <typename T> T* openWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found && found->isVisible())
            return found;
    return nullptr;
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return button;
    return nullptr;
}

void shoot(QWidget* widget, const QString& name)
{
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

} // namespace

class ViewsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowStartsOnSitesWithTheEmptyDetail()
    {
        Window w;
        w.window.show();
        QCOMPARE(w.window.size(), QSize(1180, 760));
        QCOMPARE(w.services.selectedSection(), SidebarSection::sites);
        QCOMPARE(w.window.sitesPage()->searchField()->placeholderText(), QString("Search Sites"));
        QCOMPARE(w.detailText(), QString("Select a site | Pick a site from the list, or create a new one."));

        QStringList sidebar;
        for (QTreeWidgetItemIterator it(w.window.sidebar()); *it; ++it)
            sidebar << (*it)->text(0);
        QCOMPARE(sidebar, QStringList({"Local", "Sites", "Configuration", "Hosts", "Source Control",
                                       "Environment", "Settings"}));
        // Nothing to act on yet: the delete command is off.
        QVERIFY(!w.window.action(MenuCommand::deleteSite)->isEnabled());
        shoot(&w.window, "main-empty");

        // Choosing a section in the sidebar switches the page and the services follow.
        for (QTreeWidgetItemIterator it(w.window.sidebar()); *it; ++it)
            if ((*it)->text(0) == "Hosts")
                w.window.sidebar()->setCurrentItem(*it);
        QCOMPARE(w.services.selectedSection(), SidebarSection::hosts);
    }

    void listShowsSitesNewestFirstAndFilters()
    {
        Window w;
        w.addSite("Oldest", 300);
        auto middle = w.addSite("Middle Site", 200);
        w.addSite("Newest", 100);
        auto unnamed = std::make_shared<Site>("", w.home.path() + "/Sites/folder-name");
        w.services.store().insertSite(unnamed);
        w.window.show();
        QCOMPARE(w.rows(), QStringList({"folder-name", "Newest", "Middle Site", "Oldest"}));

        w.window.sitesPage()->searchField()->setText("mid");
        QCOMPARE(w.rows(), QStringList({"Middle Site"}));
        w.window.sitesPage()->searchField()->clear();

        w.window.sitesPage()->selectSite(middle->id());
        QCOMPARE(w.services.selectedSiteID(), std::optional(middle->id()));
        QVERIFY(w.detailText().startsWith("Middle Site | "));
        QVERIFY(w.window.action(MenuCommand::deleteSite)->isEnabled());
        shoot(&w.window, "main-sites");

        // A rename shows at once.
        middle->setName("Renamed");
        QCOMPARE(w.rows().at(2), QString("Renamed"));
    }

    void sortByIsKeptAndRowsShowHowSitesAnswer()
    {
        Window w;
        w.addSite("banana", 300);
        w.addSite("Apple", 200);
        w.addSite("cherry", 100);
        w.window.show();
        QCOMPARE(w.rows(), QStringList({"cherry", "Apple", "banana"}));
        const auto choose = [&w](const QString& title) {
            for (QAction* action : w.window.sitesPage()->sortMenu()->actions())
                if (action->text() == title)
                    action->trigger();
        };
        choose("Name");
        QCOMPARE(w.rows(), QStringList({"Apple", "banana", "cherry"}));
        QCOMPARE(w.services.preferences().sitesSort(), ListSortOrder::name);
        choose("Oldest");
        QCOMPARE(w.rows(), QStringList({"banana", "Apple", "cherry"}));
        QCOMPARE(w.services.preferences().sitesSort(), ListSortOrder::oldest);
        // A site added later takes its place in the chosen order.
        w.addSite("date", 400);
        QCOMPARE(w.rows().first(), QString("date"));

        // Once the environment has been looked at, every row carries its status dot.
        QVERIFY(w.list()->model()->index(0, 0).data(Qt::DecorationRole).isNull());
        halvik::waitFor(w.services.devEnvironment().refreshSiteMappings());
        QVERIFY(!w.list()->model()->index(0, 0).data(Qt::DecorationRole).isNull());
        QVERIFY(
            w.list()->model()->index(0, 0).data(Qt::ToolTipRole).toString().contains("Server not started"));
        // The second line says how the site is served (no URL yet: not served).
        QCOMPARE(w.list()->model()->index(0, 0).data(SiteListModel::SubtitleRole).toString(),
                 QString("Not served"));
        shoot(&w.window, "main-sites-sorted");
        choose("Newest"); // the preference outlives this window
        QCOMPARE(w.rows().first(), QString("cherry"));
    }

    void siteTabsAndActivityFollowARunningOperation()
    {
        Window w;
        auto site = w.addSite("Shop", 100);
        auto older = std::make_shared<SiteOperation>("composer install", OperationKind::composer);
        older->setLog("Installing dependencies\nDone");
        older->setExitCode(0);
        older->setFinishedAt(QDateTime::currentDateTimeUtc());
        site->appendOperation(older);
        QTest::qWait(5); // the two start times differ
        auto running = std::make_shared<SiteOperation>("git pull", OperationKind::git);
        site->appendOperation(running);
        w.window.show();
        w.window.sitesPage()->selectSite(site->id());

        auto* pane = w.window.findChild<SiteDetailPane*>();
        QTabWidget* tabs = pane->tabs();
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, QStringList({"Overview", "Packages", "Git", "Deploy", "Activity"}));
        QVERIFY(tabs->isTabEnabled(2) && !tabs->isTabEnabled(3) && tabs->isTabEnabled(1));

        // Newest first; the running one follows its log as lines arrive.
        tabs->setCurrentIndex(4);
        QTreeWidget* list = pane->operationList();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("git pull"));
        QCOMPARE(list->topLevelItem(0)->text(2), QString("Running"));
        QCOMPARE(list->topLevelItem(1)->text(2), QString("Succeeded"));
        list->topLevelItem(0)->setSelected(true);
        // A million lines: the window takes them in batches and keeps the newest ones on show.
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 1'000'000; ++i) {
            running->appendLine(QString("line %1").arg(i));
            if (i % 100'000 == 0)
                QCoreApplication::processEvents(); // the window goes on meanwhile
        }
        QTRY_VERIFY(pane->operationLog()->text().endsWith("line 999999"));
        QCOMPARE(pane->operationLog()->text().count('\n') + 1, LiveLogView::visibleLines);
        QVERIFY2(timer.elapsed() < 60000, qPrintable(QString::number(timer.elapsed())));
        list->topLevelItem(1)->setSelected(true);
        list->topLevelItem(0)->setSelected(false);
        QCOMPARE(pane->operationLog()->text(), QString("Installing dependencies\nDone"));

        // Another site keeps the tab the person was on.
        auto other = w.addSite("Blog", 50);
        w.window.sitesPage()->selectSite(other->id());
        QCOMPARE(pane->site(), other);
        QCOMPARE(tabs->currentIndex(), 4);
        QCOMPARE(list->topLevelItemCount(), 0);
        w.window.sitesPage()->selectSite(site->id());
        shoot(&w.window, "site-activity");
    }

    void generalSettingsAreStoredAsTheyChange()
    {
        Window w;
        w.window.show();
        auto* pane = w.window.findChild<GeneralSettingsPane*>("generalSettings");
        QVERIFY(pane);
        AppPreferences& preferences = w.services.preferences();

        QComboBox* php = pane->defaultPHPPicker();
        php->setCurrentIndex(php->findData("managed"));
        Q_EMIT php->activated(php->currentIndex());
        QCOMPARE(preferences.defaultPHPSourceRaw(), QString("managed"));

        const bool secure = preferences.secureNewSites();
        pane->secureNewSites()->click();
        QCOMPARE(preferences.secureNewSites(), !secure);
        const bool herd = preferences.preferHerd();
        pane->preferHerd()->click();
        QCOMPARE(preferences.preferHerd(), !herd);

        const QString folder = w.home.path() + "/Elsewhere";
        QDir().mkpath(folder);
        w.prompts.folders.push_back(folder);
        halvik::waitFor(pane->chooseSitesFolder());
        QCOMPARE(preferences.defaultSitesDirectoryPath(), folder);
        QCOMPARE(pane->sitesFolder()->text(), folder);

        // Appearance applies at once and is kept.
        QComboBox* appearance = pane->appearancePicker();
        appearance->setCurrentIndex(appearance->findData("dark"));
        Q_EMIT appearance->activated(appearance->currentIndex());
        QCOMPARE(preferences.appearance(), AppearancePreference::dark);
        w.services.setSelectedSection(SidebarSection::settings);
        QCoreApplication::processEvents();
        shoot(&w.window, "settings-section");
        appearance->setCurrentIndex(appearance->findData("system"));
        Q_EMIT appearance->activated(appearance->currentIndex());
        // The preferences outlive this window: put them back.
        preferences.setDefaultPHPSourceRaw("automatic");
        preferences.setSecureNewSites(secure);
        preferences.setPreferHerd(herd);
        preferences.setDefaultSitesDirectoryPath(QString());
    }

    void hostsSectionListsAndExplains()
    {
        Window w;
        w.services.store().addHost(std::make_shared<HostAccount>(HostProviderKind::netlify, "Marketing"));
        w.services.store().addHost(std::make_shared<HostAccount>(HostProviderKind::forge, "Production"));
        w.window.show();
        w.services.setSelectedSection(SidebarSection::hosts);
        auto* page = w.window.findChild<HostsPage*>();
        QCOMPARE(page->list()->count(), 2);
        page->searchField()->setText("forge");
        QCOMPARE(page->list()->count(), 1);
        QCOMPARE(page->list()->item(0)->text(), QString("Production — Laravel Forge"));
        QStringList texts;
        for (QLabel* label : page->findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains("Select a host"));
        QVERIFY(texts.contains("Tokens stay on this computer. Halvik never writes them into your sites."));
        page->searchField()->clear();
        shoot(&w.window, "hosts");
    }

    void siteMenuDeleteRunsTheDialogsForTheSelection()
    {
        Window w;
        auto a = w.addSite("Alpha", 300);
        auto b = w.addSite("Beta", 200);
        auto c = w.addSite("Gamma", 100);
        w.window.show();
        w.list()->selectAll();
        QCOMPARE(w.services.selectedSiteIDs().size(), 3);
        QVERIFY(w.detailText().contains("3 sites selected"));

        w.prompts.answers = {"Remove from Halvik"};
        w.window.action(MenuCommand::deleteSite)->trigger();
        QCOMPARE(w.prompts.asked.size(), 1);
        QCOMPARE(w.prompts.asked.first().title, QString("Delete 3 sites?"));
        QVERIFY(w.prompts.asked.first().text.endsWith("\n\nGamma\nBeta\nAlpha"));
        QVERIFY(w.services.store().sites().isEmpty());
        QVERIFY(QFile::exists(a->path()));
        QCOMPARE(w.rows(), QStringList());
        QCOMPARE(w.detailText(), QString("Select a site | Pick a site from the list, or create a new one."));
    }

    void screensAskToDeleteOneSiteAndTheSelectionMovesOn()
    {
        Window w;
        auto older = w.addSite("Older", 200);
        auto newer = w.addSite("Newer", 100);
        w.window.show();
        w.window.sitesPage()->selectSite(newer->id());
        w.prompts.answers = {"Remove from Halvik"};
        w.services.commands().post(MenuCommand::requestDeleteSite, newer->id().toString());
        QCOMPARE(w.prompts.asked.last().title, QString("Delete Newer?"));
        QCOMPARE(w.services.selectedSiteID(), std::optional(older->id()));
        QCOMPARE(w.window.sitesPage()->selectedSites(), QList<SitePtr>({older}));
    }

    void windowPromptsOpenWindowModalAndAreAwaited()
    {
        Window w;
        w.window.show();
        WidgetPrompts prompts;
        prompts.setParentWindow(&w.window);
        PromptDialog dialog;
        dialog.title = "Discard this change?";
        dialog.text = "“a.txt” will be thrown away.";
        dialog.buttons = QStringList{"Discard", "Cancel"};
        dialog.cancelIndex = 1;

        // Asking returns at once: the box is open over the window and the loop goes on.
        auto asking = prompts.ask(dialog);
        QVERIFY(!asking.isReady());
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = openWindow<QMessageBox>()) != nullptr);
        QCOMPARE(box->parentWidget(), &w.window);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->informativeText(), dialog.text);
        QVERIFY(!asking.isReady());
        QTest::mouseClick(buttonTitled(box, "Discard"), Qt::LeftButton);
        QTRY_VERIFY(asking.isReady());
        QCOMPARE(halvik::waitFor(std::move(asking)), 0);
        QTRY_VERIFY(!openWindow<QMessageBox>());

        // Escape answers with the cancel button.
        auto escaped = prompts.ask(dialog);
        QTRY_VERIFY((box = openWindow<QMessageBox>()) != nullptr);
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(escaped.isReady());
        QCOMPARE(halvik::waitFor(std::move(escaped)), 1);

        // A box destroyed under the question (its window went) still answers: cancelled.
        auto orphaned = prompts.ask(dialog);
        QTRY_VERIFY((box = openWindow<QMessageBox>()) != nullptr);
        delete box;
        QVERIFY(orphaned.isReady());
        QCOMPARE(halvik::waitFor(std::move(orphaned)), 1);

        // Alerts and folder choosers are awaited the same way.
        auto alerting = prompts.alert("Couldn’t delete site files", "b: gone");
        QTRY_VERIFY((box = openWindow<QMessageBox>()) != nullptr);
        QVERIFY(!alerting.isReady());
        box->accept();
        QTRY_VERIFY(alerting.isReady());

        auto choosing = prompts.chooseFolder("Import Existing Site", w.home.path());
        QFileDialog* chooser = nullptr;
        QTRY_VERIFY((chooser = openWindow<QFileDialog>()) != nullptr);
        QCOMPARE(chooser->windowModality(), Qt::WindowModal);
        QVERIFY(!choosing.isReady());
        chooser->reject();
        QTRY_VERIFY(choosing.isReady());
        QCOMPARE(halvik::waitFor(std::move(choosing)), std::optional<QString>());
    }

    void dialogsAndSettingsRender()
    {
        Window w;
        QList<SitePtr> sites;
        for (int i = 0; i < 10; ++i)
            sites << w.addSite(QString("Site %1").arg(i), 100 - i);
        const PromptDialog dialog = DeleteSitesDialogs::first(sites);
        auto box = WidgetPrompts::makeBox(dialog, &w.window);
        QCOMPARE(box->buttons().size(), 3);
        QCOMPARE(box->escapeButton()->text(), QString("Cancel"));
        box->show();
        shoot(box.get(), "delete-dialog");

        w.window.settingsWindow()->show();
        QCOMPARE(w.window.settingsWindow()->tabs()->tabText(0), QString("General"));
        shoot(w.window.settingsWindow(), "settings");
    }
};

HALVIK_TEST_MAIN(ViewsTest)
#include "tst_views.moc"
