#include "ImportFixture.h"
#include "TestMain.h"
#include "TestPaths.h"

#include "WaitFor.h"
#include "app/ImportAllModel.h"
#include "app/ImportSiteModel.h"
#include "cli/CliContext.h"
#include "cli/ImportCommands.h"
#include "models/SiteStore.h"
#include "services/QuillmarSiteDiscovery.h"
#include "views/common/Appearance.h"
#include "views/sites/ImportAllSheet.h"
#include "views/sites/ImportSheet.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolBar>

using namespace halvik;
using halvik::test::ImportFixture;

namespace {

const QList<QPair<views::ColorScheme, QString>> kSchemes{{views::ColorScheme::light, "light"},
                                                         {views::ColorScheme::dark, "dark"}};

void screenshot(QWidget& widget, const QString& name)
{
    // Palette changes reach widgets through posted events.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const QString folder = halvik::test::screenshotDir();
    QDir().mkpath(folder);
    QVERIFY(widget.grab().save(folder + "/" + name + ".png"));
}

} // namespace

class ImportTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ImportFixture> f;
    QString m_parent;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ImportFixture>();
        QFile::remove(f->services.store().filePath()); // every test starts with an empty registry
        QDir(QDir::homePath() + "/Quillmar Parent").removeRecursively();
        m_parent = QDir::homePath() + "/Quillmar Parent";
    }
    void cleanup() { f.reset(); }

    void discoveryKeepsOnlyTopLevelQuillmarSites()
    {
        ImportFixture::makeQuillmarSite(m_parent + "/alpha");
        ImportFixture::makeQuillmarSite(m_parent + "/beta site");
        ImportFixture::makeFolder(m_parent + "/plain-laravel", {{"composer.json", "{}"}, {"artisan", ""}});
        ImportFixture::makeQuillmarSite(m_parent + "/.hidden");
        ImportFixture::makeQuillmarSite(m_parent + "/group/nested");
        ImportFixture::makeFolder(m_parent + "/keffin-dir", {{"composer.json", "{}"}});
        QDir().mkpath(m_parent + "/keffin-dir/keffin");
        QCOMPARE(QuillmarSiteDiscovery::discover(m_parent + "/"),
                 QStringList({m_parent + "/alpha", m_parent + "/beta site"}));
        QVERIFY(QuillmarSiteDiscovery::discover(m_parent + "/nope").isEmpty());
    }

    void bulkScanImportsAndRescansAsAlreadyInHalvik()
    {
        ImportFixture::makeQuillmarSite(m_parent + "/alpha");
        ImportFixture::makeQuillmarSite(m_parent + "/beta");
        ImportAllModel model(f->services, f->importer);
        model.setFolderText("  ~/Quillmar Parent \n");
        halvik::waitFor(model.rescan());
        QCOMPARE(model.candidates().size(), 2);
        QCOMPARE(model.scanSummary(), QString("Found 2 Quillmar sites"));
        QCOMPARE(model.importTitle(), QString("Import 2 Sites"));
        model.setSelected(m_parent + "/beta", false);
        QCOMPARE(model.importTitle(), QString("Import 1 Site"));

        halvik::waitFor(model.importAll());
        QCOMPARE(f->services.store().sites().size(), 1);
        const SitePtr alpha = f->services.store().sites().first();
        QCOMPARE(alpha->displayName(), QString("alpha"));
        QCOMPARE(f->services.selectedSiteID(), std::optional(alpha->id()));

        halvik::waitFor(model.rescan());
        QCOMPARE(model.scanSummary(), QString("Found 2 Quillmar sites · 1 new · 1 already in Halvik"));
        QCOMPARE(model.candidates().first().existingName, std::optional<QString>("alpha"));
        QVERIFY(!model.isSelected(m_parent + "/alpha"));
        model.setSelected(m_parent + "/alpha", true); // already registered: cannot be chosen
        QCOMPARE(model.importTitle(), QString("Import 1 Site"));

        ImportFixture::makeQuillmarSite(m_parent + "/gamma");
        halvik::waitFor(model.rescan());
        halvik::waitFor(model.importAll());
        QCOMPARE(f->services.store().sites().size(), 3);
        QCOMPARE(f->services.selectedSiteIDs().size(), 2);

        halvik::waitFor(model.rescan());
        QCOMPARE(model.scanSummary(), QString("Found 3 Quillmar sites · 0 new · 3 already in Halvik"));
        QVERIFY(model.selectedSites().isEmpty());
        QCOMPARE(model.importTitle(), QString("Import 0 Sites"));
    }

    void bulkScanOfMissingOrEmptyFolders()
    {
        ImportAllModel model(f->services, f->importer);
        model.setFolderText(m_parent + "/missing");
        halvik::waitFor(model.rescan());
        QCOMPARE(model.errorText(), QString("That folder doesn’t exist."));
        QVERIFY(model.candidates().isEmpty());
        ImportFixture::makeQuillmarSite(m_parent + "/only");
        model.setFolderText(m_parent);
        halvik::waitFor(model.rescan());
        QCOMPARE(model.scanSummary(), QString("Found 1 Quillmar site"));
        QVERIFY(model.errorText().isEmpty());
        model.setFolderText("   ");
        halvik::waitFor(model.rescan());
        QCOMPARE(model.scanSummary(), QString("No Quillmar sites found"));
    }

    void importReadsParkingStaticSiteAndGitHub()
    {
        const QString parked = f->dir.filePath("parked");
        f->fake.installValet(QJsonObject{{"paths", QJsonArray{parked}}});
        f->herd.refresh();
        const QString lockOnly = ImportFixture::makeFolder(
            parked + "/press",
            {{"composer.json", "{}"}, {"composer.lock", R"({"packages":[{"name":"quillmar/ssg"}]})"}});
        const QString installed =
            ImportFixture::makeFolder(f->dir.filePath("elsewhere/installed"), {{"composer.json", "{}"}});
        ImportFixture::makeFolder(installed + "/vendor/composer", {{"installed.json", "[\"quillmar/ssg\"]"}});
        ImportFixture::runGit(installed, {"init", "-q", "-b", "trunk"});
        ImportFixture::runGit(installed,
                              {"remote", "add", "origin", "https://token@github.com/acme/blog.git"});

        const SitePtr press = halvik::waitFor(f->importer.importExistingSite(lockOnly));
        QCOMPARE(press->name(), QString("press"));
        QVERIFY(press->herdLinked());
        QCOMPARE(press->phpSource(), std::optional(PHPSource::herd));
        QVERIFY(press->usesSSG());
        QVERIFY(!press->githubRepo());

        const SitePtr blog = halvik::waitFor(f->importer.importExistingSite(installed, QString("The Blog")));
        QCOMPARE(blog->name(), QString("The Blog"));
        QVERIFY(!blog->herdLinked());
        QCOMPARE(blog->phpSource(), std::optional(PHPSource::automatic));
        QVERIFY(blog->usesSSG());
        QCOMPARE(blog->githubRepo(), std::optional<QString>("acme/blog"));

        const SitePtr plain = halvik::waitFor(f->importer.importExistingSite(
            ImportFixture::makeFolder(f->dir.filePath("plain"), {{"composer.lock", "{\"packages\":[]}"}}),
            QString()));
        QCOMPARE(plain->name(), QString("plain"));
        QVERIFY(!plain->usesSSG());

        // Newest first, and on disk.
        f->services.store().flush();
        SiteStore reread(f->secrets, QFileInfo(f->services.store().filePath()).path());
        reread.load();
        QCOMPARE(reread.sites().size(), 3);
        QCOMPARE(reread.sites().first()->id(), plain->id());
        // (press and blog may share a creation time, so blog is looked up, not counted to.)
        QCOMPARE(reread.site(blog->id())->githubRepo(), std::optional<QString>("acme/blog"));
    }

    void singleImportChecksTheFolderFirst()
    {
        ImportSiteModel model(f->services, f->importer, f->git);
        const QString site = ImportFixture::makeFolder(QDir::homePath() + "/Single Site");
        ImportFixture::runGit(site, {"init", "-q", "-b", "feature/x"});
        model.applyPath(" ~/Single Site  ");
        QCOMPARE(model.displayName(), QString("Single Site"));
        QVERIFY(!model.existingSiteNotice());
        QTRY_COMPARE(model.gitHint(), std::optional<QString>("Git: feature/x"));

        QVERIFY(!halvik::waitFor(model.importSite()));
        QCOMPARE(model.errorText(), QString("That folder does not contain composer.json."));
        QVERIFY(f->services.store().sites().isEmpty());

        ImportFixture::makeFolder(site, {{"composer.json", "{}"}});
        model.setDisplayName("Mine");
        QVERIFY(halvik::waitFor(model.importSite()));
        const SitePtr imported = f->services.store().sites().first();
        QCOMPARE(imported->name(), QString("Mine"));
        QCOMPARE(f->services.selectedSiteID(), std::optional(imported->id()));

        // A registered folder is selected, not imported again.
        f->services.setSelectedSiteID(std::nullopt);
        ImportSiteModel again(f->services, f->importer, f->git);
        again.applyPath(site + "/");
        QCOMPARE(again.existingSiteNotice(), std::optional<QString>("Already in Halvik as “Mine”"));
        QTRY_COMPARE(again.gitHint(), std::optional<QString>("Git: feature/x"));
        QVERIFY(halvik::waitFor(again.importSite()));
        QCOMPARE(f->services.store().sites().size(), 1);
        QCOMPARE(f->services.selectedSiteID(), std::optional(imported->id()));
    }

    void commandLineImportAndEngine()
    {
        cli::ImportContext context{f->services, f->herd, f->importer};
        const QString site = ImportFixture::makeFolder(m_parent + "/cli-site", {{"composer.json", "{}"}});
        QString out;
        QTextStream outStream(&out);
        const auto failure = [&](QCoro::Task<int> task) -> QString {
            try {
                halvik::waitFor(std::move(task));
            } catch (const cli::CliError& error) {
                return error.description();
            }
            return QString();
        };

        QCOMPARE(halvik::waitFor(
                     cli::runImportCommand(context, {site, "--name", "CLI Site", "--json"}, outStream)),
                 0);
        const QJsonObject printed = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(printed.value("name").toString(), QString("CLI Site"));
        QCOMPARE(printed.value("path").toString(), site);
        // The one site shape every command prints, keys in their fixed order.
        QCOMPARE(printed.keys().size(), 10);
        QVERIFY(out.indexOf("\"id\"") < out.indexOf("\"name\"") &&
                out.indexOf("\"usesSSG\"") < out.indexOf("\"githubRepo\"") &&
                out.indexOf("\"githubRepo\"") < out.indexOf("\"localPort\""));
        QVERIFY(printed.value("githubRepo").isNull());

        out.clear();
        QCOMPARE(failure(cli::runImportCommand(context, {site + "/"}, outStream)),
                 QString("Already in Halvik as “CLI Site”"));
        QCOMPARE(failure(cli::runImportCommand(context, {ImportFixture::makeFolder(m_parent + "/empty")},
                                               outStream)),
                 QString("That folder does not contain composer.json."));
        QVERIFY(out.isEmpty());

        ImportFixture::makeQuillmarSite(m_parent + "/cli-two");
        ImportFixture::makeQuillmarSite(m_parent + "/cli-three");
        QCOMPARE(halvik::waitFor(cli::runImportAllCommand(context, {m_parent}, outStream)), 0);
        QVERIFY(out.startsWith("Found 2 Quillmar sites\nImported “cli-three”"));
        QCOMPARE(f->services.store().sites().size(), 3);

        out.clear();
        f->fake.installValet(QJsonObject{{"tld", "dev"}});
        f->fake.writePHP(f->fake.root() + "/usr/bin/php", "8.2.7");
        QCOMPARE(halvik::waitFor(cli::runEngineCommand(context, {"--json"}, outStream)), 0);
        const QJsonObject engine = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(engine.value("engine").toString(), QString("valet"));
        QCOMPARE(engine.value("tld").toString(), QString("dev"));
        QCOMPARE(engine.value("globalPHPVersion").toString(), QString("8.2.7"));
    }

    void importSheetIsDrivenByTyping()
    {
        const QString site = ImportFixture::makeFolder(QDir::homePath() + "/Sheet Site");
        ImportFixture::runGit(site, {"init", "-q", "-b", "main"});
        ImportSiteModel model(f->services, f->importer, f->git);
        views::ImportSheet sheet(model);
        sheet.show();
        QTest::keyClicks(sheet.pathField(), "~/Sheet Site");
        QCOMPARE(sheet.nameField()->text(), QString("Sheet Site"));
        QTRY_COMPARE(sheet.gitLabel()->text(), QString("Git: main"));
        QTest::mouseClick(sheet.importButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet.errorLabel()->text(), QString("That folder does not contain composer.json."));
        QVERIFY(sheet.isVisible());
        for (const auto& [scheme, name] : kSchemes) {
            views::applyColorScheme(scheme);
            screenshot(sheet, "import-sheet-error-" + name);
        }
        views::applyColorScheme(views::ColorScheme::system);

        ImportFixture::makeFolder(site, {{"composer.json", "{}"}});
        f->prompts.folders.push_back(site);
        QTest::mouseClick(sheet.chooseButton(), Qt::LeftButton);
        QTest::mouseClick(sheet.importButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(f->services.store().sites().size(), 1);
        QCOMPARE(f->services.store().sites().first()->name(), QString("Sheet Site"));

        ImportSiteModel second(f->services, f->importer, f->git);
        views::ImportSheet notice(second);
        notice.show();
        QTest::keyClicks(notice.pathField(), site);
        QCOMPARE(notice.noticeLabel()->text(), QString("Already in Halvik as “Sheet Site”"));
        QTRY_COMPARE(notice.gitLabel()->text(), QString("Git: main"));
        views::applyColorScheme(views::ColorScheme::light);
        screenshot(notice, "import-sheet-existing-light");
        views::applyColorScheme(views::ColorScheme::system);
    }

    void importAllSheetIsDrivenByClicks()
    {
        ImportFixture::makeQuillmarSite(m_parent + "/one");
        ImportFixture::makeQuillmarSite(m_parent + "/two");
        ImportAllModel model(f->services, f->importer);
        views::ImportAllSheet sheet(model, f->prompts);
        sheet.show();
        QTest::keyClicks(sheet.folderField(), m_parent + "/none");
        QTest::mouseClick(sheet.scanButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet.errorLabel()->text(), QString("That folder doesn’t exist."));

        f->prompts.folders.push_back(m_parent);
        QTest::mouseClick(sheet.chooseButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet.list()->count(), 2);
        QCOMPARE(sheet.summaryLabel()->text(), QString("Found 2 Quillmar sites"));
        QCOMPARE(sheet.importButton()->text(), QString("Import 2 Sites"));
        for (const auto& [scheme, name] : kSchemes) {
            views::applyColorScheme(scheme);
            screenshot(sheet, "import-all-sheet-found-" + name);
        }
        views::applyColorScheme(views::ColorScheme::system);

        sheet.list()->item(1)->setCheckState(Qt::Unchecked);
        QCOMPARE(sheet.importButton()->text(), QString("Import 1 Site"));
        QTest::mouseClick(sheet.importButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(f->services.store().sites().size(), 1);

        views::ImportAllSheet rescanned(model, f->prompts);
        rescanned.show();
        QTest::mouseClick(rescanned.scanButton(), Qt::LeftButton);
        QTRY_COMPARE(rescanned.summaryLabel()->text(),
                     QString("Found 2 Quillmar sites · 1 new · 1 already in Halvik"));
        QVERIFY(!(rescanned.list()->item(0)->flags() & Qt::ItemIsEnabled));
        views::applyColorScheme(views::ColorScheme::dark);
        screenshot(rescanned, "import-all-sheet-rescanned-dark");

        ImportFixture::makeFolder(m_parent + "/empty-parent");
        rescanned.folderField()->clear();
        QTest::keyClicks(rescanned.folderField(), m_parent + "/empty-parent");
        QTest::keyClick(rescanned.folderField(), Qt::Key_Return);
        QTRY_COMPARE(rescanned.summaryLabel()->text(), QString("No Quillmar sites found"));
        QVERIFY(rescanned.hintLabel()->isVisible());
        screenshot(rescanned, "import-all-sheet-empty-dark");
        views::applyColorScheme(views::ColorScheme::system);
    }

    void windowOpensBothSheetsFromMenuAndToolbar()
    {
        views::MainWindow window(f->services);
        window.show();

        QAction* menuItem = window.action(MenuCommand::importSite);
        QVERIFY(menuItem->isEnabled());
        QCOMPARE(menuItem->text(), QString("Import Existing…"));
        QCOMPARE(menuItem->shortcut(), QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_I));
        menuItem->trigger();
        QTRY_VERIFY(window.findChild<views::ImportSheet*>());
        auto* single = window.findChild<views::ImportSheet*>();
        QVERIFY(single->isVisible());
        single->reject();
        QTRY_VERIFY(!window.findChild<views::ImportSheet*>());

        QVERIFY(window.action(MenuCommand::importAllSites)->isEnabled());
        QAction* toolbarButton = window.sitesPage()->toolbar()->findChild<QAction*>("toolbarImportAll");
        QVERIFY(toolbarButton);
        QCOMPARE(toolbarButton->text(), QString("Import All"));
        toolbarButton->trigger();
        QTRY_VERIFY(window.findChild<views::ImportAllSheet*>());
        screenshot(window, "main-window-import-all-light");
        window.findChild<views::ImportAllSheet*>()->reject();
        QTRY_VERIFY(!window.findChild<views::ImportAllSheet*>());

        window.sitesPage()->toolbar()->findChild<QAction*>("toolbarImportExisting")->trigger();
        QTRY_VERIFY(window.findChild<views::ImportSheet*>());
    }
};

HALVIK_TEST_MAIN(ImportTest)
#include "tst_import.moc"
