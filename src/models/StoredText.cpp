#include "StoredText.h"

#include <QLocale>

#include <cstring>
#include <mutex>

namespace halvik {

struct StoredText::Shared
{
    QByteArray owner; // the document the body points into
    QByteArray body;  // the JSON string's body, when read from a file
    bool escaped = false;
    bool fromFile = false;
    std::once_flag decodeOnce;
    QString text; // set at once for a plain text, on first use for a body
};

StoredText::StoredText(QString text)
{
    if (text.isEmpty())
        return;
    m_shared = std::make_shared<Shared>();
    m_shared->text = std::move(text);
}

StoredText StoredText::fromJsonBody(const QByteArray& owner, const char* body, qsizetype size, bool escaped)
{
    StoredText stored;
    if (size == 0)
        return stored;
    stored.m_shared = std::make_shared<Shared>();
    stored.m_shared->owner = owner;
    stored.m_shared->body = QByteArray::fromRawData(body, size);
    stored.m_shared->escaped = escaped;
    stored.m_shared->fromFile = true;
    return stored;
}

QString StoredText::text() const
{
    if (!m_shared)
        return {};
    Shared& shared = *m_shared;
    if (!shared.fromFile)
        return shared.text;
    std::call_once(shared.decodeOnce, [&shared] {
        if (!shared.escaped)
            shared.text = QString::fromUtf8(shared.body);
        else if (!StoreJson::decodeBody(shared.body.constData(), shared.body.size(), shared.text))
            shared.text = QString::fromUtf8(shared.body); // checked when read; kept as written
    });
    return shared.text;
}

bool StoredText::isEmpty() const
{
    if (!m_shared)
        return true;
    return m_shared->fromFile ? m_shared->body.isEmpty() : m_shared->text.isEmpty();
}

bool StoredText::operator==(const StoredText& other) const
{
    if (m_shared == other.m_shared)
        return true;
    if (isEmpty() || other.isEmpty())
        return isEmpty() && other.isEmpty();
    if (m_shared->fromFile && other.m_shared->fromFile && m_shared->escaped == other.m_shared->escaped)
        return m_shared->body == other.m_shared->body;
    return text() == other.text();
}

namespace {

bool isLowSurrogate(QChar c)
{
    return c.isLowSurrogate();
}

} // namespace

QString StoredText::bounded(const QString& text, qsizetype maxBytes)
{
    // A UTF-16 unit never takes more than three bytes in UTF-8.
    if (text.size() * 3 <= maxBytes)
        return text;
    const qsizetype keep = std::max<qsizetype>(maxBytes / 6 - 64, 1);
    qsizetype headEnd = keep;
    if (const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), headEnd); lineEnd > keep / 2)
        headEnd = lineEnd;
    if (headEnd > 0 && isLowSurrogate(text.at(headEnd)))
        --headEnd;
    qsizetype tailStart = text.size() - keep;
    if (const qsizetype lineStart = text.indexOf(QLatin1Char('\n'), tailStart);
        lineStart >= 0 && lineStart < tailStart + keep / 2)
        tailStart = lineStart + 1;
    if (tailStart < text.size() && isLowSurrogate(text.at(tailStart)))
        ++tailStart;
    const QString note = QStringLiteral("\n[… %1 characters of this log were left out …]\n")
                             .arg(QLocale::c().toString(tailStart - headEnd));
    QString out;
    out.reserve(headEnd + note.size() + text.size() - tailStart);
    out.append(QStringView(text).first(headEnd));
    out.append(note);
    out.append(QStringView(text).sliced(tailStart));
    return out;
}

void StoredText::appendJson(QByteArray& out, qsizetype maxBytes) const
{
    out.append('"');
    if (m_shared) {
        // An escaped body is never shorter than its text, so one that fits can be copied as is.
        if (m_shared->fromFile && m_shared->body.size() <= maxBytes) {
            out.append(m_shared->body);
        } else {
            const QByteArray utf8 = bounded(text(), maxBytes).toUtf8();
            StoreJson::appendEscaped(out, utf8.constData(), utf8.size());
        }
    }
    out.append('"');
}

namespace StoreJson {

void appendEscaped(QByteArray& out, const char* text, qsizetype size)
{
    static const char* const hex = "0123456789abcdef";
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"':
            out.append("\\\"", 2);
            break;
        case '\\':
            out.append("\\\\", 2);
            break;
        case '\n':
            out.append("\\n", 2);
            break;
        case '\r':
            out.append("\\r", 2);
            break;
        case '\t':
            out.append("\\t", 2);
            break;
        case '\b':
            out.append("\\b", 2);
            break;
        case '\f':
            out.append("\\f", 2);
            break;
        default: {
            const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.append(escape, 6);
        }
        }
    }
    out.append(text + runStart, size - runStart);
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool readHex4(const char* p, const char* end, char16_t& unit)
{
    if (end - p < 4)
        return false;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(p[i]);
        if (digit < 0)
            return false;
        value = value * 16 + digit;
    }
    unit = static_cast<char16_t>(value);
    return true;
}

} // namespace

bool decodeBody(const char* body, qsizetype size, QString& out)
{
    out.clear();
    out.reserve(size);
    const char* p = body;
    const char* const end = body + size;
    while (p < end) {
        const auto* slash = static_cast<const char*>(std::memchr(p, '\\', end - p));
        const char* runEnd = slash ? slash : end;
        if (runEnd > p)
            out.append(QString::fromUtf8(p, runEnd - p));
        if (!slash)
            break;
        p = slash + 1;
        if (p >= end)
            return false;
        const char kind = *p++;
        switch (kind) {
        case '"':
            out.append(QLatin1Char('"'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        case '/':
            out.append(QLatin1Char('/'));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'b':
            out.append(QLatin1Char('\b'));
            break;
        case 'f':
            out.append(QLatin1Char('\f'));
            break;
        case 'u': {
            char16_t unit = 0;
            if (!readHex4(p, end, unit))
                return false;
            p += 4;
            // A surrogate only counts as half of a pair; alone it cannot be written back as
            // UTF-8, so it reads as the replacement character.
            if (QChar::isHighSurrogate(unit)) {
                char16_t low = 0;
                if (end - p >= 6 && p[0] == '\\' && p[1] == 'u' && readHex4(p + 2, end, low) &&
                    QChar::isLowSurrogate(low)) {
                    p += 6;
                    out.append(QChar(unit));
                    out.append(QChar(low));
                } else {
                    out.append(QChar(QChar::ReplacementCharacter));
                }
            } else if (QChar::isLowSurrogate(unit)) {
                out.append(QChar(QChar::ReplacementCharacter));
            } else {
                out.append(QChar(unit));
            }
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

} // namespace StoreJson

} // namespace halvik
