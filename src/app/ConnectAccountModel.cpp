#include "ConnectAccountModel.h"

#include "async/HalvikError.h"
#include "gitcore/GitHosts.h"
#include "models/SiteStore.h"
#include "services/accounts/SourceControlService.h"

namespace halvik {

using gitcore::GitHosts;

namespace {

QString who(SourceControlProvider provider)
{
    return provider == SourceControlProvider::origin ? QStringLiteral("Cursor") : QStringLiteral("GitHub");
}

} // namespace

ConnectAccountModel::ConnectAccountModel(SourceControlService& service, QObject* parent)
    : QObject(parent), m_service(service)
{
    restState();
}

ConnectAccountModel::~ConnectAccountModel()
{
    m_cancel.cancel();
}

void ConnectAccountModel::cancel()
{
    m_cancel.cancel();
    m_cancel = CancellationSource();
}

void ConnectAccountModel::setProvider(SourceControlProvider provider)
{
    if (isBusy() || provider == m_provider)
        return;
    m_provider = provider;
    restState();
}

bool ConnectAccountModel::isBusy() const
{
    return m_state == State::installing || m_state == State::waiting || m_state == State::showingCode;
}

bool ConnectAccountModel::signsInWithBrowser() const
{
    return m_provider == SourceControlProvider::github || m_provider == SourceControlProvider::origin;
}

bool ConnectAccountModel::usesDeviceFlow() const
{
    return m_provider == SourceControlProvider::github && !GitHubOAuth::clientID().isEmpty();
}

bool ConnectAccountModel::needsCLI() const
{
    return m_provider == SourceControlProvider::origin ||
           (m_provider == SourceControlProvider::github && !usesDeviceFlow());
}

bool ConnectAccountModel::cliInstalled() const
{
    if (m_provider == SourceControlProvider::origin)
        return m_service.origin().cliPath().has_value();
    return m_service.githubCLI().cliPath().has_value();
}

QUrl ConnectAccountModel::tokenPage(SourceControlProvider provider)
{
    switch (provider) {
    case SourceControlProvider::github:
        return QUrl(
            GitHosts::githubWebRoot() +
            QStringLiteral("/settings/tokens/new?description=Halvik&scopes=repo,workflow,read:packages"));
    case SourceControlProvider::gitlab:
        return QUrl(GitHosts::gitlabWebRoot() + QStringLiteral("/-/user_settings/personal_access_tokens"));
    case SourceControlProvider::bitbucket:
        return QUrl(GitHosts::bitbucketWebRoot() + QStringLiteral("/account/settings/app-passwords/"));
    case SourceControlProvider::origin:
        return QUrl(GitHosts::cursorWebRoot() + QStringLiteral("/codebase"));
    }
    return {};
}

QString ConnectAccountModel::tokenHelp(SourceControlProvider provider)
{
    switch (provider) {
    case SourceControlProvider::gitlab:
        return QStringLiteral("Personal access token with the api scope.");
    case SourceControlProvider::bitbucket:
        return QStringLiteral("API token or app password. App passwords also need your Bitbucket username.");
    case SourceControlProvider::github:
        return QStringLiteral("A personal access token with the repo, workflow and read:packages scopes.");
    case SourceControlProvider::origin:
        break;
    }
    return {};
}

void ConnectAccountModel::setState(State state, QString status, QString detail)
{
    m_state = state;
    m_status = std::move(status);
    m_detail = std::move(detail);
    if (state != State::showingCode)
        m_userCode.clear();
    Q_EMIT changed();
}

void ConnectAccountModel::restState()
{
    if (needsCLI() && !cliInstalled()) {
        setState(State::cliMissing,
                 m_provider == SourceControlProvider::origin
                     ? QStringLiteral("The Origin CLI isn’t installed yet (`~/.local/bin/origin`).")
                     : QStringLiteral("The GitHub CLI isn’t installed yet (`gh`)."));
        return;
    }
    setState(State::idle, {});
}

void ConnectAccountModel::fail(const QString& sentence)
{
    setState(State::failed, sentence);
}

QCoro::Task<> ConnectAccountModel::install()
{
    if (isBusy())
        co_return;
    const LifeToken alive = m_life.token();
    const bool origin = m_provider == SourceControlProvider::origin;
    setState(State::installing, origin ? QStringLiteral("Installing the Origin CLI…")
                                       : QStringLiteral("Installing the GitHub CLI…"));
    try {
        if (origin)
            co_await m_service.origin().install();
        else
            co_await m_service.githubCLI().install();
        if (!alive)
            co_return;
        setState(State::installed, origin ? QStringLiteral("CLI installed. Sign in with Cursor.")
                                          : QStringLiteral("CLI installed. Sign in with GitHub."));
    } catch (const HalvikError& error) {
        if (alive)
            fail(error.description());
    }
}

QCoro::Task<> ConnectAccountModel::signIn()
{
    if (isBusy() || !signsInWithBrowser())
        co_return;
    const LifeToken alive = m_life.token();
    const SourceControlProvider provider = m_provider;
    const auto progress = [this, alive](const QString& line) {
        if (!alive)
            return;
        if (m_state == State::showingCode) {
            m_detail = line;
            Q_EMIT changed();
        } else if (line.startsWith(QLatin1String("Waiting for"))) {
            setState(State::waiting, line, QStringLiteral("Complete sign-in in the browser."));
        } else {
            setState(line.startsWith(QLatin1String("Installing")) ? State::installing : State::installed,
                     line);
        }
    };
    const auto showCode = [this, alive](const GitHubDeviceCode& code) {
        if (!alive)
            return;
        m_userCode = code.userCode;
        m_state = State::showingCode;
        m_status =
            QStringLiteral("Authorize Halvik in the browser. GitHub will show a short code to confirm.");
        m_detail = QStringLiteral("Waiting for authorization…");
        Q_EMIT changed();
        if (openURL)
            openURL(QUrl(code.verificationURI));
    };
    setState(State::waiting, QStringLiteral("Waiting for ") + who(provider) + QStringLiteral("…"),
             QStringLiteral("Complete sign-in in the browser."));
    try {
        if (provider == SourceControlProvider::origin)
            co_await m_service.connectOrigin(progress, m_cancel.token());
        else if (usesDeviceFlow())
            co_await m_service.connectGitHubViaDevice(GitHubOAuth::clientID(), showCode, progress,
                                                      m_cancel.token());
        else
            co_await m_service.connectGitHubViaCLI(progress, m_cancel.token());
        if (!alive)
            co_return;
        const auto account = m_service.store().sourceControlAccount(provider);
        m_login = account ? account->login : QString();
        setState(State::connected, QStringLiteral("Connected as @") + m_login);
    } catch (const HalvikError& error) {
        if (alive)
            fail(error.description());
    }
}

QCoro::Task<> ConnectAccountModel::connectToken(QString token, QString username)
{
    if (isBusy() || token.trimmed().isEmpty())
        co_return;
    const LifeToken alive = m_life.token();
    const SourceControlProvider provider = m_provider;
    setState(State::waiting, QStringLiteral("Checking the token…"));
    try {
        std::optional<QString> name;
        if (!username.trimmed().isEmpty())
            name = username.trimmed();
        co_await m_service.connect(provider, token, name);
        if (!alive)
            co_return;
        const auto account = m_service.store().sourceControlAccount(provider);
        m_login = account ? account->login : QString();
        setState(State::connected, QStringLiteral("Connected as @") + m_login);
    } catch (const HalvikError& error) {
        if (alive)
            fail(error.description());
    }
}

} // namespace halvik
