#include "cli/CommandLine.h"
#include "cli/GuiProgram.h"

// halvik-cli: the command line, which `halvik` starts for any arguments. The commands that draw
// images run in halvik-gui, like the window: this program hands those over before doing anything
// else.
int main(int argc, char** argv)
{
    if (halvik::cli::belongsToGuiProgram(argc, argv))
        return halvik::cli::handOverToGuiProgram(argv);
    return halvik::cli::run(argc, argv);
}
