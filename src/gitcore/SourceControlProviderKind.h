#pragma once

#include "gitcore/EnumTable.h"

#include <QString>

#include <optional>

namespace halvik::gitcore {

// The hosting provider of a remote. A small class around the enumeration so that the
// classification can live beside the cases: SourceControlProviderKind::fromRemoteURL(url).
class SourceControlProviderKind
{
public:
    enum Value
    {
        github,
        gitlab,
        bitbucket,
        origin
    };

    constexpr SourceControlProviderKind(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // Substring tests on the lower-cased URL, first match wins: the Origin Git host or Cursor's
    // web domain followed by "/codebase", then GitHub, GitLab and Bitbucket.
    static std::optional<SourceControlProviderKind> fromRemoteURL(const QString& remoteURL);

private:
    Value m_value;
};

constexpr auto enumCases(std::type_identity<SourceControlProviderKind>)
{
    using Kind = SourceControlProviderKind;
    return std::to_array<EnumCase<Kind>>({{Kind::github, "github"},
                                          {Kind::gitlab, "gitlab"},
                                          {Kind::bitbucket, "bitbucket"},
                                          {Kind::origin, "origin"}});
}

} // namespace halvik::gitcore
