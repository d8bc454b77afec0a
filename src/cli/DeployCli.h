#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {

class AppServices;

// `halvik deploy <site> [--target forge|cloud] [--host <host>] [--server <id|name>]
// [--domain DOMAIN] [--repo NAME] [--json]`: runs the deployment in the foreground.
QCoro::Task<int> runDeployCommand(AppServices& services, QStringList args);

// `halvik deployments <site> [--json] [--log [ID]]`: the site's deployments, newest first,
// after asking the host how the unfinished ones ended.
QCoro::Task<int> runDeploymentsCommand(AppServices& services, QStringList args);

// `deploy` and `deployments`, as the command table lists them.
QList<cli::CliCommand> deployCommands();

} // namespace halvik
