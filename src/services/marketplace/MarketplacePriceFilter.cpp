#include "MarketplacePriceFilter.h"

namespace halvik::MarketplaceBrowsing {

QString toRaw(MarketplacePriceFilter filter)
{
    switch (filter) {
    case MarketplacePriceFilter::free:
        return QStringLiteral("free");
    case MarketplacePriceFilter::paid:
        return QStringLiteral("paid");
    case MarketplacePriceFilter::all:
        break;
    }
    return QStringLiteral("all");
}

std::optional<MarketplacePriceFilter> priceFilterFromRaw(const QString& raw)
{
    for (auto filter :
         {MarketplacePriceFilter::all, MarketplacePriceFilter::free, MarketplacePriceFilter::paid})
        if (toRaw(filter) == raw)
            return filter;
    return std::nullopt;
}

QString priceText(const MarketplaceListing& item)
{
    if (!item.isPaid)
        return QStringLiteral("Free");
    return QStringLiteral("$%1").arg(item.priceCents / 100.0, 0, 'f', item.priceCents % 100 ? 2 : 0);
}

bool matches(const MarketplaceListing& item, MarketplacePriceFilter filter, const QString& search)
{
    if (!item.isListed)
        return false;
    if (filter == MarketplacePriceFilter::free && item.isPaid)
        return false;
    if (filter == MarketplacePriceFilter::paid && !item.isPaid)
        return false;
    const QString needle = search.trimmed();
    if (needle.isEmpty())
        return true;
    for (const QString* field : {&item.name, &item.package, &item.summary, &item.sellerName})
        if (field->contains(needle, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace halvik::MarketplaceBrowsing
