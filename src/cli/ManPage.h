#pragma once

#include "CliCommand.h"

namespace halvik::cli {

// The manual page halvik(1) in roff (man macros): what Halvik is, every verb with its forms and
// options from the table, how sites are named, exit status, environment, files and examples.
QString manPage(const QList<CliCommand>& table, const QString& version);

// `text` as roff body text: backslashes, leading dots and quotes, dashes and the typographic
// characters the help uses written so that groff prints them without a warning.
QString roffEscaped(const QString& text);

} // namespace halvik::cli
