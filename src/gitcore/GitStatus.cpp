#include "gitcore/GitStatus.h"

#include "gitcore/GitHosts.h"
#include "gitcore/GitRemoteURL.h"

#include <algorithm>

namespace halvik::gitcore {

std::optional<QString> GitStatus::displayRemoteURL() const
{
    if (!remoteURL)
        return std::nullopt;
    return GitRemoteURL::sanitize(*remoteURL);
}

std::optional<QString> GitStatus::githubRepo() const
{
    return remoteURL ? GitRemoteURL::githubRepo(*remoteURL) : std::nullopt;
}

std::optional<QUrl> GitStatus::githubURL() const
{
    const auto slug = githubRepo();
    if (!slug)
        return std::nullopt;
    return QUrl(GitHosts::githubWebRoot() + QLatin1Char('/') + *slug);
}

std::optional<QString> GitStatus::originRepo() const
{
    return remoteURL ? GitRemoteURL::originRepo(*remoteURL) : std::nullopt;
}

std::optional<QUrl> GitStatus::originURL() const
{
    const auto slug = originRepo();
    if (!slug)
        return std::nullopt;
    return QUrl(GitHosts::cursorWebRoot() + QLatin1String("/codebase/") + *slug);
}

std::optional<SourceControlProviderKind> GitStatus::remoteProvider() const
{
    return remoteURL ? SourceControlProviderKind::fromRemoteURL(*remoteURL) : std::nullopt;
}

std::optional<QUrl> GitStatus::remoteWebURL() const
{
    return remoteURL ? GitRemoteURL::webURL(*remoteURL) : std::nullopt;
}

std::optional<QString> GitStatus::remoteDisplayName() const
{
    if (!remoteURL)
        return std::nullopt;
    if (auto slug = GitRemoteURL::githubRepo(*remoteURL))
        return slug;
    if (auto slug = GitRemoteURL::originRepo(*remoteURL))
        return slug;
    if (auto slug = GitRemoteURL::gitlabRepo(*remoteURL))
        return slug;
    if (auto slug = GitRemoteURL::bitbucketRepo(*remoteURL))
        return slug;
    return GitRemoteURL::sanitize(*remoteURL);
}

bool GitStatusParseResult::hasUnmerged() const
{
    return std::any_of(files.cbegin(), files.cend(),
                       [](const GitChangedFile& file) { return file.isConflicted; });
}

} // namespace halvik::gitcore
