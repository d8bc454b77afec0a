#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {

class SiteStore;

// `halvik git status|log|diff|commit …`: `args` are the words after "git". Prints to standard
// output and resolves to 0; a failure is thrown as a CliError. A <site> is a registered site or
// any folder; writes to registered sites are recorded in their history and saved.
QCoro::Task<int> runGitCommand(SiteStore& store, QStringList args);

// `git` with each of its subverbs, as the command table lists them.
QList<cli::CliCommand> gitCommands();

} // namespace halvik
