#include "FakeApiServer.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "newsite/NewSiteMachine.h"

#include "app/InstallCoordinator.h"
#include "app/SiteCloneCoordinator.h"
#include "models/SiteStore.h"
#include "services/marketplace/QuillmarAPI.h"
#include "views/cloning/CloneSheet.h"
#include "views/common/LiveLogView.h"
#include "views/newsite/InstallOverview.h"
#include "views/newsite/KitGrid.h"
#include "views/newsite/NewSiteSheet.h"

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
