#include "MarketplaceImageStore.h"

namespace halvik {

MarketplaceImageStore& MarketplaceImageStore::shared()
{
    static MarketplaceImageStore store;
    return store;
}

QCoro::Task<std::optional<QByteArray>> MarketplaceImageStore::image(QUrl url)
{
    if (!url.isValid() || url.isEmpty())
        co_return std::nullopt;
    if (const auto it = m_memory.constFind(url); it != m_memory.cend())
        co_return *it;
    if (auto cached = m_cache.freshImage(url)) {
        m_memory.insert(url, *cached);
        co_return cached;
    }
    HttpFetcher::Reply reply;
    try {
        ++m_downloads;
        reply = co_await m_http.get(url);
    } catch (const HalvikError&) {
        co_return std::nullopt;
    }
    if (!reply.ok() || reply.body.isEmpty())
        co_return std::nullopt;
    m_cache.storeImage(reply.body, url);
    m_memory.insert(url, reply.body);
    co_return reply.body;
}

} // namespace halvik
