#include "OutputCollector.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace halvik {

namespace {

// Length of an incomplete UTF-8 sequence at the end of `data` (0 when the end is complete).
qsizetype incompleteUtf8Tail(QByteArrayView data)
{
    const qsizetype size = data.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // continuation byte: keep looking for the lead byte
        qsizetype needed = 0;
        if ((byte & 0xE0) == 0xC0)
            needed = 2;
        else if ((byte & 0xF0) == 0xE0)
            needed = 3;
        else if ((byte & 0xF8) == 0xF0)
            needed = 4;
        return needed > back ? back : 0;
    }
    return 0;
}

// Decodes `bytes` into `out`, reusing its storage. False when they are not valid in `encoding`.
bool decodeInto(QString& out, QByteArrayView bytes, QStringConverter::Encoding encoding)
{
    QStringDecoder decoder(encoding,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    out.resize(bytes.size()); // UTF-16 never needs more units than the input has bytes
    const QChar* end = decoder.appendToBuffer(out.data(), bytes);
    out.resize(end - out.constData());
    return !decoder.hasError();
}

QStringView trimCarriageReturns(QStringView line)
{
    while (!line.isEmpty() && line.front() == QLatin1Char('\r'))
        line = line.sliced(1);
    while (!line.isEmpty() && line.back() == QLatin1Char('\r'))
        line.chop(1);
    return line;
}

// Positions of the line feeds in `text`, searched in `sameOffsets` (its bytes, one per
// character) when given.
class LineFeedFinder
{
public:
    LineFeedFinder(QStringView text, QByteArrayView sameOffsets) : m_text(text), m_bytes(sameOffsets) {}

    qsizetype next(qsizetype from) const
    {
        if (m_bytes.isNull())
            return m_text.indexOf(QLatin1Char('\n'), from);
        const void* found = std::memchr(m_bytes.data() + from, '\n', size_t(m_bytes.size() - from));
        return found ? static_cast<const char*>(found) - m_bytes.data() : -1;
    }

private:
    QStringView m_text;
    QByteArrayView m_bytes;
};

} // namespace

void OutputCollector::consume(const QByteArray& chunk, Stream stream)
{
    if (chunk.isEmpty())
        return;
    StreamState& s = state(stream);

    const QByteArray bytes = s.carry.isEmpty() ? chunk : s.carry + chunk;
    s.carry.clear();
    // A UTF-8 sequence cut by the end of this read waits for the next one, unless the chunk
    // is not UTF-8 anyway: then the cut bytes are just more Latin-1 of this chunk.
    const qsizetype tail = incompleteUtf8Tail(bytes);
    const QByteArrayView body = QByteArrayView(bytes).first(bytes.size() - tail);
    QByteArrayView decodedBytes = body;
    if (decodeInto(m_decoded, body, QStringConverter::Utf8)) {
        if (m_keepText)
            s.whole.append(body, OutputText::Encoding::utf8);
        if (tail > 0)
            s.carry = bytes.last(tail);
    } else {
        decodeInto(m_decoded, bytes, QStringConverter::Latin1);
        if (m_keepText)
            s.whole.append(bytes, OutputText::Encoding::latin1);
        decodedBytes = bytes;
    }
    // Latin-1 and plain ASCII decode one byte to one character, so the line feeds can be found
    // in the bytes, which is several times faster than searching the UTF-16 text.
    splitLines(s, stream, m_decoded.size() == decodedBytes.size() ? decodedBytes : QByteArrayView());
}

void OutputCollector::splitLines(StreamState& s, Stream stream, QByteArrayView sameOffsets)
{
    const QStringView text = m_decoded;
    const LineFeedFinder lineFeeds(text, sameOffsets);
    qsizetype newline = lineFeeds.next(0);
    if (newline < 0) {
        s.pending += text;
        return;
    }
    // The first line continues whatever was pending from earlier chunks.
    if (s.pending.isEmpty()) {
        emitLine(stream, text.first(newline));
    } else {
        s.pending += text.first(newline);
        emitLine(stream, s.pending);
    }
    qsizetype start = newline + 1;
    while ((newline = lineFeeds.next(start)) >= 0) {
        emitLine(stream, text.sliced(start, newline - start));
        start = newline + 1;
    }
    // resize(0) keeps the buffer for the next tail; the text itself is gone either way.
    s.pending.resize(0);
    s.pending += text.sliced(start);
}

void OutputCollector::emitLine(Stream stream, QStringView line)
{
    if (!m_emit)
        return;
    line = trimCarriageReturns(line);
    m_line.stream = stream;
    m_line.line.resize(line.size());
    std::copy(line.begin(), line.end(), m_line.line.data());
    m_emit(m_line);
}

void OutputCollector::finish()
{
    for (Stream stream : {Stream::stdout, Stream::stderr}) {
        StreamState& s = state(stream);
        if (!s.carry.isEmpty()) {
            if (m_keepText)
                s.whole.append(s.carry, OutputText::Encoding::latin1);
            s.pending += QString::fromLatin1(s.carry);
            s.carry.clear();
        }
    }
    for (Stream stream : {Stream::stdout, Stream::stderr}) {
        StreamState& s = state(stream);
        if (!s.pending.isEmpty() && m_emit)
            m_emit({stream, s.pending});
        s.pending.clear();
    }
}

} // namespace halvik
