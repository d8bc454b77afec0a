#include "cli/CommandLine.h"
#include "cli/GuiProgram.h"

// halvik: the command line. No arguments opens the window, which like the commands that draw
// images runs in halvik-gui; this program hands those over before loading anything else.
int main(int argc, char** argv)
{
    if (halvik::cli::belongsToGuiProgram(argc, argv))
        return halvik::cli::handOverToGuiProgram(argv);
    return halvik::cli::run(argc, argv);
}
