#pragma once

#include "MarketplaceRecords.h"

#include <QList>
#include <QString>

#include <optional>

namespace halvik {

// The browsing filter of both catalogue lists.
enum class MarketplacePriceFilter
{
    all,
    free,
    paid
};

namespace MarketplaceBrowsing {

QString toRaw(MarketplacePriceFilter filter);
std::optional<MarketplacePriceFilter> priceFilterFromRaw(const QString& raw);

// Whether a listed row passes the price filter and the search text, which is looked for, case
// ignored, in its name, package, summary and seller name. Unlisted rows never pass.
bool matches(const MarketplaceListing& item, MarketplacePriceFilter filter, const QString& search);

// "Free", or the lowest price in dollars ("$29", "$4.50").
QString priceText(const MarketplaceListing& item);

template <typename T>
QList<T> filtered(const QList<T>& items, MarketplacePriceFilter filter, const QString& search)
{
    QList<T> kept;
    for (const T& item : items)
        if (matches(item, filter, search))
            kept.append(item);
    return kept;
}

} // namespace MarketplaceBrowsing

} // namespace halvik
