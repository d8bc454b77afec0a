#include "cli/CommandLine.h"
#include "views/window/MainApplication.h"

int main(int argc, char** argv)
{
    // A subcommand runs headless; no arguments opens the window.
    if (argc > 1)
        return halvik::cli::run(argc, argv);
    return halvik::views::runWindowApplication(argc, argv);
}
