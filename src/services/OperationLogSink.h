#pragma once

#include "models/SiteOperation.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace halvik {

// Turns lines arriving on any thread into an operation's log on the main thread.
//
// Lines are gathered under a lock and published in batches: at most one publication is queued
// at a time, so however fast a child writes, the main thread handles one event per turn of its
// loop. A publication hands over only the text that arrived since the previous one (the new
// lines joined by line feeds), and the operation's log grows in place, so the whole cost of a
// run stays proportional to its output rather than to lines x log length. After every
// publication the log holds every line received up to then.
class OperationLogSink : public std::enable_shared_from_this<OperationLogSink>
{
public:
    // Runs on the context's thread. `batch` is the new lines joined by line feeds; `first`
    // tells whether it starts the log.
    using Publisher = std::function<void(const QString& batch, bool first)>;

    // The context (usually the record being logged) must outlive the sink.
    static std::shared_ptr<OperationLogSink> create(QObject* context, Publisher publisher);
    // A sink whose publications become `operation`'s log.
    static std::shared_ptr<OperationLogSink> forOperation(const SiteOperationPtr& operation);

    // Callable from any thread.
    void append(const QString& line);
    // On the context's thread: publishes whatever is pending now (used when the run ends).
    void flush();

    qsizetype lineCount() const;

private:
    OperationLogSink(QObject* context, Publisher publisher);
    void publishPending(bool final);

    QObject* m_context;
    Publisher m_publisher;

    mutable QMutex m_lock;
    QString m_pending;            // guarded
    qsizetype m_pendingLines = 0; // guarded
    qsizetype m_lines = 0;        // guarded
    bool m_scheduled = false;     // guarded
    bool m_published = false;     // only touched on the context's thread
};

} // namespace halvik
