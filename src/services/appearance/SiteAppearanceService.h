#pragma once

#include "AppearanceFiles.h"
#include "SiteAppearances.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class ProcessRunner;

namespace appearance {
class WebSnapshotter;
}

// What one refresh of a site did.
struct AppearanceRefresh
{
    bool ran = false; // false when a refresh of the site was already running
    bool faviconRefreshed = false;
    std::optional<QString> faviconFrom; // the project file or URL the new icon came from
    bool screenshotRefreshed = false;
    bool previewFailed = false;
    std::optional<QUrl> failedURL; // the site URL no preview could be taken of
};

// Every site's small icon and home-page preview: found in the project or asked of the running
// site, rendered off-screen, kept under previews/<SITE-ID>/ in the application folder, and
// refreshed when stale. Main thread; decoding, scaling and walking the disk run on the thread
// pool. In memory it keeps only icons at list size; a preview is read from disk when shown.
class SiteAppearanceService : public QObject, public SiteAppearances
{
    Q_OBJECT
public:
    // What a refresh looks at: the icon, the preview or both.
    enum class Parts
    {
        both,
        favicon,
        screenshot
    };
    using CaptureFunction = std::function<QCoro::Task<std::optional<QImage>>(QUrl, QSize)>;
    using Clock = std::function<QDateTime()>;

    static constexpr QSize captureSize{1280, 720};
    static constexpr int faviconMaxPixel = 128;

    // `root` holds previews/; empty means the application folder.
    explicit SiteAppearanceService(ProcessRunner& runner, QString root = {}, QObject* parent = nullptr);
    ~SiteAppearanceService() override;
    // Ends the work under way (requests aborted, captures cancelled) and waits, at most a few
    // seconds, for every refresh to return; nothing new starts afterwards. Called at shutdown,
    // so no refresh is left suspended on an answer that will never be delivered.
    void stop() override;

    QString root() const { return m_root; }
    appearance::AppearanceFiles files(const QUuid& site) const
    {
        return appearance::AppearanceFiles(m_root, site);
    }
    appearance::WebSnapshotter& snapshotter() { return *m_snapshotter; }
    // Pages are captured by the helper unless a test says otherwise.
    void setCapture(CaptureFunction capture) { m_capture = std::move(capture); }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // The side, in device pixels, icons are held at in memory (the list's 32 px × ratio).
    void setIconPixelSize(int pixels) { m_iconPixels = pixels; }
    int iconPixelSize() const { return m_iconPixels; }

    // Loads each site's cached icon, already reduced to the list's size, off the main thread.
    QCoro::Task<> warmFromDisk(QList<SitePtr> sites) override;

    // Starts a refresh unless one runs for the site; without `force`, only what is stale.
    void refresh(const SitePtr& site, std::optional<QUrl> baseURL, bool force) override;
    // The same, awaited; a site already refreshing is not refreshed twice (`ran` is false).
    QCoro::Task<AppearanceRefresh> refreshNow(SitePtr site, std::optional<QUrl> baseURL, bool force,
                                              Parts parts = Parts::both);
    // Refreshes many sites a few at a time, the priority site first.
    void refreshAll(const QList<QPair<SitePtr, std::optional<QUrl>>>& sites, bool force) override;
    // The site the person is looking at: its refresh and its render go first.
    void setPrioritySite(std::optional<QUuid> site) override;
    // Forgets the site's icon and preview and deletes its folder.
    void invalidate(const QUuid& site) override;

    QImage favicon(const QUuid& site) const { return m_favicons.value(site); }
    bool hasScreenshot(const QUuid& site) const { return m_screenshots.contains(site); }
    bool isRefreshing(const QUuid& site) const { return m_refreshing.contains(site); }
    bool previewFailed(const QUuid& site) const { return m_failedURLs.contains(site); }
    std::optional<QUrl> failedURL(const QUuid& site) const;
    int refreshesRunning() const { return int(m_refreshing.size()); }
    int refreshesQueued() const { return int(m_queue.size()); }

    // The cached preview read from disk, scaled to fit `bounds` (device pixels); the last few
    // are kept. Null when there is none.
    QCoro::Task<QImage> preview(QUuid site, QSize bounds);

    // An image at `url`: a data: URL decoded, anything else fetched (8 s, 200 to 399); SVG is
    // rasterised at 128 × 128. Null when there is none.
    QCoro::Task<QImage> downloadImage(QUrl url);
    // The first image the page's icon links give, best first.
    QCoro::Task<std::optional<std::pair<QImage, QString>>> faviconFromHTML(QUrl page);
    // A project icon, else the page's icon links, else /favicon.ico, for each candidate URL.
    QCoro::Task<std::optional<std::pair<QImage, QString>>> resolveFavicon(QString projectPath,
                                                                          std::optional<QUrl> baseURL);

Q_SIGNALS:
    // The site's icon, preview, refreshing state or failure changed; a null id: all sites.
    void changed(const QUuid& site);

private:
    struct Fetched
    {
        int status = 0;
        QByteArray body;
        QUrl url; // after redirects
    };
    QCoro::Task<std::optional<Fetched>> get(QUrl url);
    QCoro::Task<AppearanceRefresh> performRefresh(SitePtr site, std::optional<QUrl> baseURL, bool force,
                                                  Parts parts, CancellationToken token);
    QCoro::Task<> drainQueue();
    void setFavicon(const QUuid& site, const QImage& icon);

    ProcessRunner& m_runner;
    QString m_root;
    std::unique_ptr<appearance::WebSnapshotter> m_snapshotter;
    CaptureFunction m_capture;
    Clock m_clock;
    int m_iconPixels = 32;
    QNetworkAccessManager m_network;

    QHash<QUuid, QImage> m_favicons;
    QSet<QUuid> m_screenshots;
    QSet<QUuid> m_refreshing;
    QHash<QUuid, QUrl> m_failedURLs;
    QHash<QUuid, std::shared_ptr<CancellationSource>> m_inFlight;
    struct Queued
    {
        SitePtr site;
        std::optional<QUrl> baseURL;
        bool force = false;
    };
    std::deque<Queued> m_queue;
    int m_workers = 0;
    std::optional<QUuid> m_priority;
    struct CachedPreview
    {
        QUuid site;
        QSize bounds;
        qint64 stamp = 0;
        QImage image;
    };
    QList<CachedPreview> m_previewCache;
    int m_running = 0; // refreshNow calls not yet returned
    bool m_stopped = false;
    LifeGuard m_life;
};

} // namespace halvik
