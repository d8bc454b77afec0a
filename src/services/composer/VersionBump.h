#pragma once

#include "gitcore/EnumTable.h"

#include <QString>

namespace halvik {

// How far an installed version is behind the latest one.
enum class VersionBump
{
    patch,
    minor,
    major,
    other
};

constexpr auto enumCases(std::type_identity<VersionBump>)
{
    return std::to_array<EnumCase<VersionBump>>({{VersionBump::patch, "patch", "Patch"},
                                                 {VersionBump::minor, "minor", "Minor"},
                                                 {VersionBump::major, "major", "Major"},
                                                 {VersionBump::other, "other", "Other"}});
}

namespace VersionBumps {

VersionBump compare(const QString& current, const QString& latest);

} // namespace VersionBumps

} // namespace halvik
