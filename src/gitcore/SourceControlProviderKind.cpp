#include "gitcore/SourceControlProviderKind.h"

#include "gitcore/GitHosts.h"

namespace halvik::gitcore {

std::optional<SourceControlProviderKind> SourceControlProviderKind::fromRemoteURL(const QString& remoteURL)
{
    const QString url = remoteURL.toLower();
    if (url.contains(GitHosts::originGitHost()) ||
        url.contains(GitHosts::cursorWebDomain() + QLatin1String("/codebase")))
        return SourceControlProviderKind(origin);
    if (url.contains(GitHosts::githubHost()))
        return SourceControlProviderKind(github);
    if (url.contains(GitHosts::gitlabHost()))
        return SourceControlProviderKind(gitlab);
    if (url.contains(GitHosts::bitbucketHost()))
        return SourceControlProviderKind(bitbucket);
    return std::nullopt;
}

} // namespace halvik::gitcore
