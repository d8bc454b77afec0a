#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// `halvik icon` and `halvik preview`: a site's cached icon and home-page preview, brought up to
// date, printed as a path and fetch time, optionally copied elsewhere. They draw images, so they
// run in halvik-gui, the program that carries the GUI libraries and gives them their runners;
// the plain program hands them over to it before reading them.
QList<CliCommand> appearanceCommands();

struct AppearanceRunners
{
    CliRunner icon = nullptr;
    CliRunner preview = nullptr;
};
void setAppearanceRunners(AppearanceRunners runners);

} // namespace halvik::cli
