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

std::string naturalSortKey(QStringView name)
{
    // Letters are case-folded. A run of digits becomes the marker '0' (a digit, so it compares
    // against other characters the way any digit does), its length without leading zeros as two
    // code units, then those digits: runs then compare by value. Each code unit is written
    // big-endian, so byte order is code-unit order and comparing keys is a memcmp.
    // 2 bytes per code unit, plus 6 bytes of marker and length per digit run; runs are separated
    // by other characters, so there are at most (n + 1) / 2 of them.
    std::string key(std::size_t(name.size()) * 5 + 6, '\0');
    char* out = key.data();
    const auto put = [&out](char16_t unit) {
        *out++ = char(unit >> 8);
        *out++ = char(unit & 0xff);
    };
    const char16_t* p = name.utf16();
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n;) {
        if (!isDigit(p[i])) {
            put(folded(p[i]));
            ++i;
            continue;
        }
        while (i < n && p[i] == u'0')
            ++i;
        qsizetype end = i;
        while (end < n && isDigit(p[end]))
            ++end;
        const auto length = quint32(end - i);
        put(u'0');
        put(char16_t(length >> 16));
        put(char16_t(length & 0xffff));
        for (; i < end; ++i)
            put(p[i]);
    }
    key.resize(std::size_t(out - key.data()));
    return key;
}

} // namespace halvik::gitcore
