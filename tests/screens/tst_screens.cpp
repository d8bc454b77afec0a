#include "FakePrompts.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"
#include "composer/ComposerFixture.h"
#include "gittab/GitTabFixture.h"

#include "views/accounts/HostsPage.h"
#include "views/environment/EnvironmentPage.h"
#include "views/hosts/HostDetailView.h"
#include "views/site/LocalEnvironmentSheet.h"
#include "views/site/SiteDetailPane.h"
#include "views/site/SiteOverviewTab.h"
#include "views/sites/SiteListModel.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "app/DevEnvironment.h"
#include "app/PackageUpdateCoordinator.h"
#include "models/SecretStore.h"
#include "services/DotEnvFile.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::ComposerFixture;

namespace {

// A real main window over its own home and preferences.
struct Window
{
    Window()
        : services(secrets, prompts, HerdRoots::system(),
                   std::make_unique<QSettings>(home.path() + "/halvik.ini", QSettings::IniFormat)),
          window(services)
    {
        window.resize(1180, 760);
    }

    SitePtr add(const QString& name, const QString& path)
    {
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(name, path);
        services.store().insertSite(site);
        return site;
    }
    // A copy of the Laravel fixture with an .env of our own.
    SitePtr addLaravel(const QString& name, const QString& appURL)
    {
        const QString path = home.path() + "/Sites/" + name.toLower();
        ComposerFixture::copyFolder(halvik::test::fixturesDir() + "/laravel-app", path);
        DotEnvFile::save("APP_NAME=" + name +
                             "\nAPP_KEY=base64:c2l4dGVlbi1ieXRlcy1zaXh0ZWVuLWJ5dGVzLTMyISE=\n"
                             "APP_URL=" +
                             appURL + "\nDB_CONNECTION=sqlite\nDB_DATABASE=database/database.sqlite\n",
                         path + "/.env");
        return add(name, path);
    }
    SiteDetailPane* pane() const { return window.findChild<SiteDetailPane*>("sitePane"); }
    QString rowJob(const SitePtr& site) const
    {
        QAbstractItemModel* model = window.sitesPage()->list()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, 0).data(SiteListModel::SiteIdRole).toUuid() == site->id())
                return model->index(row, 0).data(SiteListModel::JobTextRole).toString();
        return QStringLiteral("(no row)");
    }
    void activate()
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    halvik::test::IsolatedHome home;
    SecretStore secrets;
    halvik::test::FakePrompts prompts;
    AppServices services;
    MainWindow window;
};

QStringList texts(QWidget* page)
{
    QStringList out;
    for (QLabel* label : page->findChildren<QLabel*>())
        if (label->isVisibleTo(page) && !label->text().isEmpty())
            out << label->text();
    return out;
}

QMenu* openMenu()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* menu = qobject_cast<QMenu*>(widget); menu && menu->isVisible())
            return menu;
    return nullptr;
}

QAction* actionTitled(const QList<QAction*>& actions, const QString& title)
{
    for (QAction* action : actions)
        if (action->text() == title)
            return action;
    return nullptr;
}

} // namespace

class ScreensTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { applyColorScheme(ColorScheme::light); }

    // F5 and Ctrl+F reach the page that has the focus (Qt fires neither of two bindings of one
    // key), and the window's own meaning everywhere else.
    void refreshAndFindReachTheFocusedPage()
    {
        halvik::test::GitTab tab;
        const QString repo = tab.box.makeRepo("keys", {{"README.md", "hello\n"}});
        tab.box.write(repo, "new.txt", "changed\n");
        GitWorkspaceView* view = tab.open(repo);
        tab.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&tab.window));
        QVERIFY(tab.settle());

        QListView* changes = view->changesList()->view();
        changes->setFocus();
        QSignalSpy refreshes(&tab.ws(), &GitWorkspace::refreshStateChanged);
        QTest::keyClick(changes, Qt::Key_F5);
        QVERIFY(!refreshes.isEmpty());
        QVERIFY(tab.settle());
        QTest::keySequence(&tab.window, QKeySequence::Find);
        QTRY_VERIFY(view->changesList()->filterField()->hasFocus());
        QCOMPARE(tab.services.selectedSection(), SidebarSection::sites); // the window stayed put

        // Outside the Git tab Ctrl+F is the window's: the site search.
        tab.window.sitesPage()->list()->setFocus();
        QTest::keySequence(&tab.window, QKeySequence::Find);
        QTRY_VERIFY(tab.window.sitesPage()->searchField()->hasFocus());

        // The Environment page looks again on F5 pressed anywhere inside it.
        tab.services.setSelectedSection(SidebarSection::environment);
        auto* environment = tab.window.findChild<EnvironmentPage*>();
        QTRY_VERIFY(environment->isVisible());
        QVERIFY(!tab.services.devEnvironment().isRefreshing());
        environment->sites()->setFocus();
        QTest::keyClick(environment->sites(), Qt::Key_F5);
        QVERIFY(tab.services.devEnvironment().isRefreshing());
        QTRY_VERIFY_WITH_TIMEOUT(!tab.services.devEnvironment().isRefreshing(), 30000);
        QVERIFY(environment->sites()->hasFocus());
    }

    // The Overview shows what the site's files say now: after the .env sheet saves, after a
    // change from outside Halvik, after a package update rewrote installed.json.
    void overviewFollowsTheSiteFiles()
    {
        Window w;
        const SitePtr site = w.addLaravel("Shop", "http://before.test");
        w.window.show();
        w.window.sitesPage()->selectSite(site->id());
        w.pane()->tabs()->setCurrentIndex(0);
        SiteOverviewTab* overview = w.pane()->overview();
        QTRY_COMPARE(overview->appURL()->text(), QString("http://before.test"));

        QPushButton* edit = nullptr;
        for (QPushButton* button : overview->findChildren<QPushButton*>())
            if (button->text() == QString("Edit local .env…"))
                edit = button;
        QVERIFY(edit);
        edit->click();
        QTRY_VERIFY(w.window.findChild<LocalEnvironmentSheet*>());
        auto* sheet = w.window.findChild<LocalEnvironmentSheet*>();
        QTRY_VERIFY(sheet->editor()->toPlainText().contains("before.test"));
        sheet->editor()->setPlainText(sheet->editor()->toPlainText().replace("before.test", "after.test"));
        sheet->saveButton()->click();
        QTRY_COMPARE(overview->appURL()->text(), QString("http://after.test"));
        // The site stays drawn behind its sheet, selected and whole.
        QVERIFY(sheet->isVisible() && sheet->isModal());
        QVERIFY(w.pane()->isVisible() && overview->appURL()->isVisible());
        QCOMPARE(w.pane()->site(), site);
        QCOMPARE(w.window.sitesPage()->selectedSites(), QList<SitePtr>{site});
        sheet->reject();
        QTRY_VERIFY(!w.window.findChild<LocalEnvironmentSheet*>());

        // Edited elsewhere (a branch switch, another editor), in place and by replacement.
        QFile env(site->path() + "/.env");
        QVERIFY(env.open(QIODevice::WriteOnly | QIODevice::Truncate));
        env.write("APP_URL=http://outside.test\nDB_CONNECTION=mysql\nDB_DATABASE=shop\n");
        env.close();
        QTRY_COMPARE(overview->appURL()->text(), QString("http://outside.test"));
        QVERIFY(texts(overview).contains(QString("mysql — shop")));
        const QString installed = site->path() + "/vendor/composer/installed.json";
        QDir().mkpath(QFileInfo(installed).path());
        ComposerFixture::writeJSON(
            installed, QJsonObject{{"packages", QJsonArray{QJsonObject{{"name", "laravel/framework"},
                                                                       {"version", "v8.99.1"}}}}});
        QTRY_VERIFY(texts(overview).contains(QString("v8.99.1")));
        halvik::test::saveLightAndDark(&w.window, "overview-refreshed");

        // The window's height is not the Overview's: a short window scrolls it.
        w.window.resize(1180, 600);
        auto* scroll = overview->findChild<QScrollArea*>("overviewScroll");
        QVERIFY(scroll);
        QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
    }

    // A package update of a site that is not selected shows on its row, running and failed,
    // with its log a right-click away; the selected site's row stays as it was.
    void failedUpdateShowsOnItsRow()
    {
        Window w;
        const SitePtr shown = w.add("Blog", w.home.path() + "/Sites/blog");
        const SitePtr failing = w.add("Shop", w.home.path() + "/Sites/shop");
        ComposerFixture::writeJSON(failing->path() + "/composer.json",
                                   ComposerFixture::manifest(QJsonObject{{"acme/missing", "^1.0"}}));
        w.window.show();
        w.window.sitesPage()->selectSite(shown->id());
        QCOMPARE(w.rowJob(failing), QString());

        w.services.packageUpdates().start(failing);
        QCOMPARE(w.rowJob(failing), QString("Waiting for Composer…"));
        QTRY_COMPARE_WITH_TIMEOUT(w.rowJob(failing), QString("Update failed"), 120000);
        QCOMPARE(w.rowJob(shown), QString());
        QCOMPARE(w.services.selectedSiteID(), std::optional(shown->id()));
        halvik::test::saveLightAndDark(&w.window, "sites-row-update-failed");

        w.window.sitesPage()->selectSite(failing->id());
        QListView* list = w.window.sitesPage()->list();
        Q_EMIT list->customContextMenuRequested(list->visualRect(list->currentIndex()).center());
        QMenu* menu = openMenu();
        QVERIFY(menu);
        QAction* copy = actionTitled(menu->actions(), "Copy log");
        QVERIFY(copy);
        copy->trigger();
        menu->close();
        QVERIFY(QApplication::clipboard()->text().contains("acme/missing"));
    }

    // What a first start looks like, what several selected sites offer, and an empty Activity.
    void emptyStatesOfferTheirActions()
    {
        Window w;
        w.window.show();
        auto* detail = w.window.findChild<QStackedWidget*>("siteDetail");
        QWidget* noSites = w.window.findChild<QWidget*>("noSites");
        QCOMPARE(detail->currentWidget(), noSites);
        QVERIFY(texts(noSites).contains(QString("No sites yet")));
        SitesPage* page = w.window.sitesPage();
        QAction* newSite = page->commandAction(MenuCommand::newSite);
        QVERIFY(newSite->isEnabled());
        QVERIFY(w.window.action(MenuCommand::newSite)->isEnabled());
        QVERIFY(page->commandAction(MenuCommand::importSite)->isEnabled());
        QVERIFY(page->commandAction(MenuCommand::importAllSites)->isEnabled());
        QStringList buttons;
        for (QToolButton* button : noSites->findChildren<QToolButton*>())
            buttons << button->text();
        QCOMPARE(buttons, QStringList({"New Site", "Import Existing", "Import All"}));
        halvik::test::saveLightAndDark(&w.window, "sites-none");

        // Once there is a site, nothing selected asks for a pick.
        const SitePtr blog = w.add("Blog", w.home.path() + "/Sites/blog");
        const SitePtr shop = w.add("Shop", w.home.path() + "/Sites/shop");
        QTRY_VERIFY(detail->currentWidget() != noSites);
        QVERIFY(texts(detail->currentWidget()).contains(QString("Select a site")));

        // Several: how many, and Delete for all of them.
        QListView* list = page->list();
        list->selectAll();
        QVERIFY(texts(detail->currentWidget()).contains(QString("2 sites selected")));
        QStringList posted;
        connect(&w.services.commands(), &CommandCenter::posted, this,
                [&posted](const QString& name) { posted << name; });
        detail->currentWidget()->findChild<QPushButton*>("deleteSelected")->click();
        QCOMPARE(posted, QStringList({MenuCommand::deleteSite}));
        halvik::test::saveLightAndDark(&w.window, "sites-several");

        // One site without any operations: the Activity tab says so, Copy log waits.
        page->selectSite(blog->id());
        w.pane()->tabs()->setCurrentIndex(4);
        QVERIFY(texts(w.pane()->tabs()->currentWidget()).contains(QString("No activity yet")));
        halvik::test::saveLightAndDark(&w.window, "activity-empty");
        auto operation = std::make_shared<SiteOperation>("composer update", OperationKind::composer);
        blog->appendOperation(operation);
        QTRY_VERIFY(!texts(w.pane()->tabs()->currentWidget()).contains(QString("No activity yet")));
        QPushButton* copyLog = nullptr;
        for (QPushButton* button : w.pane()->findChildren<QPushButton*>())
            if (button->text() == QString("Copy log"))
                copyLog = button;
        QVERIFY(copyLog && !copyLog->isEnabled());
        QTreeWidget* operations = w.pane()->operationList();
        QTRY_COMPARE(operations->topLevelItemCount(), 1);
        QCOMPARE(operations->topLevelItem(0)->text(2), QString("Running"));
        operations->topLevelItem(0)->setSelected(true);
        QVERIFY(copyLog->isEnabled());
        // The row follows the operation to its end without another site being picked.
        operation->setExitCode(0);
        operation->setFinishedAt(QDateTime::currentDateTimeUtc());
        QTRY_COMPARE(operations->topLevelItem(0)->text(2), QString("Succeeded"));
        Q_UNUSED(shop);
    }

    // Actions that need the CMS are there but disabled, with the reason, on a plain Laravel
    // site; the Site menu's items follow the selection.
    void siteActionsSayWhyTheyCannotWork()
    {
        Window w;
        const SitePtr plain = w.add("Plain", w.home.path() + "/Sites/plain");
        ComposerFixture::writeJSON(plain->path() + "/composer.json",
                                   QJsonObject{{"require", QJsonObject{{"laravel/framework", "^8.83"}}}});
        const SitePtr cms = w.addLaravel("Shop", "http://shop.test");
        w.window.show();
        QAction* panel = w.window.action(MenuCommand::openControlPanel);
        QAction* remote = w.window.action("createRemoteRepository");
        QVERIFY(remote);
        QVERIFY(!remote->isEnabled());
        w.window.sitesPage()->selectSite(plain->id());
        QVERIFY(remote->isEnabled());
        QVERIFY(!panel->isEnabled());
        QCOMPARE(panel->toolTip(), QString("This site doesn’t use Quillmar."));
        QVERIFY(!w.window.action(MenuCommand::createUser)->isEnabled());
        QCOMPARE(w.window.action(MenuCommand::toggleServe)->text(), QString("Serve"));

        SiteOverviewTab* overview = w.pane()->overview();
        QTRY_VERIFY(!overview->utilityButton("Clear Tarnel")->isEnabled());
        QVERIFY(!overview->utilityButton("Clear Glide Cache")->isEnabled());
        QVERIFY(overview->utilityButton("Clear Cache")->isEnabled());

        w.window.sitesPage()->selectSite(cms->id());
        QVERIFY(panel->isEnabled());
        QVERIFY(w.window.action(MenuCommand::createUser)->isEnabled());
        // Clear Cache is Laravel's cache:clear, run through artisan, not the CMS console.
        QTRY_VERIFY(overview->utilityButton("Clear Tarnel")->isEnabled());
        overview->utilityButton("Clear Cache")->click();
        QTRY_COMPARE_WITH_TIMEOUT(overview->utilityResult()->text(), QString("Clear Cache: done."), 60000);
        QVERIFY2(cms->operations().last()->command().contains(" artisan cache:clear"),
                 qPrintable(cms->operations().last()->command()));
        w.window.sitesPage()->list()->selectAll();
        QVERIFY(!remote->isEnabled());
    }

    // Hosts sort by the kept order, and a selected host shows its account until Disconnect.
    void hostsSortAndShowTheirAccount()
    {
        Window w;
        auto older = std::make_shared<HostAccount>(QUuid::createUuid(), "forge", "zeta servers",
                                                   QDateTime::currentDateTimeUtc().addDays(-3));
        auto newer = std::make_shared<HostAccount>(QUuid::createUuid(), "netlify", "Alpha sites",
                                                   QDateTime::currentDateTimeUtc().addDays(-1));
        w.services.store().addHost(older);
        w.services.store().addHost(newer);
        w.secrets.set("token", older->secretAccount());
        w.services.setSelectedSection(SidebarSection::hosts);
        w.window.show();
        auto* page = w.window.findChild<HostsPage*>();
        const auto rows = [page] {
            QStringList out;
            for (int i = 0; i < page->list()->count(); ++i)
                out << page->list()->item(i)->text();
            return out;
        };
        QCOMPARE(rows(), QStringList({"Alpha sites — Netlify", "zeta servers — Laravel Forge"}));
        actionTitled(page->sortMenu()->actions(), "Oldest")->trigger();
        QCOMPARE(rows(), QStringList({"zeta servers — Laravel Forge", "Alpha sites — Netlify"}));
        QCOMPARE(w.services.preferences().hostsSort(), ListSortOrder::oldest);
        actionTitled(page->sortMenu()->actions(), "Newest")->trigger();
        QCOMPARE(rows().first(), QString("Alpha sites — Netlify"));

        page->list()->setCurrentRow(1);
        QCOMPARE(page->hostDetail()->host(), older);
        QVERIFY(page->hostDetail()->isVisible());
        halvik::test::saveLightAndDark(&w.window, "hosts-account");
    }

    // The header's chip takes the new appearance's colours without waiting for news.
    void statusChipFollowsTheAppearance()
    {
        Window w;
        const SitePtr site = w.add("Blog", w.home.path() + "/Sites/blog");
        w.window.show();
        w.window.sitesPage()->selectSite(site->id());
        halvik::waitFor(w.services.devEnvironment().refreshSiteMappings());
        auto* chip = w.window.findChild<QLabel*>("statusChip");
        QTRY_VERIFY(chip->isVisible());
        QCOMPARE(chip->text(), QString("Not started"));
        const QString muted = QApplication::palette().color(QPalette::PlaceholderText).name();
        QVERIFY(chip->styleSheet().contains(muted));
        applyColorScheme(ColorScheme::dark);
        QCoreApplication::processEvents();
        const QString darkMuted = QApplication::palette().color(QPalette::PlaceholderText).name();
        QVERIFY(darkMuted != muted);
        QVERIFY2(chip->styleSheet().contains(darkMuted), qPrintable(chip->styleSheet()));
        applyColorScheme(ColorScheme::light);
    }

    // Without Herd or Valet the Environment page says how sites open instead.
    void environmentExplainsTheBuiltInServer()
    {
        Window w;
        w.services.setSelectedSection(SidebarSection::environment);
        w.window.show();
        auto* page = w.window.findChild<EnvironmentPage*>();
        QVERIFY(texts(page).contains(QString("How sites open")));
        QCOMPARE(page->findChild<QLabel*>("localWebServer")->text(),
                 QString("php artisan serve on 127.0.0.1, one port per site (from 4000)\n"
                         "Starts when you click Open Site. Stops when Halvik quits."));
        halvik::test::saveLightAndDark(&w.window, "environment-built-in");

        // A site's state is coloured for the palette in use, after a change of appearance too.
        w.addLaravel("Shop", "http://shop.test");
        halvik::waitFor(w.services.devEnvironment().refresh());
        QTRY_COMPARE(page->sites()->topLevelItemCount(), 1);
        applyColorScheme(ColorScheme::dark);
        QCoreApplication::processEvents();
        QCOMPARE(page->sites()->topLevelItem(0)->foreground(3).color(),
                 page->sites()->palette().color(QPalette::PlaceholderText));
        applyColorScheme(ColorScheme::light);
        QCoreApplication::processEvents();
    }
};

HALVIK_TEST_MAIN(ScreensTest)
#include "tst_screens.moc"
