#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// `halvik help`: every form of every verb with its one line, then how sites are named and what
// the exit status means.
QString generalHelp(const QList<CliCommand>& table);

// `halvik help <verb>`: the verb's summary, then each form with its line and its options.
QString verbHelp(const CliCommand& command);

// Shared with the man page.
QString siteReferenceText();
QString exitStatusText();

} // namespace halvik::cli
