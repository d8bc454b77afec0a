#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

#include <cstdio>

namespace halvik {

class AppServices;

// `halvik accounts [--json] | connect PROVIDER [--token-stdin] [--username NAME] | disconnect
// PROVIDER`: `args` are the words after "accounts". A token is only ever read from standard
// input (one line), so it never appears in a command line.
QCoro::Task<int> runAccountsCommand(AppServices& services, QStringList args, FILE* input = stdin);

// `halvik git create-remote <site> --provider PROVIDER --name NAME [--owner OWNER] [--public]`:
// creates the repository on the provider, sets it as origin (its clean URL) and pushes with
// the connected account's token lent to Git for that run.
QCoro::Task<int> runCreateRemoteCommand(AppServices& services, QStringList args);

// `accounts`, as the command table lists it.
QList<cli::CliCommand> accountsCommands();

} // namespace halvik
