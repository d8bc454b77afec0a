#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace halvik {

// The whole text of one output stream. The bytes are kept as they arrived, each piece with
// the encoding it was read in, and decoded into a string once, on first use: a build that
// streams megabytes into an operation log does not also pay for a second decoded copy of its
// output that nobody may ever read. Copies share the bytes and the decoded string.
class OutputText
{
public:
    enum class Encoding
    {
        utf8,
        latin1
    };

    OutputText() = default;

    // Only while collecting, before the text is read or copied. `bytes` must be complete in its
    // encoding (no UTF-8 sequence cut at either end).
    void append(QByteArrayView bytes, Encoding encoding);

    // Decodes on the first call; safe to call from any thread.
    const QString& text() const;
    // The bytes exactly as they arrived (re-encoded piece by piece once decoded, which gives
    // the same bytes back). Safe to call from any thread.
    QByteArray bytes() const;
    bool isEmpty() const;

private:
    struct Piece
    {
        QByteArray bytes;
        Encoding encoding;
    };
    struct Segment
    {
        Encoding encoding;
        qsizetype length; // in UTF-16 units of the decoded text
    };
    struct Data;

    std::shared_ptr<Data> m_data;
};

} // namespace halvik
