// The Sites list and the idle window with 1,000 sites that all have a cached icon and preview.
// site-list-scroll: the slowest frame scrolling the list page by page from top to bottom and
//   back, against the same scroll with no icons cached (every row a monogram).
// idle-memory-previews: the window's resident memory three seconds after it painted those
//   sites, against the window with an empty store; the window must map no web engine and
//   start no page renderer.
#include "BenchMachine.h"
#include "BenchReport.h"
#include "BenchWindow.h"
#include "FakePrompts.h"

#include "WaitFor.h"
#include "app/AppServices.h"
#include "services/appearance/AppearanceFiles.h"
#include "services/appearance/SiteAppearanceService.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace halvik;
using namespace halvik::bench;
using halvik::appearance::AppearanceFiles;

namespace {

constexpr int siteCount = 1000;

QByteArray png(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// Sixteen icons and four previews, shared out over the sites.
void addSites(SiteStore& store, const QString& root, bool withAppearance)
{
    QList<QByteArray> icons;
    for (int i = 0; i < 16; ++i) {
        QImage icon(128, 128, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor::fromHsv(i * 22, 200, 200));
        painter.drawEllipse(4, 4, 120, 120);
        painter.end();
        icons << png(icon);
    }
    QList<QByteArray> shots;
    for (int i = 0; i < 4; ++i) {
        QImage shot(1280, 720, QImage::Format_RGB32);
        shot.fill(Qt::white);
        QPainter painter(&shot);
        painter.fillRect(0, 0, 1280, 140, QColor::fromHsv(i * 80, 180, 160));
        painter.fillRect(80, 220, 500, 400, QColor::fromHsv(i * 80 + 40, 120, 230));
        painter.end();
        shots << png(shot);
    }
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-900);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString data = root + QStringLiteral("/data/Halvik");
    for (int i = 0; i < siteCount; ++i) {
        const QString path = root + QStringLiteral("/Sites/site-%1").arg(i);
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(
            QStringLiteral("Client Site %1 %2").arg(i).arg(i % 7 ? "Shop" : "Blog"), path);
        site->setCreatedAt(start.addSecs(i * 3600));
        store.insertSite(site);
        if (withAppearance) {
            const AppearanceFiles files(data, site->id());
            AppearanceFiles::store(files.faviconPath(), icons[i % icons.size()], now);
            AppearanceFiles::store(files.screenshotPath(), shots[i % shots.size()], now);
        }
    }
    store.save();
    store.flush();
}

// The slowest frame paging down the whole list and back up.
double slowestScrollFrame(AppServices& services)
{
    views::MainWindow window(services);
    window.resize(1180, 760);
    window.show();
    halvik::waitFor(services.appearance().warmFromDisk(services.store().sites()));
    QCoreApplication::processEvents();
    QListView* list = window.sitesPage()->list();
    QScrollBar* bar = list->verticalScrollBar();
    double slowest = 0;
    for (int round = 0; round < 2; ++round) {
        for (int direction : {1, -1}) {
            bool moved = true;
            while (moved) {
                const int before = bar->value();
                QElapsedTimer timer;
                timer.start();
                bar->setValue(before + direction * bar->pageStep());
                list->viewport()->repaint();
                slowest = std::max(slowest, timer.nsecsElapsed() / 1e6);
                moved = bar->value() != before;
            }
        }
    }
    return slowest;
}

bool mapsWebEngine(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("WebEngine");
}

bool runsRenderer(qint64 pid)
{
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile stat(it.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        if (fields.size() > 3 && fields[3].toLongLong() == pid && fields[1].contains("halvik-snap"))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    const QString full = root.path() + "/full";
    const QString plain = root.path() + "/plain";
    const QString empty = root.path() + "/empty";
    isolateHome(empty);
    isolateHome(plain);
    isolateHome(full);
    QApplication app(argc, argv);

    double withIcons = 0;
    {
        SecretStore secrets;
        test::FakePrompts prompts;
        AppServices services(secrets, prompts);
        addSites(services.store(), full, true);
        withIcons = slowestScrollFrame(services);
    }
    double monograms = 0;
    {
        isolateHome(plain);
        SecretStore secrets;
        test::FakePrompts prompts;
        AppServices services(secrets, prompts);
        addSites(services.store(), plain, false);
        monograms = slowestScrollFrame(services);
    }
    report("site-list-scroll", withIcons, "ms", monograms,
           "slowest frame paging through 1,000 sites with cached icons, down and up twice; baseline: the "
           "same list with monograms only (goal: 16 ms)");

    bool webEngine = true;
    bool renderer = true;
    const WindowRun loaded = runWindow(full, "sites-painted", 3000, [&](qint64 pid) {
        webEngine = mapsWebEngine(pid);
        renderer = runsRenderer(pid);
    });
    const WindowRun bare = runWindow(empty, "window-painted", 3000);
    report("idle-memory-previews", loaded.residentKiB / 1024.0, "MiB", bare.residentKiB / 1024.0,
           QStringLiteral("resident memory 3 s after the window painted 1,000 sites with cached icons and "
                          "previews (goal: 80 MiB); web engine mapped: %1, page renderer running: %2; "
                          "baseline: the window with an empty store")
               .arg(webEngine ? "yes" : "no", renderer ? "yes" : "no"));
    return 0;
}
