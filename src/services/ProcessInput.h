#pragma once

#include <QByteArray>
#include <QMutex>
#include <QPointer>

namespace halvik {

class ProcessWorker;

// Standard input a child reads while it runs (a helper answering one request per line): the
// owner writes from the main thread, the run's own thread hands it to the child. Writes made
// before the child started are delivered once it has. Thread-safe.
class ProcessInput
{
public:
    void write(const QByteArray& data);
    // Closes the child's standard input once everything written has reached it.
    void close();

private:
    friend class ProcessWorker;
    void attach(ProcessWorker* worker);
    void detach();
    // What is waiting, and whether the channel should close after it.
    QByteArray take(bool* closed);
    void wake();

    QMutex m_mutex;
    QByteArray m_pending;
    bool m_closed = false;
    ProcessWorker* m_worker = nullptr; // guarded by m_mutex
};

} // namespace halvik
