#include "FakePrompts.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "views/accounts/HostsPage.h"
#include "views/common/Appearance.h"
#include "views/common/LiveLogView.h"
#include "views/common/WidgetPrompts.h"
#include "views/settings/GeneralSettingsPane.h"
#include "views/settings/SettingsWindow.h"
#include "views/site/SiteDetailPane.h"
#include "views/sites/SiteListModel.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "app/DeleteSitesDialogs.h"
#include "app/DevEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakePrompts;
using halvik::test::saveScreenshot;

namespace {

struct Window
{
    // Each window keeps its preferences in its own file (by default inside its own home), so
    // what one test leaves there never reaches the next; two windows given the same file are
    // one window started twice.
    explicit Window(const QString& settingsFile = {})
        : services(
              secrets, prompts, HerdRoots::system(),
              std::make_unique<QSettings>(settingsFile.isEmpty() ? home.path() + "/halvik.ini" : settingsFile,
                                          QSettings::IniFormat)),
          window(services)
    {
    }

    halvik::test::IsolatedHome home;
    SecretStore secrets;
    FakePrompts prompts;
    AppServices services;
    MainWindow window;

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

// Records the folders "Show in File Manager" asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class ViewsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowStartsOnSitesWithTheEmptyDetail()
    {
        Window w;
        w.addSite("Blog", 100); // with no site at all the page offers to add some instead
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
        // The first frame waits only for what it shows: no site pane, no other section.
        QVERIFY(!w.window.findChild<SiteDetailPane*>());
        QVERIFY(!w.window.findChild<HostsPage*>());

        // Choosing a section in the sidebar switches the page and the services follow.
        for (QTreeWidgetItemIterator it(w.window.sidebar()); *it; ++it)
            if ((*it)->text(0) == "Hosts")
                w.window.sidebar()->setCurrentItem(*it);
        QCOMPARE(w.services.selectedSection(), SidebarSection::hosts);
        QTRY_VERIFY(w.window.findChild<HostsPage*>()->isVisible());
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
        QVERIFY(tabs->isTabEnabled(2) && tabs->isTabEnabled(3) && tabs->isTabEnabled(1));

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
        w.services.setSelectedSection(SidebarSection::settings);
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
        QVERIFY(w.detailText().contains("No sites yet")); // nothing left: the first-start page
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

    void searchAndEachSortOrderHoldWithAThousandSites()
    {
        Window w;
        // Names and ages in two unrelated orders, so each sort order is told apart.
        constexpr int count = 1000;
        for (int i = 0; i < count; ++i)
            w.addSite(QString("Site %1").arg(i, 4, 10, QChar('0')), ((i * 7919) % count + 1) * 60);
        w.window.show();
        QCOMPARE(w.list()->model()->rowCount(), count);
        const auto choose = [&w](const QString& title) {
            for (QAction* action : w.window.sitesPage()->sortMenu()->actions())
                if (action->text() == title)
                    action->trigger();
        };
        const auto ages = [&w] {
            QList<qint64> out;
            const QDateTime now = QDateTime::currentDateTimeUtc();
            for (const QString& name : w.rows())
                for (const SitePtr& site : w.services.store().sites())
                    if (site->displayName() == name)
                        out << site->createdAt().secsTo(now);
            return out;
        };

        choose("Name");
        QStringList rows = w.rows();
        QCOMPARE(rows.first(), QString("Site 0000"));
        QCOMPARE(rows.last(), QString("Site 0999"));
        QVERIFY(std::is_sorted(rows.begin(), rows.end()));
        choose("Newest");
        QList<qint64> newest = ages();
        QCOMPARE(newest.size(), count);
        QVERIFY(std::is_sorted(newest.begin(), newest.end()));
        choose("Oldest");
        QList<qint64> oldest = ages();
        QVERIFY(std::is_sorted(oldest.rbegin(), oldest.rend()));

        // "09" is in Site 0900 to 0999, 0090 to 0099, 0009, and 0109 to 0809.
        w.window.sitesPage()->searchField()->setText("09");
        rows = w.rows();
        QCOMPARE(rows.size(), 100 + 10 + 1 + 8);
        for (const QString& row : rows)
            QVERIFY2(row.contains("09"), qPrintable(row));
        // The filtered rows keep the chosen order.
        QList<qint64> filtered = ages();
        QVERIFY(std::is_sorted(filtered.rbegin(), filtered.rend()));
        w.window.sitesPage()->searchField()->setText("site 0999");
        QCOMPARE(w.rows(), QStringList({"Site 0999"}));
        w.window.sitesPage()->searchField()->clear();
        QCOMPARE(w.list()->model()->rowCount(), count);
        w.window.sitesPage()->selectSite(w.services.store().sites().at(500)->id());
        shoot(&w.window, "main-thousand-sites");
    }

    void contextMenuAndShortcutsReachTheServices()
    {
        Window w;
        auto site = w.addSite("Shop", 100);
        w.addSite("Blog", 200);
        w.window.show();
        w.window.sitesPage()->selectSite(site->id());

        QStringList posted;
        connect(&w.services.commands(), &CommandCenter::posted, this,
                [&posted](const QString& name) { posted << name; });
        QStringList launched;
        w.services.preferences().setEditorLauncher([&launched](const QString& editor, const QString& folder) {
            launched << editor + " " + folder;
            return true;
        });
        const QString editor = w.home.path() + "/bin/editor";
        QDir().mkpath(w.home.path() + "/bin");
        QFile(editor).open(QIODevice::WriteOnly);
        w.services.preferences().setDefaultEditorPath(editor);
        UrlRecorder opened;
        QDesktopServices::setUrlHandler("file", &opened, "open");

        // The row's menu: right-click, then each entry as a person would choose it.
        const auto menuTitles = [&w] {
            Q_EMIT w.window.sitesPage()->list()->customContextMenuRequested(
                w.list()->visualRect(w.list()->currentIndex()).center());
            QMenu* menu = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* found = qobject_cast<QMenu*>(widget); found && found->isVisible())
                    menu = found;
            return menu;
        };
        QMenu* menu = menuTitles();
        QVERIFY(menu);
        QStringList titles;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                titles << action->text();
        QCOMPARE(titles, QStringList({"Open Site", "Control Panel", "Serve", "Share…", "Open in Editor",
                                      "Show in File Manager", "Delete"}));
        const auto trigger = [&](const QString& title) {
            QMenu* open = menuTitles();
            for (QAction* action : open->actions())
                if (action->text() == title)
                    action->trigger();
            open->close();
        };
        menu->close();
        trigger("Open in Editor");
        QCOMPARE(posted.last(), MenuCommand::openInEditor);
        QTRY_COMPARE(launched, QStringList({editor + " " + site->path()}));
        trigger("Show in File Manager");
        QCOMPARE(posted.last(), MenuCommand::showInFileManager);
        QCOMPARE(opened.urls, QList<QUrl>({QUrl::fromLocalFile(site->path())}));
        w.prompts.answers = {"Cancel"};
        trigger("Delete");
        QCOMPARE(posted.last(), MenuCommand::deleteSite);
        QCOMPARE(w.prompts.asked.last().title, QString("Delete Shop?"));
        QCOMPARE(w.services.store().sites().size(), 2);
        const QStringList menuPosts = posted;
        QCOMPARE(menuPosts, QStringList({MenuCommand::openInEditor, MenuCommand::showInFileManager,
                                         MenuCommand::deleteSite}));

        // Keyboard: Delete in the list asks about the selection; in the search field it edits.
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.list()->setFocus();
        w.prompts.answers = {"Cancel"};
        QTest::keyClick(w.list(), Qt::Key_Delete);
        QCOMPARE(w.prompts.asked.size(), 2);
        w.window.sitesPage()->searchField()->setText("Shopx");
        w.window.sitesPage()->searchField()->setFocus();
        w.window.sitesPage()->searchField()->setCursorPosition(4);
        QTest::keyClick(w.window.sitesPage()->searchField(), Qt::Key_Delete);
        QCOMPARE(w.window.sitesPage()->searchField()->text(), QString("Shop"));
        QCOMPARE(w.prompts.asked.size(), 2);
        // Ctrl+F brings the Sites section back with the search field focused; Ctrl+3 and Ctrl+5 go
        // to their sections.
        QTest::keySequence(&w.window, QKeySequence(Qt::CTRL | Qt::Key_5));
        QCOMPARE(w.services.selectedSection(), SidebarSection::settings);
        QTest::keySequence(&w.window, QKeySequence(Qt::CTRL | Qt::Key_3));
        QCOMPARE(w.services.selectedSection(), SidebarSection::sourceControl);
        QTest::keySequence(&w.window, QKeySequence::Find);
        QCOMPARE(w.services.selectedSection(), SidebarSection::sites);
        QTRY_VERIFY(w.window.sitesPage()->searchField()->hasFocus());
        // Every menu command has a shortcut or a mnemonic a person can reach it by.
        for (QAction* top : w.window.menuBar()->actions())
            QVERIFY2(top->text().contains('&'), qPrintable(top->text()));
        QDesktopServices::unsetUrlHandler("file");
    }

    void windowStateAndSettingsSurviveARestart()
    {
        QTemporaryDir kept;
        const QString settings = kept.filePath("halvik.ini");
        const QString editor = kept.filePath("my-editor");
        QFile(editor).open(QIODevice::WriteOnly);
        int listWidth = 0;
        const QUuid shop = QUuid::createUuid();
        const auto addShop = [&shop](Window& window) {
            auto site = std::make_shared<Site>(shop, "Shop", window.home.path() + "/Sites/shop",
                                               QDateTime::currentDateTimeUtc(), "automatic", false);
            window.services.store().insertSite(site);
        };
        {
            Window w(settings);
            w.addSite("Blog", 200);
            addShop(w);
            w.window.resize(1400, 800);
            w.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w.window));
            w.window.sitesPage()->selectSite(shop);

            // Drag the handle between the list and the detail 70 px to the right.
            auto* splitter = w.window.findChild<QSplitter*>("sitesSplitter");
            QSplitterHandle* handle = splitter->handle(1);
            QTRY_COMPARE(handle->x(), splitter->sizes().first()); // laid out at the window's size
            const int before = splitter->sizes().first();
            const QPoint from = handle->rect().center();
            const QPoint to = from + QPoint(70, 0);
            QMouseEvent press(QEvent::MouseButtonPress, from, handle->mapToGlobal(from), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(handle, &press);
            QMouseEvent move(QEvent::MouseMove, to, handle->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(handle, &move);
            QMouseEvent release(QEvent::MouseButtonRelease, to, handle->mapToGlobal(to), Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(handle, &release);
            listWidth = splitter->sizes().first();
            QVERIFY2(listWidth == before + 70, qPrintable(QString("%1 -> %2, handle at %3 global %4")
                                                              .arg(before)
                                                              .arg(listWidth)
                                                              .arg(handle->x())
                                                              .arg(handle->mapToGlobal(from).x())));

            w.window.findChild<SiteDetailPane*>("sitePane")->tabs()->setCurrentIndex(4);
            w.services.setSelectedSection(SidebarSection::settings);
            auto* pane = w.window.findChild<GeneralSettingsPane*>("generalSettings");
            QComboBox* php = pane->defaultPHPPicker();
            php->setCurrentIndex(php->findData("managed"));
            Q_EMIT php->activated(php->currentIndex());
            QComboBox* appearance = pane->appearancePicker();
            appearance->setCurrentIndex(appearance->findData("dark"));
            Q_EMIT appearance->activated(appearance->currentIndex());
            w.prompts.editors.push_back(editor);
            pane->findChild<QPushButton*>("chooseEditor")->click();
            QTRY_COMPARE(w.services.preferences().defaultEditorPath(), editor);
            w.services.setSelectedSection(SidebarSection::settings);
            w.window.resize(1300, 780);
            w.window.close();
        }
        // The next start shows the same site, once its store has it.
        Window again(settings);
        again.addSite("Blog", 200);
        addShop(again);
        QCOMPARE(again.window.sitesPage()->selectedSites().size(), 1);
        QCOMPARE(again.window.sitesPage()->selectedSites().first()->id(), shop);
        again.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again.window));
        QCOMPARE(again.window.size(), QSize(1300, 780));
        QCOMPARE(again.services.selectedSection(), SidebarSection::settings);
        again.services.setSelectedSection(SidebarSection::sites);
        QTRY_COMPARE(again.window.findChild<QSplitter*>("sitesSplitter")->sizes().first(), listWidth);
        QCOMPARE(again.window.findChild<SiteDetailPane*>("sitePane")->tabs()->currentIndex(), 4);
        auto* pane = again.window.findChild<GeneralSettingsPane*>("generalSettings");
        QCOMPARE(pane->defaultPHPPicker()->currentData().toString(), QString("managed"));
        QCOMPARE(pane->appearancePicker()->currentData().toString(), QString("dark"));
        QCOMPARE(again.services.preferences().appearance(), AppearancePreference::dark);
        QCOMPARE(pane->findChild<QLabel*>("editorName")->text(), QString("my-editor"));
        applyColorScheme(ColorScheme::light);
    }

    void iconsKeepTheirContrastInEitherAppearance()
    {
        // The brightest pixel of a theme icon drawn now.
        const auto brightest = [] {
            const QImage image = QIcon::fromTheme("download").pixmap(22, 22).toImage();
            int most = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y).alpha() > 128)
                        most = std::max(most, image.pixelColor(x, y).lightness());
            return most;
        };
        const QString desktopTheme = QIcon::themeName();
        const QIcon kept = QIcon::fromTheme("download"); // made before the switch, as buttons' icons are
        applyColorScheme(ColorScheme::dark);
        QCOMPARE(QIcon::themeName(), QString("breeze-dark"));
        QVERIFY2(brightest() > 160, "dark icons on a dark window");
        const QImage keptDark = kept.pixmap(22, 22).toImage();
        applyColorScheme(ColorScheme::light);
        QVERIFY2(brightest() < 120, "light icons on a light window");
        QVERIFY(kept.pixmap(22, 22).toImage() != keptDark);
        applyColorScheme(ColorScheme::system);
        QCOMPARE(QIcon::themeName(), desktopTheme);

        // An unchecked box keeps a visible rim on a dark window.
        applyColorScheme(ColorScheme::dark);
        QCheckBox box("Include all changes");
        box.resize(box.sizeHint());
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        const QImage image = box.grab().toImage();
        const int field = image.pixelColor(indicator.center()).lightness();
        int rim = 0;
        for (int x = indicator.left(); x <= indicator.right(); ++x)
            rim = std::max(rim, image.pixelColor(x, indicator.top()).lightness());
        QVERIFY2(rim - field > 60, qPrintable(QString("rim %1, field %2").arg(rim).arg(field)));
        applyColorScheme(ColorScheme::light);
    }

    void applicationIconIsOurOwn()
    {
        const QIcon icon = applicationIcon();
        QVERIFY(!icon.isNull());
        const QImage image = icon.pixmap(64, 64).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        // The tile's colour at its centre-left, and transparent corners.
        QVERIFY(image.pixelColor(10, 50).green() > image.pixelColor(10, 50).red());
        QCOMPARE(image.pixelColor(20, 40), QColor(Qt::white)); // a pillar
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }

    void dialogsAndSettingsRender()
    {
        Window w;
        QList<SitePtr> sites;
        for (int i = 0; i < 10; ++i)
            sites << w.addSite(QString("Site %1").arg(i), 100 - i);
        // Ctrl+, shows the window's one Settings section; the separate window has the same
        // General pane, with the editor and the appearance.
        w.window.show();
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QTest::keySequence(&w.window, QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(w.services.selectedSection(), SidebarSection::settings);
        QVERIFY(w.window.findChild<GeneralSettingsPane*>("generalSettings")->isVisible());
        const PromptDialog dialog = DeleteSitesDialogs::first(sites);
        auto box = WidgetPrompts::makeBox(dialog, &w.window);
        QCOMPARE(box->buttons().size(), 3);
        QCOMPARE(box->escapeButton()->text(), QString("Cancel"));
        box->show();
        shoot(box.get(), "delete-dialog");

        SettingsWindow settings(w.services);
        settings.show();
        QCOMPARE(settings.tabs()->tabText(0), QString("General"));
        QVERIFY(settings.tabs()->widget(0)->findChild<GeneralSettingsPane*>());
        shoot(&settings, "settings");
    }
};

HALVIK_TEST_MAIN(ViewsTest)
#include "tst_views.moc"
