#pragma once

#include "async/Cancellation.h"
#include "platform/QuitSignals.h"

#include <QCoroTask>
#include <QTextStream>

#include <functional>

namespace halvik::cli {

// Keeps a command in the foreground until Ctrl-C (SIGINT, SIGTERM, SIGHUP) or until whatever
// it watches calls finish(). On a signal `onSignal` runs first (it stops what the command runs).
class ForegroundWait
{
public:
    explicit ForegroundWait(std::function<void()> onSignal);

    void finish() { m_done.cancel(); }
    bool interrupted() const { return m_interrupted; }
    QCoro::Task<> wait();

private:
    CancellationSource m_done;
    QuitSignals m_signals;
    bool m_interrupted = false;
};

// Standard error, for progress lines and a child's output.
QTextStream& err();

} // namespace halvik::cli
