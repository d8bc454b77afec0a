#include "FakeApiServer.h"
#include "FakePrompts.h"
#include "GitSandbox.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "async/Sleep.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/ProcessRunner.h"
#include "services/accounts/SourceControlService.h"
#include "services/git/GitService.h"
#include "views/accounts/ConnectSheet.h"
#include "views/accounts/CreateRepositorySheet.h"
#include "views/accounts/RemoteRepositoryActions.h"
#include "views/accounts/SourceControlPage.h"
#include "views/common/Appearance.h"
#include "views/settings/SettingsWindow.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakeApiServer;
using Request = FakeApiServer::Request;
using Response = FakeApiServer::Response;

namespace {

class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QString& value) : m_name(name) { qputenv(name, value.toUtf8()); }
    ~ScopedEnv() { qunsetenv(m_name); }

private:
    const char* m_name;
};

void writeScript(const QString& path, const QByteArray& body)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void shoot(QWidget* widget, const QString& name)
{
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

// The accounts of one isolated machine, with GitHub's API played locally.
struct Accounts
{
    Accounts()
    {
        api.setHandler([this](const Request& r) {
            const QByteArray auth = r.header("authorization");
            if (r.path == QLatin1String("/user") && auth == "Bearer gho_cli")
                return Response::json(200, "{\"login\":\"octo\"}");
            if (r.path == QLatin1String("/api/v4/user") && auth == "Bearer glpat-good")
                return Response::json(200, "{\"username\":\"gina\"}");
            return Response::json(401, "{\"message\":\"Bad credentials\"}");
        });
        QVERIFY(api.start());
        qputenv("HALVIK_GITHUB_API", api.root().toUtf8());
        qputenv("HALVIK_GITLAB_URL", api.root().toUtf8());
    }
    ~Accounts()
    {
        qunsetenv("HALVIK_GITHUB_API");
        qunsetenv("HALVIK_GITLAB_URL");
    }

    QTemporaryDir dir;
    SecretStore secrets{dir.filePath(QStringLiteral("secrets.json"))};
    SiteStore store{secrets, dir.path()};
    ProcessRunner runner;
    SourceControlService service{store, secrets, runner};
    FakeApiServer api;
};

} // namespace

class AccountScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sectionShowsEachProvider();
    void connectSheetThroughTheGitHubCLI();
    void closingTheSheetStopsASignInInProgress();
    void connectSheetDeviceCode();
    void connectSheetTokens();
    void createRepositorySheet();
    void windowOpensTheRightSheet();
};

void AccountScreensTest::sectionShowsEachProvider()
{
    Accounts a;
    SourceControlPage page(a.service);
    page.resize(720, 460);
    page.show();
    for (const SourceControlProvider provider : allCases<SourceControlProvider>()) {
        QCOMPARE(page.statusLabel(provider)->text(), QStringLiteral("Not connected"));
        QCOMPARE(page.connectButton(provider)->text(), QStringLiteral("Connect"));
        QVERIFY(!page.disconnectButton(provider)->isVisible());
    }
    shoot(&page, QStringLiteral("source-control-empty"));

    a.secrets.set(QStringLiteral("gho_cli"), QStringLiteral("sourceControl.github"));
    a.store.upsertSourceControl(
        {QStringLiteral("github"), QStringLiteral("octo"), QDateTime::currentDateTimeUtc()});
    a.store.upsertSourceControl(
        {QStringLiteral("origin"), QStringLiteral("dev.user"), QDateTime::currentDateTimeUtc()});
    QCOMPARE(page.statusLabel(SourceControlProvider::github)->text(), QStringLiteral("Connected as @octo"));
    QCOMPARE(page.connectButton(SourceControlProvider::github)->text(), QStringLiteral("Reconnect"));
    QVERIFY(page.disconnectButton(SourceControlProvider::origin)->isVisible());
    shoot(&page, QStringLiteral("source-control-connected"));

    page.disconnectButton(SourceControlProvider::github)->click();
    QCOMPARE(page.statusLabel(SourceControlProvider::github)->text(), QStringLiteral("Not connected"));
    QVERIFY(!a.secrets.get(QStringLiteral("sourceControl.github")));

    page.connectButton(SourceControlProvider::gitlab)->click();
    QTRY_VERIFY(page.openSheet() && page.openSheet()->isVisible());
    QCOMPARE(page.openSheet()->providerPicker()->currentText(), QStringLiteral("GitLab"));
    page.openSheet()->reject();
    QTRY_VERIFY(!page.openSheet());
}

void AccountScreensTest::connectSheetThroughTheGitHubCLI()
{
    Accounts a;
    QTemporaryDir tools;
    const QString gh = tools.filePath(QStringLiteral("bin/gh"));
    const QString brew = tools.filePath(QStringLiteral("brew"));
    const QString gate = tools.filePath(QStringLiteral("gate"));
    const QString signedIn = tools.filePath(QStringLiteral("signed-in"));
    a.service.githubCLI().setCandidates({gh}, false);
    a.service.githubCLI().setBrewCandidates({brew});
    // Both tools wait for the test to open the gate, so each state can be seen.
    const QByteArray wait =
        "while [ ! -f '" + gate.toUtf8() + "' ]; do sleep 0.05; done\nrm -f '" + gate.toUtf8() + "'\n";
    const QByteArray ghScript = "if [ \"$1 $2\" = 'auth token' ]; then [ -f '" + signedIn.toUtf8() +
                                "' ] && { echo gho_cli; exit 0; }; exit 1; fi\n" + wait + "touch '" +
                                signedIn.toUtf8() + "'\n";
    writeScript(brew, wait + "mkdir -p '" + QFileInfo(gh).path().toUtf8() + "'\nprintf '%s' '#!/bin/sh\n" +
                          QByteArray(ghScript).replace("'", "'\\''") + "' > '" + gh.toUtf8() +
                          "'\nchmod +x '" + gh.toUtf8() + "'\n");
    const auto openGate = [&gate] {
        QFile file(gate);
        QVERIFY(file.open(QIODevice::WriteOnly));
    };

    ConnectSheet sheet(a.service, SourceControlProvider::github);
    sheet.show();
    using State = ConnectAccountModel::State;
    QCOMPARE(sheet.model().state(), State::cliMissing);
    QCOMPARE(sheet.model().statusText(), QStringLiteral("The GitHub CLI isn’t installed yet (`gh`)."));
    QVERIFY(sheet.installButton()->isVisible());
    QVERIFY(!sheet.signInButton()->isEnabled());
    QCOMPARE(sheet.signInButton()->text(), QStringLiteral("Sign in with GitHub"));
    QVERIFY(sheet.linkLabel()->text().contains(
        QStringLiteral("/settings/tokens/new?description=Halvik&amp;scopes=repo,workflow,read:packages")));
    shoot(&sheet, QStringLiteral("connect-github-cli-missing"));

    sheet.installButton()->click();
    QCOMPARE(sheet.model().statusText(), QStringLiteral("Installing the GitHub CLI…"));
    QVERIFY(!sheet.providerPicker()->isEnabled());
    shoot(&sheet, QStringLiteral("connect-github-installing"));
    openGate();
    QTRY_COMPARE_WITH_TIMEOUT(sheet.model().state(), State::installed, 20000);
    QCOMPARE(sheet.model().statusText(), QStringLiteral("CLI installed. Sign in with GitHub."));
    QVERIFY(sheet.signInButton()->isEnabled());

    sheet.signInButton()->click();
    QTRY_COMPARE(sheet.model().statusText(), QStringLiteral("Waiting for GitHub…"));
    QCOMPARE(sheet.model().detailText(), QStringLiteral("Complete sign-in in the browser."));
    shoot(&sheet, QStringLiteral("connect-github-waiting"));
    openGate();
    QTRY_COMPARE_WITH_TIMEOUT(sheet.model().state(), State::connected, 20000);
    QCOMPARE(sheet.statusLabel()->text(), QStringLiteral("Connected as @octo"));
    QCOMPARE(a.store.sourceControlAccount(SourceControlProvider::github)->login, QStringLiteral("octo"));
    shoot(&sheet, QStringLiteral("connect-github-connected"));
}

void AccountScreensTest::closingTheSheetStopsASignInInProgress()
{
    Accounts a;
    QTemporaryDir tools;
    const QString gh = tools.filePath(QStringLiteral("gh"));
    const QString pidFile = tools.filePath(QStringLiteral("pid"));
    // Not signed in yet; the browser sign-in never finishes on its own.
    writeScript(gh, "if [ \"$1 $2\" = 'auth token' ]; then exit 1; fi\necho $$ > '" + pidFile.toUtf8() +
                        "'\nsleep 60\n");
    a.service.githubCLI().setCandidates({gh}, false);

    auto* sheet = new ConnectSheet(a.service, SourceControlProvider::github);
    sheet->setAttribute(Qt::WA_DeleteOnClose, false);
    sheet->show();
    sheet->signInButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, 10000);
    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const pid_t pid = file.readAll().trimmed().toInt();
    QVERIFY(pid > 0 && ::kill(pid, 0) == 0);

    sheet->reject();
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 5000);
    QTRY_VERIFY(sheet->model().state() != ConnectAccountModel::State::waiting);
    QVERIFY(!a.store.sourceControlAccount(SourceControlProvider::github));
    delete sheet;
}

void AccountScreensTest::connectSheetDeviceCode()
{
    Accounts a;
    bool authorized = false;
    FakeApiServer web([&authorized](const Request& r) {
        if (r.path == QLatin1String("/login/device/code"))
            return Response::json(200,
                                  "{\"device_code\":\"d\",\"user_code\":\"WDJB-MJHT\",\"verification_uri\":"
                                  "\"https://github.com/login/device\",\"interval\":5,\"expires_in\":900}");
        return Response::json(200, authorized ? QByteArray("{\"access_token\":\"gho_cli\"}")
                                              : QByteArray("{\"error\":\"authorization_pending\"}"));
    });
    QVERIFY(web.start());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", web.root());
    const ScopedEnv client("HALVIK_GITHUB_CLIENT_ID", QStringLiteral("Iv1.test"));
    // Real waiting, but short: the clock moves five seconds for every few milliseconds.
    auto now = std::make_shared<QDateTime>(QDateTime::currentDateTimeUtc());
    GitHubClient::Timing timing;
    timing.now = [now] { return *now; };
    timing.sleep = [now](std::chrono::seconds seconds) -> QCoro::Task<> {
        *now = now->addSecs(seconds.count());
        co_await halvik::sleepFor(std::chrono::milliseconds(20));
    };
    a.service.setDeviceTiming(timing);
    QList<QUrl> opened;
    ConnectSheet::urlOpener() = [&opened](const QUrl& url) { opened << url; };

    ConnectSheet sheet(a.service, SourceControlProvider::github);
    sheet.show();
    QCOMPARE(sheet.model().state(), ConnectAccountModel::State::idle);
    QVERIFY(sheet.signInButton()->isEnabled());
    sheet.signInButton()->click();
    QTRY_COMPARE(sheet.codeLabel()->text(), QStringLiteral("WDJB-MJHT"));
    QCOMPARE(sheet.model().statusText(),
             QStringLiteral("Authorize Halvik in the browser. GitHub will show a short code to confirm."));
    QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://github.com/login/device"))}));
    QTRY_COMPARE(sheet.model().detailText(), QStringLiteral("Waiting for authorization…"));
    shoot(&sheet, QStringLiteral("connect-github-device-code"));
    authorized = true;
    QTRY_COMPARE(sheet.model().state(), ConnectAccountModel::State::connected);
    QCOMPARE(a.secrets.get(QStringLiteral("sourceControl.github")),
             std::optional<QString>(QStringLiteral("gho_cli")));
    ConnectSheet::urlOpener() = [](const QUrl&) {};
}

void AccountScreensTest::connectSheetTokens()
{
    Accounts a;
    ConnectSheet sheet(a.service, SourceControlProvider::gitlab);
    sheet.show();
    QVERIFY(!sheet.signInButton()->isVisible());
    QCOMPARE(sheet.tokenHelpLabel()->text(), QStringLiteral("Personal access token with the api scope."));
    QVERIFY(!sheet.usernameField()->isVisible());
    QVERIFY(!sheet.connectButton()->isEnabled());
    shoot(&sheet, QStringLiteral("connect-gitlab"));

    QTest::keyClicks(sheet.tokenField(), QStringLiteral("glpat-wrong"));
    sheet.connectButton()->click();
    QTRY_COMPARE(sheet.model().state(), ConnectAccountModel::State::failed);
    QCOMPARE(sheet.statusLabel()->text(), QStringLiteral("GitLab rejected the token."));
    QVERIFY(a.store.sourceControlAccounts().isEmpty());
    shoot(&sheet, QStringLiteral("connect-gitlab-error"));
    sheet.tokenField()->setText(QStringLiteral("glpat-good"));
    sheet.connectButton()->click();
    QTRY_COMPARE(sheet.statusLabel()->text(), QStringLiteral("Connected as @gina"));

    sheet.providerPicker()->setCurrentIndex(2);
    QCOMPARE(sheet.model().provider(), SourceControlProvider::bitbucket);
    QCOMPARE(sheet.tokenHelpLabel()->text(),
             QStringLiteral("API token or app password. App passwords also need your Bitbucket username."));
    QVERIFY(sheet.usernameField()->isVisible());
    QVERIFY(sheet.tokenField()->text().isEmpty());
    QCOMPARE(sheet.tokenField()->echoMode(), QLineEdit::Password);
    shoot(&sheet, QStringLiteral("connect-bitbucket"));

    // Origin without its CLI: the install it needs comes first.
    sheet.model().setProvider(SourceControlProvider::origin);
    a.service.origin().setCandidates({a.dir.filePath(QStringLiteral("no-origin"))});
    sheet.providerPicker()->setCurrentIndex(0);
    sheet.providerPicker()->setCurrentIndex(3);
    QCOMPARE(sheet.model().statusText(),
             QStringLiteral("The Origin CLI isn’t installed yet (`~/.local/bin/origin`)."));
    QVERIFY(sheet.installButton()->isVisible());
    QVERIFY(!sheet.tokenField()->isVisible());
    QCOMPARE(sheet.signInButton()->text(), QStringLiteral("Sign in with Cursor"));
    shoot(&sheet, QStringLiteral("connect-origin-cli-missing"));
}

void AccountScreensTest::createRepositorySheet()
{
    test::GitSandbox box;
    test::GitSandbox::configureIdentity();
    const QString projects = box.path(QStringLiteral("served"));
    QDir().mkpath(projects);
    QByteArray password = "not-yet";
    int accepted = 0;
    FakeApiServer gitServer;
    gitServer.setHandler(
        [&](const Request& r) { return test::gitHttpBackend(projects, password, &accepted)(r); });
    QVERIFY(gitServer.start());
    Accounts a;
    QWidget* shown = nullptr;
    a.api.setHandler([&](const Request& r) {
        if (r.path == QLatin1String("/orgs/acme/repos") || r.path == QLatin1String("/user/repos")) {
            if (shown)
                shoot(shown, QStringLiteral("create-repository-creating"));
            box.git(projects, {QStringLiteral("init"), QStringLiteral("--bare"), QStringLiteral("-b"),
                               QStringLiteral("main"), QStringLiteral("acme/my-site.git")});
            return Response::json(
                201, QStringLiteral("{\"full_name\":\"acme/my-site\",\"clone_url\":\"%1/acme/my-site.git\"}")
                         .arg(gitServer.root())
                         .toUtf8());
        }
        return Response::json(401, "{}");
    });
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", gitServer.root());
    a.secrets.set(QStringLiteral("gho_sheet"), QStringLiteral("sourceControl.github"));
    a.store.upsertSourceControl(
        {QStringLiteral("github"), QStringLiteral("octo"), QDateTime::currentDateTimeUtc()});

    const QString repo = box.makeRepo(QStringLiteral("my site"), {{QStringLiteral("index.php"), "<?php\n"}});
    GitService git(a.runner);
    git.setCredentialSource([&a](const QString& url) { return a.service.gitCredentialEnvironment(url); });
    test::FakePrompts prompts;
    const SitePtr site = std::make_shared<Site>(QStringLiteral("My Site"), repo);
    GitWorkspace workspace(git, a.store, prompts, site);
    workspace.setRemoteCreator(&a.service.remoteCreator());

    {
        CreateRepositorySheet sheet(workspace, a.service, SourceControlProvider::github);
        sheet.show();
        shown = &sheet;
        QCOMPARE(sheet.windowTitle(), QStringLiteral("Create GitHub repository"));
        QCOMPARE(sheet.nameField()->text(), QStringLiteral("My-Site"));
        QCOMPARE(sheet.ownerField()->text(), QStringLiteral("octo"));
        QVERIFY(sheet.privateButton()->isChecked());
        QCOMPARE(sheet.primaryButton()->text(), QStringLiteral("Create and push"));
        shoot(&sheet, QStringLiteral("create-repository"));

        sheet.ownerField()->setText(QStringLiteral("-acme"));
        QVERIFY(sheet.validationLabel()->isVisible());
        QVERIFY(!sheet.primaryButton()->isEnabled());
        sheet.nameField()->setText(QStringLiteral("my site"));
        shoot(&sheet, QStringLiteral("create-repository-invalid"));
        sheet.ownerField()->setText(QStringLiteral("acme"));
        sheet.nameField()->setText(QStringLiteral("my-site"));
        QVERIFY(sheet.primaryButton()->isEnabled());

        // The server refuses this token: the repository is made, the push fails, and only the
        // push is offered again.
        sheet.primaryButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(sheet.offersRetry(), 30000);
        QCOMPARE(sheet.primaryButton()->text(), QStringLiteral("Retry push"));
        QVERIFY(!sheet.noticeLabel()->text().isEmpty());
        QVERIFY(!sheet.noticeLabel()->text().contains(QStringLiteral("gho_sheet")));
        QCOMPARE(accepted, 0);
        shown = nullptr;
        shoot(&sheet, QStringLiteral("create-repository-push-failed"));

        password = "gho_sheet";
        sheet.primaryButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isVisible(), 30000);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QVERIFY(accepted > 0);
    }
    QCOMPARE(box.git(projects + QStringLiteral("/acme/my-site.git"),
                     {QStringLiteral("rev-parse"), QStringLiteral("main")}),
             box.git(repo, {QStringLiteral("rev-parse"), QStringLiteral("HEAD")}));
    QVERIFY(QFile::exists(halvik::test::screenshotDir() +
                          QStringLiteral("/create-repository-creating-light.png")));

    CreateRepositorySheet again(workspace, a.service, SourceControlProvider::github);
    again.show();
    QVERIFY(!again.primaryButton()->isVisible());
    shoot(&again, QStringLiteral("create-repository-has-remote"));

    QTRY_VERIFY(workspace.loadsInFlight() == 0);
}

namespace {

template <typename T> T* openWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(widget); found && found->isVisible())
            return found;
    return nullptr;
}

} // namespace

void AccountScreensTest::windowOpensTheRightSheet()
{
    test::GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    SecretStore secrets(box.path(QStringLiteral("secrets.json")));
    test::FakePrompts prompts;
    AppServices services(secrets, prompts);
    QWidget window;
    const SitePtr site = std::make_shared<Site>(QStringLiteral("site"), repo);

    // No account yet: connecting comes first.
    openCreateRepository(services, site, &window);
    QTRY_VERIFY(openWindow<ConnectSheet>());
    openWindow<ConnectSheet>()->close();
    QTRY_VERIFY(!openWindow<ConnectSheet>());

    services.store().upsertSourceControl(
        {QStringLiteral("gitlab"), QStringLiteral("gina"), QDateTime::currentDateTimeUtc()});
    openCreateRepository(services, site, &window);
    QTRY_VERIFY(openWindow<CreateRepositorySheet>());
    auto* sheet = openWindow<CreateRepositorySheet>();
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Create GitLab repository"));
    QVERIFY(!sheet->ownerField()->isVisible());
    QPointer<GitWorkspace> workspace = window.findChild<GitWorkspace*>();
    QVERIFY(workspace);
    QTRY_VERIFY(workspace->loadsInFlight() == 0);
    sheet->close();
    QTRY_VERIFY(!workspace);

    // The same section is a tab of the settings window.
    SettingsWindow settings(services);
    QTabWidget* tabs = settings.tabs();
    const int index = tabs->count() - 1;
    QCOMPARE(tabs->tabText(index), QStringLiteral("Source Control"));
    tabs->setCurrentIndex(index);
    settings.show();
    auto* page = tabs->widget(index)->findChild<QLabel*>(QStringLiteral("status-gitlab"));
    QVERIFY(page);
    QCOMPARE(page->text(), QStringLiteral("Connected as @gina"));
    shoot(&settings, QStringLiteral("settings-source-control"));
}

HALVIK_TEST_MAIN(AccountScreensTest)
#include "tst_accountscreens.moc"
