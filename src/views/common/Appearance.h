#pragma once

#include <QIcon>

namespace halvik::views {

enum class ColorScheme
{
    system,
    light,
    dark
};

// Applies a colour scheme to the whole application. `system` restores the platform's palette.
void applyColorScheme(ColorScheme scheme);

// Halvik's own icon: the installed one when the desktop has it, else the one built in.
QIcon applicationIcon();

// Icons come from the desktop's theme; where the desktop names none (or lacks an icon), Breeze
// fills in, so every button has its icon on any desktop and offscreen.
void installIconTheme();

} // namespace halvik::views
