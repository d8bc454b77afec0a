#pragma once

#include "ComposerRecords.h"

namespace halvik::ConflictTranslator {

// Short advice for a failed Composer run, most specific first; a fallback quoting the end of
// the output when nothing is recognised; nothing for an empty output.
QList<ConflictAdvice> translate(const QString& output);

} // namespace halvik::ConflictTranslator
