#include "gitcore/GitRemoteURL.h"

#include "gitcore/GitHosts.h"
#include "gitcore/Redactor.h"
#include "gitcore/SourceControlProviderKind.h"

#include <QRegularExpression>

namespace halvik::gitcore {

namespace {

QString withoutGitSuffix(QString text)
{
    if (text.endsWith(QLatin1String(".git")))
        text.chop(4);
    return text;
}

bool hostMatches(const QString& host, const QStringList& hosts)
{
    for (const QString& candidate : hosts) {
        if (!candidate.isEmpty() && host.contains(candidate))
            return true;
    }
    return false;
}

// For "git@host:path": the lower-cased host and the path, or nothing for other forms.
std::optional<std::pair<QString, QString>> scpParts(const QString& text)
{
    if (!text.startsWith(QLatin1String("git@")))
        return std::nullopt;
    const qsizetype colon = text.indexOf(QLatin1Char(':'), 4);
    if (colon < 0)
        return std::nullopt;
    return std::pair{text.mid(4, colon - 4).toLower(), text.mid(colon + 1)};
}

QStringList pathParts(const QUrl& url)
{
    return url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

std::optional<QUrl> joined(const QString& root, const QString& tail)
{
    const QUrl url(root + tail);
    return url.isValid() ? std::optional<QUrl>(url) : std::nullopt;
}

} // namespace

namespace {

QString sanitizeOnce(QString text)
{
    const QUrl parsed(text, QUrl::StrictMode);
    if (parsed.isValid() && !parsed.host().isEmpty() &&
        (!parsed.userName().isEmpty() || !parsed.password().isEmpty())) {
        const QString scheme = parsed.scheme().isEmpty() ? QStringLiteral("https") : parsed.scheme();
        text = scheme + QLatin1String("://") + parsed.host(QUrl::FullyEncoded);
        if (parsed.port() != -1)
            text += QLatin1Char(':') + QString::number(parsed.port());
        text += parsed.path(QUrl::FullyEncoded);
    }
    // Whatever the URL parser did not understand: drop a credential in the authority part.
    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        const qsizetype start = schemeEnd + 3;
        // The user part ends at the last "@" before the path: a password may itself hold an "@".
        const qsizetype slash = text.indexOf(QLatin1Char('/'), start);
        const qsizetype at = text.lastIndexOf(QLatin1Char('@'), slash < 0 ? -1 : slash - 1);
        if (at >= start) {
            const QString userInfo = text.mid(start, at - start).toLower();
            if (userInfo.contains(QLatin1Char(':')) || userInfo.contains(QLatin1String("token")) ||
                userInfo.contains(QLatin1String("oauth")))
                text.remove(start, at - start + 1);
        }
    }
    return text;
}

} // namespace

QString GitRemoteURL::sanitize(const QString& url)
{
    // Removing one credential can make the rest parse as a URL that carries another, so repeat
    // until nothing changes. A round that changes the text removes at least one "@", so it ends.
    QString text = url.trimmed();
    for (QString next = sanitizeOnce(text); next != text; next = sanitizeOnce(text))
        text = next;
    return text;
}

std::optional<QString> GitRemoteURL::repo(const QString& url, const QStringList& hosts)
{
    const QString text = withoutGitSuffix(url.trimmed());
    if (const auto scp = scpParts(text); scp && hostMatches(scp->first, hosts))
        return scp->second.isEmpty() ? std::nullopt : std::optional<QString>(scp->second);
    const QUrl parsed(text);
    // A configured host may carry a port ("127.0.0.1:8080"): compare it with the URL's own.
    QString host = parsed.host().toLower();
    if (parsed.port() != -1)
        host += QLatin1Char(':') + QString::number(parsed.port());
    if (!parsed.isValid() || !hostMatches(host, hosts))
        return std::nullopt;
    const QStringList parts = pathParts(parsed);
    if (parts.size() < 2)
        return std::nullopt;
    return parts[0] + QLatin1Char('/') + parts[1];
}

std::optional<QString> GitRemoteURL::githubRepo(const QString& url)
{
    return repo(sanitize(url), {GitHosts::githubHost()});
}

std::optional<QString> GitRemoteURL::gitlabRepo(const QString& url)
{
    return repo(sanitize(url), {GitHosts::gitlabHost()});
}

std::optional<QString> GitRemoteURL::bitbucketRepo(const QString& url)
{
    return repo(sanitize(url), {GitHosts::bitbucketHost()});
}

std::optional<QString> GitRemoteURL::originRepo(const QString& url)
{
    const QString text = withoutGitSuffix(sanitize(url));
    const QString originHost = GitHosts::originGitHost();
    if (const auto scp = scpParts(text); scp && scp->first.contains(originHost)) {
        if (!scp->second.isEmpty())
            return scp->second;
    }
    const QUrl parsed(text);
    if (!parsed.isValid())
        return std::nullopt;
    QString host = parsed.host().toLower();
    const bool onOriginHost = !host.isEmpty() && host.contains(originHost);
    if (parsed.port() != -1)
        host += QLatin1Char(':') + QString::number(parsed.port());
    const bool onCodebasePage = !host.isEmpty() && host.contains(GitHosts::cursorWebDomain()) &&
                                parsed.path().contains(QLatin1String("/codebase/"));
    if (!onOriginHost && !onCodebasePage)
        return std::nullopt;
    QStringList parts = pathParts(parsed);
    parts.removeAll(QStringLiteral("codebase"));
    if (parts.size() < 2)
        return std::nullopt;
    return parts[0] + QLatin1Char('/') + parts[1];
}

std::optional<QUrl> GitRemoteURL::webURL(const QString& url)
{
    if (const auto slug = githubRepo(url))
        return joined(GitHosts::githubWebRoot(), QLatin1Char('/') + *slug);
    if (const auto slug = originRepo(url))
        return joined(GitHosts::cursorWebRoot(), QLatin1String("/codebase/") + *slug);
    if (const auto slug = gitlabRepo(url))
        return joined(GitHosts::gitlabWebRoot(), QLatin1Char('/') + *slug);
    if (const auto slug = bitbucketRepo(url))
        return joined(GitHosts::bitbucketWebRoot(), QLatin1Char('/') + *slug);
    const QString sanitized = sanitize(url);
    const QUrl parsed(sanitized, QUrl::StrictMode);
    if (parsed.isValid() && sanitized.startsWith(QLatin1String("https:")) &&
        parsed.scheme() == QLatin1String("https"))
        return parsed;
    return std::nullopt;
}

std::optional<QUrl> GitRemoteURL::commitURL(const QString& remoteURL, const QString& sha)
{
    const auto base = webURL(remoteURL);
    if (!base)
        return std::nullopt;
    QString separator = QStringLiteral("/commit/");
    if (const auto provider = SourceControlProviderKind::fromRemoteURL(remoteURL)) {
        if (*provider == SourceControlProviderKind::gitlab)
            separator = QStringLiteral("/-/commit/");
        else if (*provider == SourceControlProviderKind::bitbucket)
            separator = QStringLiteral("/commits/");
    }
    QString root = base->toString(QUrl::FullyEncoded);
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return QUrl(root + separator + sha);
}

QString GitRemoteURL::redactSecrets(const QString& text)
{
    return Redactor::redact(text);
}

} // namespace halvik::gitcore
