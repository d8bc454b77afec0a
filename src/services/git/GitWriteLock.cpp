#include "GitWriteLock.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace halvik {

void GitWriteLock::release(const QString& path)
{
    m_held.remove(path);
    wakeWaiters(path);
}

void GitWriteLock::wakeWaiters(const QString& path)
{
    const auto waiters = m_waiters.take(path);
    // Resumed from the event loop, not from inside the releasing coroutine's stack.
    for (auto handle : waiters)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace halvik
