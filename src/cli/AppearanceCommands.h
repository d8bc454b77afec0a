#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// `halvik icon` and `halvik preview`: a site's cached icon and home-page preview, brought up to
// date, printed as a path and fetch time, optionally copied elsewhere.
QList<CliCommand> appearanceCommands();

} // namespace halvik::cli
