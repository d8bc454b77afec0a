#pragma once

#include "CliCommand.h"

#include <QList>

#include <cstdio>

namespace halvik {

class AppServices;

// `halvik migrate-content <site> …`: runs a site's content-storage setup from its checkpoint to
// the end; `--status`, `--restore` and `--start-over` look at or undo it.
QCoro::Task<int> runMigrateContent(AppServices& services, QStringList args, FILE* input = stdin);

QList<cli::CliCommand> storageCommands();

} // namespace halvik
