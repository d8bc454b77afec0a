#pragma once

#include <QStringView>

#include <string>

namespace halvik::gitcore {

// Natural, case-insensitive ordering of names the way people read them: runs of decimal digits
// compare by value ("file9" < "file10"), letters compare case-folded. Names that are equal under
// that rule fall back to a plain comparison so the order is total and stable across runs.
// Needs no locale data, so it behaves the same in every environment.
int naturalCompare(QStringView a, QStringView b);

inline bool naturalLess(QStringView a, QStringView b)
{
    return naturalCompare(a, b) < 0;
}

// A key whose plain (unsigned) byte order is the order of naturalCompare up to its final tie-break:
// comparing keys and then, for equal keys, the names themselves, orders exactly like
// naturalCompare. Sorting many names is much faster through keys computed once.
std::string naturalSortKey(QStringView name);
// The same key appended to `out`, for callers that keep many keys in one buffer.
void appendNaturalSortKey(QStringView name, std::string& out);

} // namespace halvik::gitcore
