#pragma once

#include "CliCommand.h"
#include "CliContext.h"

#include <QCoroTask>

namespace halvik::cli {

// halvik open <site> [--control-panel]: opens the site; when that took Halvik's own server,
// serves in the foreground until interrupted.
QCoro::Task<int> runOpenCommand(AppServices& services, QStringList args);
// halvik serve <site> [--port N]: serves in the foreground; prints the URL first.
QCoro::Task<int> runServeCommand(AppServices& services, QStringList args);
// halvik doctor [--json]: refreshes the environment picture and prints the report.
QCoro::Task<int> runDoctorCommand(AppServices& services, QStringList args);
// halvik status [--json]: one line per site: URL, how it is served, whether it answers.
QCoro::Task<int> runStatusCommand(AppServices& services, QStringList args);

// open, serve, status and doctor, as the command table lists them.
QList<CliCommand> serveCommands();

} // namespace halvik::cli
