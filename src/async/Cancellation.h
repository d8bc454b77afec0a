#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

namespace halvik {

class CancellationState;

// Read side of a cancellation: handed to every long job, checked between steps and
// observed by whatever the job awaits (a process, a reply, a sleep). A default token is
// never cancelled.
class CancellationToken
{
public:
    CancellationToken() = default;

    bool isCancelled() const;
    // Throws CancelledError when cancelled.
    void throwIfCancelled() const;
    // Calls `callback` in `context`'s thread once the token is cancelled (at once if it already
    // is). The connection lives as long as `context`.
    void onCancelled(QObject* context, std::function<void()> callback) const;

private:
    friend class CancellationSource;
    explicit CancellationToken(std::shared_ptr<CancellationState> state) : m_state(std::move(state)) {}
    std::shared_ptr<CancellationState> m_state;
};

// Write side: the job's owner keeps the source and calls cancel().
class CancellationSource
{
public:
    CancellationSource();
    CancellationToken token() const { return CancellationToken(m_state); }
    void cancel();
    bool isCancelled() const;

private:
    std::shared_ptr<CancellationState> m_state;
};

class CancellationState : public QObject
{
    Q_OBJECT
public:
    // Read by workers on other threads too.
    std::atomic<bool> cancelled = false;
Q_SIGNALS:
    void cancelledChanged();
};

} // namespace halvik
