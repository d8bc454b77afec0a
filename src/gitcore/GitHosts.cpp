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

} // namespace

QString GitHosts::githubHost()
{
    return QStringLiteral("github.com");
}
QString GitHosts::githubWebRoot()
{
    return QStringLiteral("https://github.com");
}
QString GitHosts::gitlabHost()
{
    return QStringLiteral("gitlab.com");
}
QString GitHosts::gitlabWebRoot()
{
    return QStringLiteral("https://gitlab.com");
}
QString GitHosts::bitbucketHost()
{
    return QStringLiteral("bitbucket.org");
}
QString GitHosts::bitbucketWebRoot()
{
    return QStringLiteral("https://bitbucket.org");
}

QString GitHosts::originGitHost()
{
    return configured("HALVIK_ORIGIN_HOST", QStringLiteral("origin.cursor.com")).toLower();
}

QString GitHosts::cursorWebRoot()
{
    return withoutTrailingSlash(configured("HALVIK_CURSOR_WEB_ROOT", QStringLiteral("https://cursor.com")));
}

QString GitHosts::cursorWebDomain()
{
    const QUrl root(cursorWebRoot());
    const QString host = root.host().toLower();
    if (host.isEmpty())
        return QStringLiteral("cursor.com");
    return root.port() == -1 ? host : host + QLatin1Char(':') + QString::number(root.port());
}

} // namespace halvik::gitcore
