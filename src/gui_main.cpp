#include "cli/images/DrawingCommandLine.h"
#include "views/window/MainApplication.h"

// halvik-gui: the window, and any subcommand where images can be drawn. `halvik` starts it for
// no arguments and for the verbs that draw.
int main(int argc, char** argv)
{
    if (argc > 1)
        return halvik::cli::runDrawingCommand(argc, argv);
    return halvik::views::runWindowApplication(argc, argv);
}
