#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

#include <cstdio>

namespace halvik {

class AppServices;

// `halvik hosts [--json] | connect forge --token-stdin | disconnect <host> | show <host> [--json]`:
// `args` are the words after "hosts". A token is only ever read from standard input.
QCoro::Task<int> runHostsCommand(AppServices& services, QStringList args, FILE* input = stdin);

// `hosts`, as the command table lists it.
QList<cli::CliCommand> hostsCommands();

} // namespace halvik
