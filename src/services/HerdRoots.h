#pragma once

#include <QString>
#include <QStringList>

namespace halvik {

// Every root the engine detection looks under. The real system's roots by default; tests
// build a fake machine below one folder and point the service at it.
struct HerdRoots
{
    QString home;                 // the user's home folder
    QString applications;         // where a Herd application bundle is installed
    QStringList homebrewPrefixes; // Homebrew prefixes, Apple silicon first
    QStringList systemBinFolders; // Linux package-manager executables (php, php8.2, composer)

    static HerdRoots system();
    // A whole machine below `root`: home at <root>/home, /Applications, /opt/homebrew,
    // /usr/local and /usr/bin below it.
    static HerdRoots under(const QString& root);

    QString herdBundle() const { return applications + QStringLiteral("/Herd.app"); }
    QString herdSupport() const { return home + QStringLiteral("/Library/Application Support/Herd"); }
    QString valetConfig() const { return home + QStringLiteral("/.config/valet"); }
    // Where global Composer packages put their executables, old layout first.
    QStringList composerVendorBins() const
    {
        return {home + QStringLiteral("/.composer/vendor/bin"),
                home + QStringLiteral("/.config/composer/vendor/bin")};
    }
    QStringList homebrewBins() const;
};

} // namespace halvik
