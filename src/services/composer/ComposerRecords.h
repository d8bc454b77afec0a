#pragma once

#include "gitcore/EnumTable.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace halvik {

// One direct dependency `composer outdated` reports as behind.
struct OutdatedPackage
{
    QString name;
    std::optional<QString> description;
    std::optional<QString> current;
    std::optional<QString> latest;
    std::optional<QString> latestStatus;

    bool operator==(const OutdatedPackage&) const = default;
};

struct InstalledPackage
{
    QString name;
    QString version;
    std::optional<QString> description;
    std::optional<QUrl> repositoryURL;

    bool operator==(const InstalledPackage&) const = default;
};

enum class ContentStorage
{
    flatFiles,
    database
};

constexpr auto enumCases(std::type_identity<ContentStorage>)
{
    return std::to_array<EnumCase<ContentStorage>>({{ContentStorage::flatFiles, "flatFiles", "Flat files"},
                                                    {ContentStorage::database, "database", "Database"}});
}

// What a site's own files say about its packages; read without running anything.
struct SiteManifest
{
    std::optional<QString> phpConstraint;
    std::optional<QString> laravelVersion;
    std::optional<QString> quillmarVersion;
    ContentStorage contentStorage = ContentStorage::flatFiles;
    QList<InstalledPackage> packages; // sorted by name

    bool operator==(const SiteManifest&) const = default;
};

struct ConsoleCommand
{
    QString tool; // "artisan" or "keffin"
    QString name;
    QString description;

    bool operator==(const ConsoleCommand&) const = default;
};

// One piece of advice drawn from a failed Composer run.
struct ConflictAdvice
{
    QString title;
    QString detail;
    std::optional<QString> suggestedPackage;
    std::optional<QString> suggestedVersion;

    bool operator==(const ConflictAdvice&) const = default;
};

// One published version of a package.
struct PackagistVersion
{
    QString version;
    std::optional<QDateTime> time;
    std::optional<QString> requirePHP;
    bool abandoned = false;

    bool operator==(const PackagistVersion&) const = default;
};

} // namespace halvik
