#include "MarketplaceCommands.h"

#include "CliContext.h"
#include "CliJson.h"

#include "services/composer/PackagistClient.h"
#include "services/marketplace/MarketplacePriceFilter.h"
#include "services/marketplace/QuillmarAPI.h"

namespace halvik::cli {

namespace {

const QString usageText = QStringLiteral(
    "Usage: halvik marketplace kits|addons [--json] [--free|--paid] [--search TEXT], or halvik marketplace "
    "releases [--json]");

Json listingJson(const MarketplaceListing& item)
{
    const auto price = [](const std::optional<double>& value) {
        return value ? Json(*value) : Json(nullptr);
    };
    return Json{{"package", utf8(item.package)},
                {"name", utf8(item.name)},
                {"slug", utf8(item.slug)},
                {"priceCents", item.priceCents},
                {"sellerSlug", utf8(item.sellerSlug)},
                {"isListed", item.isListed},
                {"isPaid", item.isPaid},
                {"summary", utf8(item.summary)},
                {"sellerName", utf8(item.sellerName)},
                {"coverURL", item.coverURL ? Json(utf8(item.coverURL->toString())) : Json(nullptr)},
                {"priceLow", price(item.priceLow)},
                {"priceHigh", price(item.priceHigh)},
                {"marketplaceURL", utf8(item.marketplaceURL.toString())}};
}

QString priceText(const MarketplaceListing& item)
{
    if (!item.isPaid)
        return QStringLiteral("Free");
    return QStringLiteral("$%1").arg(item.priceCents / 100.0, 0, 'f', item.priceCents % 100 ? 2 : 0);
}

template <typename T> int printListings(const QList<T>& items, bool json)
{
    if (json) {
        Json rows = Json::array();
        for (const T& item : items)
            rows.push_back(listingJson(item));
        printJson(out(), rows);
        return 0;
    }
    if (items.isEmpty()) {
        out() << "Nothing in the marketplace matches.\n";
        return 0;
    }
    qsizetype width = 0;
    for (const T& item : items)
        width = std::max(width, item.package.size());
    for (const T& item : items)
        out() << item.package.leftJustified(width + 2) << priceText(item).leftJustified(8) << item.name
              << " — " << item.sellerName << '\n';
    return 0;
}

} // namespace

QCoro::Task<int> runMarketplaceCommand(QuillmarAPI& api, QStringList args)
{
    const QString what = args.isEmpty() ? QString() : args.takeFirst();
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (what == QLatin1String("releases")) {
        if (!args.isEmpty())
            throw CliError::usage(usageText);
        const QList<int> majors{6, 5, 4, 3};
        const QList<QuillmarRelease> releases = co_await api.stableQuillmarReleases(majors);
        if (json) {
            Json rows = Json::array();
            for (const QuillmarRelease& r : releases)
                rows.push_back(Json{{"major", r.major},
                                    {"version", utf8(r.version)},
                                    {"requirePHP", optionalJson(r.requirePHP)}});
            printJson(out(), rows);
            co_return 0;
        }
        for (const QuillmarRelease& r : releases)
            out() << r.major << "  " << r.version.leftJustified(12) << "PHP "
                  << r.requirePHP.value_or(QStringLiteral("*")) << '\n';
        co_return 0;
    }
    if (what != QLatin1String("kits") && what != QLatin1String("addons"))
        throw CliError::usage(usageText);
    const bool free = args.removeAll(QStringLiteral("--free")) > 0;
    const bool paid = args.removeAll(QStringLiteral("--paid")) > 0;
    QString search;
    if (const qsizetype at = args.indexOf(QStringLiteral("--search")); at >= 0) {
        if (at + 1 >= args.size())
            throw CliError::usage(usageText);
        search = args.at(at + 1);
        args.remove(at, 2);
    }
    if (!args.isEmpty() || (free && paid))
        throw CliError::usage(usageText);
    const MarketplacePriceFilter filter =
        free ? MarketplacePriceFilter::free
             : (paid ? MarketplacePriceFilter::paid : MarketplacePriceFilter::all);
    try {
        if (what == QLatin1String("kits")) {
            const auto kits = co_await api.starterKits();
            co_return printListings(MarketplaceBrowsing::filtered(kits, filter, search), json);
        }
        const auto addons = co_await api.addons();
        co_return printListings(MarketplaceBrowsing::filtered(addons, filter, search), json);
    } catch (const QuillmarAPIError& error) {
        if (what == QLatin1String("kits"))
            throw CliError(QStringLiteral("Couldn’t load starter kits: ") + error.description());
        throw CliError(QStringLiteral("Couldn’t load addons: ") + error.description());
    }
}

namespace {

// The catalogue needs no registry: the client lives in this frame while the command runs.
QCoro::Task<int> withMarketplace(QStringList args)
{
    PackagistClient packagist;
    QuillmarAPI api(packagist);
    co_return co_await runMarketplaceCommand(api, std::move(args));
}

} // namespace

QList<CliCommand> marketplaceCommands()
{
    return {
        {.verb = QStringLiteral("marketplace"),
         .summary = QStringLiteral("the marketplace’s starter kits, add-ons and releases"),
         .needs = CliCommand::Needs::nothing,
         .run = [](CliCall& call) { return withMarketplace(call.args); },
         .forms = {{.subverb = QStringLiteral("kits|addons"),
                    .arguments = QStringLiteral("[--json] [--free|--paid] [--search TEXT]"),
                    .help = QStringLiteral("the marketplace’s starter kits or add-ons"),
                    .options = {jsonOption(),
                                {QStringLiteral("--free"), {}, QStringLiteral("only the free ones")},
                                {QStringLiteral("--paid"), {}, QStringLiteral("only the paid ones")},
                                {QStringLiteral("--search"), QStringLiteral("TEXT"),
                                 QStringLiteral("names, packages, summaries or sellers containing TEXT")}}},
                   {.subverb = QStringLiteral("releases"),
                    .arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("the newest stable quillmar/cms of each major, with its PHP"),
                    .options = {jsonOption()}}}},
    };
}

} // namespace halvik::cli
