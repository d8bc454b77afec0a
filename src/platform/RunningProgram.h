#pragma once

#include <QString>

namespace halvik {

// The absolute path of the program this process runs, its links resolved; works before any
// application object exists. Empty when the system cannot tell.
QString runningProgramPath();

} // namespace halvik
