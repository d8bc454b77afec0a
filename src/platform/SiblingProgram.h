#pragma once

#include <cstddef>

namespace halvik {

// Where one of Halvik's programs is, seen from the one running: beside it (a build folder), else
// in ../libexec/halvik/ (an installation). Written into `path`, `size` bytes long; false when it
// does not fit. Plain C library calls only: the launcher uses it before any other library loads.
bool siblingProgramPath(const char* name, char* path, std::size_t size);

} // namespace halvik
