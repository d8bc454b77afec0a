#pragma once

#include <QStringList>

namespace halvik::cli {

// `halvik probe <url>`: prints the probe's summary line. Exit status 0 when a server answered
// (even with an application error), 1 otherwise, 2 for a usage error. Needs a running
// QCoreApplication.
int runProbeCommand(const QStringList& args);

} // namespace halvik::cli
