#pragma once

#include "CliCommand.h"

#include "app/CloudDeployJob.h"
#include "async/Cancellation.h"
#include "models/HostAccount.h"

#include <QCoroTask>
#include <QStringList>

#include <cstdio>

namespace halvik {

class AppServices;

// `halvik cloud login [--token-stdin]` (also `hosts connect cloud`): the browser sign-in, its
// address and status lines printed as they come; Ctrl-C stops waiting.
QCoro::Task<int> runCloudLogin(AppServices& services, QStringList args, FILE* input = stdin);

// `halvik hosts show <cloud host> [--json]`: the account's applications and the sites on them.
QCoro::Task<int> showCloudHost(AppServices& services, HostAccountPtr host, bool json);

// A renewal of a rejected token by a browser sign-in in the terminal; `cancel` stops its wait.
CloudTokenRenewer terminalCloudRenewer(AppServices& services, CancellationToken cancel);

// `cloud login`, `cloud env`, `cloud unlink`, as the command table lists them.
QList<cli::CliCommand> cloudCommands();

} // namespace halvik
