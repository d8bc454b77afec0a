#include "FakeCloud.h"
#include "FakePrompts.h"
#include "ForgeRig.h"
#include "Screenshots.h"
#include "TestMain.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "platform/AppDataDir.h"
#include "services/hosting/HostAccountService.h"
#include "views/accounts/AccountWidgets.h"
#include "views/accounts/HostsPage.h"
#include "views/common/LiveLogView.h"
#include "views/deploy/CloudDeploySheet.h"
#include "views/deploy/CloudEnvironmentSheet.h"
#include "views/deploy/DeployTab.h"
#include "views/hosts/ConnectHostSheet.h"
#include "views/hosts/HostDetailView.h"
#include "views/site/SiteOverviewTab.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakeCloud;
using halvik::test::ScopedEnv;

namespace {

void shoot(QWidget* widget, const QString& name)
{
    widget->resize(widget->size().expandedTo(QSize(760, 520)));
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

QString browserScript()
{
    const QString path = QDir::temp().filePath(
        QStringLiteral("halvik-test-browser-%1.sh").arg(QCoreApplication::applicationPid()));
    QFile script(path);
    if (script.open(QIODevice::WriteOnly)) {
        script.write("#!/bin/sh\n/usr/bin/curl -sL \"$1\" >/dev/null 2>&1 &\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return path;
}

// A whole application against a Cloud fake, with a browser that follows the sign-in.
struct Machine
{
    Machine() : services(secrets, prompts) {}
    ~Machine() { QFile::remove(browser); }

    bool wiped = QDir(AppDataDir::directory()).removeRecursively() || !QDir(AppDataDir::directory()).exists();
    FakeCloud cloud{"tok-cloud-screens"};
    bool started = cloud.start();
    QString browser = browserScript();
    ScopedEnv url{"HALVIK_CLOUD_URL", cloud.root()};
    ScopedEnv poll{"HALVIK_CLOUD_POLL_MS", QStringLiteral("1")};
    ScopedEnv browserEnv{"BROWSER", browser};
    test::FakePrompts prompts;
    SecretStore secrets{QString()};
    AppServices services;
};

} // namespace

class CloudScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectSheetSignsInThroughTheBrowser();
    void deployTabTakesASiteToCloudAndBack();
};

void CloudScreensTest::connectSheetSignsInThroughTheBrowser()
{
    Machine m;
    QVERIFY(m.started && m.wiped);
    m.cloud.addApplication(QStringLiteral("blog"));
    HostsPage page(m.services);
    page.resize(1000, 560);
    page.show();
    page.openConnectSheet();
    auto* sheet = page.findChild<ConnectHostSheet*>();
    QVERIFY(sheet);
    sheet->providerPicker()->setCurrentIndex(
        sheet->providerPicker()->findData(static_cast<int>(HostProviderKind::laravelCloud)));
    QVERIFY(sheet->showsCloudSignIn());
    QVERIFY(sheet->cloudSignInButton()->isVisible());
    QVERIFY(!sheet->tokenField()->isVisible());
    shoot(sheet, QStringLiteral("connect-cloud"));
    sheet->otherWayButton()->click();
    QVERIFY(sheet->tokenField()->isVisible());
    shoot(sheet, QStringLiteral("connect-cloud-token"));
    sheet->providerPicker()->setCurrentIndex(0);
    sheet->providerPicker()->setCurrentIndex(
        sheet->providerPicker()->findData(static_cast<int>(HostProviderKind::laravelCloud)));

    m.cloud.server().setDelay(300);
    sheet->signInWithBrowser();
    QTRY_VERIFY(sheet->copyLinkButton()->isVisible());
    QVERIFY(sheet->signInURL().toString().startsWith(m.cloud.root()));
    shoot(sheet, QStringLiteral("connect-cloud-waiting"));
    QTRY_COMPARE(m.services.store().hosts().size(), 1);
    QTRY_COMPARE(page.hostDetail()->host(), m.services.store().hosts().first());
    QCOMPARE(page.list()->currentItem()->text(), QStringLiteral("Acme Studio — Laravel Cloud"));
    HostDetailView* detail = page.hostDetail();
    QCOMPARE(detail->serverState()->text(), QStringLiteral("Loading applications…"));
    shoot(&page, QStringLiteral("cloud-host-loading"));
    QTRY_VERIFY(detail->serverTable()->isVisible());
    QCOMPARE(detail->serverTable()->topLevelItem(0)->text(0), QStringLiteral("blog"));
    QCOMPARE(detail->serverTable()->topLevelItem(0)->text(2), QStringLiteral("https://blog.laravel.cloud"));
    QCOMPARE(detail->serverTable()->columnCount(), 4);
    shoot(&page, QStringLiteral("cloud-host-detail"));

    // A rejected token offers the sign-in again.
    m.cloud.server().setDelay(0);
    m.cloud.rejectTokens = 1;
    detail->reload();
    QTRY_VERIFY(detail->retryButton()->isVisible());
    QCOMPARE(detail->retryButton()->text(), QStringLiteral("Sign in again"));
    QCOMPARE(detail->serverState()->text(), QStringLiteral("Laravel Cloud rejected the API token."));
    shoot(&page, QStringLiteral("cloud-host-rejected"));
    m.cloud.exchangeCode = QStringLiteral("again");
    detail->retryButton()->click();
    QTRY_VERIFY(detail->serverTable()->isVisible());
    QCOMPARE(m.services.store().hosts().size(), 1);
}

void CloudScreensTest::deployTabTakesASiteToCloudAndBack()
{
    Machine m;
    QVERIFY(m.started && m.wiped);
    m.cloud.firstBuildStatuses = {QStringLiteral("build.running"), QStringLiteral("build.failed")};
    m.services.hostAccounts().persistCloudSignIns(
        {CloudSignIn{QStringLiteral("Acme Studio"), QStringLiteral("tok-cloud-screens")}});
    const QString folder =
        QDir::temp().filePath(QStringLiteral("halvik-cloud-shop-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(folder);
    auto site = std::make_shared<Site>(QStringLiteral("Shop"), folder);
    m.services.store().insertSite(site);
    DeployTab tab(m.services);
    tab.resize(900, 620);
    tab.setSite(site);
    tab.show();
    QCOMPARE(tab.page(), 0);
    QVERIFY(tab.deployToCloudButton()->isVisible());
    shoot(&tab, QStringLiteral("deploy-tab-not-deployed"));

    tab.deployToCloudButton()->click();
    auto* sheet = tab.findChild<CloudDeploySheet*>();
    QVERIFY(sheet);
    QCOMPARE(sheet->subtitle()->text(), QStringLiteral("Choose a Laravel Cloud account and GitHub repo."));
    QVERIFY(!sheet->primaryButton()->isEnabled());
    shoot(sheet, QStringLiteral("cloud-sheet-no-github"));
    site->setGithubRepo(QStringLiteral("octo/shop"));
    sheet->close();
    QTRY_VERIFY(!tab.findChild<CloudDeploySheet*>());
    tab.deployToCloudButton()->click();
    sheet = tab.findChild<CloudDeploySheet*>();
    QTRY_VERIFY(sheet && sheet->isVisible());
    QVERIFY(sheet->primaryButton()->isEnabled());
    shoot(sheet, QStringLiteral("cloud-sheet-connect"));
    sheet->advance();
    QCOMPARE(sheet->subtitle()->text(), QStringLiteral("Pick a region and application name."));
    QTRY_COMPARE(sheet->regionPicker()->count(), 2);
    QCOMPARE(sheet->regionPicker()->currentData().toString(), QStringLiteral("us-east-1"));
    QCOMPARE(sheet->applicationField()->text(), QStringLiteral("shop"));
    sheet->applicationField()->setText(QStringLiteral("ab"));
    QVERIFY(!sheet->primaryButton()->isEnabled());
    sheet->applicationField()->setText(QStringLiteral("shop"));
    QVERIFY(sheet->primaryButton()->isEnabled());
    shoot(sheet, QStringLiteral("cloud-sheet-target"));

    m.cloud.server().setDelay(30);
    sheet->advance();
    QCOMPARE(sheet->subtitle()->text(), QStringLiteral("Creating the Cloud app and first deployment."));
    QTRY_VERIFY(sheet->log()->text().contains(QStringLiteral("Waiting on Cloud’s first build…")));
    shoot(sheet, QStringLiteral("cloud-sheet-progress"));
    QTRY_COMPARE_WITH_TIMEOUT(sheet->statusLine()->text(),
                              QStringLiteral("Live at https://shop.laravel.cloud"), 30000);
    QCOMPARE(sheet->progress()->value(), 100);
    shoot(sheet, QStringLiteral("cloud-sheet-live"));
    sheet->close();

    QTRY_COMPARE(tab.page(), 2);
    QVERIFY(tab.liveURL()->text().startsWith(QStringLiteral("<a href=\"https://shop.laravel.cloud\"")));
    QVERIFY(tab.liveURL()->text().endsWith(QStringLiteral(">https://shop.laravel.cloud</a>")));
    QVERIFY(!tab.noDeploys()->isVisible());
    shoot(&tab, QStringLiteral("deploy-tab-cloud"));

    // Deploy now, the token rejected: the run waits for "Sign in again".
    m.cloud.rejectTokens = 1;
    m.cloud.exchangeCode = QStringLiteral("again");
    tab.deployNow();
    QTRY_VERIFY(tab.signInAgainButton()->isVisible());
    QCOMPARE(tab.runStatus()->text(), QStringLiteral("Laravel Cloud rejected the API token."));
    shoot(&tab, QStringLiteral("deploy-tab-cloud-rejected"));
    tab.signInAgainButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(tab.runStatus()->text(), QStringLiteral("Live at https://shop.laravel.cloud"),
                              30000);
    QCOMPARE(tab.history()->topLevelItemCount(), 2);

    // The environment's variables, set and deleted.
    tab.editCloudEnvironmentButton()->click();
    auto* env = tab.findChild<CloudEnvironmentSheet*>();
    QVERIFY(env);
    QTRY_VERIFY(!env->isBusy());
    QCOMPARE(env->table()->topLevelItemCount(), 3);
    env->keyField()->setText(QStringLiteral("FEATURE"));
    env->valueField()->setText(QStringLiteral("on"));
    env->setVariable();
    QTRY_COMPARE(env->table()->topLevelItemCount(), 4);
    env->table()->setCurrentItem(env->table()->topLevelItem(0));
    env->deleteSelected();
    QTRY_COMPARE(env->table()->topLevelItemCount(), 3);
    shoot(env, QStringLiteral("cloud-environment"));
    env->close();

    // The overview offers the same editor for a site on Cloud.
    SiteOverviewTab overview(m.services);
    overview.setSite(site);
    QVERIFY(overview.editCloudEnvironmentButton()->isVisibleTo(&overview));

    // Disconnect asks, then forgets the four fields; Cloud keeps the application.
    m.prompts.answers.push_back(QStringLiteral("Disconnect"));
    tab.disconnectCloudButton()->click();
    QTRY_VERIFY(!site->isLinkedToCloud());
    QVERIFY(!site->cloudURL() && !site->cloudHostId());
    QCOMPARE(tab.page(), 0);
    QCOMPARE(m.cloud.applications.size(), 1);
    overview.refresh();
    QVERIFY(!overview.editCloudEnvironmentButton()->isVisibleTo(&overview));
    QDir(folder).removeRecursively();
}

HALVIK_TEST_MAIN(CloudScreensTest)
#include "tst_cloudscreens.moc"
