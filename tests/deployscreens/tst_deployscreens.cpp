#include "FakeForge.h"
#include "FakePrompts.h"
#include "ForgeRig.h"
#include "Screenshots.h"
#include "TestMain.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "async/Sleep.h"
#include "platform/AppDataDir.h"
#include "services/hosting/HostAccountService.h"
#include "views/accounts/AccountWidgets.h"
#include "views/accounts/HostsPage.h"
#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"
#include "views/deploy/DeployTab.h"
#include "views/deploy/ForgeDeploySheet.h"
#include "views/hosts/ConnectHostSheet.h"
#include "views/hosts/HostDetailView.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakeForge;
using halvik::test::ScopedEnv;

namespace {

void shoot(QWidget* widget, const QString& name)
{
    widget->resize(widget->size().expandedTo(QSize(760, 520)));
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

// A whole application against a Forge fake.
struct Machine
{
    Machine() : services(secrets, prompts)
    {
        forge.servers =
            QJsonArray{FakeForge::server(11, QStringLiteral("web-1")),
                       FakeForge::server(12, QStringLiteral("web-2"), QStringLiteral("198.51.100.4"))};
        ForgeDeployJob::Timing timing;
        timing.sleep = [](std::chrono::milliseconds, CancellationToken cancel) -> QCoro::Task<> {
            co_await sleepFor(std::chrono::milliseconds(1), cancel);
        };
        services.deploys().setForgeTiming(timing);
    }

    // Each case starts from an empty application folder.
    bool wiped = QDir(AppDataDir::directory()).removeRecursively() || !QDir(AppDataDir::directory()).exists();
    FakeForge forge{"tok-screens"};
    bool started = forge.start();
    ScopedEnv url{"HALVIK_FORGE_URL", forge.root()};
    test::FakePrompts prompts;
    SecretStore secrets{QString()};
    AppServices services;
};

} // namespace

class DeployScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectSheetVerifiesAndShowsTheRefusal();
    void hostDetailLoadsServersAndSearchFindsThem();
    void deployTabFromNothingToHistory();
};

void DeployScreensTest::connectSheetVerifiesAndShowsTheRefusal()
{
    Machine m;
    QVERIFY(m.started && m.wiped);
    HostsPage page(m.services);
    page.resize(1000, 560);
    page.show();
    page.openConnectSheet();
    auto* sheet = page.findChild<ConnectHostSheet*>();
    QVERIFY(sheet);
    QCOMPARE(sheet->providerPicker()->currentText(), QStringLiteral("Laravel Forge"));
    auto* items = qobject_cast<QStandardItemModel*>(sheet->providerPicker()->model());
    const QList<QStandardItem*> netlify = items->findItems(QStringLiteral("Netlify"));
    QCOMPARE(netlify.size(), 1);
    QVERIFY(netlify.first()->isEnabled());
    QCOMPARE(sheet->tokenField()->echoMode(), QLineEdit::Password);
    QVERIFY(!sheet->connectButton()->isEnabled());
    shoot(sheet, QStringLiteral("connect-host-empty"));

    m.forge.server().setDelay(400);
    sheet->tokenField()->setText(QStringLiteral("wrong"));
    sheet->submit();
    QVERIFY(sheet->isVerifying());
    QCOMPARE(sheet->statusLabel()->text(), QStringLiteral("Verifying…"));
    shoot(sheet, QStringLiteral("connect-host-verifying"));
    QTRY_VERIFY(!sheet->isVerifying());
    QCOMPARE(sheet->statusLabel()->text(), QStringLiteral("Forge rejected the API token."));
    QCOMPARE(sheet->statusLabel()->tone(), Tone::failure);
    shoot(sheet, QStringLiteral("connect-host-error"));

    sheet->tokenField()->setText(QStringLiteral("tok-screens"));
    sheet->submit();
    QTRY_COMPARE(m.services.store().hosts().size(), 1);
    // The new host is the one shown.
    QTRY_COMPARE(page.hostDetail()->host(), m.services.store().hosts().first());
    QCOMPARE(page.list()->currentItem()->text(), QStringLiteral("Taylor — Laravel Forge"));
    QCOMPARE(page.list()->count(), 1);
    QTRY_COMPARE(page.hostDetail()->serverTable()->topLevelItemCount(), 2);
}

void DeployScreensTest::hostDetailLoadsServersAndSearchFindsThem()
{
    Machine m;
    QVERIFY(m.started && m.wiped);
    const HostAccountPtr host = halvik::waitFor(
        m.services.hostAccounts().connect(HostProviderKind::forge, QStringLiteral("tok-screens")));
    auto site = std::make_shared<Site>(QStringLiteral("Shop"), QStringLiteral("/tmp/shop"));
    site->setForgeServerId(12);
    site->setForgeHostId(host->id());
    m.services.store().insertSite(site);
    HostsPage page(m.services);
    page.resize(1100, 560);
    page.show();

    m.forge.server().setDelay(300);
    page.selectHost(host->id());
    HostDetailView* detail = page.hostDetail();
    QCOMPARE(detail->serverState()->text(), QStringLiteral("Loading servers…"));
    shoot(&page, QStringLiteral("host-detail-loading"));
    QTRY_COMPARE(detail->serverTable()->topLevelItemCount(), 2);
    QCOMPARE(detail->serverTable()->topLevelItem(1)->text(1), QStringLiteral("198.51.100.4"));
    QCOMPARE(detail->serverTable()->topLevelItem(1)->text(5), QStringLiteral("Shop"));
    QCOMPARE(detail->serverTable()->topLevelItem(0)->text(5), QString());
    shoot(&page, QStringLiteral("host-detail-servers"));

    // Search matches the servers' addresses, not only the label.
    page.searchField()->setText(QStringLiteral("198.51"));
    QCOMPARE(page.list()->count(), 1);
    page.searchField()->setText(QStringLiteral("203.0.113.99"));
    QCOMPARE(page.list()->count(), 0);
    page.searchField()->clear();
    page.selectHost(host->id());

    m.forge.server().setDelay(0);
    m.forge.override = [](const FakeForge::Request&) {
        return std::optional<FakeForge::Response>(FakeForge::webPage(502));
    };
    detail->reload();
    QTRY_VERIFY(detail->retryButton()->isVisible());
    QCOMPARE(detail->serverState()->text(),
             QStringLiteral("Forge error 502: Forge returned a web page instead of the API."));
    shoot(&page, QStringLiteral("host-detail-error"));
    m.forge.override = {};
    detail->retryButton()->click();
    QTRY_COMPARE(detail->serverTable()->isVisible(), true);

    // Disconnect asks first, naming the sites that deploy with the account.
    m.prompts.answers.push_back(QStringLiteral("Disconnect"));
    detail->disconnectButton()->click();
    QTRY_VERIFY2(m.services.store().hosts().isEmpty(),
                 qPrintable(QStringLiteral("%1 asked, %2 hosts, answer %3")
                                .arg(m.prompts.asked.size())
                                .arg(m.services.store().hosts().size())
                                .arg(m.prompts.answers.size())));
    QVERIFY(m.prompts.asked.last().text.contains(QStringLiteral("Shop keep their links")));
    QCOMPARE(site->forgeHostId(), host->id());
}

void DeployScreensTest::deployTabFromNothingToHistory()
{
    Machine m;
    QVERIFY(m.started && m.wiped);
    halvik::waitFor(
        m.services.hostAccounts().connect(HostProviderKind::forge, QStringLiteral("tok-screens")));
    auto site = std::make_shared<Site>(QStringLiteral("Shop"), QStringLiteral("/tmp/shop"));
    m.services.store().insertSite(site);
    DeployTab tab(m.services);
    tab.resize(900, 620);
    tab.setSite(site);
    tab.show();
    QCOMPARE(tab.page(), 0);
    shoot(&tab, QStringLiteral("deploy-tab-no-target"));

    tab.deployToForgeButton()->click();
    auto* sheet = tab.findChild<ForgeDeploySheet*>();
    QVERIFY(sheet);
    QCOMPARE(sheet->subtitle()->text(), QStringLiteral("Choose a Forge account and GitHub token."));
    QCOMPARE(sheet->repositoryField()->text(), QStringLiteral("shop"));
    // Without GitHub the first step can't go on.
    QVERIFY(!sheet->primaryButton()->isEnabled());
    shoot(sheet, QStringLiteral("deploy-sheet-connect"));
    // A site already on GitHub needs no new repository.
    site->setGithubRepo(QStringLiteral("octo/shop"));
    sheet->close();
    QTRY_VERIFY(!tab.findChild<ForgeDeploySheet*>());
    tab.deployToForgeButton()->click();
    sheet = tab.findChild<ForgeDeploySheet*>();
    QTRY_VERIFY(sheet && sheet->isVisible());
    QVERIFY(sheet->primaryButton()->isEnabled());
    sheet->advance();
    QCOMPARE(sheet->subtitle()->text(), QStringLiteral("Pick a server and domain."));
    QCOMPARE(sheet->domainField()->text(), QStringLiteral("shop.com"));
    QTRY_COMPARE(sheet->serverPicker()->count(), 2);
    sheet->serverPicker()->setCurrentIndex(1);
    shoot(sheet, QStringLiteral("deploy-sheet-target"));
    m.forge.statuses = {QStringLiteral("deploying"), QStringLiteral("finished")};
    sheet->advance();
    QCOMPARE(sheet->step(), ForgeDeploySheet::Step::progress);
    QCOMPARE(sheet->subtitle()->text(),
             QStringLiteral("Creating the repo, Forge site, and first deployment."));
    QTRY_COMPARE(sheet->message()->text(), QStringLiteral("Deployed."));
    shoot(sheet, QStringLiteral("deploy-sheet-progress"));
    sheet->close();

    QTRY_COMPARE(tab.page(), 1);
    QCOMPARE(site->forgeServerId(), 12);
    QCOMPARE(tab.history()->topLevelItemCount(), 1);
    QCOMPARE(tab.history()->topLevelItem(0)->text(2), QStringLiteral("finished"));
    QCOMPARE(tab.history()->topLevelItem(0)->text(3), QStringLiteral("web-2"));
    QVERIFY(tab.selectedLog()->text().contains(QStringLiteral("step 1 line 4")));
    // Switching appearance recolours the status, which was coloured for the old palette.
    applyColorScheme(ColorScheme::dark);
    QCoreApplication::processEvents();
    QCOMPARE(tab.history()->topLevelItem(0)->foreground(2).color(),
             semanticColor(Semantic::success, tab.history()->palette()));
    applyColorScheme(ColorScheme::light);
    QCoreApplication::processEvents();
    shoot(&tab, QStringLiteral("deploy-tab-history"));

    // Deploy now, followed live: Forge's output grows in place, never repeated.
    m.forge.statuses = {QStringLiteral("queued"), QStringLiteral("deploying"), QStringLiteral("deploying"),
                        QStringLiteral("finished")};
    m.forge.server().setDelay(150);
    tab.deployNowButton()->click();
    QVERIFY(!tab.deployNowButton()->isEnabled());
    QTRY_COMPARE(tab.runStatus()->text(), QStringLiteral("Forge: deploying"));
    shoot(&tab, QStringLiteral("deploy-tab-running"));
    QTRY_COMPARE(tab.runStatus()->text(), QStringLiteral("Deployed."));
    const QString live = tab.liveLog()->text();
    QCOMPARE(live.count(QStringLiteral("step 0 line 1")), 1);
    QVERIFY(live.endsWith(QStringLiteral("step 3 line 8")));
    QCOMPARE(tab.history()->topLevelItemCount(), 2);
}

HALVIK_TEST_MAIN(DeployScreensTest)
#include "tst_deployscreens.moc"
