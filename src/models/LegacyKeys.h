#pragma once

#include <QByteArray>

#include <optional>

namespace halvik {

// Older versions wrote the observable records' storage names: keys with a leading underscore
// and `_$...` bookkeeping keys. Rewrites a document so both old and new files decode with the
// plain keys: `_$...` keys are dropped and one leading underscore is removed, at every depth.
// Returns nothing when the bytes are not JSON.
std::optional<QByteArray> normalizeObservableKeys(const QByteArray& bytes);

} // namespace halvik
