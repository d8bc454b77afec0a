#pragma once

namespace halvik::cli {

// Runs a subcommand where images can be drawn, as halvik-gui does: `icon` and `preview` get
// their runners, and a verb that draws runs under a GUI application.
int runDrawingCommand(int argc, char** argv);

} // namespace halvik::cli
