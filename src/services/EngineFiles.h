#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

// What the serving engine keeps on disk, read on demand. Every unreadable file counts as absent.
namespace EngineFiles {

// `config.json` under the configuration folder: "tld" (default "test") and "paths".
QString tld(const QString& configFolder);
QStringList parkedPaths(const QString& configFolder);

// The first link in <config>/Sites whose destination is `path`.
std::optional<QString> linkedName(const QString& configFolder, const QString& path);

// ISOLATED_PHP_VERSION= in the nginx file the engine writes for a domain.
std::optional<QString> isolatedVersion(const QString& configFolder, const QString& domain);

// The last `lines` non-empty lines of the newest nginx error log in `logFolder`, read from
// at most its last 16 KiB.
QStringList nginxErrorTail(const QString& logFolder, int lines);

// `.` and `..` and duplicate separators removed, no trailing separator.
QString standardized(const QString& path);

} // namespace EngineFiles

} // namespace halvik
