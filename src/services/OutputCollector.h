#pragma once

#include "ProcessRequest.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace halvik {

// Turns the raw chunks of a child's two output streams into whole texts and a stream of
// complete lines. Used from one thread at a time (the run's reader thread).
class OutputCollector
{
public:
    using Stream = ProcessOutput::Stream;
    using Emit = std::function<void(const ProcessOutput&)>;

    explicit OutputCollector(Emit emit = {}) : m_emit(std::move(emit)) {}

    void consume(const QByteArray& chunk, Stream stream);
    // Emits the unterminated tails (stdout's first), exactly as received.
    void finish();

    QString takeText(Stream stream) { return std::move(state(stream).whole); }

private:
    struct StreamState
    {
        QString whole;
        QString pending;
        // Bytes of a UTF-8 sequence cut by the chunk boundary, completed by the next chunk.
        QByteArray carry;
    };

    StreamState& state(Stream stream) { return stream == Stream::stdout ? m_out : m_err; }
    void appendText(StreamState& s, QStringView text, Stream stream);

    Emit m_emit;
    StreamState m_out;
    StreamState m_err;
};

} // namespace halvik
