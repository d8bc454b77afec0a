#pragma once

#include "CliContext.h"

#include <QCoroTask>

namespace halvik::cli {

// `sites [--json]`
QCoro::Task<int> runSitesCommand(AppServices& services, QStringList args);
// `remove <site> [--delete-files]`
QCoro::Task<int> runRemoveCommand(AppServices& services, QStringList args);

} // namespace halvik::cli
