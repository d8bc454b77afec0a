#include "RuntimePlatform.h"

#include <QSysInfo>

namespace halvik::RuntimePlatform {

ArchiveNames archiveNames(const QString& cpu, bool macOS)
{
    const bool arm = cpu == QLatin1String("arm64") || cpu == QLatin1String("aarch64");
    if (macOS)
        return arm ? ArchiveNames{QStringLiteral("macos-aarch64"), QStringLiteral("darwin-arm64")}
                   : ArchiveNames{QStringLiteral("macos-x86_64"), QStringLiteral("darwin-x64")};
    return arm ? ArchiveNames{QStringLiteral("linux-aarch64"), QStringLiteral("linux-arm64")}
               : ArchiveNames{QStringLiteral("linux-x86_64"), QStringLiteral("linux-x64")};
}

ArchiveNames currentArchiveNames()
{
#ifdef Q_OS_MACOS
    return archiveNames(QSysInfo::currentCpuArchitecture(), true);
#else
    return archiveNames(QSysInfo::currentCpuArchitecture(), false);
#endif
}

QStringList fixedSearchFolders(const QString& home)
{
#ifdef Q_OS_MACOS
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"),
            home + QStringLiteral("/.composer/vendor/bin")};
#else
    return {QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin"), home + QStringLiteral("/.composer/vendor/bin"),
            home + QStringLiteral("/.config/composer/vendor/bin")};
#endif
}

QStringList standardPathTail()
{
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
            QStringLiteral("/usr/bin"),          QStringLiteral("/bin"),
            QStringLiteral("/usr/sbin"),         QStringLiteral("/sbin")};
}

QString herdNodeVersions(const QString& home)
{
    return home + QStringLiteral("/Library/Application Support/Herd/config/nvm/versions/node");
}

bool needsQuarantineRemoval()
{
#ifdef Q_OS_MACOS
    return true;
#else
    return false;
#endif
}

} // namespace halvik::RuntimePlatform
