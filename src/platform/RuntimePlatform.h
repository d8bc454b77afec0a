#pragma once

#include <QString>
#include <QStringList>

namespace halvik::RuntimePlatform {

// The machine names of the downloadable runtimes for this system and processor.
struct ArchiveNames
{
    QString phpSuffix;  // php-<version>-cli-<phpSuffix>.tar.gz: "linux-x86_64", "macos-aarch64"
    QString nodeSuffix; // node-v<version>-<nodeSuffix>.tar.gz: "linux-x64", "darwin-arm64"
};

// `cpu` as QSysInfo::currentCpuArchitecture() names it; `macOS` picks the Apple names.
ArchiveNames archiveNames(const QString& cpu, bool macOS);
ArchiveNames currentArchiveNames();

// The folders the fixed search for `php`, `composer` and `node` looks in, under `home`.
QStringList fixedSearchFolders(const QString& home);

// Folders put at the end of every child's PATH, after Halvik's own.
QStringList standardPathTail();

// Herd's Node versions folder, under `home`.
QString herdNodeVersions(const QString& home);

// Downloaded runtimes carry a quarantine mark on macOS that must go before they can run.
bool needsQuarantineRemoval();

} // namespace halvik::RuntimePlatform
