#include "FakeApiServer.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "newsite/NewSiteMachine.h"

#include "app/InstallCoordinator.h"
#include "app/SiteCloneCoordinator.h"
#include "models/SiteStore.h"
#include "services/marketplace/QuillmarAPI.h"
#include "views/addons/AddonBrowserSheet.h"
#include "views/cloning/CloneSheet.h"
#include "views/common/LiveLogView.h"
#include "views/newsite/InstallOverview.h"
#include "views/newsite/KitGrid.h"
#include "views/newsite/NewSiteSheet.h"
#include "views/sites/SiteListModel.h"
#include "views/sites/SitesPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>

using namespace halvik;
using namespace halvik::test;
using namespace halvik::views;

namespace {

QByteArray catalogue(int count)
{
    QJsonArray rows;
    for (int i = 0; i < count; ++i) {
        const bool paid = i % 3 == 0;
        rows.append(
            QJsonObject{{"name", QString("Kit %1").arg(i)},
                        {"slug", QString("kit-%1").arg(i)},
                        {"package", QString("acme/kit-%1").arg(i)},
                        {"summary", i == 1 ? "A blog with a newsletter" : "A starter kit"},
                        {"seller", QJsonObject{{"name", i % 2 ? "Northwind" : "Acme"}, {"slug", "acme"}}},
                        {"price_range", QJsonArray{paid ? 29 : 0, paid ? 49 : 0}}});
    }
    return QJsonDocument(QJsonObject{{"data", rows}, {"meta", QJsonObject{{"last_page", 1}}}}).toJson();
}

// The wizard's marketplace: a catalogue to answer with, or an outage.
struct Market
{
    FakeApiServer server;
    int status = 200;
    QByteArray body = catalogue(8);
    Market()
    {
        server.setHandler(
            [this](const FakeApiServer::Request&) { return FakeApiServer::Response::json(status, body); });
        server.start();
        qputenv("HALVIK_MARKETPLACE_URL", server.root().toUtf8());
    }
    ~Market() { qputenv("HALVIK_MARKETPLACE_URL", "http://127.0.0.1:9"); }
};

QString rowJob(SitesPage& page, const QUuid& site)
{
    QAbstractItemModel* model = page.list()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(SiteListModel::SiteIdRole).toUuid() == site)
            return model->index(row, 0).data(SiteListModel::JobTextRole).toString();
    return QStringLiteral("(no row)");
}

} // namespace

class NewSiteScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wizardLoadsFiltersAndExplainsWhyCreateIsDisabled()
    {
        Market market;
        market.status = 503;
        NewSiteMachine m;
        NewSiteSheet sheet(*m.services);
        sheet.show();
        sheet.load();
        KitGrid* grid = sheet.kitGrid();
        QTRY_VERIFY(grid->failureLabel()->isVisible());
        QCOMPARE(grid->failureLabel()->text(),
                 QString("Couldn’t load starter kits: The marketplace answered with HTTP 503."));
        QVERIFY(saveLightAndDark(&sheet, "newsite-kits-failed"));

        market.status = 200;
        grid->retryButton()->click();
        QTRY_VERIFY(grid->list()->isVisible());
        QCOMPARE(grid->model()->rowCount(), 9); // the fresh site first
        QCOMPARE(grid->model()->index(0).data().toString(), QString("Fresh Quillmar, no starter kit"));
        QCOMPARE(grid->selectedPackage(), std::nullopt);
        grid->priceFilter()->setCurrentIndex(2); // Paid
        QCOMPARE(grid->model()->rowCount(), 4);
        grid->searchField()->setText("NEWSLETTER");
        QCOMPARE(grid->model()->rowCount(), 1);
        grid->priceFilter()->setCurrentIndex(1); // Free
        QCOMPARE(grid->model()->rowCount(), 2);
        grid->list()->setCurrentIndex(grid->model()->index(1));
        QCOMPARE(grid->selectedPackage(), std::optional<QString>("acme/kit-1"));
        grid->searchField()->setText("kit");
        QCOMPARE(grid->selectedPackage(), std::optional<QString>("acme/kit-1")); // the choice survives

        // Without a name nothing can be created; the reason is on screen.
        QVERIFY(!sheet.createButton()->isEnabled());
        QCOMPARE(sheet.problemLabel()->text(), QString("Enter a name for the site."));
        sheet.nameField()->setText("My Blog");
        QCOMPARE(sheet.slugLabel()->text(), QString("my-blog"));
        QVERIFY(sheet.createButton()->isEnabled());
        QCOMPARE(sheet.servingLabel()->text(),
                 QString("Neither Herd nor Valet is installed: Halvik serves the site itself."));
        QVERIFY(!sheet.githubBox()->isEnabled());
        QCOMPARE(sheet.githubNote()->text(), QString("Connect GitHub under Source Control."));
        sheet.superUserBox()->setChecked(true);
        sheet.emailField()->setText("ada@example.com");
        sheet.passwordField()->setText("short");
        QVERIFY(!sheet.createButton()->isEnabled());
        QCOMPARE(sheet.problemLabel()->text(), QString("Password must be at least 8 characters."));
        sheet.passwordField()->setText("long enough");
        QDir().mkpath(sheet.destination() + "/something");
        sheet.nameField()->setText("My Blog ");
        QCOMPARE(sheet.problemLabel()->text(), "A folder already exists at " + sheet.destination());
        QVERIFY(!sheet.createButton()->isEnabled());
        QVERIFY(saveLightAndDark(&sheet, "newsite-form"));

        // The release list decides the PHP warning, once the PHP has told its version.
        QTRY_VERIFY(sheet.phpLabel()->text().startsWith("8."));
        sheet.setReleases({{6, "6.1.0", QString(">=99.0")}, {5, "5.2.0", QString("^8.1")}});
        sheet.releaseBox()->setCurrentIndex(1);
        QVERIFY2(sheet.phpLabel()->text().startsWith("This PHP ("), qPrintable(sheet.phpLabel()->text()));
        QVERIFY(sheet.phpLabel()->text().contains(
            "may be too old for this Quillmar (needs >=99.0).\nInstall more versions under Settings."));
        sheet.releaseBox()->setCurrentIndex(2);
        QVERIFY2(!sheet.phpLabel()->text().contains("too old"), qPrintable(sheet.phpLabel()->text()));
    }

    void kitGridStaysResponsiveWithAThousandKits()
    {
        Market market;
        market.body = catalogue(1000);
        NewSiteMachine m;
        NewSiteSheet sheet(*m.services);
        sheet.show();
        sheet.load();
        QTRY_VERIFY(sheet.kitGrid()->list()->isVisible());
        QCOMPARE(sheet.kitGrid()->model()->rowCount(), 1001);
        qint64 longest = 0;
        for (const QString& text : {QString("k"), QString("ki"), QString("kit"), QString("kit 9")}) {
            QElapsedTimer timer;
            timer.start();
            sheet.kitGrid()->searchField()->setText(text);
            QCoreApplication::processEvents();
            longest = std::max(longest, timer.elapsed());
        }
        QElapsedTimer timer;
        timer.start();
        sheet.kitGrid()->priceFilter()->setCurrentIndex(2);
        QCoreApplication::processEvents();
        longest = std::max(longest, timer.elapsed());
        qInfo("kit-grid-filter: longest stall %lld ms", longest);
        QVERIFY2(longest < 250, qPrintable(QString::number(longest)));
    }

    void overviewShowsProgressFailureAndSuccess()
    {
        NewSiteMachine m;
        auto site = std::make_shared<Site>("Blog", m.sitesFolder() + "/blog");
        m.services->store().insertSite(site);
        InstallJob job(site->id(), "Blog");
        InstallOverview overview(*m.services, job);
        overview.resize(640, 420);
        overview.show();
        job.enterStep(InstallStep::download);
        job.appendLine("Creating Quillmar project…");
        job.noteComposerLine(InstallStep::download, "Package operations: 40 installs, 0 updates, 0 removals");
        for (int i = 0; i < 12; ++i)
            job.noteComposerLine(InstallStep::download, "  - Installing acme/p (1.0)");
        QCOMPARE(overview.packagesLabel()->text(), QString("(12/40 packages)"));
        QCOMPARE(overview.stepLabel()->text(), QString("Downloading Quillmar…"));
        QVERIFY(overview.cancelButton()->isVisible());
        QVERIFY(!overview.openButton()->isVisible());
        QVERIFY(saveLightAndDark(&overview, "newsite-overview-running"));

        m.services->setLastAdvice({{"Package not found", "acme/x is not on Packagist.", {}, {}}});
        job.appendLine("Your requirements could not be resolved");
        job.finish(false, QString("Composer failed to install acme/x."));
        QCOMPARE(overview.stepLabel()->text(), QString("Install failed"));
        QVERIFY(overview.detailsButton()->isVisible());
        QVERIFY(!overview.cancelButton()->isVisible());
        QVERIFY(overview.adviceLabel()->text().contains("Package not found"));
        QVERIFY(!overview.logView()->isVisible());
        overview.detailsButton()->click();
        QVERIFY(overview.logView()->isVisible());
        QVERIFY(saveLightAndDark(&overview, "newsite-overview-failed"));

        InstallJob done(site->id(), "Blog");
        InstallOverview finished(*m.services, done);
        finished.resize(640, 420);
        finished.show();
        done.setPostInstallInstructions(QString("Your blog is ready.\nRun npm install to build its theme."));
        done.appendLine("Install complete.");
        done.finish(true);
        QCOMPARE(finished.stepLabel()->text(), QString("Blog is ready"));
        QVERIFY(finished.instructionsLabel()->isVisible());
        QVERIFY(finished.openButton()->isVisible());
        QVERIFY(saveLightAndDark(&finished, "newsite-overview-done"));
    }

    // Installs and clones show on their rows whichever site is selected, as package updates do.
    void rowsShowInstallsAndClones()
    {
        NewSiteMachine m;
        const QString shopPath = m.sitesFolder() + "/shop";
        NewSiteMachine::writeText(shopPath + "/artisan", "<?php echo \"ok\\n\";\n");
        auto shop = std::make_shared<Site>("Shop", shopPath);
        m.services->store().insertSite(shop);
        auto broken = std::make_shared<Site>("Broken", m.sitesFolder() + "/broken");
        m.services->store().insertSite(broken);
        SitesPage page(*m.services);
        page.resize(900, 500);
        page.show();
        page.selectSite(shop->id());
        QCOMPARE(rowJob(page, broken->id()), QString());

        InstallRequest request;
        request.siteID = broken->id();
        request.destination = QUrl::fromLocalFile(broken->path());
        request.slug = "broken";
        request.starterKit = "acme/broken-kit";
        m.services->installs().start(request);
        QCOMPARE(rowJob(page, broken->id()), QString("Installing…"));
        QTRY_COMPARE_WITH_TIMEOUT(rowJob(page, broken->id()), QString("Install failed"), 180000);
        QCOMPARE(rowJob(page, shop->id()), QString());
        QVERIFY(saveLightAndDark(&page, "sites-row-install-failed"));

        auto copy = std::make_shared<Site>("Shop Copy", m.sitesFolder() + "/shop-copy");
        m.services->store().insertSite(copy);
        CloneRequest clone;
        clone.sourceSiteID = shop->id();
        clone.sourcePath = shopPath;
        clone.targetSiteID = copy->id();
        clone.destination = QUrl::fromLocalFile(copy->path());
        clone.slug = "shop-copy";
        m.services->clones().start(clone);
        QCOMPARE(rowJob(page, copy->id()), QString("Cloning…"));
        QTRY_VERIFY_WITH_TIMEOUT(m.services->clones().job(copy->id())->isFinished(), 30000);
        QVERIFY(m.services->clones().job(copy->id())->succeeded());
        QCOMPARE(rowJob(page, copy->id()), QString());
    }

    // The add-on browser: an outage with Retry, search and price filter, then a real
    // `composer require` of the chosen add-on, its output shown as it comes.
    void addonBrowserFiltersAndInstalls()
    {
        Market market;
        market.status = 503;
        market.body = "{}";
        NewSiteMachine m;
        const QString path = m.sitesFolder() + "/shop";
        NewSiteMachine::writeText(path + "/composer.json", R"({"name": "acme/shop", "require": {}})");
        auto site = std::make_shared<Site>("Shop", path);
        m.services->store().insertSite(site);

        AddonBrowserSheet sheet(*m.services, site);
        sheet.show();
        QTRY_VERIFY_WITH_TIMEOUT(sheet.failureLabel()->isVisible(), 30000);
        QVERIFY(sheet.failureLabel()->text().startsWith("Couldn’t load addons"));
        QVERIFY(!sheet.installButton()->isEnabled());
        QVERIFY(saveLightAndDark(&sheet, "addons-failed"));

        QJsonArray rows;
        const auto row = [](const QString& name, const QString& package, int price) {
            return QJsonObject{{"name", name},
                               {"slug", package.section('/', 1)},
                               {"package", package},
                               {"summary", "Helps " + name.toLower()},
                               {"seller", QJsonObject{{"name", "Acme"}, {"slug", "acme"}}},
                               {"price_range", QJsonArray{price, price}}};
        };
        rows << row("SEO Tools", "acme/seo-addon", 0) << row("Analytics Pro", "acme/analytics", 49)
             << row("Forms", "quillmar/forms", 0);
        market.body =
            QJsonDocument(QJsonObject{{"data", rows}, {"meta", QJsonObject{{"last_page", 1}}}}).toJson();
        market.status = 200;
        sheet.retryButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(sheet.list()->isVisible(), 30000);
        QCOMPARE(sheet.model()->rowCount(), 3);
        // First-party add-ons lead the list.
        QCOMPARE(sheet.model()->shownAddons().first().package, QString("quillmar/forms"));
        sheet.priceFilter()->setCurrentIndex(2);
        QCOMPARE(sheet.model()->rowCount(), 1);
        QCOMPARE(sheet.model()->shownAddons().first().package, QString("acme/analytics"));
        sheet.priceFilter()->setCurrentIndex(0);
        sheet.searchField()->setText("seo");
        QCOMPARE(sheet.model()->rowCount(), 1);
        QVERIFY(sheet.linkLabel()->text().contains("/addons/acme/seo-addon"));
        QVERIFY(sheet.installButton()->isEnabled());
        QVERIFY(saveLightAndDark(&sheet, "addons-list"));

        sheet.installButton()->click();
        QVERIFY(sheet.isInstalling());
        QVERIFY(!sheet.installButton()->isEnabled());
        sheet.reject(); // not while Composer runs
        QVERIFY(sheet.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isInstalling(), 120000);
        QCOMPARE(sheet.statusLabel()->text(), QString("Installed acme/seo-addon"));
        QVERIFY2(!sheet.errorLabel()->isVisible(), qPrintable(sheet.errorLabel()->text()));
        QVERIFY(NewSiteMachine::readText(path + "/composer.json").contains("acme/seo-addon"));
        QVERIFY(QFile::exists(path + "/vendor/acme/seo-addon/composer.json"));
        QVERIFY(saveLightAndDark(&sheet, "addons-installed"));
    }

    void cloneSheetDefaultsConflictsAndSteps()
    {
        NewSiteMachine m;
        const QString sourcePath = m.sitesFolder() + "/shop";
        NewSiteMachine::writeText(sourcePath + "/.env", "APP_NAME=Shop\n");
        NewSiteMachine::writeText(sourcePath + "/keffin", "<?php echo \"ok\\n\";\n");
        NewSiteMachine::writeText(sourcePath + "/artisan", "<?php echo \"ok\\n\";\n");
        auto source = std::make_shared<Site>("Shop", sourcePath);
        m.services->store().insertSite(source);
        m.services->preferences().setDefaultSitesDirectoryPath(m.sitesFolder());

        CloneSheet missing(*m.services, QUuid::createUuid());
        QCOMPARE(missing.missingLabel()->text(), QString("Couldn’t find that site."));

        CloneSheet sheet(*m.services, source->id());
        sheet.show();
        QCOMPARE(sheet.nameField()->text(), QString("Shop Copy"));
        QCOMPARE(sheet.slugLabel()->text(), QString("shop-copy"));
        QVERIFY(sheet.cloneButton()->isEnabled());
        QVERIFY(!sheet.regenerateBox()->isChecked());
        QVERIFY(!sheet.removeGitBox()->isChecked());
        QVERIFY(saveLightAndDark(&sheet, "clone-form"));
        sheet.nameField()->setText("Shop");
        QCOMPARE(sheet.conflictLabel()->text(), QString("Halvik already has a site at this path."));
        QVERIFY(!sheet.cloneButton()->isEnabled());
        QVERIFY(saveLightAndDark(&sheet, "clone-conflict"));
        sheet.nameField()->setText("Shop Copy");
        sheet.cloneButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(sheet.stepLabel()->text() == "Ready", 30000);
        QCOMPARE(sheet.bar()->value(), 1000);
        QVERIFY(QFile::exists(m.sitesFolder() + "/shop-copy/.env"));
        QVERIFY(saveLightAndDark(&sheet, "clone-done"));
        QVERIFY(!sheet.cloneButton()->isVisible()); // not even after the colours changed
    }
};

HALVIK_TEST_MAIN(NewSiteScreensTest)
#include "tst_newsitescreens.moc"
