#pragma once

#include <QCoroTask>
#include <QObject>

#include <deque>
#include <memory>

namespace halvik::appearance {

// One holder waiting its turn at the gate.
class RenderGateWaiter : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void admitted();
};

// Lets one page render at a time across every site of the process. A holder enters, renders
// and lets its ticket go; waiters are let in in order, an urgent one (the site the person is
// looking at) ahead of the rest.
class RenderGate
{
public:
    class Ticket
    {
    public:
        Ticket() = default;
        explicit Ticket(RenderGate* gate) : m_gate(gate) {}
        Ticket(Ticket&& other) noexcept : m_gate(std::exchange(other.m_gate, nullptr)) {}
        Ticket& operator=(Ticket&& other) noexcept;
        ~Ticket() { release(); }
        void release();

    private:
        RenderGate* m_gate = nullptr;
    };

    static RenderGate& shared();

    QCoro::Task<Ticket> enter(bool urgent = false);
    bool isBusy() const { return m_busy; }
    int waiting() const { return int(m_waiters.size()); }

private:
    using Waiter = RenderGateWaiter;
    void leave();

    bool m_busy = false;
    std::deque<std::shared_ptr<Waiter>> m_waiters;
};

} // namespace halvik::appearance
