#include "OperationLogSink.h"

namespace halvik {

std::shared_ptr<OperationLogSink> OperationLogSink::create(QObject* context, Publisher publisher)
{
    return std::shared_ptr<OperationLogSink>(new OperationLogSink(context, std::move(publisher)));
}

std::shared_ptr<OperationLogSink> OperationLogSink::forOperation(const SiteOperationPtr& operation)
{
    // The publisher holds the operation, which keeps the context alive as long as the sink.
    return create(operation.get(), [operation](const QString& batch, bool first) {
        if (first)
            operation->setLog(batch);
        else
            operation->appendLine(batch);
    });
}

OperationLogSink::OperationLogSink(QObject* context, Publisher publisher)
    : m_context(context), m_publisher(std::move(publisher))
{
}

void OperationLogSink::append(const QString& line)
{
    bool schedule = false;
    {
        QMutexLocker lock(&m_lock);
        if (m_pendingLines > 0)
            m_pending += QLatin1Char('\n');
        m_pending += line;
        ++m_pendingLines;
        ++m_lines;
        if (!m_scheduled) {
            m_scheduled = true;
            schedule = true;
        }
    }
    if (schedule) {
        QMetaObject::invokeMethod(
            m_context,
            [weak = weak_from_this()] {
                if (auto self = weak.lock())
                    self->publishPending(false);
            },
            Qt::QueuedConnection);
    }
}

void OperationLogSink::flush()
{
    publishPending(true);
}

qsizetype OperationLogSink::lineCount() const
{
    QMutexLocker lock(&m_lock);
    return m_lines;
}

void OperationLogSink::publishPending(bool final)
{
    QString batch;
    {
        QMutexLocker lock(&m_lock);
        m_scheduled = false;
        if (m_pendingLines == 0)
            return;
        // A lone empty first line cannot be told apart from an empty log by an appending
        // publisher, so it waits for the next line (or the end) to travel with it.
        if (!final && !m_published && m_pendingLines == 1 && m_pending.isEmpty())
            return;
        batch.swap(m_pending);
        m_pendingLines = 0;
    }
    const bool first = !m_published;
    m_published = true;
    m_publisher(batch, first);
}

} // namespace halvik
