#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// Completion scripts for the shells `halvik completion` knows, made from the command table:
// verbs, subverbs, each form's options and the values an option or a first argument may take.
// Where a form's first argument is a site, the script asks `halvik completion sites` for the
// registered sites' names.
QString bashCompletion(const QList<CliCommand>& table);
QString zshCompletion(const QList<CliCommand>& table);
QString fishCompletion(const QList<CliCommand>& table);

// The shells above, by the name `halvik completion` takes.
QStringList completionShells();
// The script for `shell`, or an empty text for a shell not in completionShells().
QString completionScript(const QString& shell, const QList<CliCommand>& table);

} // namespace halvik::cli
