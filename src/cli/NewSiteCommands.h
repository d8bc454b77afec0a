#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {
class AppServices;
}

namespace halvik::cli {

// `halvik new`, `halvik duplicate` and `halvik addon install`.
bool isNewSiteCommand(const QString& verb);
QCoro::Task<int> runNewSiteCommand(AppServices& services, QString verb, QStringList args);

// `new`, `addon` and `duplicate`, as the command table lists them.
QList<CliCommand> newSiteCommands();

} // namespace halvik::cli
