#include "RuntimeRoots.h"

#include "platform/AppDataDir.h"
#include "platform/RuntimePlatform.h"

#include <QCoreApplication>
#include <QDir>

namespace halvik {

namespace {

QUrl configuredUrl(const char* variable, const char* fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return QUrl(value.isEmpty() ? QString::fromLatin1(fallback) : value);
}

} // namespace

QStringList RuntimeRoots::resourceFoldersFor(const QString& programFolder)
{
    return {programFolder, QDir::cleanPath(programFolder + QStringLiteral("/../share/halvik")),
            QDir::cleanPath(programFolder + QStringLiteral("/../../share/halvik")),
            QDir::cleanPath(programFolder + QStringLiteral("/../Resources"))};
}

RuntimeRoots RuntimeRoots::system()
{
    RuntimeRoots roots;
    roots.support = AppDataDir::directory();
    roots.home = QDir::homePath();
    roots.fixedSearch = RuntimePlatform::fixedSearchFolders(roots.home);
    // Beside the executable, then the installed data folder, then the source tree.
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!appDir.isEmpty())
        roots.resourceFolders = resourceFoldersFor(appDir);
#ifdef HALVIK_SOURCE_RESOURCES
    roots.resourceFolders << QStringLiteral(HALVIK_SOURCE_RESOURCES);
#endif
    roots.inheritedPath = qEnvironmentVariable("PATH");
    roots.phpDownloads =
        configuredUrl("HALVIK_PHP_DOWNLOADS", "https://dl.static-php.dev/static-php-cli/common/");
    roots.nodeDistribution = configuredUrl("HALVIK_NODE_DIST", "https://nodejs.org");
    roots.composerVersions = configuredUrl("HALVIK_COMPOSER_VERSIONS", "https://getcomposer.org");
    if (RuntimePlatform::needsQuarantineRemoval())
        roots.quarantineTool = QStringLiteral("/usr/bin/xattr");
    return roots;
}

} // namespace halvik
