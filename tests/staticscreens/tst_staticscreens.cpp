#include "Screenshots.h"
#include "StaticRig.h"
#include "TestMain.h"

#include "app/StaticPublishCoordinator.h"
#include "services/hosting/HostAccountService.h"
#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"
#include "views/deploy/DeployTab.h"
#include "views/deploy/StaticDeployPage.h"
#include "views/deploy/StaticPublishSheet.h"
#include "views/hosts/ConnectHostSheet.h"
#include "views/hosts/HostDetailView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::StaticMachine;

namespace {

void shoot(QWidget* widget, const QString& name)
{
    widget->resize(widget->size().expandedTo(QSize(820, 600)));
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

} // namespace

class StaticScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectSheetAsksEachProviderForItsOwnFields();
    void hostDetailListsSitesAndProjects();
    void deployTabFollowsBuildsAndPublishes();
    void publishSheetWalksHostBuildAndProgress();
};

void StaticScreensTest::connectSheetAsksEachProviderForItsOwnFields()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    ConnectHostSheet sheet(m.services.hostAccounts());
    sheet.show();
    sheet.providerPicker()->setCurrentText("Netlify");
    QCOMPARE(sheet.tokenLabelText(), QString("Personal access token"));
    QVERIFY(!sheet.accountField()->isVisible());
    sheet.tokenField()->setText("wrong");
    sheet.submit();
    QTRY_VERIFY(!sheet.isVerifying());
    QCOMPARE(sheet.statusLabel()->text(), QString("Netlify rejected the access token."));
    shoot(&sheet, "connect-netlify-error");

    sheet.providerPicker()->setCurrentText("Cloudflare Pages");
    QCOMPARE(sheet.tokenLabelText(), QString("API token"));
    QVERIFY(sheet.accountField()->isVisible());
    sheet.tokenField()->setText(StaticMachine::cloudflareToken);
    // No account id, no connecting.
    QVERIFY(!sheet.connectButton()->isEnabled());
    sheet.accountField()->setText("not-mine");
    QVERIFY(sheet.connectButton()->isEnabled());
    shoot(&sheet, "connect-cloudflare");
    sheet.submit();
    QTRY_VERIFY(!sheet.isVerifying());
    QCOMPARE(sheet.statusLabel()->text(), QString("Could not access Pages for this account."));
    sheet.accountField()->setText(StaticMachine::accountID);
    sheet.submit();
    QTRY_VERIFY(sheet.connected());
    QCOMPARE(sheet.connected()->providerAccountID(), std::optional<QString>(StaticMachine::accountID));
}

void StaticScreensTest::hostDetailListsSitesAndProjects()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    const HostAccountPtr netlify = m.connectNetlify();
    const HostAccountPtr cloudflare = m.connectCloudflare();
    const QString id = m.netlify.addSite("shop-live");
    m.netlify.addSite("docs");
    m.site->setStaticHostKind(QString("netlify"));
    m.site->setStaticHostSiteId(id);
    m.cloudflare.addProject("blog");

    HostDetailView view(m.services);
    view.resize(820, 480);
    view.show();
    m.netlify.server().setDelay(300);
    view.setHost(netlify);
    QCOMPARE(view.serverState()->text(), QString("Loading sites…"));
    shoot(&view, "host-netlify-loading");
    QTRY_COMPARE(view.targetTable()->topLevelItemCount(), 2);
    const QTreeWidgetItem* first = view.targetTable()->topLevelItem(0);
    QCOMPARE(first->text(0), QString("shop-live"));
    QCOMPARE(first->text(1), QString("https://shop-live.netlify.app"));
    QCOMPARE(first->text(2), QString("Shop"));
    shoot(&view, "host-netlify-sites");

    m.cloudflare.token = "rotated";
    view.setHost(cloudflare);
    QCOMPARE(view.serverState()->text(), QString("Loading projects…"));
    QTRY_COMPARE(view.serverState()->text(), QString("Cloudflare rejected the API token."));
    QVERIFY(view.retryButton()->isVisible());
    shoot(&view, "host-cloudflare-error");
    m.cloudflare.token = StaticMachine::cloudflareToken;
    view.retryButton()->click();
    QTRY_COMPARE(view.targetTable()->topLevelItemCount(), 1);
    QCOMPARE(view.targetTable()->topLevelItem(0)->text(1), QString("https://blog.pages.dev"));
    shoot(&view, "host-cloudflare-projects");
}

void StaticScreensTest::deployTabFollowsBuildsAndPublishes()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    m.site->setUsesSSG(true);
    DeployTab tab(m.services);
    tab.resize(900, 680);
    tab.show();
    tab.setSite(m.site);
    QCOMPARE(tab.page(), 3);
    StaticDeployPage* page = tab.staticPage();
    QCOMPARE(page->lastBuild()->text(), QString("Never"));
    QCOMPARE(page->liveURL()->text(), QString("Not published yet"));
    QVERIFY(page->emptyHistory()->isVisible());
    QCOMPARE(page->emptyHistory()->text(), QString("No publishes yet."));
    QTRY_COMPARE(page->output()->text(), m.output());
    shoot(&tab, "deploy-static-never-built");

    page->generateButton()->click();
    QVERIFY(!page->generateButton()->isEnabled());
    QVERIFY(page->cancelButton()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(m.services.staticPublishes().job(m.site->id())->isFinished(), 60000);
    QCOMPARE(page->status()->text(), QString("Static site ready"));
    QCOMPARE(page->output()->text(), m.output());
    QVERIFY(page->lastBuild()->text() != QString("Never"));
    QVERIFY(page->liveLog()->text().contains("Generate complete."));
    shoot(&tab, "deploy-static-built");

    // Publishing, held at the first request so the state can be seen.
    const HostAccountPtr host = m.connectNetlify();
    m.netlify.server().setDelay(600);
    StaticPublishRequest request;
    request.host = host;
    request.createNewSite = true;
    request.siteName = "Shop";
    request.regenerate = false;
    m.services.staticPublishes().publish(m.site, request);
    QTRY_COMPARE(page->status()->text(), QString("Starting"));
    QVERIFY(page->progress()->isVisible());
    QVERIFY(!page->publishButton()->isEnabled());
    shoot(&tab, "deploy-static-publishing");
    QTRY_VERIFY_WITH_TIMEOUT(m.services.staticPublishes().job(m.site->id())->isFinished(), 60000);
    m.netlify.server().setDelay(0);
    QCOMPARE(page->status()->text(), QString("Published: https://shop.netlify.app"));
    QVERIFY(page->liveURL()->text().contains("https://shop.netlify.app"));

    m.netlify.failDeploys = QString("Deploy did not succeed");
    m.services.staticPublishes().publish(m.site,
                                         StaticPublishRequest{host, false, std::nullopt, {}, false, false});
    QTRY_VERIFY_WITH_TIMEOUT(m.services.staticPublishes().job(m.site->id())->isFinished(), 60000);
    QCOMPARE(page->status()->text(), QString("Deploy did not succeed"));
    QCOMPARE(static_cast<ToneLabel*>(page->status())->tone(), Tone::failure);
    shoot(&tab, "deploy-static-failed");

    QCOMPARE(page->history()->topLevelItemCount(), 2);
    QCOMPARE(page->history()->topLevelItem(0)->text(1), QString("failed"));
    QCOMPARE(page->history()->topLevelItem(1)->text(1), QString("finished"));
    QCOMPARE(page->history()->topLevelItem(1)->text(2), QString("Netlify"));
    page->history()->setCurrentItem(page->history()->topLevelItem(1));
    QVERIFY(page->selectedLog()->text().contains("Live at https://shop.netlify.app"));
    QVERIFY(!page->emptyHistory()->isVisible());
    // Switching appearance recolours the rows, which were coloured for the old palette.
    views::applyColorScheme(views::ColorScheme::dark);
    QCoreApplication::processEvents();
    QCOMPARE(page->history()->topLevelItem(0)->foreground(1).color(),
             views::semanticColor(views::Semantic::danger, page->history()->palette()));
    views::applyColorScheme(views::ColorScheme::light);
    QCoreApplication::processEvents();
    shoot(&tab, "deploy-static-history");
}

void StaticScreensTest::publishSheetWalksHostBuildAndProgress()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    {
        StaticPublishSheet lonely(m.services, m.site);
        lonely.show();
        QVERIFY(lonely.noAccount()->isVisible());
        QCOMPARE(lonely.noAccount()->text(),
                 QString("Connect Netlify or Cloudflare Pages under Hosts first."));
        QVERIFY(!lonely.primaryButton()->isEnabled());
        shoot(&lonely, "publish-sheet-no-account");
    }
    m.connectNetlify();
    const QString existing = m.netlify.addSite("old-shop");
    StaticPublishSheet sheet(m.services, m.site);
    sheet.show();
    QCOMPARE(sheet.step(), StaticPublishSheet::Step::host);
    QVERIFY(sheet.createNewButton()->isChecked());
    QCOMPARE(sheet.createNewButton()->text(), QString("Create a new site on this host"));
    QCOMPARE(sheet.nameField()->text(), QString("shop"));
    QTRY_COMPARE(sheet.targetPicker()->count(), 1);
    QCOMPARE(sheet.targetPicker()->currentData().toString(), existing);
    QCOMPARE(sheet.primaryButton()->text(), QString("Continue"));
    shoot(&sheet, "publish-sheet-host");

    sheet.primaryButton()->click();
    QCOMPARE(sheet.step(), StaticPublishSheet::Step::build);
    QVERIFY(sheet.regenerateBox()->isChecked());
    QCOMPARE(sheet.regenerateBox()->text(), QString("Regenerate before publishing"));
    QCOMPARE(sheet.primaryButton()->text(), QString("Publish"));
    shoot(&sheet, "publish-sheet-build");

    sheet.primaryButton()->click();
    QCOMPARE(sheet.step(), StaticPublishSheet::Step::progress);
    QTRY_VERIFY_WITH_TIMEOUT(m.services.staticPublishes().job(m.site->id())->isFinished(), 60000);
    QTRY_VERIFY(sheet.openSiteButton()->isVisible());
    QVERIFY(!sheet.primaryButton()->isVisible());
    QVERIFY(sheet.log()->text().contains("Live at https://shop.netlify.app"));
    QCOMPARE(sheet.progress()->value(), 1000);
    shoot(&sheet, "publish-sheet-progress");
}

HALVIK_TEST_MAIN(StaticScreensTest)
#include "tst_staticscreens.moc"
