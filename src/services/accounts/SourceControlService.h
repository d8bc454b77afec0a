#pragma once

#include "BitbucketClient.h"
#include "GitHubCLI.h"
#include "GitHubClient.h"
#include "GitLabClient.h"
#include "GitRemoteRepository.h"
#include "OriginClient.h"

#include "async/LifeGuard.h"
#include "models/Enums.h"
#include "services/git/RemoteRepositoryCreator.h"

#include <QCoroTask>
#include <QMap>
#include <QObject>

#include <functional>
#include <optional>

namespace halvik {

class ProcessRunner;
class SecretStore;
class SiteStore;

// Connected source-control accounts: verifies and keeps their tokens in the secret store,
// names them in the site store, creates repositories on the providers, and hands Git the
// token of a remote's provider for one network operation at a time. Main thread only.
class SourceControlService : public QObject
{
    Q_OBJECT
public:
    using Progress = std::function<void(const QString&)>;

    SourceControlService(SiteStore& store, SecretStore& secrets, ProcessRunner& runner,
                         QObject* parent = nullptr);
    ~SourceControlService() override;

    std::optional<QString> token(SourceControlProvider provider) const;
    bool isConnected(SourceControlProvider provider) const;

    QCoro::Task<> connect(SourceControlProvider provider, QString token,
                          std::optional<QString> username = std::nullopt);
    // `progress` hears "Installing the GitHub CLI…", "CLI installed. Sign in with GitHub." and
    // the waiting texts, as the sheet shows them.
    QCoro::Task<> connectGitHubViaCLI(Progress progress = {}, CancellationToken token = {});
    // The device sign-in: `showCode` receives the code to show and open, then the token is connected.
    QCoro::Task<> connectGitHubViaDevice(QString clientID,
                                         std::function<void(const GitHubDeviceCode&)> showCode,
                                         Progress progress = {}, CancellationToken token = {});
    QCoro::Task<> connectOrigin(Progress progress = {}, CancellationToken token = {});
    QCoro::Task<bool> importGitHubFromCLIIfAvailable();
    void disconnect(SourceControlProvider provider);
    QCoro::Task<> refreshOriginAccount();
    QCoro::Task<> migrateLegacyGitHubIfNeeded();
    QCoro::Task<GitRemoteRepository> createRepository(SourceControlProvider provider, QString name,
                                                      bool isPrivate,
                                                      std::optional<QString> owner = std::nullopt);

    // What Git needs in its environment to authenticate to `remoteURL` with the connected
    // account of its provider; empty when no account's token applies.
    QMap<QString, QString> gitCredentialEnvironment(const QString& remoteURL) const;
    // The askpass script Git runs (written on first use, mode 0700); empty when it can't be written.
    static QString askpassPath();
    // The user name Git presents with a provider's token.
    QString gitUsername(SourceControlProvider provider) const;

    // The Git workspace's view of this service.
    RemoteRepositoryCreator& remoteCreator() { return *m_creator; }

    SiteStore& store() { return m_store; }
    GitHubClient& github() { return m_github; }
    GitHubCLI& githubCLI() { return m_githubCLI; }
    OriginClient& origin() { return m_origin; }
    // The device sign-in's clock (tests move it themselves).
    void setDeviceTiming(GitHubClient::Timing timing) { m_timing = std::move(timing); }

    static QString composerAuthPath();
    // The exact text Composer reads: one github-oauth entry for GitHub's host.
    static QByteArray composerAuthText(const QString& token);

    static constexpr auto legacyGitHubAccount = "github.default";
    static constexpr auto composerGitHubAccount = "composer.github";

Q_SIGNALS:
    void accountsChanged();

private:
    class Creator;
    void upsertAccount(SourceControlProvider provider, const QString& login);

    SiteStore& m_store;
    SecretStore& m_secrets;
    ProcessRunner& m_runner;
    GitHubClient m_github;
    GitLabClient m_gitlab;
    BitbucketClient m_bitbucket;
    GitHubCLI m_githubCLI;
    OriginClient m_origin;
    GitHubClient::Timing m_timing;
    std::unique_ptr<RemoteRepositoryCreator> m_creator;
    LifeGuard m_life;
};

} // namespace halvik
