#include "ProcessProbe.h"

#include <QFile>

#include <cerrno>
#include <csignal>

namespace halvik::ProcessProbe {

bool isAlive(qint64 pid, const QString& marker)
{
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return false;
    if (marker.isEmpty())
        return true;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return true; // no /proc here: the process exists, which is all we can tell
    return cmdline.readAll().contains(marker.toUtf8());
}

bool terminateGroup(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(-static_cast<pid_t>(pid), SIGTERM) == 0 || ::kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

bool groupExists(qint64 pgid)
{
    return pgid > 0 && (::kill(-static_cast<pid_t>(pgid), 0) == 0 || errno == EPERM);
}

bool killGroup(qint64 pgid)
{
    return pgid > 0 && ::kill(-static_cast<pid_t>(pgid), SIGKILL) == 0;
}

} // namespace halvik::ProcessProbe
