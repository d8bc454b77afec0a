#include "SiblingProgram.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#ifdef __APPLE__
#include <cstdlib>
#include <mach-o/dyld.h>
#endif

namespace halvik {

namespace {

// The folder of the program this process runs, its links resolved; "." when the system cannot
// tell.
void runningProgramFolder(char (&folder)[PATH_MAX])
{
    std::strcpy(folder, ".");
    char running[PATH_MAX];
#ifdef __APPLE__
    char linked[PATH_MAX];
    uint32_t size = sizeof linked;
    if (_NSGetExecutablePath(linked, &size) != 0 || !::realpath(linked, running))
        return;
#else
    const ssize_t length = ::readlink("/proc/self/exe", running, sizeof running);
    if (length <= 0 || std::size_t(length) == sizeof running)
        return;
    running[length] = '\0';
#endif
    if (char* slash = std::strrchr(running, '/')) {
        *slash = '\0';
        std::strcpy(folder, running);
    }
}

bool fits(int written, std::size_t size)
{
    return written >= 0 && std::size_t(written) < size;
}

} // namespace

bool siblingProgramPath(const char* name, char* path, std::size_t size)
{
    char folder[PATH_MAX];
    runningProgramFolder(folder);
    if (!fits(std::snprintf(path, size, "%s/%s", folder, name), size))
        return false;
    if (::access(path, X_OK) == 0)
        return true;
    return fits(std::snprintf(path, size, "%s/../libexec/halvik/%s", folder, name), size);
}

} // namespace halvik
