#pragma once

#include "CliCommand.h"

#include "app/AppServices.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik::cli {

// `halvik assets status|start|stop|install <site>`: the site's frontend dev server.
QCoro::Task<int> runAssetsCommand(AppServices& services, QStringList args);
// `halvik share <site>`: a public link to the site until Ctrl-C.
QCoro::Task<int> runShareCommand(AppServices& services, QStringList args);

// `assets` and `share`, as the command table lists them.
QList<CliCommand> assetsCommands();

} // namespace halvik::cli
