#pragma once

namespace halvik::views {

enum class ColorScheme
{
    system,
    light,
    dark
};

// Applies a colour scheme to the whole application. `system` restores the platform's palette.
void applyColorScheme(ColorScheme scheme);

} // namespace halvik::views
