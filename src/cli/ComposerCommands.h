#pragma once

#include "CliCommand.h"
#include "CliContext.h"

#include <QCoroTask>

namespace halvik::cli {

// The package and console verbs: packages, outdated, update, require, composer, artisan,
// keffin, commands and env. `verb` is the command's own name.
QCoro::Task<int> runComposerCommand(AppServices& services, QString verb, QStringList args);

bool isComposerCommand(const QString& verb);

// The verbs above, as the command table lists them.
QList<CliCommand> composerCommands();

} // namespace halvik::cli
