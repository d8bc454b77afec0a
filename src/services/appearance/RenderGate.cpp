#include "RenderGate.h"

#include <QCoroSignal>

namespace halvik::appearance {

RenderGate::Ticket& RenderGate::Ticket::operator=(Ticket&& other) noexcept
{
    if (this != &other) {
        release();
        m_gate = std::exchange(other.m_gate, nullptr);
    }
    return *this;
}

void RenderGate::Ticket::release()
{
    if (auto* gate = std::exchange(m_gate, nullptr))
        gate->leave();
}

RenderGate& RenderGate::shared()
{
    static RenderGate gate;
    return gate;
}

QCoro::Task<RenderGate::Ticket> RenderGate::enter(bool urgent)
{
    if (!m_busy) {
        m_busy = true;
        co_return Ticket(this);
    }
    auto waiter = std::make_shared<Waiter>();
    if (urgent)
        m_waiters.push_front(waiter);
    else
        m_waiters.push_back(waiter);
    // The gate stays busy on the way from one holder to the next.
    co_await qCoro(waiter.get(), &Waiter::admitted);
    co_return Ticket(this);
}

void RenderGate::leave()
{
    if (m_waiters.empty()) {
        m_busy = false;
        return;
    }
    const std::shared_ptr<Waiter> next = m_waiters.front();
    m_waiters.pop_front();
    // Queued, so the leaving holder finishes its own step before the next one runs.
    QMetaObject::invokeMethod(
        next.get(),
        [this, next] {
            // A waiter whose task was dropped meanwhile holds no turn: pass it on.
            if (next.use_count() == 1)
                leave();
            else
                Q_EMIT next->admitted();
        },
        Qt::QueuedConnection);
}

} // namespace halvik::appearance
