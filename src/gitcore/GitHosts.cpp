#include "gitcore/GitHosts.h"

#include <QUrl>

namespace halvik::gitcore {

namespace {

QString configured(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}

QString withoutTrailingSlash(QString root)
{
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString root(const char* variable, const char* fallback)
{
    return withoutTrailingSlash(configured(variable, QString::fromLatin1(fallback)));
}

} // namespace

QString GitHosts::hostOf(const QString& rootURL, const QString& fallback)
{
    const QUrl url(rootURL);
    const QString host = url.host().toLower();
    if (host.isEmpty())
        return fallback;
    return url.port() == -1 ? host : host + QLatin1Char(':') + QString::number(url.port());
}

QString GitHosts::githubWebRoot()
{
    return root("HALVIK_GITHUB_WEB", "https://github.com");
}
QString GitHosts::githubHost()
{
    return hostOf(githubWebRoot(), QStringLiteral("github.com"));
}
QString GitHosts::githubAPIRoot()
{
    return root("HALVIK_GITHUB_API", "https://api.github.com");
}
QString GitHosts::gitlabWebRoot()
{
    return root("HALVIK_GITLAB_URL", "https://gitlab.com");
}
QString GitHosts::gitlabHost()
{
    return hostOf(gitlabWebRoot(), QStringLiteral("gitlab.com"));
}
QString GitHosts::bitbucketWebRoot()
{
    return root("HALVIK_BITBUCKET_WEB", "https://bitbucket.org");
}
QString GitHosts::bitbucketHost()
{
    return hostOf(bitbucketWebRoot(), QStringLiteral("bitbucket.org"));
}
QString GitHosts::bitbucketAPIRoot()
{
    return root("HALVIK_BITBUCKET_API", "https://api.bitbucket.org");
}

QString GitHosts::originGitHost()
{
    return configured("HALVIK_ORIGIN_HOST", QStringLiteral("origin.cursor.com")).toLower();
}

QString GitHosts::originWebRoot()
{
    return QStringLiteral("https://") + originGitHost();
}

QString GitHosts::originInstallScriptURL()
{
    return configured("HALVIK_ORIGIN_INSTALL_URL", QStringLiteral("https://cursor.com/origin/install.sh"));
}

QString GitHosts::cursorWebRoot()
{
    return root("HALVIK_CURSOR_WEB_ROOT", "https://cursor.com");
}

QString GitHosts::cursorWebDomain()
{
    return hostOf(cursorWebRoot(), QStringLiteral("cursor.com"));
}

} // namespace halvik::gitcore
