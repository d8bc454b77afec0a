#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace halvik::bench {

// Records the longest gap between two turns of the main event loop.
class StallMeter
{
public:
    StallMeter()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_clock.nsecsElapsed());
            m_clock.restart();
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start(0);
    }
    double stopMilliseconds()
    {
        m_timer.stop();
        m_longest = std::max(m_longest, m_clock.nsecsElapsed());
        return m_longest / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

} // namespace halvik::bench
