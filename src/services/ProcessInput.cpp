#include "ProcessInput.h"

#include "ProcessWorker.h"

namespace halvik {

void ProcessInput::write(const QByteArray& data)
{
    QMutexLocker lock(&m_mutex);
    if (m_closed)
        return;
    m_pending += data;
    lock.unlock();
    wake();
}

void ProcessInput::close()
{
    QMutexLocker lock(&m_mutex);
    m_closed = true;
    lock.unlock();
    wake();
}

void ProcessInput::attach(ProcessWorker* worker)
{
    QMutexLocker lock(&m_mutex);
    m_worker = worker;
}

void ProcessInput::detach()
{
    QMutexLocker lock(&m_mutex);
    m_worker = nullptr;
}

QByteArray ProcessInput::take(bool* closed)
{
    QMutexLocker lock(&m_mutex);
    *closed = m_closed;
    return std::exchange(m_pending, {});
}

void ProcessInput::wake()
{
    QMutexLocker lock(&m_mutex);
    if (m_worker) {
        // Posted while the lock keeps the worker alive; Qt drops it if the worker dies first.
        QMetaObject::invokeMethod(
            m_worker, [w = m_worker] { w->flushInput(); }, Qt::QueuedConnection);
    }
}

} // namespace halvik
