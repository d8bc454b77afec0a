#pragma once

#include "OutputText.h"
#include "ProcessRequest.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace halvik {

// Turns the raw chunks of a child's two output streams into whole texts and a stream of
// complete lines. Used from one thread at a time (the run's reader thread).
//
// A busy child sends a million lines a second, so nothing here allocates per line: each chunk
// is decoded into one reused buffer and every line is handed out through one reused
// ProcessOutput (a callback that keeps a line gets its own copy as usual).
class OutputCollector
{
public:
    using Stream = ProcessOutput::Stream;
    using Emit = std::function<void(const ProcessOutput&)>;

    explicit OutputCollector(Emit emit = {}) : m_emit(std::move(emit)) {}

    void consume(const QByteArray& chunk, Stream stream);
    // Lines only: the whole texts stay empty.
    void setKeepText(bool keep) { m_keepText = keep; }
    // Emits the unterminated tails (stdout's first), exactly as received.
    void finish();

    OutputText takeText(Stream stream) { return std::move(state(stream).whole); }

private:
    struct StreamState
    {
        OutputText whole;
        QString pending;
        // Bytes of a UTF-8 sequence cut by the chunk boundary, completed by the next chunk.
        QByteArray carry;
    };

    StreamState& state(Stream stream) { return stream == Stream::stdout ? m_out : m_err; }
    void splitLines(StreamState& s, Stream stream, QByteArrayView sameOffsets);
    void emitLine(Stream stream, QStringView line);

    Emit m_emit;
    bool m_keepText = true;
    StreamState m_out;
    StreamState m_err;
    QString m_decoded;
    ProcessOutput m_line;
};

} // namespace halvik
