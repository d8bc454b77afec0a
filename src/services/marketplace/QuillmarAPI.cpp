#include "QuillmarAPI.h"

#include "services/composer/PackagistClient.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace halvik {

namespace {

using Json = nlohmann::json;

QString text(const Json& object, const char* key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
}

std::optional<double> number(const Json& value)
{
    if (value.is_number())
        return value.get<double>();
    if (value.is_string()) {
        bool ok = false;
        const double parsed = QString::fromStdString(value.get<std::string>()).trimmed().toDouble(&ok);
        if (ok)
            return parsed;
    }
    return std::nullopt;
}

std::optional<MarketplaceListing> parseRow(const Json& row, const QString& root, const QString& section)
{
    if (!row.is_object() || !row.contains("name") || !row["name"].is_string() || !row.contains("package") ||
        !row["package"].is_string())
        return std::nullopt;
    MarketplaceListing item;
    item.name = text(row, "name");
    item.package = text(row, "package");
    item.slug = text(row, "slug");
    item.summary = text(row, "summary");
    if (const auto seller = row.find("seller"); seller != row.end() && seller->is_object()) {
        item.sellerName = text(*seller, "name");
        item.sellerSlug = text(*seller, "slug");
    }
    if (const auto range = row.find("price_range"); range != row.end() && range->is_array()) {
        if (!range->empty())
            item.priceLow = number((*range)[0]);
        if (range->size() > 1)
            item.priceHigh = number((*range)[1]);
    }
    item.priceCents = int(std::lround(item.priceLow.value_or(0) * 100));
    item.isPaid = item.priceHigh.value_or(0) > 0;
    if (const auto listed = row.find("is_listed"); listed != row.end() && listed->is_boolean())
        item.isListed = listed->get<bool>();
    if (const auto assets = row.find("assets");
        assets != row.end() && assets->is_array() && !assets->empty()) {
        const QString cover = text((*assets)[0], "url");
        if (!cover.isEmpty())
            item.coverURL = QUrl(cover);
    }
    item.marketplaceURL = QUrl(root + QLatin1Char('/') + section + QLatin1Char('/') + item.sellerSlug +
                               QLatin1Char('/') + item.slug);
    return item;
}

bool byName(const MarketplaceListing& a, const MarketplaceListing& b)
{
    const int order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a.package < b.package;
}

bool newer(const QList<int>& a, const QList<int>& b)
{
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end());
}

} // namespace

QUrl QuillmarAPI::systemRoot()
{
    const QString configured = qEnvironmentVariable("HALVIK_MARKETPLACE_URL").trimmed();
    return QUrl(configured.isEmpty() ? QString::fromLatin1(defaultRoot) : configured);
}

QuillmarAPI::QuillmarAPI(PackagistClient& packagist, QUrl root, MarketplaceCache cache)
    : m_packagist(packagist), m_root(std::move(root)), m_cache(std::move(cache))
{
    QString path = m_root.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    m_root.setPath(path);
}

QUrl QuillmarAPI::marketplaceKitsBase() const
{
    return QUrl(m_root.toString() + QLatin1String(kitsPath));
}

QUrl QuillmarAPI::marketplaceAddonsBase() const
{
    return QUrl(m_root.toString() + QLatin1String(addonsPath));
}

QUrl QuillmarAPI::farholdBase() const
{
    return QUrl(m_root.toString() + QStringLiteral("/api/v1/starter-kits"));
}

QList<MarketplaceListing> QuillmarAPI::parseRows(const QByteArray& rowsArray, const QUrl& root,
                                                 const QString& section)
{
    const Json rows =
        Json::parse(rowsArray.constData(), rowsArray.constData() + rowsArray.size(), nullptr, false);
    if (!rows.is_array())
        throw QuillmarAPIError::invalidJSON();
    QList<MarketplaceListing> items;
    const QString base = root.toString();
    for (const Json& row : rows)
        if (auto item = parseRow(row, base, section))
            items.append(std::move(*item));
    return items;
}

QList<MarketplaceStarterKit> QuillmarAPI::sortedKits(const QList<MarketplaceListing>& rows)
{
    QList<MarketplaceStarterKit> kits;
    for (const MarketplaceListing& row : rows)
        kits.append(MarketplaceStarterKit{row});
    std::stable_sort(kits.begin(), kits.end(), byName);
    return kits;
}

QList<MarketplaceAddon> QuillmarAPI::sortedAddons(const QList<MarketplaceListing>& rows)
{
    QList<MarketplaceAddon> addons;
    for (const MarketplaceListing& row : rows) {
        MarketplaceAddon addon{row};
        if (addon.sellerName.isEmpty())
            addon.sellerName = QStringLiteral("Unknown");
        addons.append(addon);
    }
    const auto firstParty = [](const MarketplaceAddon& a) {
        return a.package.toLower().startsWith(QLatin1String("quillmar/"));
    };
    std::stable_sort(addons.begin(), addons.end(), [&](const MarketplaceAddon& a, const MarketplaceAddon& b) {
        if (firstParty(a) != firstParty(b))
            return firstParty(a);
        return byName(a, b);
    });
    return addons;
}

QCoro::Task<QByteArray> QuillmarAPI::marketplaceRows(QUrl base, QString name, CancellationToken token)
{
    if (auto fresh = m_cache.freshJSON(name))
        co_return *fresh;
    Json rows = Json::array();
    std::optional<QString> failure;
    try {
        int lastPage = 1;
        for (int page = 1; page <= lastPage; ++page) {
            QUrl url = base;
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("perPage"), QStringLiteral("100"));
            query.addQueryItem(QStringLiteral("page"), QString::number(page));
            url.setQuery(query);
            const HttpFetcher::Reply reply = co_await m_http.get(url, token);
            if (!reply.ok())
                throw QuillmarAPIError::failed(reply.status);
            const Json body = Json::parse(reply.body.constData(), reply.body.constData() + reply.body.size(),
                                          nullptr, false);
            if (!body.is_object() || !body.contains("data") || !body["data"].is_array())
                throw QuillmarAPIError::invalidJSON();
            for (const Json& row : body["data"])
                rows.push_back(row);
            if (const auto meta = body.find("meta"); meta != body.end() && meta->is_object())
                if (const auto last = meta->find("last_page");
                    last != meta->end() && last->is_number_integer())
                    lastPage = std::min(last->get<int>(), 1000);
        }
    } catch (const CancelledError&) {
        throw;
    } catch (const HalvikError& error) {
        failure = error.description();
    }
    if (failure) {
        if (auto stale = m_cache.json(name))
            co_return *stale;
        throw QuillmarAPIError(*failure);
    }
    const std::string dumped = rows.dump();
    const QByteArray document(dumped.data(), qsizetype(dumped.size()));
    m_cache.storeJSON(document, name);
    co_return document;
}

QCoro::Task<QList<MarketplaceStarterKit>> QuillmarAPI::starterKits(CancellationToken token)
{
    const QByteArray rows =
        co_await marketplaceRows(marketplaceKitsBase(), QStringLiteral("starter-kits"), token);
    co_return sortedKits(parseRows(rows, m_root, QStringLiteral("starter-kits")));
}

QCoro::Task<QList<MarketplaceAddon>> QuillmarAPI::addons(CancellationToken token)
{
    const QByteArray rows =
        co_await marketplaceRows(marketplaceAddonsBase(), QStringLiteral("addons"), token);
    co_return sortedAddons(parseRows(rows, m_root, QStringLiteral("addons")));
}

QCoro::Task<QList<QuillmarRelease>> QuillmarAPI::stableQuillmarReleases(QList<int> majors,
                                                                        CancellationToken token)
{
    const QList<PackagistVersion> versions =
        co_await m_packagist.versions(QString::fromLatin1(cmsPackage), std::move(token));
    QList<QuillmarRelease> releases;
    for (const int major : majors) {
        std::optional<PackagistVersion> best;
        QList<int> bestNumbers;
        for (const PackagistVersion& candidate : versions) {
            const QList<int> parts = QuillmarReleases::numbers(candidate.version);
            if (parts.isEmpty() || parts.first() != major)
                continue;
            if (!best || newer(parts, bestNumbers)) {
                best = candidate;
                bestNumbers = parts;
            }
        }
        if (best)
            releases.append(QuillmarRelease{major, best->version, best->requirePHP});
    }
    co_return releases;
}

namespace QuillmarReleases {

bool isStable(const QString& version)
{
    static const QRegularExpression pattern(QStringLiteral("^v?\\d+(\\.\\d+)*$"));
    return !version.startsWith(QLatin1String("dev-")) && pattern.match(version).hasMatch();
}

QList<int> numbers(const QString& version)
{
    if (!isStable(version))
        return {};
    QList<int> parts;
    const QString bare = version.startsWith(QLatin1Char('v')) ? version.mid(1) : version;
    for (const QString& part : bare.split(QLatin1Char('.')))
        parts.append(part.toInt());
    return parts;
}

} // namespace QuillmarReleases

} // namespace halvik
