#pragma once

#include "CliCommand.h"
#include "CliContext.h"

#include <QCoroTask>

namespace halvik::cli {

// halvik runtime [--json] | install-php LINE | remove-php LINE | install-node | remove-node |
// php <site> [--json]
QCoro::Task<int> runRuntimeCommand(AppServices& services, QStringList args);

QList<CliCommand> runtimeCommands();

} // namespace halvik::cli
