#pragma once

#include <QCoroTask>
#include <QStringList>

namespace halvik {
struct MarketplaceListing;
class QuillmarAPI;
} // namespace halvik

namespace halvik::cli {

// `halvik marketplace kits|addons|releases …`: the catalogue and the CMS's stable releases.
QCoro::Task<int> runMarketplaceCommand(QuillmarAPI& api, QStringList args);

} // namespace halvik::cli
