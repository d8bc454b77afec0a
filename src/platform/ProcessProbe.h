#pragma once

#include <QString>

namespace halvik::ProcessProbe {

// Whether a process with this id exists and its command line mentions `marker` (guards
// against a recycled process id; where command lines cannot be read, existence alone counts).
bool isAlive(qint64 pid, const QString& marker = {});

// SIGTERM to the whole process group the process leads.
bool terminateGroup(qint64 pid);

// Whether any process of the group is left.
bool groupExists(qint64 pgid);
// SIGKILL to every process of the group, for members that outlived their SIGTERM.
bool killGroup(qint64 pgid);

} // namespace halvik::ProcessProbe
