#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace halvik::gitcore {

// Reading Git remote URLs: provider slugs, browser links, and removing secrets before display.
class GitRemoteURL
{
public:
    // The URL without user name, password or token; an SSH "git@" user without password stays.
    static QString sanitize(const QString& url);

    // "owner/name" slugs. An scp-style remote keeps its whole path ("org/group/repo"); a URL
    // keeps its first two path parts.
    static std::optional<QString> githubRepo(const QString& url);
    static std::optional<QString> gitlabRepo(const QString& url);
    static std::optional<QString> bitbucketRepo(const QString& url);
    static std::optional<QString> originRepo(const QString& url);

    // Where the repository is seen in a browser.
    static std::optional<QUrl> webURL(const QString& url);
    static std::optional<QUrl> commitURL(const QString& remoteURL, const QString& sha);

    // Removes user names, passwords and tokens from every URL in any text.
    static QString redactSecrets(const QString& text);

private:
    static std::optional<QString> repo(const QString& url, const QStringList& hosts);
};

} // namespace halvik::gitcore
