#include "FakeFileServer.h"
#include "FakePrompts.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"
#include "composer/ComposerFixture.h"

#include "app/AppServices.h"
#include "app/MenuCommands.h"
#include "app/NotificationService.h"
#include "app/PackageUpdateCoordinator.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/composer/PackagistClient.h"
#include "services/git/GitService.h"

#include "views/common/Appearance.h"
#include "views/common/LiveLogView.h"
#include "views/site/ConsoleCommandsSheet.h"
#include "views/site/CreateUserSheet.h"
#include "views/site/LocalEnvironmentSheet.h"
#include "views/site/PackagesTab.h"
#include "views/window/MainWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTreeView>

using namespace halvik;
using namespace halvik::test;

namespace {

// Everything the Packages tab stands on, over a fixture Composer.
struct PackagesBench
{
    ComposerFixture fx;
    SecretStore secrets;
    SiteStore store{secrets};
    NotificationService notifications;
    PackageUpdateCoordinator updates{fx.composer, store, notifications};
    FakeFileServer server;
    std::unique_ptr<PackagistClient> packagist;

    PackagesBench()
    {
        server.start();
        packagist = std::make_unique<PackagistClient>(server.url("/"));
    }
};

QString cell(const views::PackagesTab& tab, int row, int column)
{
    return tab.packageList()->model()->index(row, column).data().toString();
}

void screenshots(QWidget* widget, const QString& name)
{
    for (auto scheme : {views::ColorScheme::light, views::ColorScheme::dark}) {
        views::applyColorScheme(scheme);
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(widget, scheme == views::ColorScheme::light ? name : name + "-dark"));
    }
    views::applyColorScheme(views::ColorScheme::light);
}

QJsonObject slowScript()
{
    return {{"scripts",
             QJsonObject{{"post-update-cmd", QJsonArray{"echo Waiting for the slow script; sleep 120"}}}}};
}

void git(const QString& folder, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("GIT_AUTHOR_NAME", "Ann");
    env.insert("GIT_AUTHOR_EMAIL", "ann@example.com");
    env.insert("GIT_COMMITTER_NAME", "Ann");
    env.insert("GIT_COMMITTER_EMAIL", "ann@example.com");
    process.setProcessEnvironment(env);
    process.start("/usr/bin/git", args);
    process.waitForFinished(30000);
}

} // namespace

class PackagesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { views::applyColorScheme(views::ColorScheme::light); }

    void listShowsUpdateKindsAndRowActions()
    {
        PackagesBench b;
        const SitePtr site = b.fx.installedSite("tab-list");
        views::PackagesTab tab(b.fx.composer, b.updates, *b.packagist, site);
        QList<QUrl> opened;
        tab.setUrlOpener([&opened](const QUrl& url) { opened << url; });
        tab.resize(900, 560);
        tab.show();
        QTRY_VERIFY_WITH_TIMEOUT(tab.statusText() == "2 updates available", 60000);
        QCOMPARE(tab.packageList()->model()->rowCount(), 4);
        QCOMPARE(cell(tab, 0, views::PackagesTab::nameColumn), QString("acme/gadget"));
        QCOMPARE(cell(tab, 0, views::PackagesTab::availableColumn), QString("3.0.0"));
        QCOMPARE(cell(tab, 0, views::PackagesTab::kindColumn), QString("Major"));
        QCOMPARE(cell(tab, 1, views::PackagesTab::kindColumn), QString("Minor"));
        QCOMPARE(cell(tab, 2, views::PackagesTab::kindColumn), QString()); // up to date
        screenshots(&tab, "packages-list");

        // The row menu: copy, GitHub only for packages that live there, Packagist always.
        std::unique_ptr<QMenu> widgetMenu(tab.menuForRow(1));
        QStringList texts;
        for (QAction* action : widgetMenu->actions())
            texts << action->text();
        QCOMPARE(texts,
                 QStringList({"Copy Name", "Open on GitHub", "Open on Packagist", "", "Choose Version…"}));
        widgetMenu->actions()[0]->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("acme/widget"));
        widgetMenu->actions()[1]->trigger();
        widgetMenu->actions()[2]->trigger();
        QCOMPARE(opened, QList<QUrl>({QUrl("https://github.com/acme/widget"),
                                      QUrl("https://packagist.org/packages/acme/widget")}));
        std::unique_ptr<QMenu> gadgetMenu(tab.menuForRow(0));
        QVERIFY(!gadgetMenu->actions()[1]->isEnabled()); // it lives on GitLab

        // Published versions feed the picker.
        b.server.serve(
            "/p2/acme/widget.json",
            "{\"packages\": {\"acme/widget\": [{\"version\": \"1.2.0\", \"require\": {\"php\": \">=8.1\"}}, "
            "{\"version\": \"dev-main\"}, {\"version\": \"1.0.0\"}]}}");
        halvik::waitFor(tab.loadVersions("acme/widget"));
        QCOMPARE(tab.versionPicker()->count(), 3);
        QCOMPARE(tab.versionPicker()->itemData(1).toString(), QString("1.2.0"));
        QCOMPARE(tab.versionPicker()->itemText(1), QString("1.2.0  ·  PHP >=8.1"));

        // A successful update: the end state, and the list read again.
        tab.updateButton()->click();
        QVERIFY(b.updates.isUpdating(site->id()));
        QVERIFY(!tab.updateButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(tab.updateStateText(), QString("Packages updated"), 120000);
        QTRY_COMPARE_WITH_TIMEOUT(cell(tab, 1, views::PackagesTab::installedColumn), QString("1.2.0"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(tab.statusText() == "1 update available", 60000);
        QVERIFY(tab.logView()->text().endsWith("Done."));
    }

    void updatingShowsLiveLogAndCancels()
    {
        PackagesBench b;
        const SitePtr site = b.fx.installedSite("tab-updating", slowScript());
        views::PackagesTab tab(b.fx.composer, b.updates, *b.packagist, site);
        tab.resize(900, 620);
        tab.show();
        tab.updateButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(tab.logView()->text().contains("Waiting for the slow script"), 120000);
        QCOMPARE(tab.updateStateText(), QString("Updating packages…"));
        QVERIFY(tab.cancelButton()->isVisible());
        QTRY_VERIFY(tab.statusText().contains("update"));
        screenshots(&tab, "packages-updating");
        tab.cancelButton()->click();
        QCOMPARE(tab.updateStateText(), QString("Update cancelled."));
        QVERIFY(!tab.cancelButton()->isVisible());
        QVERIFY(tab.updateButton()->isEnabled());
        QVERIFY(tab.adviceTitles().isEmpty());
    }

    void failedUpdateShowsAdviceBesideTheLog()
    {
        PackagesBench b;
        const SitePtr site = b.fx.installedSite("tab-failed");
        QJsonObject require = ComposerFixture::standardRequire();
        require.insert("acme/missing", "^1.0");
        ComposerFixture::writeJSON(site->path() + "/composer.json", ComposerFixture::manifest(require));
        views::PackagesTab tab(b.fx.composer, b.updates, *b.packagist, site);
        tab.resize(980, 640);
        tab.show();
        tab.updateButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(tab.updateStateText(), QString("Update failed"), 120000);
        QCOMPARE(tab.adviceTitles(),
                 QStringList({"Composer could not resolve dependencies", "Package not found"}));
        QVERIFY(tab.detailsButton()->isVisible());
        QVERIFY(tab.detailsButton()->isChecked());
        QVERIFY(tab.logView()->isVisible());
        screenshots(&tab, "packages-failed");
        tab.detailsButton()->click(); // "See details" folds the log away
        QVERIFY(!tab.logView()->isVisible());
    }

    void emptySiteShowsTheEmptyState()
    {
        PackagesBench b;
        QDir().mkpath(b.fx.root() + "/bare");
        const auto site = std::make_shared<Site>("bare", b.fx.root() + "/bare");
        views::PackagesTab tab(b.fx.composer, b.updates, *b.packagist, site);
        tab.resize(900, 480);
        tab.show();
        QVERIFY(!tab.packageList()->isVisible());
        QVERIFY(halvik::test::saveLightAndDark(&tab, "packages-empty"));

        // The empty state's action installs what composer.json asks for.
        ComposerFixture::writeJSON(site->path() + "/composer.json",
                                   ComposerFixture::manifest(QJsonObject{{"acme/widget", "^1.0"}}));
        tab.findChild<QPushButton*>("installPackages")->click();
        QTRY_VERIFY_WITH_TIMEOUT(tab.packageList()->isVisible(), 60000);
        QCOMPARE(cell(tab, 0, views::PackagesTab::installedColumn), QString("1.2.0"));
    }

    void commandsListBothConsolesAndRunOne()
    {
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("commands");
        views::ConsoleCommandsSheet sheet(fx.composer, site);
        sheet.show();
        QVERIFY(sheet.isLoading());
        QCOMPARE(sheet.tabs()->tabText(0), QString("Artisan"));
        QCOMPARE(sheet.tabs()->tabText(1), QString("Keffin"));
        QVERIFY(halvik::test::saveLightAndDark(&sheet, "commands-loading"));
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isLoading(), 60000);
        QCOMPARE(sheet.list("keffin")->count(), 4);
        QListWidget* artisan = sheet.list("artisan");
        QListWidgetItem* greet = nullptr;
        for (int i = 0; i < artisan->count(); ++i)
            if (artisan->item(i)->data(Qt::UserRole).toString() == "site:greet")
                greet = artisan->item(i);
        QVERIFY(greet);
        QCOMPARE(greet->text(), QString("site:greet  —  Greet someone from the command line"));

        sheet.filterField()->setText("greet");
        QVERIFY(!greet->isHidden());
        int shown = 0;
        for (int i = 0; i < artisan->count(); ++i)
            shown += artisan->item(i)->isHidden() ? 0 : 1;
        QCOMPARE(shown, 1);
        artisan->setCurrentItem(greet);
        QVERIFY(sheet.runButton()->isEnabled());
        sheet.argumentsField()->setText("\"Ann Lee\"");
        sheet.runButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(sheet.statusText(), QString("Finished site:greet."), 60000);
        QVERIFY(sheet.output()->text().contains("Hello, Ann Lee!"));
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php artisan site:greet Ann Lee --no-interaction"));
        sheet.filterField()->clear();
        artisan->scrollToItem(greet);
        screenshots(&sheet, "commands");
    }

    void createUserRefusesShortPasswords()
    {
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("create-user");
        views::CreateUserSheet sheet(fx.composer, site);
        sheet.show();
        QVERIFY(!sheet.createButton()->isEnabled());
        sheet.emailField()->setText("ann@example.com");
        sheet.passwordField()->setText("seven77");
        sheet.createButton()->click();
        QTRY_COMPARE(sheet.errorText(), QString("Password must be at least 8 characters."));
        QVERIFY(site->operations().isEmpty());
        QVERIFY(sheet.isVisible());
        screenshots(&sheet, "create-user-error");

        sheet.passwordField()->setText("eight888");
        sheet.superUserSwitch()->setChecked(false);
        sheet.createButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isVisible(), 60000);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(sheet.doneText(), QString("Created ann@example.com"));
        QVERIFY(ComposerFixture::readText(site->path() + "/storage/users.json").contains("\"super\":false"));
        QVERIFY(!site->operations().last()->command().contains("eight888"));
    }

    void localEnvironmentSavesAndRegenerates()
    {
        ComposerFixture fx;
        GitService gitService(fx.runner);
        const SitePtr site = fx.laravelSite("environment");
        {
            QFile env(site->path() + "/.env");
            QVERIFY(env.open(QIODevice::WriteOnly | QIODevice::Truncate));
            env.write("APP_NAME=Fixture\nAPP_ENV=local\nAPP_KEY=base64:"
                      "c2l4dGVlbi1ieXRlcy1zaXh0ZWVuLWJ5dGVzLTMyISE=\n"
                      "APP_URL=http://fixture.test\n\nDB_CONNECTION=sqlite\nDB_DATABASE=database/"
                      "database.sqlite\n");
        }
        git(site->path(), {"init", "-q"});
        git(site->path(), {"add", ".env", "artisan"});
        git(site->path(), {"commit", "-qm", "Start"});

        views::LocalEnvironmentSheet sheet(fx.composer, gitService, site);
        sheet.show();
        halvik::waitFor(sheet.load());
        QVERIFY(sheet.isTrackingWarningShown());
        QCOMPARE(sheet.summaryValue("APP_URL"), QString("http://fixture.test"));
        QCOMPARE(sheet.summaryValue("DB_DATABASE"), QString("database/database.sqlite"));
        QVERIFY(!sheet.saveButton()->isEnabled());
        screenshots(&sheet, "local-environment");

        // Editing enables Save and holds back the key regeneration until the edit is saved.
        const QString before = ComposerFixture::readText(site->path() + "/.env");
        sheet.editor()->setPlainText(before.trimmed().replace("http://fixture.test", "http://renamed.test"));
        QVERIFY(sheet.saveButton()->isEnabled());
        QVERIFY(!sheet.regenerateButton()->isEnabled());
        QCOMPARE(sheet.summaryValue("APP_URL"), QString("http://renamed.test"));
        QVERIFY(sheet.save());
        QCOMPARE(sheet.messageText(), QString("Saved local .env"));
        const QString saved = ComposerFixture::readText(site->path() + "/.env");
        QVERIFY(saved.endsWith("database/database.sqlite\n")); // a final line feed is added
        QVERIFY(saved.contains("APP_URL=http://renamed.test\n"));
        QVERIFY(sheet.regenerateButton()->isEnabled());

        halvik::waitFor(sheet.regenerateKey());
        QCOMPARE(sheet.messageText(), QString("Regenerated APP_KEY"));
        const QString regenerated = ComposerFixture::readText(site->path() + "/.env");
        QVERIFY(!regenerated.contains("APP_KEY=base64:c2l4dGVlbi1ieXRlcy1zaXh0ZWVuLWJ5dGVzLTMyISE="));
        QCOMPARE(sheet.editor()->toPlainText(), regenerated);
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php artisan key:generate --force --no-interaction"));

        // Cancel leaves the file alone; an untracked .env gives no warning.
        sheet.editor()->setPlainText("BROKEN");
        sheet.reject();
        QCOMPARE(ComposerFixture::readText(site->path() + "/.env"), regenerated);
        const SitePtr loose = fx.laravelSite("environment-untracked");
        views::LocalEnvironmentSheet other(fx.composer, gitService, loose);
        halvik::waitFor(other.load());
        QVERIFY(!other.isTrackingWarningShown());
    }

    void localEnvironmentNeverDestroysWhatItCannotRead()
    {
        ComposerFixture fx;
        GitService gitService(fx.runner);
        const SitePtr site = fx.laravelSite("environment-care");
        const QString path = site->path() + "/.env";
        const auto writeBytes = [&path](const QByteArray& bytes) {
            QFile env(path);
            QVERIFY(env.open(QIODevice::WriteOnly | QIODevice::Truncate));
            env.write(bytes);
        };
        const auto readBytes = [&path] {
            QFile env(path);
            return env.open(QIODevice::ReadOnly) ? env.readAll() : QByteArray();
        };

        // Not UTF-8: shown for reading only, with no way to save over it.
        const QByteArray latin1 = "APP_NAME=Caf\xe9\nDB_PASSWORD=secret\n";
        writeBytes(latin1);
        {
            views::LocalEnvironmentSheet sheet(fx.composer, gitService, site);
            sheet.show();
            halvik::waitFor(sheet.load());
            QVERIFY(sheet.isReadOnly());
            QVERIFY(sheet.editor()->isReadOnly());
            QVERIFY(sheet.saveButton()->isHidden());
            QVERIFY(!sheet.regenerateButton()->isEnabled());
            QVERIFY2(sheet.messageText().startsWith("Halvik couldn’t read this .env file, so it can’t be "
                                                    "edited here. "),
                     qPrintable(sheet.messageText()));
            QVERIFY(!sheet.save());
            screenshots(&sheet, "local-environment-unreadable");
        }
        QCOMPARE(readBytes(), latin1);

        // Missing: an empty editor whose Save creates the file.
        QFile::remove(path);
        {
            views::LocalEnvironmentSheet sheet(fx.composer, gitService, site);
            halvik::waitFor(sheet.load());
            QVERIFY(!sheet.isReadOnly() && !sheet.editor()->isReadOnly());
            sheet.editor()->setPlainText("APP_NAME=New");
            QVERIFY(sheet.save());
        }
        QCOMPARE(readBytes(), QByteArray("APP_NAME=New\n"));

        // CR LF line ends: opening is not editing, and saving keeps them; so does a password
        // with non-breaking spaces.
        writeBytes(
            "APP_NAME=Windows\r\nDB_PASSWORD=pa\xc2\xa0ss\xc2\xa0word\r\nAPP_URL=http://crlf.test\r\n");
        {
            views::LocalEnvironmentSheet sheet(fx.composer, gitService, site);
            halvik::waitFor(sheet.load());
            QVERIFY(!sheet.isEdited());
            QVERIFY(!sheet.saveButton()->isEnabled());
            QVERIFY(sheet.regenerateButton()->isEnabled());
            QCOMPARE(sheet.summaryValue("APP_URL"), QString("http://crlf.test"));
            QTextCursor cursor = sheet.editor()->textCursor();
            cursor.movePosition(QTextCursor::End);
            cursor.insertText("APP_DEBUG=true");
            QVERIFY(sheet.isEdited());
            QVERIFY(sheet.save());
            QVERIFY(!sheet.isEdited());
        }
        QCOMPARE(readBytes(), QByteArray("APP_NAME=Windows\r\nDB_PASSWORD=pa\xc2\xa0ss\xc2\xa0word\r\n"
                                         "APP_URL=http://crlf.test\r\nAPP_DEBUG=true\r\n"));
    }

    void createUserOpensFromTheWindowMenu()
    {
        QTemporaryDir dir;
        SecretStore secrets{dir.filePath("secrets.json")};
        FakePrompts prompts;
        AppServices services{secrets, prompts};
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("menu-user");
        services.store().insertSite(site);
        views::MainWindow window(services);
        window.show();
        QAction* item = window.action(MenuCommand::createUser);
        services.setSelectedSiteID(site->id());
        services.setSelectedSiteIDs({site->id()});
        QTRY_VERIFY(item->isEnabled());
        item->trigger();
        QTRY_VERIFY(window.findChild<views::CreateUserSheet*>());
        auto* sheet = window.findChild<views::CreateUserSheet*>();
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->windowTitle(), QString("Create User"));
        sheet->reject();
        QTRY_VERIFY(!window.findChild<views::CreateUserSheet*>());
    }
};

HALVIK_TEST_MAIN(PackagesTest)
#include "tst_packages.moc"
