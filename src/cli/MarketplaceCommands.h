#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

namespace halvik {
struct MarketplaceListing;
class QuillmarAPI;
} // namespace halvik

namespace halvik::cli {

// `halvik marketplace kits|addons|releases …`: the catalogue and the CMS's stable releases.
QCoro::Task<int> runMarketplaceCommand(QuillmarAPI& api, QStringList args);

// `marketplace`, as the command table lists it.
QList<CliCommand> marketplaceCommands();

} // namespace halvik::cli
