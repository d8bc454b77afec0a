#pragma once

#include <QString>

#include <array>

namespace halvik {

enum class SidebarSection { sites, hosts, sourceControl, environment, settings };

inline constexpr std::array kSidebarSections{SidebarSection::sites, SidebarSection::hosts, SidebarSection::sourceControl,
                                             SidebarSection::environment, SidebarSection::settings};

inline QString toRaw(SidebarSection section)
{
    static const char* const names[] = {"sites", "hosts", "sourceControl", "environment", "settings"};
    return QString::fromLatin1(names[static_cast<int>(section)]);
}

inline QString sidebarTitle(SidebarSection section)
{
    static const char* const titles[] = {"Sites", "Hosts", "Source Control", "Environment", "Settings"};
    return QString::fromLatin1(titles[static_cast<int>(section)]);
}

} // namespace halvik
