#include "gitcore/NaturalCompare.h"

namespace halvik::gitcore {

namespace {

inline bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

inline char16_t folded(char16_t c)
{
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    return QChar(c).toCaseFolded().unicode();
}

} // namespace

int naturalCompare(QStringView a, QStringView b)
{
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    const qsizetype na = a.size();
    const qsizetype nb = b.size();
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < na && j < nb) {
        if (isDigit(pa[i]) && isDigit(pb[j])) {
            // Compare the two numbers by value: skip leading zeros, then the longer run is
            // larger, then the first differing digit decides.
            while (i < na && pa[i] == u'0')
                ++i;
            while (j < nb && pb[j] == u'0')
                ++j;
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < na && isDigit(pa[ei]))
                ++ei;
            while (ej < nb && isDigit(pb[ej]))
                ++ej;
            if (ei - i != ej - j)
                return (ei - i) < (ej - j) ? -1 : 1;
            for (; i < ei; ++i, ++j) {
                if (pa[i] != pb[j])
                    return pa[i] < pb[j] ? -1 : 1;
            }
            i = ei;
            j = ej;
            continue;
        }
        const char16_t ca = folded(pa[i]);
        const char16_t cb = folded(pb[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < na)
        return 1;
    if (j < nb)
        return -1;
    // Equal as people read them ("a" and "A", "01" and "1"): decide by the exact text.
    return a.compare(b);
}

} // namespace halvik::gitcore
