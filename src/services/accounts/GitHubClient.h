#pragma once

#include "GitRemoteRepository.h"

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QDateTime>
#include <QNetworkAccessManager>

#include <chrono>
#include <functional>
#include <optional>

namespace halvik {

// GitHub's web API (the API host) and its device sign-in (the web host).
class GitHubClient
{
public:
    // How the device sign-in waits; tests replace both with a clock they move themselves.
    struct Timing
    {
        std::function<QDateTime()> now;
        std::function<QCoro::Task<>(std::chrono::seconds)> sleep;
        static Timing real();
    };

    static constexpr auto deviceScope = "repo workflow read:user read:packages";

    QCoro::Task<QString> authenticatedUser(QString token);
    QCoro::Task<GitRemoteRepository> createRepository(QString name, bool isPrivate,
                                                      std::optional<QString> organization, QString token);
    QCoro::Task<GitHubDeviceCode> requestDeviceCode(QString clientID);
    // Throws devicePending / deviceSlowDown while the person has not finished.
    QCoro::Task<QString> pollAccessToken(QString clientID, QString deviceCode);
    // Polls until the person authorised the code, the code expired or GitHub refused;
    // `progress` receives "Waiting for authorization…" and "Still waiting…". Cancelling `token`
    // ends the wait after the current sleep.
    QCoro::Task<QString> waitForDeviceToken(QString clientID, GitHubDeviceCode code, Timing timing,
                                            std::function<void(const QString&)> progress = {},
                                            CancellationToken token = {});

    static bool isValidOrganization(const QString& name);

private:
    QNetworkAccessManager m_manager;
};

// The OAuth application Halvik signs in with: HALVIK_GITHUB_CLIENT_ID, else the preferences
// file's "prefs.githubOAuthClientID". None is built in; without one the GitHub CLI is used.
namespace GitHubOAuth {
QString clientID();
}

} // namespace halvik
