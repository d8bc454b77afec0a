#include "FakePrompts.h"
#include "FakeSite.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "views/site/PreviewBlock.h"
#include "views/site/SiteDetailPane.h"
#include "views/site/SiteOverviewTab.h"
#include "views/sites/SiteListModel.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "async/Sleep.h"
#include "models/SecretStore.h"
#include "platform/AppDataDir.h"
#include "services/DotEnvFile.h"
#include "services/appearance/AppearanceFiles.h"
#include "services/appearance/SiteAppearanceService.h"

#include <QBuffer>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>

using namespace halvik;
using namespace halvik::views;
using halvik::appearance::AppearanceFiles;
using halvik::test::FakeSite;

namespace {

QImage page(const QColor& header, const QColor& left, const QColor& right)
{
    QImage image(1280, 720, QImage::Format_RGB32);
    image.fill(QColor("#fafaf9"));
    QPainter painter(&image);
    painter.fillRect(0, 0, 1280, 120, header);
    painter.fillRect(80, 200, 520, 420, left);
    painter.fillRect(680, 200, 520, 200, right);
    painter.fillRect(680, 440, 520, 180, right.lighter(140));
    QFont font = painter.font();
    font.setPixelSize(48);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(80, 0, 1000, 120), Qt::AlignVCenter, QStringLiteral("Northwind Coffee"));
    return image;
}

QImage roundIcon(const QColor& colour)
{
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(8, 8, 112, 112);
    painter.setBrush(Qt::white);
    painter.drawRect(44, 44, 40, 40);
    return image;
}

QByteArray png(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

struct Window
{
    Window()
        : services(secrets, prompts, HerdRoots::system(),
                   std::make_unique<QSettings>(home.path() + "/halvik.ini", QSettings::IniFormat)),
          window(services)
    {
        window.resize(1180, 760);
    }

    SitePtr add(const QString& name, std::optional<QUrl> appURL = std::nullopt)
    {
        const QString path = home.path() + "/Sites/" + name.toLower().replace(' ', '-');
        QDir().mkpath(path + "/public");
        if (appURL)
            DotEnvFile::save("APP_NAME=" + name + "\nAPP_URL=" + appURL->toString() + "\n", path + "/.env");
        auto site = std::make_shared<Site>(name, path);
        services.store().insertSite(site);
        return site;
    }
    void cache(const SitePtr& site, const QImage& icon, const QImage& shot = {})
    {
        const AppearanceFiles files = services.appearance().files(site->id());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (!icon.isNull())
            QVERIFY(AppearanceFiles::store(files.faviconPath(), png(icon), now));
        if (!shot.isNull())
            QVERIFY(AppearanceFiles::store(files.screenshotPath(), png(shot), now));
    }
    void select(const SitePtr& site)
    {
        services.setSelectedSiteID(site->id());
        QCoreApplication::processEvents();
    }
    PreviewBlock* preview() const
    {
        return window.findChild<SiteDetailPane*>("sitePane")->overview()->preview();
    }

    halvik::test::IsolatedHome home;
    SecretStore secrets;
    halvik::test::FakePrompts prompts;
    AppServices services;
    MainWindow window;
};

} // namespace

class AppearanceScreensTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listRowsShowIconsAndMonograms()
    {
        Window w;
        const QList<std::pair<QString, QColor>> named{
            {"Northwind Coffee", QColor("#b45309")},
            {"Atlas Docs", QColor("#2563eb")},
            {"shop", QColor()},
            {"shop-v2", QColor("#16a34a")},
            {"client-site", QColor()},
            {"A site with a very long name that will not fit", QColor()}};
        QList<SitePtr> sites;
        for (const auto& [name, colour] : named) {
            sites << w.add(name);
            if (colour.isValid())
                w.cache(sites.last(), roundIcon(colour));
        }
        halvik::waitFor(w.services.appearance().warmFromDisk(w.services.store().sites()));
        w.window.show();
        w.select(sites.first());
        QListView* list = w.window.sitesPage()->list();
        QAbstractItemModel* model = list->model();
        int withIcons = 0;
        for (int row = 0; row < model->rowCount(); ++row)
            withIcons += !model->index(row, 0).data(SiteListModel::IconRole).value<QImage>().isNull();
        QCOMPARE(withIcons, 3);
        // A row is tall enough for its 32 px icon.
        QVERIFY(list->visualRect(model->index(0, 0)).height() >= 36);
        QVERIFY(halvik::test::saveLightAndDark(&w.window, "appearance-list"));

        // Removing a site forgets its cached files.
        const QString folder = w.services.appearance().files(sites[1]->id()).folder();
        QVERIFY(QFileInfo::exists(folder));
        w.services.deleteSites({sites[1]}, false);
        QVERIFY(!QFileInfo::exists(folder));
    }

    void overviewPreviewStates()
    {
        Window w;
        FakeSite site;
        QVERIFY(site.start());
        site.set("/", {FakeSite::colourfulPage()});
        bool answering = true;
        bool hold = false;
        w.services.appearance().setCapture([&](QUrl, QSize) -> QCoro::Task<std::optional<QImage>> {
            while (hold)
                co_await sleepFor(std::chrono::milliseconds(20));
            if (!answering)
                co_return std::nullopt;
            co_return page(QColor("#0f766e"), QColor("#f59e0b"), QColor("#6366f1"));
        });
        const SitePtr shop = w.add("Northwind Coffee", site.url());
        w.cache(shop, roundIcon(QColor("#b45309")),
                page(QColor("#7c2d12"), QColor("#fbbf24"), QColor("#0ea5e9")));
        const SitePtr bare = w.add("Unserved");
        halvik::waitFor(w.services.appearance().warmFromDisk(w.services.store().sites()));
        w.window.show();

        // Shown.
        w.select(shop);
        PreviewBlock* block = w.preview();
        QTRY_VERIFY(block->isShowingPreview());
        QVERIFY(block->refreshButton()->isEnabled());
        QVERIFY(!block->statusLabel()->isVisible());
        QVERIFY(halvik::test::saveLightAndDark(&w.window, "appearance-preview-shown"));

        // Refreshing: "Refresh preview" forces a new one; the old one stays while it runs.
        hold = true;
        block->refreshButton()->click();
        QTRY_COMPARE(block->statusLabel()->text(), QString("Looking up site appearance…"));
        QVERIFY(!block->refreshButton()->isEnabled());
        QVERIFY(block->isShowingPreview());
        QVERIFY(halvik::test::saveLightAndDark(&w.window, "appearance-preview-refreshing"));
        hold = false;
        QTRY_VERIFY(!w.services.appearance().isRefreshing(shop->id()));

        // Failed: the sentence beside the old preview, which stays.
        answering = false;
        block->refreshButton()->click();
        const QString failed = "Halvik couldn’t take a preview of " + site.url().toString() + ".";
        QTRY_COMPARE(block->statusLabel()->text(), failed);
        QVERIFY(block->isShowingPreview());
        QVERIFY(block->refreshButton()->isEnabled());
        QVERIFY(halvik::test::saveLightAndDark(&w.window, "appearance-preview-failed"));

        // None, and no URL to take one from.
        w.select(bare);
        QTRY_VERIFY(!block->isShowingPreview());
        QCOMPARE(block->statusLabel()->text(), QString("Open the site to take a preview."));
        QVERIFY(!block->refreshButton()->isEnabled());
        QCOMPARE(block->refreshButton()->toolTip(), QString("Open the site to take a preview."));
        const QList<QLabel*> labels = block->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
            return label->isVisible() && label->text() == "No preview yet.";
        }));
        QVERIFY(halvik::test::saveLightAndDark(&w.window, "appearance-preview-none"));
    }
};

HALVIK_TEST_MAIN(AppearanceScreensTest)
#include "tst_appearancescreens.moc"
