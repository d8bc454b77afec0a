#pragma once

#include <QString>

namespace halvik::cli {

// The window and the commands that draw images run in halvik-gui, which carries the GUI
// libraries. The command line (halvik-cli) starts without them: loading them took every command
// several milliseconds before its first line of work.

// Whether these arguments are the GUI program's: none (the window) or a verb that draws images.
bool belongsToGuiProgram(int argc, char** argv);

// Where the GUI program is: beside this one (a build folder), else in ../libexec/halvik/.
QString guiProgramPath();

// Replaces this process with the GUI program, given the same arguments. Returns only when it
// cannot be started: the failure is printed and the status to exit with returned.
int handOverToGuiProgram(char** argv);

} // namespace halvik::cli
