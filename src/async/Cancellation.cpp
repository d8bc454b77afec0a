#include "Cancellation.h"

#include "HalvikError.h"

#include <QTimer>

#include <atomic>
#include <memory>

namespace halvik {

bool CancellationToken::isCancelled() const
{
    return m_state && m_state->cancelled;
}

void CancellationToken::throwIfCancelled() const
{
    if (isCancelled())
        throw CancelledError();
}

void CancellationToken::onCancelled(QObject* context, std::function<void()> callback) const
{
    if (!m_state)
        return;
    // Connected first and checked after: a cancel from another thread between the two would
    // otherwise be missed. Whichever way comes first calls it; the other finds it done.
    auto called = std::make_shared<std::atomic<bool>>(false);
    auto once = [called, callback = std::move(callback)] {
        if (!called->exchange(true))
            callback();
    };
    QObject::connect(m_state.get(), &CancellationState::cancelledChanged, context, once,
                     Qt::SingleShotConnection);
    if (m_state->cancelled)
        QTimer::singleShot(0, context, once);
}

CancellationSource::CancellationSource() : m_state(std::make_shared<CancellationState>()) {}

void CancellationSource::cancel()
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    Q_EMIT m_state->cancelledChanged();
}

bool CancellationSource::isCancelled() const
{
    return m_state->cancelled;
}

} // namespace halvik
