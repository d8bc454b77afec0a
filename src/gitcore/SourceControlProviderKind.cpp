#include "gitcore/SourceControlProviderKind.h"

#include "gitcore/GitHosts.h"

namespace halvik::gitcore {

QString SourceControlProviderKind::toRaw() const
{
    switch (m_value) {
    case github:
        return QStringLiteral("github");
    case gitlab:
        return QStringLiteral("gitlab");
    case bitbucket:
        return QStringLiteral("bitbucket");
    case origin:
        return QStringLiteral("origin");
    }
    return {};
}

std::optional<SourceControlProviderKind> SourceControlProviderKind::fromRaw(QStringView raw)
{
    for (Value value : {github, gitlab, bitbucket, origin}) {
        if (SourceControlProviderKind(value).toRaw() == raw)
            return SourceControlProviderKind(value);
    }
    return std::nullopt;
}

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
