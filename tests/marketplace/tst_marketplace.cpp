#include "FakeApiServer.h"
#include "MarketplaceData.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "platform/AppDataDir.h"

#include "services/composer/PackagistClient.h"
#include "services/marketplace/MarketplaceImageStore.h"
#include "services/marketplace/MarketplacePriceFilter.h"
#include "services/marketplace/QuillmarAPI.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>

using namespace halvik;
using namespace halvik::test;

namespace {

QJsonObject row(const QString& name, const QString& package, const QJsonArray& price = {0, 0},
                const QString& seller = "Acme Studio")
{
    return {{"name", name},
            {"slug", name.toLower().replace(' ', '-')},
            {"package", package},
            {"summary", "A kit called " + name},
            {"seller", QJsonObject{{"name", seller}, {"slug", seller.toLower().replace(' ', '-')}}},
            {"price_range", price},
            {"assets", QJsonArray{QJsonObject{{"url", "https://img.example/" + package + ".png"}}}}};
}

// A marketplace that serves `rows` in pages of the size asked for.
FakeApiServer::Handler pagedCatalogue(const QJsonArray& rows, int* status = nullptr)
{
    return [rows, status](const FakeApiServer::Request& request) {
        if (status && *status != 200)
            return FakeApiServer::Response::json(*status, marketplace_data::downBody);
        const QUrlQuery query(request.query);
        const int perPage = query.queryItemValue("perPage").toInt();
        const int page = query.queryItemValue("page").toInt();
        if (perPage <= 0 || page <= 0)
            return FakeApiServer::Response::json(400, "{}");
        QJsonArray data;
        for (int i = (page - 1) * perPage; i < std::min<int>(rows.size(), page * perPage); ++i)
            data.append(rows.at(i));
        const int last = std::max(1, int((rows.size() + perPage - 1) / perPage));
        const QJsonObject body{{"data", data}, {"meta", QJsonObject{{"last_page", last}}}};
        return FakeApiServer::Response::json(200, QJsonDocument(body).toJson());
    };
}

struct Marketplace
{
    QTemporaryDir cacheDir;
    FakeApiServer server;
    std::unique_ptr<PackagistClient> packagist;
    std::unique_ptr<QuillmarAPI> api;

    explicit Marketplace(FakeApiServer::Handler handler) : server(std::move(handler))
    {
        server.start();
        packagist = std::make_unique<PackagistClient>(QUrl(server.root()));
        api = std::make_unique<QuillmarAPI>(*packagist, QUrl(server.root() + "/"),
                                            MarketplaceCache(cacheDir.path()));
    }
    int catalogueRequests(const QString& path) const
    {
        int n = 0;
        for (const auto& request : server.requests())
            n += request.path == path;
        return n;
    }
};

} // namespace

class MarketplaceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void catalogueIsFetchedPageByPageAndCachedForThreeHours()
    {
        QJsonArray rows;
        for (int i = 0; i < 250; ++i)
            rows.append(row(QString("Kit %1").arg(i, 3, 10, QChar('0')), QString("acme/kit-%1").arg(i)));
        int status = 200;
        Marketplace m(pagedCatalogue(rows, &status));
        const QString path = "/api/v1/marketplace/starter-kits";

        const auto kits = halvik::waitFor(m.api->starterKits());
        QCOMPARE(kits.size(), 250);
        QCOMPARE(m.catalogueRequests(path), 3);
        QStringList pages;
        for (const auto& request : m.server.requests()) {
            QCOMPARE(QUrlQuery(request.query).queryItemValue("perPage"), QString("100"));
            pages << QUrlQuery(request.query).queryItemValue("page");
        }
        QCOMPARE(pages, QStringList({"1", "2", "3"}));
        QVERIFY(QFile::exists(m.cacheDir.path() + "/starter-kits.json"));

        // Within three hours: no network at all.
        QCOMPARE(halvik::waitFor(m.api->starterKits()).size(), 250);
        QCOMPARE(m.catalogueRequests(path), 3);

        // Older than three hours and the marketplace down: the stale copy still answers.
        QFile cache(m.cacheDir.path() + "/starter-kits.json");
        QVERIFY(cache.open(QIODevice::ReadWrite));
        QVERIFY(cache.setFileTime(QDateTime::currentDateTime().addSecs(-10801),
                                  QFileDevice::FileModificationTime));
        cache.close();
        status = 503;
        QCOMPARE(halvik::waitFor(m.api->starterKits()).size(), 250);
        QCOMPARE(m.catalogueRequests(path), 4); // it did ask

        // Without any cache the failure reaches the caller with the status.
        try {
            halvik::waitFor(m.api->addons());
            QFAIL("an unreachable catalogue without a cache must fail");
        } catch (const QuillmarAPIError& error) {
            QCOMPARE(error.description(), QString("The marketplace answered with HTTP 503."));
        }
    }

    void rowsParseIntoListingsAndOddRowsAreSkipped()
    {
        const QByteArray rows = marketplace_data::oddRows;
        const auto items = QuillmarAPI::parseRows(rows, QUrl("https://market.example"), "starter-kits");
        QCOMPARE(items.size(), 2);
        const MarketplaceListing& paid = items[0];
        QCOMPARE(paid.priceCents, 1950);
        QVERIFY(paid.isPaid);
        QVERIFY(!paid.isListed);
        QCOMPARE(paid.priceLow, std::optional<double>(19.5));
        QCOMPARE(paid.priceHigh, std::optional<double>(49));
        QCOMPARE(paid.coverURL, std::optional<QUrl>(QUrl("https://img/1.png")));
        QCOMPARE(paid.marketplaceURL, QUrl("https://market.example/starter-kits/acme/paid-kit"));
        const MarketplaceListing& free = items[1];
        QVERIFY(!free.isPaid);
        QVERIFY(free.isListed);
        QCOMPARE(free.coverURL, std::nullopt);
        QCOMPARE(QuillmarAPI::sortedAddons(items).first().package, QString("acme/free"));
        QCOMPARE(QuillmarAPI::sortedAddons(items).first().sellerName, QString("Unknown"));
        QVERIFY_THROWS_EXCEPTION(QuillmarAPIError, QuillmarAPI::parseRows("{}", QUrl(), "addons"));
    }

    void sortingFilteringAndSearchIgnoreCase()
    {
        QList<MarketplaceListing> rows;
        for (const auto& [name, package, paid] :
             {std::tuple{"zebra", "acme/zebra", false}, std::tuple{"Alpha", "quillmar/alpha-addon", true},
              std::tuple{"beta", "aaa/beta", false}}) {
            MarketplaceListing item;
            item.name = name;
            item.package = package;
            item.isPaid = paid;
            item.sellerName = QString(name) == "beta" ? "Northwind Studio" : "Acme";
            rows << item;
        }
        const auto kits = QuillmarAPI::sortedKits(rows);
        QCOMPARE(kits[0].name, QString("Alpha"));
        QCOMPARE(kits[1].name, QString("beta"));
        QCOMPARE(kits[2].name, QString("zebra"));
        // First-party add-ons lead even where another vendor's name sorts earlier.
        MarketplaceListing first;
        first.name = "Zulu";
        first.package = "Quillmar/zulu";
        rows << first;
        const auto addons = QuillmarAPI::sortedAddons(rows);
        QCOMPARE(addons[0].package, QString("quillmar/alpha-addon"));
        QCOMPARE(addons[1].package, QString("Quillmar/zulu"));
        QCOMPARE(addons[2].package, QString("aaa/beta"));

        using MarketplaceBrowsing::filtered;
        QCOMPARE(filtered(kits, MarketplacePriceFilter::paid, "").size(), 1);
        QCOMPARE(filtered(kits, MarketplacePriceFilter::free, "").size(), 2);
        QCOMPARE(filtered(kits, MarketplacePriceFilter::all, "NORTHWIND").first().name, QString("beta"));
        QCOMPARE(filtered(kits, MarketplacePriceFilter::all, "ACME/ZEB").first().name, QString("zebra"));
        QCOMPARE(filtered(kits, MarketplacePriceFilter::free, "alpha").size(), 0);
        auto hidden = kits;
        hidden[0].isListed = false;
        QCOMPARE(filtered(hidden, MarketplacePriceFilter::all, "alpha").size(), 0);
    }

    void stableReleasesPickTheNewestOfEachMajor()
    {
        QVERIFY(QuillmarReleases::isStable("5.73.0"));
        QVERIFY(QuillmarReleases::isStable("v4.2"));
        for (const char* unstable : {"5.74.0-beta.2", "6.0.0-RC1", "dev-master", "5.x-dev", "5.1.0.x"})
            QVERIFY2(!QuillmarReleases::isStable(unstable), unstable);

        const QByteArray metadata = marketplace_data::cmsMetadata;
        Marketplace m([metadata](const FakeApiServer::Request& request) {
            if (request.path == "/p2/quillmar/cms.json")
                return FakeApiServer::Response::json(200, metadata);
            return FakeApiServer::Response::json(404, "{}");
        });
        const auto releases = halvik::waitFor(m.api->stableQuillmarReleases({6, 5, 4, 3}));
        QCOMPARE(releases.size(), 2);
        QCOMPARE(releases[0], (QuillmarRelease{5, "5.10.0", QString("^8.2")}));
        QCOMPARE(releases[1], (QuillmarRelease{4, "v4.60.1", QString("^8.0")}));
    }

    void coverImagesComeFromMemoryThenDiskThenNetwork()
    {
        QTemporaryDir cacheDir;
        int served = 0;
        FakeApiServer server([&served](const FakeApiServer::Request& request) {
            ++served;
            if (request.path == "/missing.png")
                return FakeApiServer::Response{404, "no", "text/plain", {}};
            return FakeApiServer::Response{200, "PNGDATA", "image/png", {}};
        });
        server.start();
        const QUrl cover(server.root() + "/cover.png");
        {
            MarketplaceImageStore store{MarketplaceCache(cacheDir.path())};
            QCOMPARE(halvik::waitFor(store.image(cover)), std::optional<QByteArray>("PNGDATA"));
            QCOMPARE(halvik::waitFor(store.image(cover)), std::optional<QByteArray>("PNGDATA"));
            QCOMPARE(served, 1);
            QCOMPARE(halvik::waitFor(store.image(QUrl(server.root() + "/missing.png"))), std::nullopt);
        }
        // A new store (a new run) finds the image on disk.
        MarketplaceImageStore again{MarketplaceCache(cacheDir.path())};
        QCOMPARE(halvik::waitFor(again.image(cover)), std::optional<QByteArray>("PNGDATA"));
        QCOMPARE(served, 2);
        QCOMPARE(again.downloads(), 0);
    }

    void commandLineListsFiltersAndReportsFailures()
    {
        QJsonArray rows{row("Blog", "acme/blog", {0, 0}),
                        row("Shop", "acme/shop", {"29", "99"}, "Northwind")};
        Marketplace m(pagedCatalogue(rows));
        const auto run = [&](const QStringList& args) {
            QProcess process;
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert("HALVIK_MARKETPLACE_URL", m.server.root());
            process.setProcessEnvironment(env);
            process.start(halvikBinary(), args);
            // The fake marketplace answers from this process's event loop: keep it turning.
            QDeadlineTimer deadline(60000);
            while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
                QTest::qWait(20);
            return std::tuple{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                              QString::fromUtf8(process.readAllStandardError())};
        };
        auto [code, out, err] = run({"marketplace", "kits", "--json", "--paid"});
        QVERIFY2(code == 0, qPrintable(err));
        const QJsonArray kits = QJsonDocument::fromJson(out.toUtf8()).array();
        QCOMPARE(kits.size(), 1);
        const QJsonObject shop = kits[0].toObject();
        QCOMPARE(shop["package"].toString(), QString("acme/shop"));
        QCOMPARE(shop["priceCents"].toInt(), 2900);
        QCOMPARE(shop["isPaid"].toBool(), true);
        QCOMPARE(shop["sellerName"].toString(), QString("Northwind"));
        QCOMPARE(shop["marketplaceURL"].toString(), m.server.root() + "/starter-kits/northwind/shop");

        std::tie(code, out, err) = run({"marketplace", "addons", "--search", "BLOG"});
        QCOMPARE(code, 0);
        QVERIFY2(out.contains("acme/blog") && !out.contains("acme/shop"), qPrintable(out));

        m.server.setHandler(
            [](const FakeApiServer::Request&) { return FakeApiServer::Response::json(503, "{}"); });
        QDir(AppDataDir::directory() + "/marketplace-cache").removeRecursively(); // nothing to fall back on
        std::tie(code, out, err) = run({"marketplace", "kits"});
        QCOMPARE(code, 1);
        QCOMPARE(err.trimmed(),
                 QString("halvik: Couldn’t load starter kits: The marketplace answered with HTTP 503."));
        std::tie(code, out, err) = run({"marketplace", "kits", "--free", "--paid"});
        QCOMPARE(code, 2);
    }
};

HALVIK_TEST_MAIN_CORE(MarketplaceTest)
#include "tst_marketplace.moc"
