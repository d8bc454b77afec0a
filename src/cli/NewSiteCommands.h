#pragma once

#include <QCoroTask>
#include <QStringList>

namespace halvik {
class AppServices;
}

namespace halvik::cli {

// `halvik new`, `halvik duplicate` and `halvik addon install`.
bool isNewSiteCommand(const QString& verb);
QCoro::Task<int> runNewSiteCommand(AppServices& services, QString verb, QStringList args);

} // namespace halvik::cli
