#pragma once

#include "LocalDevEngine.h"

#include <QList>
#include <QStringList>

#include <optional>

namespace halvik {

// Finding PHP executables on disk. Unreadable folders count as empty.
namespace PHPDiscovery {

// Herd's `bin` folder: php84 -> 8.4; never `php` itself or the fpm binaries.
QList<HerdPHP> herdBinaries(const QString& binFolder);
// Homebrew's `opt/php@X.Y` installations across the prefixes, the first prefix winning a version.
QList<HerdPHP> homebrewInstallations(const QStringList& homebrewPrefixes);
// Versioned executables of a Linux package manager (`/usr/bin/php8.2`).
QList<HerdPHP> versionedExecutables(const QStringList& binFolders);

// Descending plain string order (8.4 before 8.10), as the engines list them.
void sortByVersion(QList<HerdPHP>& list);

// " php@8.3.4 " -> "8.3"; "php84" stays "84".
QString normalizedVersion(const QString& version);

bool isExecutableFile(const QString& path);
std::optional<QString> firstExecutable(const QStringList& candidates);

} // namespace PHPDiscovery

} // namespace halvik
