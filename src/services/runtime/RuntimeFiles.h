#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvik::RuntimeFiles {

// The PHP lines Halvik downloads; the seeded copy counts as 8.4.
QStringList offeredPHPLines();
inline constexpr auto seededPHPLine = "8.4";
inline constexpr auto managedNodeMajor = "22";

// The ini next to every managed PHP: 155 bytes, four lines.
QByteArray managedIni();
// Runs <folder>/php-cli with PHPRC at the folder, so the managed ini is read and never the user's.
QByteArray phpWrapper(const QString& folder);
// Works both as `composer` on PATH and as `php $(which composer)`.
QByteArray composerWrapper(const QString& pharPath);

// " 8.4.11 " -> "8.4"; fewer than two parts stay as they are.
QString normalizedPHPLine(const QString& version);
// Compares dot-separated integer parts ("v" prefix ignored): 8.4.10 > 8.4.9.
int compareVersions(const QString& a, const QString& b);

// The newest build of `line` named in a download list page, by numeric comparison.
std::optional<QString> newestPHPBuild(const QString& listPage, const QString& line, const QString& suffix);
// The newest LTS release of `major` in the Node index (newest first): its version without "v".
// Throws std::runtime_error when the index is not an array of objects.
std::optional<QString> newestNodeLTS(const QByteArray& indexJson, const QString& major);
// The version a `composer --version` prints.
std::optional<QString> composerVersionFrom(const QString& output);
// The first stable version of Composer's version endpoint.
std::optional<QString> latestComposerFrom(const QByteArray& versionsJson);
// The SHA-256 listed for `fileName` in a SHASUMS256.txt, lower case.
std::optional<QByteArray> checksumFor(const QByteArray& shasums, const QString& fileName);

// Whether the file begins with "#!" (a script, not a real binary).
bool isScript(const QString& path);
bool isExecutable(const QString& path);
// The first executable, non-script file named `name` in the tree.
std::optional<QString> findBinary(const QString& root, const QString& name);
// Writes the whole file through a temporary and a rename, then sets the mode (octal, 0 keeps it).
// Throws std::runtime_error with a sentence naming the file.
void writeAtomically(const QString& path, const QByteArray& contents, int mode = 0);
void makeExecutable(const QString& path);
// Trimmed content of a small text file, or nothing when it cannot be read or is empty.
std::optional<QString> readTrimmed(const QString& path);

} // namespace halvik::RuntimeFiles
