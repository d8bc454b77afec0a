#pragma once

#include "CliCommand.h"
#include "CliContext.h"

#include <QCoroTask>

namespace halvik::cli {

// `sites [--json]`
QCoro::Task<int> runSitesCommand(AppServices& services, QStringList args);
// `remove <site> [--delete-files]`
QCoro::Task<int> runRemoveCommand(AppServices& services, QStringList args);

// The two verbs above, as the command table lists them.
QList<CliCommand> sitesCommands();

} // namespace halvik::cli
