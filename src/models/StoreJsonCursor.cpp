#include "StoreJsonCursor.h"

#include "StoreCodec.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace halvik {

QString JsonPlace::text() const
{
    QString prefix = parent ? parent->text() : QString();
    if (name)
        return prefix.isEmpty() ? QString::fromUtf8(name)
                                : prefix + QLatin1Char('.') + QString::fromUtf8(name);
    return prefix + QStringLiteral("[%1]").arg(index);
}

QString StoreJsonCursor::String::decode() const
{
    if (!escaped)
        return QString::fromUtf8(body, size);
    QString out;
    StoreJson::decodeBody(body, size, out);
    return out;
}

StoreJsonCursor::StoreJsonCursor(const QByteArray& bytes)
    : m_bytes(bytes), m_p(m_bytes.constData()), m_end(m_bytes.constData() + m_bytes.size())
{
}

void StoreJsonCursor::malformed() const
{
    const qsizetype offset = m_p - m_bytes.constData();
    throw StoreDecodeError(QStringLiteral("The data isn’t valid JSON (at byte %1).").arg(offset));
}

void StoreJsonCursor::fail(const JsonPlace& place, const QString& problem) const
{
    throw StoreDecodeError(place.text() + QStringLiteral(": ") + problem + QLatin1Char('.'));
}

void StoreJsonCursor::skipSpace()
{
    while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
        ++m_p;
}

StoreJsonCursor::Kind StoreJsonCursor::peek()
{
    skipSpace();
    if (m_p >= m_end)
        return Kind::end;
    switch (*m_p) {
    case '{':
        return Kind::object;
    case '[':
        return Kind::array;
    case '"':
        return Kind::string;
    case 't':
    case 'f':
        return Kind::boolean;
    case 'n':
        return Kind::null;
    default:
        return Kind::number;
    }
}

void StoreJsonCursor::enterObject(const JsonPlace& place)
{
    if (peek() != Kind::object)
        fail(place, QStringLiteral("expected an object"));
    ++m_p;
    m_firstMember = true;
}

void StoreJsonCursor::enterArray(const JsonPlace& place)
{
    if (peek() != Kind::array)
        fail(place, QStringLiteral("expected an array"));
    ++m_p;
    m_firstMember = true;
}

// Steps past the comma before a member or element; false (having consumed it) at `close`.
bool StoreJsonCursor::nextMember(char close)
{
    skipSpace();
    if (m_p < m_end && *m_p == close) {
        ++m_p;
        m_firstMember = false;
        return false;
    }
    if (!m_firstMember) {
        if (m_p >= m_end || *m_p != ',')
            malformed();
        ++m_p;
        skipSpace();
    }
    m_firstMember = false;
    return true;
}

bool StoreJsonCursor::nextKey(QByteArrayView& key, QByteArray& scratch)
{
    if (!nextMember('}'))
        return false;
    if (m_p >= m_end || *m_p != '"')
        malformed();
    bool escaped = false;
    const char* start = m_p + 1;
    const char* close = scanString(escaped);
    if (escaped) {
        QString decoded;
        if (!StoreJson::decodeBody(start, close - start, decoded))
            malformed();
        scratch = decoded.toUtf8();
        key = scratch;
    } else {
        key = QByteArrayView(start, close - start);
    }
    m_p = close + 1;
    skipSpace();
    if (m_p >= m_end || *m_p != ':')
        malformed();
    ++m_p;
    return true;
}

bool StoreJsonCursor::nextElement()
{
    return nextMember(']');
}

// Finds the closing quote of the string whose opening quote is at m_p.
const char* StoreJsonCursor::scanString(bool& escaped)
{
    const char* p = m_p + 1;
    escaped = false;
    for (;;) {
        const auto* quote = static_cast<const char*>(std::memchr(p, '"', m_end - p));
        if (!quote)
            malformed();
        // A quote preceded by an odd number of backslashes is part of the text.
        const char* back = quote;
        while (back > p && back[-1] == '\\')
            --back;
        if (((quote - back) & 1) == 0) {
            if (!escaped)
                escaped = std::memchr(m_p + 1, '\\', quote - (m_p + 1)) != nullptr;
            return quote;
        }
        escaped = true;
        p = quote + 1;
    }
}

StoreJsonCursor::String StoreJsonCursor::readString(const JsonPlace& place)
{
    if (peek() != Kind::string)
        fail(place, QStringLiteral("expected a string"));
    String s;
    const char* close = scanString(s.escaped);
    s.body = m_p + 1;
    s.size = close - s.body;
    m_p = close + 1;
    return s;
}

double StoreJsonCursor::readNumber(const JsonPlace& place, bool* integral, qint64* integer)
{
    if (peek() != Kind::number)
        fail(place, QStringLiteral("expected a number"));
    const char* start = m_p;
    bool plainInteger = true;
    while (m_p < m_end) {
        const char c = *m_p;
        if ((c >= '0' && c <= '9') || c == '-')
            ++m_p;
        else if (c == '.' || c == 'e' || c == 'E' || c == '+') {
            plainInteger = false;
            ++m_p;
        } else
            break;
    }
    if (m_p == start)
        malformed();
    if (plainInteger && integer) {
        qint64 value = 0;
        const auto [end, error] = std::from_chars(start, m_p, value);
        if (error == std::errc() && end == m_p) {
            if (integral)
                *integral = true;
            *integer = value;
            return static_cast<double>(value);
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(start, m_p, value);
    if (error != std::errc() || end != m_p)
        fail(place, QStringLiteral("not a valid number"));
    if (integral)
        *integral = false;
    return value;
}

bool StoreJsonCursor::readBool(const JsonPlace& place)
{
    if (peek() != Kind::boolean)
        fail(place, QStringLiteral("expected a boolean"));
    if (m_end - m_p >= 4 && std::memcmp(m_p, "true", 4) == 0) {
        m_p += 4;
        return true;
    }
    if (m_end - m_p >= 5 && std::memcmp(m_p, "false", 5) == 0) {
        m_p += 5;
        return false;
    }
    malformed();
}

bool StoreJsonCursor::skipNull()
{
    if (peek() != Kind::null)
        return false;
    if (m_end - m_p < 4 || std::memcmp(m_p, "null", 4) != 0)
        malformed();
    m_p += 4;
    return true;
}

void StoreJsonCursor::skipComposite()
{
    // Skipped values are not checked in detail: brackets outside strings only have to balance.
    int depth = 0;
    while (m_p < m_end) {
        const char c = *m_p;
        if (c == '"') {
            bool escaped = false;
            m_p = scanString(escaped) + 1;
            continue;
        }
        ++m_p;
        if (c == '{' || c == '[')
            ++depth;
        else if ((c == '}' || c == ']') && --depth == 0)
            return;
    }
    malformed();
}

void StoreJsonCursor::skipValue()
{
    static const JsonPlace nowhere{nullptr, "value", -1};
    switch (peek()) {
    case Kind::object:
    case Kind::array:
        skipComposite();
        break;
    case Kind::string:
        readString(nowhere);
        break;
    case Kind::number:
        readNumber(nowhere);
        break;
    case Kind::boolean:
        readBool(nowhere);
        break;
    case Kind::null:
        skipNull();
        break;
    case Kind::end:
        malformed();
    }
}

void StoreJsonCursor::expectEnd()
{
    skipSpace();
    if (m_p != m_end)
        malformed();
}

} // namespace halvik
