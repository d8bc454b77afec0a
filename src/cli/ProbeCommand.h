#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

class QTextStream;

namespace halvik::cli {

// `halvik probe <url>`: prints the probe's summary line when a server answered (even with an
// application error) and resolves to 0; when nothing answered, the summary is the failure.
QCoro::Task<int> runProbeCommand(QStringList args, QTextStream& out);

QList<CliCommand> probeCommands();

} // namespace halvik::cli
