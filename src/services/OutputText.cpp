#include "OutputText.h"

#include <QStringDecoder>

#include <algorithm>
#include <mutex>

namespace halvik {

namespace {

// Pieces grow with the text up to this size, so a long output is held in a few blocks that
// are filled in place instead of one buffer that is reallocated as it doubles.
constexpr qsizetype largestPiece = 1 << 20;

} // namespace

struct OutputText::Data
{
    QList<Piece> pieces;
    qsizetype size = 0;
    std::once_flag decoded;
    QString text;
    QList<Segment> segments;
};

void OutputText::append(QByteArrayView bytes, Encoding encoding)
{
    if (bytes.isEmpty())
        return;
    if (!m_data)
        m_data = std::make_shared<Data>();
    Data& data = *m_data;
    if (data.pieces.isEmpty() || data.pieces.last().encoding != encoding ||
        data.pieces.last().bytes.capacity() - data.pieces.last().bytes.size() < bytes.size()) {
        QByteArray piece;
        piece.reserve(std::max(bytes.size(), std::min(data.size, largestPiece)));
        data.pieces.append({std::move(piece), encoding});
    }
    data.pieces.last().bytes.append(bytes);
    data.size += bytes.size();
}

bool OutputText::isEmpty() const
{
    return !m_data || m_data->size == 0;
}

const QString& OutputText::text() const
{
    static const QString empty;
    if (!m_data)
        return empty;
    Data& data = *m_data;
    std::call_once(data.decoded, [&data] {
        // UTF-16 never needs more units than the UTF-8 or Latin-1 input has bytes.
        data.text.resize(data.size);
        QChar* out = data.text.data();
        for (const Piece& piece : std::as_const(data.pieces)) {
            QStringDecoder decoder(
                piece.encoding == Encoding::utf8 ? QStringConverter::Utf8 : QStringConverter::Latin1,
                QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
            QChar* start = out;
            out = decoder.appendToBuffer(out, piece.bytes);
            data.segments.append({piece.encoding, qsizetype(out - start)});
        }
        data.text.resize(out - data.text.constData());
        data.pieces.clear();
    });
    return data.text;
}

QByteArray OutputText::bytes() const
{
    if (!m_data)
        return {};
    const QString& decoded = text();
    const Data& data = *m_data;
    QByteArray result;
    result.reserve(data.size);
    qsizetype at = 0;
    for (const Segment& segment : data.segments) {
        const QStringView piece = QStringView(decoded).sliced(at, segment.length);
        result += segment.encoding == Encoding::utf8 ? piece.toUtf8() : piece.toLatin1();
        at += segment.length;
    }
    return result;
}

} // namespace halvik
