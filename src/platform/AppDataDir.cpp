#include "AppDataDir.h"

#include <QDir>
#include <QFileInfo>

namespace halvik::AppDataDir {

QString parentDirectory()
{
#ifdef Q_OS_MACOS
    return QDir::homePath() + QStringLiteral("/Library/Application Support");
#else
    // Read the variable directly rather than through QStandardPaths, whose answer depends on
    // the application name and is cached for the life of the process.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/.local/share");
#endif
}

QString directory()
{
    const QString parent = parentDirectory();
    const QString current = parent + QStringLiteral("/Halvik");
    const QString legacy = parent + QStringLiteral("/Dunmoral");
    if (!QFileInfo::exists(current) && QFileInfo(legacy).isDir())
        QDir().rename(legacy, current);
    return current;
}

QString runtimeDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg) && QFileInfo(xdg).isDir())
        return QDir::cleanPath(xdg) + QStringLiteral("/halvik");
    return directory() + QStringLiteral("/run");
}

} // namespace halvik::AppDataDir
