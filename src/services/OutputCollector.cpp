#include "OutputCollector.h"

#include <QStringDecoder>

namespace halvik {

namespace {

// Length of an incomplete UTF-8 sequence at the end of `data` (0 when the end is complete).
qsizetype incompleteUtf8Tail(const QByteArray& data)
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

// UTF-8 when the bytes are valid UTF-8, otherwise ISO Latin-1 (which accepts every byte).
QString decode(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QStringView trimCarriageReturns(QStringView line)
{
    while (!line.isEmpty() && line.front() == QLatin1Char('\r'))
        line = line.sliced(1);
    while (!line.isEmpty() && line.back() == QLatin1Char('\r'))
        line.chop(1);
    return line;
}

} // namespace

void OutputCollector::consume(const QByteArray& chunk, Stream stream)
{
    if (chunk.isEmpty())
        return;
    StreamState& s = state(stream);

    QByteArray bytes = s.carry.isEmpty() ? chunk : s.carry + chunk;
    s.carry.clear();
    const qsizetype tail = incompleteUtf8Tail(bytes);
    const QByteArrayView body = QByteArrayView(bytes).first(bytes.size() - tail);
    QString text;
    if (tail > 0) {
        QStringDecoder utf8(QStringConverter::Utf8,
                            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = utf8.decode(body);
        if (utf8.hasError()) {
            // Not UTF-8 anyway: the cut sequence is just more Latin-1 bytes of this chunk.
            text = QString::fromLatin1(bytes);
        } else {
            s.carry = bytes.last(tail);
        }
    } else {
        text = decode(bytes);
    }
    appendText(s, text, stream);
}

void OutputCollector::appendText(StreamState& s, QStringView text, Stream stream)
{
    if (text.isEmpty())
        return;
    s.whole += text;

    qsizetype start = 0;
    qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline < 0) {
        s.pending += text;
        return;
    }
    // The first line continues whatever was pending from earlier chunks.
    if (m_emit) {
        if (s.pending.isEmpty()) {
            m_emit({stream, trimCarriageReturns(text.first(newline)).toString()});
        } else {
            s.pending += text.first(newline);
            m_emit({stream, trimCarriageReturns(s.pending).toString()});
        }
    }
    s.pending.clear();
    start = newline + 1;
    while ((newline = text.indexOf(QLatin1Char('\n'), start)) >= 0) {
        if (m_emit)
            m_emit({stream, trimCarriageReturns(text.sliced(start, newline - start)).toString()});
        start = newline + 1;
    }
    s.pending = text.sliced(start).toString();
}

void OutputCollector::finish()
{
    for (Stream stream : {Stream::stdout, Stream::stderr}) {
        StreamState& s = state(stream);
        if (!s.carry.isEmpty()) {
            const QString rest = QString::fromLatin1(s.carry);
            s.carry.clear();
            s.whole += rest;
            s.pending += rest;
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
