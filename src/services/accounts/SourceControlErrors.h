#pragma once

#include "async/HalvikError.h"

namespace halvik {

// The errors of the source-control clients; description() is the sentence shown to the person.

// "<provider> error <status>: <message>", or, when no answer came at all (status 0), that the
// provider could not be reached and the network's reason.
inline QString providerFailure(const char* provider, int status, const QString& message)
{
    if (status == 0) {
        QString reason = message.trimmed();
        if (reason.isEmpty())
            return QStringLiteral("%1 could not be reached.").arg(QLatin1String(provider));
        if (!reason.endsWith(QLatin1Char('.')))
            reason += QLatin1Char('.');
        return QStringLiteral("%1 could not be reached: %2").arg(QLatin1String(provider), reason);
    }
    return QStringLiteral("%1 error %2: %3").arg(QLatin1String(provider)).arg(status).arg(message);
}

class GitHubClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        devicePending,
        deviceSlowDown,
        deviceExpired,
        failed
    };

    static GitHubClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("GitHub rejected the token.")};
    }
    static GitHubClientError devicePending()
    {
        return {Case::devicePending, QStringLiteral("Waiting for GitHub authorization.")};
    }
    static GitHubClientError deviceSlowDown()
    {
        return {Case::deviceSlowDown, QStringLiteral("GitHub asked us to poll more slowly.")};
    }
    static GitHubClientError deviceExpired()
    {
        return {Case::deviceExpired, QStringLiteral("GitHub sign-in expired. Start again.")};
    }
    static GitHubClientError failed(int status, const QString& message)
    {
        return {Case::failed, providerFailure("GitHub", status, message), status};
    }

    Case kind() const { return m_case; }
    int status() const { return m_status; }

private:
    GitHubClientError(Case kind, QString text, int status = 0)
        : HalvikError(std::move(text)), m_case(kind), m_status(status)
    {
    }
    Case m_case;
    int m_status;
};

class GitLabClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        failed
    };
    static GitLabClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("GitLab rejected the token.")};
    }
    static GitLabClientError failed(int status, const QString& message)
    {
        return {Case::failed, providerFailure("GitLab", status, message)};
    }
    Case kind() const { return m_case; }

private:
    GitLabClientError(Case kind, QString text) : HalvikError(std::move(text)), m_case(kind) {}
    Case m_case;
};

class BitbucketClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        usernameRequired,
        failed
    };
    static BitbucketClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("Bitbucket rejected the token.")};
    }
    static BitbucketClientError usernameRequired()
    {
        return {Case::usernameRequired, QStringLiteral("Bitbucket app passwords need your username too.")};
    }
    static BitbucketClientError failed(int status, const QString& message)
    {
        return {Case::failed, providerFailure("Bitbucket", status, message)};
    }
    Case kind() const { return m_case; }

private:
    BitbucketClientError(Case kind, QString text) : HalvikError(std::move(text)), m_case(kind) {}
    Case m_case;
};

class GitHubCLIError : public HalvikError
{
public:
    enum class Case
    {
        cliMissing,
        notLoggedIn,
        failed
    };
    static GitHubCLIError cliMissing()
    {
        return {Case::cliMissing, QStringLiteral("The GitHub CLI isn’t installed. Halvik can install it with "
                                                 "Homebrew, or paste a personal access token.")};
    }
    static GitHubCLIError notLoggedIn()
    {
        return {Case::notLoggedIn,
                QStringLiteral("Not signed in to GitHub. Sign in with your GitHub account.")};
    }
    static GitHubCLIError failed(const QString& message) { return {Case::failed, message}; }
    Case kind() const { return m_case; }

private:
    GitHubCLIError(Case kind, QString text) : HalvikError(std::move(text)), m_case(kind) {}
    Case m_case;
};

class OriginClientError : public HalvikError
{
public:
    enum class Case
    {
        cliMissing,
        notLoggedIn,
        failed
    };
    static OriginClientError cliMissing()
    {
        return {Case::cliMissing, QStringLiteral("The Origin CLI isn’t installed. Halvik can install it from "
                                                 "Cursor’s Origin download site.")};
    }
    static OriginClientError notLoggedIn()
    {
        return {Case::notLoggedIn,
                QStringLiteral("Not signed in to Cursor Origin. Sign in with your Cursor account.")};
    }
    static OriginClientError failed(const QString& message) { return {Case::failed, message}; }
    Case kind() const { return m_case; }

private:
    OriginClientError(Case kind, QString text) : HalvikError(std::move(text)), m_case(kind) {}
    Case m_case;
};

class SourceControlError : public HalvikError
{
public:
    static SourceControlError noAccount() { return SourceControlError(); }

private:
    SourceControlError() : HalvikError(QStringLiteral("Connect a source control account first.")) {}
};

} // namespace halvik
