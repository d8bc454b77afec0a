#include "SourceControlService.h"

#include "SourceControlErrors.h"

#include "async/FireAndForget.h"
#include "gitcore/GitCredentials.h"
#include "gitcore/GitHosts.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "models/SourceControlProviders.h"
#include "platform/AppDataDir.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace halvik {

namespace {

QString sourceControlKey(SourceControlProvider provider)
{
    return secretAccount(provider);
}

// Takes GitHub's entry out of Composer's auth.json, atomically and keeping mode 0600, and leaves
// every other credential there. An error text when the file could not be changed.
std::optional<QString> removeComposerGitHubAuth(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Couldn’t read %1.").arg(path);
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    file.close();
    if (!document.isObject())
        return QStringLiteral("%1 is not a JSON object.").arg(path);
    QJsonObject root = document.object();
    const QString section = QStringLiteral("github-oauth");
    QJsonObject github = root.value(section).toObject();
    if (!github.contains(gitcore::GitHosts::githubHost()))
        return std::nullopt;
    github.remove(gitcore::GitHosts::githubHost());
    if (github.isEmpty())
        root.remove(section);
    else
        root.insert(section, github);
    return writeFileAtomically(path, QJsonDocument(root).toJson(QJsonDocument::Indented),
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

class SourceControlService::Creator : public RemoteRepositoryCreator
{
public:
    explicit Creator(SourceControlService& service) : m_service(service) {}

    QCoro::Task<CreatedRemoteRepository> createRepository(SourceControlProvider provider, QString name,
                                                          bool isPrivate,
                                                          std::optional<QString> owner) override
    {
        const GitRemoteRepository repo =
            co_await m_service.createRepository(provider, name, isPrivate, owner);
        co_return CreatedRemoteRepository{repo.fullName, repo.cloneURL, repo.htmlURL};
    }
    std::optional<QString> token(SourceControlProvider provider) const override
    {
        return m_service.token(provider);
    }

private:
    SourceControlService& m_service;
};

SourceControlService::SourceControlService(SiteStore& store, SecretStore& secrets, ProcessRunner& runner,
                                           QObject* parent)
    : QObject(parent), m_store(store), m_secrets(secrets), m_runner(runner), m_githubCLI(runner),
      m_origin(runner), m_timing(GitHubClient::Timing::real()), m_creator(std::make_unique<Creator>(*this))
{
}

SourceControlService::~SourceControlService() = default;

std::optional<QString> SourceControlService::token(SourceControlProvider provider) const
{
    return m_secrets.get(sourceControlKey(provider));
}

bool SourceControlService::isConnected(SourceControlProvider provider) const
{
    return m_store.sourceControlAccount(provider).has_value();
}

QString SourceControlService::composerAuthPath()
{
    return AppDataDir::directory() + QStringLiteral("/composer/auth.json");
}

QByteArray SourceControlService::composerAuthText(const QString& token)
{
    const QString text = QStringLiteral("{\n    \"github-oauth\": {\n        \"%1\": \"%2\"\n    }\n}")
                             .arg(gitcore::GitHosts::githubHost(), token);
    return text.toUtf8();
}

void SourceControlService::upsertAccount(SourceControlProvider provider, const QString& login)
{
    SourceControlAccount account;
    account.provider = toRaw(provider);
    account.login = login;
    account.connectedAt = QDateTime::currentDateTimeUtc();
    m_store.upsertSourceControl(account);
    Q_EMIT accountsChanged();
}

QCoro::Task<> SourceControlService::connect(SourceControlProvider provider, QString token,
                                            std::optional<QString> username)
{
    if (provider == SourceControlProvider::origin) {
        co_await connectOrigin();
        co_return;
    }
    const LifeToken alive = m_life.token();
    token = token.trimmed();
    QString login;
    switch (provider) {
    case SourceControlProvider::github:
        login = co_await m_github.authenticatedUser(token);
        break;
    case SourceControlProvider::gitlab:
        login = co_await m_gitlab.authenticatedUser(token);
        break;
    case SourceControlProvider::bitbucket:
        login = co_await m_bitbucket.authenticatedUser(token, username);
        break;
    case SourceControlProvider::origin:
        break;
    }
    if (!alive)
        co_return;
    m_secrets.set(token, sourceControlKey(provider));
    if (provider == SourceControlProvider::github) {
        m_secrets.set(token, QLatin1String(legacyGitHubAccount));
        m_secrets.set(token, QLatin1String(composerGitHubAccount));
        const auto failure = writeFileAtomically(composerAuthPath(), composerAuthText(token),
                                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (failure)
            throw HalvikError(*failure);
    }
    upsertAccount(provider, login);
}

QCoro::Task<> SourceControlService::connectGitHubViaCLI(Progress progress, CancellationToken token)
{
    const LifeToken alive = m_life.token();
    if (!m_githubCLI.cliPath()) {
        if (progress)
            progress(QStringLiteral("Installing the GitHub CLI…"));
        co_await m_githubCLI.install();
        if (!alive)
            co_return;
        if (progress)
            progress(QStringLiteral("CLI installed. Sign in with GitHub."));
    }
    if (progress)
        progress(QStringLiteral("Waiting for GitHub…"));
    const QString signedIn = co_await m_githubCLI.login(token);
    if (!alive)
        co_return;
    co_await connect(SourceControlProvider::github, signedIn);
}

QCoro::Task<>
SourceControlService::connectGitHubViaDevice(QString clientID,
                                             std::function<void(const GitHubDeviceCode&)> showCode,
                                             Progress progress, CancellationToken token)
{
    const LifeToken alive = m_life.token();
    const GitHubDeviceCode code = co_await m_github.requestDeviceCode(clientID);
    if (!alive)
        co_return;
    if (showCode)
        showCode(code);
    const QString accessToken =
        co_await m_github.waitForDeviceToken(clientID, code, m_timing, progress, token);
    if (!alive)
        co_return;
    co_await connect(SourceControlProvider::github, accessToken);
}

QCoro::Task<> SourceControlService::connectOrigin(Progress progress, CancellationToken token)
{
    const LifeToken alive = m_life.token();
    if (!m_origin.cliPath()) {
        if (progress)
            progress(QStringLiteral("Installing the Origin CLI…"));
        co_await m_origin.install();
        if (!alive)
            co_return;
        if (progress)
            progress(QStringLiteral("CLI installed. Sign in with Cursor."));
    }
    if (progress)
        progress(QStringLiteral("Waiting for Cursor…"));
    const QString login = co_await m_origin.login(token);
    if (!alive)
        co_return;
    upsertAccount(SourceControlProvider::origin, login);
}

QCoro::Task<bool> SourceControlService::importGitHubFromCLIIfAvailable()
{
    const LifeToken alive = m_life.token();
    if (!m_githubCLI.cliPath())
        co_return false;
    try {
        const QString token = co_await m_githubCLI.token();
        if (!alive)
            co_return false;
        co_await connect(SourceControlProvider::github, token);
        co_return true;
    } catch (const std::exception&) {
        co_return false;
    }
}

void SourceControlService::disconnect(SourceControlProvider provider)
{
    m_store.removeSourceControl(provider);
    m_secrets.remove(sourceControlKey(provider));
    if (provider == SourceControlProvider::github) {
        m_secrets.remove(QLatin1String(legacyGitHubAccount));
        m_secrets.remove(QLatin1String(composerGitHubAccount));
        // Composer must stop using the token too; other credentials there stay.
        if (const auto failure = removeComposerGitHubAuth(composerAuthPath()))
            qCWarning(halvikLog).noquote()
                << QStringLiteral("Halvik composer auth update failed: ") + *failure;
    }
    if (provider == SourceControlProvider::origin && m_origin.cliPath())
        fireAndForget(this, m_origin.logout());
    Q_EMIT accountsChanged();
}

QCoro::Task<> SourceControlService::refreshOriginAccount()
{
    const LifeToken alive = m_life.token();
    try {
        const QString login = co_await m_origin.authenticatedUser();
        if (!alive)
            co_return;
        upsertAccount(SourceControlProvider::origin, login);
    } catch (const OriginClientError& error) {
        if (!alive || error.kind() != OriginClientError::Case::notLoggedIn)
            co_return;
        m_store.removeSourceControl(SourceControlProvider::origin);
        Q_EMIT accountsChanged();
    }
}

QCoro::Task<> SourceControlService::migrateLegacyGitHubIfNeeded()
{
    if (isConnected(SourceControlProvider::github) && token(SourceControlProvider::github))
        co_return;
    std::optional<QString> legacy = m_secrets.get(QLatin1String(legacyGitHubAccount));
    if (!legacy)
        legacy = m_secrets.get(QLatin1String(composerGitHubAccount));
    if (!legacy)
        co_return;
    try {
        co_await connect(SourceControlProvider::github, *legacy);
    } catch (const std::exception& error) {
        const QString description = [&error] {
            if (const auto* halvik = dynamic_cast<const HalvikError*>(&error))
                return halvik->description();
            return QString::fromUtf8(error.what());
        }();
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik GitHub token migrate failed: ") + description;
    }
}

QCoro::Task<GitRemoteRepository> SourceControlService::createRepository(SourceControlProvider provider,
                                                                        QString name, bool isPrivate,
                                                                        std::optional<QString> owner)
{
    if (provider == SourceControlProvider::origin)
        co_return co_await m_origin.createRepository(name);
    const auto secret = token(provider);
    if (!secret)
        throw SourceControlError::noAccount();
    const auto account = m_store.sourceControlAccount(provider);
    switch (provider) {
    case SourceControlProvider::github: {
        std::optional<QString> organization;
        const QString trimmed = owner.value_or(QString()).trimmed();
        const QString login = account ? account->login : QString();
        if (!trimmed.isEmpty() && trimmed.compare(login, Qt::CaseInsensitive) != 0)
            organization = trimmed;
        co_return co_await m_github.createRepository(name, isPrivate, organization, *secret);
    }
    case SourceControlProvider::gitlab:
        co_return co_await m_gitlab.createRepository(name, isPrivate, *secret);
    case SourceControlProvider::bitbucket: {
        std::optional<QString> login;
        if (account)
            login = account->login;
        co_return co_await m_bitbucket.createRepository(name, isPrivate, *secret, login);
    }
    case SourceControlProvider::origin:
        break;
    }
    throw SourceControlError::noAccount();
}

QString SourceControlService::gitUsername(SourceControlProvider provider) const
{
    switch (provider) {
    case SourceControlProvider::github:
        return QStringLiteral("x-access-token");
    case SourceControlProvider::gitlab:
        return QStringLiteral("oauth2");
    case SourceControlProvider::bitbucket: {
        const auto account = m_store.sourceControlAccount(provider);
        return account ? account->login : QStringLiteral("x-token-auth");
    }
    case SourceControlProvider::origin:
        break;
    }
    return {};
}

QMap<QString, QString> SourceControlService::gitCredentialEnvironment(const QString& remoteURL) const
{
    const auto provider = sourceControlProviderFromRemoteURL(remoteURL);
    if (!provider || *provider == SourceControlProvider::origin)
        return {};
    const auto secret = token(*provider);
    if (!secret)
        return {};
    const QString askpass = askpassPath();
    if (askpass.isEmpty())
        return {};
    return gitcore::GitCredentials::environment(remoteURL, gitUsername(*provider), *secret, askpass);
}

QString SourceControlService::askpassPath()
{
    const QString path = AppDataDir::directory() + QStringLiteral("/bin/git-askpass");
    const QByteArray script = gitcore::GitCredentials::askpassScript();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == script &&
        existing.permissions().testFlag(QFileDevice::ExeOwner))
        return path;
    const auto failure = writeFileAtomically(
        path, script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (failure) {
        qCWarning(halvikLog).noquote() << QStringLiteral("Halvik askpass write failed: ") + *failure;
        return {};
    }
    return path;
}

} // namespace halvik
