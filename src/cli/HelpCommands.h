#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// `--version` and `help`.
QList<CliCommand> helpCommands();
// `completion`: the shells' scripts, and the site names they offer.
QList<CliCommand> completionCommands();

} // namespace halvik::cli
