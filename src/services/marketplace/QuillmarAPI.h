#pragma once

#include "MarketplaceCache.h"
#include "MarketplaceRecords.h"

#include "async/Cancellation.h"
#include "async/HalvikError.h"
#include "services/runtime/HttpFetcher.h"

#include <QCoroTask>
#include <QList>
#include <QUrl>

namespace halvik {

class PackagistClient;

class QuillmarAPIError : public HalvikError
{
public:
    using HalvikError::HalvikError;
    static QuillmarAPIError failed(int status)
    {
        return QuillmarAPIError(QStringLiteral("The marketplace answered with HTTP %1.").arg(status));
    }
    static QuillmarAPIError invalidJSON()
    {
        return QuillmarAPIError(QStringLiteral("The marketplace returned data that could not be parsed."));
    }
};

// The CMS maker's catalogue of starter kits and add-ons, and the CMS's stable releases.
// Catalogue pages are kept in the marketplace cache for three hours and used, whatever their
// age, when the network fails. Main thread.
class QuillmarAPI
{
public:
    static constexpr auto defaultRoot = "https://quillmar.com";
    static constexpr auto kitsPath = "/api/v1/marketplace/starter-kits";
    static constexpr auto addonsPath = "/api/v1/marketplace/addons";
    static constexpr auto cmsPackage = "quillmar/cms";

    // HALVIK_MARKETPLACE_URL, else the maker's own site.
    static QUrl systemRoot();

    QuillmarAPI(PackagistClient& packagist, QUrl root = systemRoot(),
                MarketplaceCache cache = MarketplaceCache());

    QUrl root() const { return m_root; }
    QUrl marketplaceKitsBase() const;
    QUrl marketplaceAddonsBase() const;
    QUrl farholdBase() const;
    const MarketplaceCache& cache() const { return m_cache; }

    // Sorted by name, case ignored.
    QCoro::Task<QList<MarketplaceStarterKit>> starterKits(CancellationToken token = {});
    // First-party packages first, then by name.
    QCoro::Task<QList<MarketplaceAddon>> addons(CancellationToken token = {});
    // For each major, the newest stable release, newest major first; majors without one are left
    // out.
    QCoro::Task<QList<QuillmarRelease>> stableQuillmarReleases(QList<int> majors,
                                                               CancellationToken token = {});

    // Parsing, exposed for the tests: rows without a string name and package are skipped.
    static QList<MarketplaceListing> parseRows(const QByteArray& rowsArray, const QUrl& root,
                                               const QString& section);
    static QList<MarketplaceStarterKit> sortedKits(const QList<MarketplaceListing>& rows);
    static QList<MarketplaceAddon> sortedAddons(const QList<MarketplaceListing>& rows);

private:
    // The catalogue's rows as one JSON array: from a fresh cache, else every page, else any cache.
    QCoro::Task<QByteArray> marketplaceRows(QUrl base, QString name, CancellationToken token);

    PackagistClient& m_packagist;
    QUrl m_root;
    MarketplaceCache m_cache;
    HttpFetcher m_http{20000};
};

namespace QuillmarReleases {
// Not `dev-*`, nothing after the dotted numbers (an optional leading v allowed).
bool isStable(const QString& version);
// The dotted numbers; empty when the version is not stable.
QList<int> numbers(const QString& version);
} // namespace QuillmarReleases

} // namespace halvik
