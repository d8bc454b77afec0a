#include "LocalOriginRewriter.h"

#include <QByteArrayView>

namespace halvik {

namespace {

bool isHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool sameIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where the host and port have really ended: no further host character and no further port.
bool endsOrigin(const QByteArray& text, qsizetype end)
{
    if (end >= text.size())
        return true;
    const char next = text.at(end);
    if (isHostCharacter(next))
        return false;
    return !(next == ':' && end + 1 < text.size() && isDigit(text.at(end + 1)));
}

} // namespace

LocalOriginRewriter::LocalOriginRewriter(QByteArray appOrigin) : m_appOrigin(std::move(appOrigin)) {}

qsizetype LocalOriginRewriter::originAt(const QByteArray& text, qsizetype start, qsizetype schemeLength) const
{
    const QByteArrayView rest = QByteArrayView(text).sliced(start);
    if (!m_appOrigin.isEmpty() && rest.size() >= m_appOrigin.size() &&
        sameIgnoringCase(rest.first(m_appOrigin.size()), m_appOrigin) &&
        endsOrigin(text, start + m_appOrigin.size()))
        return m_appOrigin.size();

    const qsizetype hostStart = start + schemeLength + 3;
    qsizetype end = hostStart;
    while (end < text.size() && isHostCharacter(text.at(end)))
        ++end;
    // The host runs as far as host characters go, so ".test" must close that run (a shorter
    // host would be followed by a host character).
    constexpr QByteArrayView suffix(".test");
    if (end - hostStart <= suffix.size() ||
        !sameIgnoringCase(QByteArrayView(text).sliced(end - suffix.size(), suffix.size()), suffix))
        return 0;
    if (end + 1 < text.size() && text.at(end) == ':' && isDigit(text.at(end + 1))) {
        ++end;
        while (end < text.size() && isDigit(text.at(end)))
            ++end;
    }
    return endsOrigin(text, end) ? end - start : 0;
}

int LocalOriginRewriter::rewrite(QByteArray& text) const
{
    // Every origin has "://" right after its scheme, and that is rare in a page: look for it and
    // check the scheme before it.
    QByteArray result;
    int count = 0;
    qsizetype copied = 0;
    qsizetype from = 0;
    while (true) {
        const qsizetype separator = text.indexOf("://", from);
        if (separator < 0)
            break;
        from = separator + 3;
        qsizetype schemeLength = 0;
        if (separator - 5 >= copied &&
            sameIgnoringCase(QByteArrayView(text).sliced(separator - 5, 5), QByteArrayView("https")))
            schemeLength = 5;
        else if (separator - 4 >= copied &&
                 sameIgnoringCase(QByteArrayView(text).sliced(separator - 4, 4), QByteArrayView("http")))
            schemeLength = 4;
        if (schemeLength == 0)
            continue;
        const qsizetype start = separator - schemeLength;
        const qsizetype length = originAt(text, start, schemeLength);
        if (length == 0)
            continue;
        if (result.isEmpty())
            result.reserve(text.size());
        result.append(QByteArrayView(text).sliced(copied, start - copied));
        const qsizetype end = start + length;
        if (end >= text.size() || text.at(end) != '/')
            result.append('/');
        copied = end;
        from = end;
        ++count;
    }
    if (count == 0)
        return 0;
    result.append(QByteArrayView(text).sliced(copied));
    text = std::move(result);
    return count;
}

} // namespace halvik
