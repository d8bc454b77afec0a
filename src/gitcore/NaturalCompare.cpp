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
    std::string key;
    appendNaturalSortKey(name, key);
    return key;
}

void appendNaturalSortKey(QStringView name, std::string& key)
{
    // Letters are case-folded. A run of digits becomes the marker '0' (a digit, so it compares
    // against other characters the way any digit does), its length without leading zeros as two
    // 16-bit halves, then those digits: runs then compare by value. Every 16-bit value is written
    // in the UTF-8 byte pattern, which keeps value order under byte comparison and is short for
    // ASCII, so comparing keys is a short memcmp.
    const std::size_t bound = std::size_t(name.size()) * 7 + 8; // 3 bytes a unit, 7 more a run
    char stackBuffer[512];
    std::string heapBuffer;
    char* begin = stackBuffer;
    if (bound > sizeof stackBuffer) {
        heapBuffer.resize(bound);
        begin = heapBuffer.data();
    }
    char* out = begin;
    const auto put = [&out](char16_t unit) {
        if (unit < 0x80) {
            *out++ = char(unit);
        } else if (unit < 0x800) {
            *out++ = char(0xc0 | (unit >> 6));
            *out++ = char(0x80 | (unit & 0x3f));
        } else {
            *out++ = char(0xe0 | (unit >> 12));
            *out++ = char(0x80 | ((unit >> 6) & 0x3f));
            *out++ = char(0x80 | (unit & 0x3f));
        }
    };
    const char16_t* p = name.utf16();
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n;) {
        const char16_t unit = p[i];
        if (!isDigit(unit)) {
            // Paths are mostly ASCII: fold those without the general case-folding table.
            if (unit < 0x80)
                *out++ = char(unit >= u'A' && unit <= u'Z' ? unit + 32 : unit);
            else
                put(folded(unit));
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
            *out++ = char(p[i]);
    }
    key.append(begin, std::size_t(out - begin));
}

} // namespace halvik::gitcore
