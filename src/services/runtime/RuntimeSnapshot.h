#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace halvik {

// One PHP line Halvik manages: the seeded copy or a downloaded build.
struct ManagedPHP
{
    QString line; // major.minor
    // The full version from the build's VERSION file; absent when it cannot be read.
    std::optional<QString> version;
    QString path; // the wrapper script to run
    bool bundled = false;

    bool operator==(const ManagedPHP&) const = default;
};

// What the settings screen shows about Halvik's own runtimes.
struct RuntimeSnapshot
{
    std::optional<QString> managedPHPPath;
    std::optional<QString> managedPHPVersion;
    QList<ManagedPHP> extraPHP;
    std::optional<QString> composerPath;
    std::optional<QString> composerVersion;
    std::optional<QString> latestComposerVersion;
    bool seeded = false;

    bool operator==(const RuntimeSnapshot&) const = default;
};

} // namespace halvik
