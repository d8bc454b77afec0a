#pragma once

#include "CliCommand.h"

#include "services/hosting/CloudStorageSession.h"

#include <QList>

#include <cstdio>

namespace halvik {

class AppServices;

// The tools a site's storage setup runs with, from the application services.
CloudStorageSession::Tools storageTools(AppServices& services, const Site& site);

// `halvik migrate-content <site> …`: runs a site's content-storage setup from its checkpoint to
// the end; `--status`, `--restore` and `--start-over` look at or undo it.
QCoro::Task<int> runMigrateContent(AppServices& services, QStringList args, FILE* input = stdin);

QList<cli::CliCommand> storageCommands();

} // namespace halvik
