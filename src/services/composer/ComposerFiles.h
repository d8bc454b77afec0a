#pragma once

#include "ComposerRecords.h"

#include <QByteArray>

namespace halvik::ComposerFiles {

// The site's composer.json, vendor/composer/installed.json and CMS storage configuration, read
// straight from disk. Missing or unreadable files give empty values, never an error.
SiteManifest readManifest(const QString& sitePath);

// Whether composer.json requires the CMS package (only that small file is read).
bool requiresCMS(const QString& sitePath);

// A package's repository address as a browser opens it: https, no ".git", no "/tree/…".
std::optional<QUrl> repositoryURL(const QString& raw);

// `composer outdated --format=json`; throws ComposerServiceError::invalidJSON.
QList<OutdatedPackage> parseOutdated(const QString& output);

// `list --format=json` of artisan or keffin: visible commands, tagged with the tool. Output that
// is not such a list gives none.
QList<ConsoleCommand> parseConsoleCommands(const QString& output, const QString& tool);

// A command typed by a person: "keffin …", "./artisan …" and "composer …" run through php.
QString normalizeShellCommand(const QString& command);

} // namespace halvik::ComposerFiles
