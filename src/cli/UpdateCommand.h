#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// `check-update`: whether a newer Halvik has been released.
QList<CliCommand> updateCommands();

} // namespace halvik::cli
