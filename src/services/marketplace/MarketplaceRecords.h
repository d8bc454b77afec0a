#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace halvik {

// One row of the marketplace catalogue, as the screens and the command line show it.
struct MarketplaceListing
{
    QString package; // Composer package name
    QString name;
    QString slug;
    int priceCents = 0;
    QString sellerSlug;
    bool isListed = true;
    bool isPaid = false;
    QString summary;
    QString sellerName;
    std::optional<QUrl> coverURL;
    std::optional<double> priceLow;
    std::optional<double> priceHigh;
    QUrl marketplaceURL;

    bool operator==(const MarketplaceListing&) const = default;
};

struct MarketplaceStarterKit : MarketplaceListing
{
};

struct MarketplaceAddon : MarketplaceListing
{
};

// The newest stable release of one major version of the CMS.
struct QuillmarRelease
{
    int major = 0;
    QString version;
    std::optional<QString> requirePHP;

    bool operator==(const QuillmarRelease&) const = default;
};

} // namespace halvik
