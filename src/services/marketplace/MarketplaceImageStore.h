#pragma once

#include "MarketplaceCache.h"

#include "services/runtime/HttpFetcher.h"

#include <QByteArray>
#include <QCoroTask>
#include <QHash>
#include <QUrl>

#include <optional>

namespace halvik {

// Cover images for the catalogue screens: from memory, else the disk cache when younger than
// three hours, else downloaded (a 2xx answer is kept on disk and in memory). The bytes are
// decoded by the screen; a failure leaves its placeholder. Main thread.
class MarketplaceImageStore
{
public:
    explicit MarketplaceImageStore(MarketplaceCache cache = MarketplaceCache()) : m_cache(std::move(cache)) {}

    // The one instance the screens share.
    static MarketplaceImageStore& shared();

    QCoro::Task<std::optional<QByteArray>> image(QUrl url);
    qsizetype downloads() const { return m_downloads; }

private:
    MarketplaceCache m_cache;
    QHash<QUrl, QByteArray> m_memory;
    HttpFetcher m_http{20000};
    qsizetype m_downloads = 0;
};

} // namespace halvik
