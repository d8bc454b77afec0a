#include "SleepInhibitor.h"

#ifdef Q_OS_LINUX
#include "linux/DBusSleepInhibitor.h"
#endif

namespace halvik {

SleepInhibitor::SleepInhibitor(const QString& reason)
{
#ifdef Q_OS_LINUX
    m_hold = std::make_unique<DBusSleepInhibitor>(reason);
#else
    Q_UNUSED(reason);
#endif
}

SleepInhibitor::~SleepInhibitor() = default;

bool SleepInhibitor::isHeld() const
{
    return m_hold && m_hold->isHeld();
}

} // namespace halvik
