#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace halvik {

// Every folder and server the runtime manager works with. The real machine's by default;
// tests point them at temporary folders and local servers.
struct RuntimeRoots
{
    QString support;             // the application folder (bin/, composer/, cache/, runtime/)
    QString home;                // the user's home (nvm, Herd's Node, global Composer)
    QStringList fixedSearch;     // where `which` looks for php, composer and node, in order
    QStringList resourceFolders; // folders that may hold runtime/<name> shipped with Halvik
    QString inheritedPath;       // the PATH Halvik itself was started with

    QUrl phpDownloads;     // the static PHP list page; archives sit beside it
    QUrl nodeDistribution; // root of /dist/index.json and /dist/v<version>/
    QUrl composerVersions; // root of /versions
    // Clears the download quarantine mark from installed runtimes (`xattr` on macOS); empty
    // where downloads carry no such mark.
    QString quarantineTool;

    // The real folders, with the servers from HALVIK_PHP_DOWNLOADS, HALVIK_NODE_DIST and
    // HALVIK_COMPOSER_VERSIONS when set.
    static RuntimeRoots system();
    // Where files shipped with Halvik are looked for, in order, for a program in
    // `programFolder`: beside it; the installed data folder, seen from bin/ or from
    // libexec/halvik/ (the command line and the window run from there); a macOS bundle's
    // Resources.
    static QStringList resourceFoldersFor(const QString& programFolder);

    QString bin() const { return support + QStringLiteral("/bin"); }
    QString phpLines() const { return support + QStringLiteral("/runtime/php"); }
    QString managedNode() const { return support + QStringLiteral("/runtime/node"); }
};

} // namespace halvik
