#pragma once

#include "gitcore/EnumTable.h"

namespace halvik {

enum class SidebarSection
{
    sites,
    hosts,
    sourceControl,
    environment,
    settings
};

constexpr auto enumCases(std::type_identity<SidebarSection>)
{
    return std::to_array<EnumCase<SidebarSection>>(
        {{SidebarSection::sites, "sites", "Sites"},
         {SidebarSection::hosts, "hosts", "Hosts"},
         {SidebarSection::sourceControl, "sourceControl", "Source Control"},
         {SidebarSection::environment, "environment", "Environment"},
         {SidebarSection::settings, "settings", "Settings"}});
}

} // namespace halvik
