#include "ForegroundWait.h"

#include "async/HalvikError.h"
#include "async/Sleep.h"

#include <chrono>

namespace halvik::cli {

ForegroundWait::ForegroundWait(std::function<void()> onSignal)
{
    QObject::connect(&m_signals, &QuitSignals::received, &m_signals, [this, onSignal] {
        m_interrupted = true;
        if (onSignal)
            onSignal();
        m_done.cancel();
    });
}

QCoro::Task<> ForegroundWait::wait()
{
    try {
        co_await sleepFor(std::chrono::hours(24 * 365), m_done.token());
    } catch (const CancelledError&) {
    }
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace halvik::cli
