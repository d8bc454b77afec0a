#pragma once

#include "CliContext.h"

namespace halvik::cli {

int runSitesCommand(AppServices& services, const QStringList& args);
int runRemoveCommand(AppServices& services, CliPrompts& prompts, const QStringList& args);

// One site as the CLI's JSON shows it.
QJsonObject siteJson(const Site& site);

} // namespace halvik::cli
