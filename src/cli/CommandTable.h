#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// Every verb of the command line, in the order `halvik help` lists them. Each verb's entry is
// written beside its implementation; this list only puts them in order.
const QList<CliCommand>& commandTable();

// The verb `word` names (its name or an alias), or nullptr.
const CliCommand* findCommand(const QString& word);

} // namespace halvik::cli
