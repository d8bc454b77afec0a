#include "Cancellation.h"

#include "HalvikError.h"

#include <QTimer>

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
    if (m_state->cancelled) {
        QTimer::singleShot(0, context, std::move(callback));
        return;
    }
    QObject::connect(m_state.get(), &CancellationState::cancelledChanged, context, std::move(callback),
                     Qt::SingleShotConnection);
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
