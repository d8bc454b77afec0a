#pragma once

#include "cli/AppearanceCommands.h"

namespace halvik::cli {

// How `halvik icon` and `halvik preview` run where images can be drawn.
AppearanceRunners drawingAppearanceRunners();

} // namespace halvik::cli
