#pragma once

#include "gitcore/EnumTable.h"

#include <QString>

#include <optional>

namespace halvik {

// The serving engine a site can live under.
enum class LocalDevEngine
{
    herd,
    valet
};

constexpr auto enumCases(std::type_identity<LocalDevEngine>)
{
    return std::to_array<EnumCase<LocalDevEngine>>(
        {{LocalDevEngine::herd, "herd", "Herd"}, {LocalDevEngine::valet, "valet", "Valet"}});
}

// The engine's name as people read it (its title; the command line calls it so).
inline QString engineDisplayName(LocalDevEngine engine)
{
    return title(engine);
}

// One PHP executable the engine (or the package manager behind it) provides.
struct HerdPHP
{
    QString version;
    QString path;

    bool operator==(const HerdPHP&) const = default;
};

enum class ResolvedPHPSource
{
    isolated,
    herdGlobal,
    managed,
    system
};

constexpr auto enumCases(std::type_identity<ResolvedPHPSource>)
{
    return std::to_array<EnumCase<ResolvedPHPSource>>({{ResolvedPHPSource::isolated, "isolated"},
                                                       {ResolvedPHPSource::herdGlobal, "herdGlobal"},
                                                       {ResolvedPHPSource::managed, "managed"},
                                                       {ResolvedPHPSource::system, "system"}});
}

// The PHP executable chosen for a site.
struct ResolvedPHP
{
    QString path;
    QString version;
    ResolvedPHPSource source = ResolvedPHPSource::system;

    // The first two dot-separated components of `version`.
    QString shortVersion() const { return version.section(QLatin1Char('.'), 0, 1); }
    bool operator==(const ResolvedPHP&) const = default;
};

} // namespace halvik
