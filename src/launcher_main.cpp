#include "platform/SiblingProgram.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// halvik: opens the window when given no arguments and runs a command otherwise. Each is a program
// of its own (halvik-gui, halvik-cli), so a command never loads the GUI libraries. This one loads
// nothing but the C library: it picks the program and becomes it, with the same arguments and
// process.
int main(int argc, char** argv)
{
    const char* name = argc > 1 ? "halvik-cli" : "halvik-gui";
    char program[PATH_MAX];
    if (!halvik::siblingProgramPath(name, program, sizeof program)) {
        std::fprintf(stderr, "halvik: Couldn’t find %s: its folder’s path is too long.\n", name);
        return 1;
    }
    // argv[0] stays as typed: usage lines and the window's class on the desktop come from it.
    ::execv(program, argv);
    std::fprintf(stderr, "halvik: Couldn’t start %s: %s.\n", program, std::strerror(errno));
    return 1;
}
