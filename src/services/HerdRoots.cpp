#include "HerdRoots.h"

#include <QDir>

namespace halvik {

HerdRoots HerdRoots::system()
{
    HerdRoots roots;
    roots.home = QDir::homePath();
    roots.applications = QStringLiteral("/Applications");
    roots.homebrewPrefixes = {QStringLiteral("/opt/homebrew"), QStringLiteral("/usr/local")};
#ifdef Q_OS_LINUX
    roots.systemBinFolders = {QStringLiteral("/usr/bin")};
#endif
    return roots;
}

HerdRoots HerdRoots::under(const QString& root)
{
    HerdRoots roots;
    roots.home = root + QStringLiteral("/home");
    roots.applications = root + QStringLiteral("/Applications");
    roots.homebrewPrefixes = {root + QStringLiteral("/opt/homebrew"), root + QStringLiteral("/usr/local")};
    roots.systemBinFolders = {root + QStringLiteral("/usr/bin")};
    return roots;
}

QStringList HerdRoots::homebrewBins() const
{
    QStringList bins;
    for (const QString& prefix : homebrewPrefixes)
        bins << prefix + QStringLiteral("/bin");
    return bins;
}

} // namespace halvik
