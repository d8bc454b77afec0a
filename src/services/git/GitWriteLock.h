#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <coroutine>

namespace halvik {

// One write lock per repository path, for coroutines on the main thread. A caller that finds
// the path taken suspends until the holder releases it; every waiter is then resumed (on a
// later turn of the event loop) and re-checks, so the first to run takes the lock and the
// others wait again.
class GitWriteLock
{
public:
    struct Awaiter
    {
        GitWriteLock* lock;
        QString path;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { lock->m_waiters[path].append(handle); }
        void await_resume() const noexcept {}
    };

    bool isHeld(const QString& path) const { return m_held.contains(path); }
    // Suspends until the path may have been released; re-check isHeld() afterwards.
    Awaiter waitForRelease(const QString& path) { return Awaiter{this, path}; }
    void acquire(const QString& path) { m_held.insert(path); }
    void release(const QString& path);
    // Resumes the path's waiters without releasing it: each re-checks, as after a release, and
    // one whose wait was cancelled gives up.
    void wakeWaiters(const QString& path);

    bool isIdle() const { return m_held.isEmpty() && m_waiters.isEmpty(); }

private:
    QSet<QString> m_held;
    QHash<QString, QList<std::coroutine_handle<>>> m_waiters;
};

} // namespace halvik
