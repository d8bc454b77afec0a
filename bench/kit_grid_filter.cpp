// kit-grid-filter: the new-site wizard's grid of 1,000 starter kits; the longest main-thread
// stall while a search is typed letter by letter and while the price filter changes.
#include "BenchReport.h"
#include "StallMeter.h"

#include "views/newsite/KitGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>

using namespace halvik;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")).toUtf8());
    QApplication app(argc, argv);
    QList<MarketplaceStarterKit> kits;
    for (int i = 0; i < 1000; ++i) {
        MarketplaceStarterKit kit;
        kit.name = QStringLiteral("Starter kit %1").arg(i);
        kit.package = QStringLiteral("vendor%1/kit-%2").arg(i % 40).arg(i);
        kit.summary = QStringLiteral("A site to start from, number %1").arg(i);
        kit.sellerName = QStringLiteral("Seller %1").arg(i % 40);
        kit.isPaid = i % 3 == 0;
        kit.priceCents = kit.isPaid ? 4900 : 0;
        kits << kit;
    }
    views::KitGrid grid;
    grid.resize(720, 480);
    grid.show();
    grid.showKits(kits);
    QCoreApplication::processEvents();
    double longest = 0;
    bench::StallMeter meter;
    const auto measure = [&](const std::function<void()>& change) {
        meter.start();
        change();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        longest = std::max(longest, meter.stopMilliseconds());
    };
    for (const QString& text : {QStringLiteral("s"), QStringLiteral("se"), QStringLiteral("sel"),
                                QStringLiteral("sell"), QStringLiteral("seller 1"), QString()})
        measure([&] { grid.searchField()->setText(text); });
    for (int index : {1, 2, 0})
        measure([&] { grid.priceFilter()->setCurrentIndex(index); });
    bench::report(QStringLiteral("kit-grid-filter"), longest, QStringLiteral("ms"), -1,
                  QStringLiteral("longest stall typing a search or changing the price filter; goal 16 ms"));
    return 0;
}
