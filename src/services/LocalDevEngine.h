#pragma once

#include <QString>

#include <optional>

namespace halvik {

// The serving engine a site can live under.
enum class LocalDevEngine { herd, valet };

inline QString toRaw(LocalDevEngine engine)
{
    return engine == LocalDevEngine::herd ? QStringLiteral("herd") : QStringLiteral("valet");
}

// The engine's name as people read it.
inline QString engineDisplayName(LocalDevEngine engine)
{
    return engine == LocalDevEngine::valet ? QStringLiteral("Valet") : QStringLiteral("Herd");
}

// One PHP executable the engine (or the package manager behind it) provides.
struct HerdPHP
{
    QString version;
    QString path;

    bool operator==(const HerdPHP&) const = default;
};

enum class ResolvedPHPSource { isolated, herdGlobal, managed, system };

inline QString toRaw(ResolvedPHPSource source)
{
    static const char* const names[] = {"isolated", "herdGlobal", "managed", "system"};
    return QString::fromLatin1(names[static_cast<int>(source)]);
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
