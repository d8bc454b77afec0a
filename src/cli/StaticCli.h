#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {

class AppServices;

// `halvik static build <site> [--json]` and `halvik static host-config <site>`.
QCoro::Task<int> runStaticCommand(AppServices& services, QStringList args);

// `halvik publish <site> --netlify|--cloudflare [--host <host>] [--new [--name NAME] | --target ID]
// [--skip-build] [--zip] [--json]`: publishes in the foreground; Ctrl-C cancels.
QCoro::Task<int> runPublishCommand(AppServices& services, QStringList args);

// `static` and `publish`, as the command table lists them.
QList<cli::CliCommand> staticCommands();

} // namespace halvik
