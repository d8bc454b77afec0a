#include "SiteAppearanceService.h"

#include "AppearanceRules.h"
#include "IconImages.h"
#include "RenderGate.h"
#include "WebSnapshotter.h"

#include "services/LocalTlsTrust.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"
#include "platform/AppDataDir.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

using namespace appearance;

namespace {

constexpr int requestTimeoutMs = 8000;
constexpr int refreshWorkers = 3;
constexpr int previewCacheSize = 4;

// The largest image in the data (an .ico holds several), or a null image.
QImage decodeBitmap(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage best;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (!image.isNull() && qint64(image.width()) * image.height() > qint64(best.width()) * best.height())
            best = image;
    }
    return best;
}

QByteArray encodePNG(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// An icon file read at (about) the size it is shown at.
QImage readIcon(const QString& path, int side)
{
    QImageReader reader(path);
    QSize size = reader.size();
    if (size.isValid() && (size.width() > side || size.height() > side)) {
        size.scale(side, side, Qt::KeepAspectRatio);
        reader.setScaledSize(size);
    }
    return reader.read();
}

struct LocalIcon
{
    QString path;
    QByteArray data;
};

QList<LocalIcon> readLocalIcons(const QString& projectPath)
{
    QList<LocalIcon> found;
    for (const QString& relative : localIconPaths()) {
        const QString path = projectPath + QLatin1Char('/') + relative;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            found << LocalIcon{path, file.readAll()};
    }
    return found;
}

} // namespace

SiteAppearanceService::SiteAppearanceService(ProcessRunner& runner, QString root, QObject* parent)
    : QObject(parent), m_runner(runner), m_root(root.isEmpty() ? AppDataDir::directory() : std::move(root)),
      m_snapshotter(std::make_unique<WebSnapshotter>(runner)),
      m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    WebSnapshotter* snapshotter = m_snapshotter.get();
    m_capture = [snapshotter](QUrl url, QSize size) { return snapshotter->capture(std::move(url), size); };
}

SiteAppearanceService::~SiteAppearanceService()
{
    m_life.end();
    for (const auto& source : std::as_const(m_inFlight))
        source->cancel();
}

void SiteAppearanceService::stop()
{
    m_stopped = true;
    m_queue.clear();
    for (const auto& source : std::as_const(m_inFlight))
        source->cancel();
    // A request still open would never finish once the network manager is gone; aborting
    // finishes it now. Work handed to other threads reports back through the event loop, so
    // the loop turns until every refresh has returned.
    QList<QPointer<QNetworkReply>> open;
    for (QNetworkReply* reply : m_network.findChildren<QNetworkReply*>())
        open.append(reply);
    for (const QPointer<QNetworkReply>& reply : std::as_const(open))
        if (reply)
            reply->abort();
    QElapsedTimer waited;
    waited.start();
    while (m_running > 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

std::optional<QUrl> SiteAppearanceService::failedURL(const QUuid& site) const
{
    const auto it = m_failedURLs.constFind(site);
    return it == m_failedURLs.constEnd() ? std::nullopt : std::optional(*it);
}

QCoro::Task<> SiteAppearanceService::warmFromDisk(QList<SitePtr> sites)
{
    const LifeToken alive = m_life.token();
    QList<QUuid> ids;
    for (const SitePtr& site : sites)
        if (site)
            ids << site->id();
    struct Warm
    {
        QHash<QUuid, QImage> icons;
        QSet<QUuid> screenshots;
    };
    const QString root = m_root;
    const int side = m_iconPixels;
    auto work1 = QtConcurrent::run([root, ids, side] {
        Warm out;
        for (const QUuid& id : ids) {
            const AppearanceFiles files(root, id);
            if (QFileInfo::exists(files.faviconPath())) {
                const QImage icon = readIcon(files.faviconPath(), side);
                if (!icon.isNull())
                    out.icons.insert(id, icon);
            }
            if (QFileInfo::exists(files.screenshotPath()))
                out.screenshots.insert(id);
        }
        return out;
    });
    const Warm warm = co_await work1;
    if (!alive)
        co_return;
    for (auto it = warm.icons.cbegin(); it != warm.icons.cend(); ++it)
        m_favicons.insert(it.key(), it.value());
    m_screenshots.unite(warm.screenshots);
    Q_EMIT changed(QUuid());
}

void SiteAppearanceService::refresh(const SitePtr& site, std::optional<QUrl> baseURL, bool force)
{
    if (!site || m_inFlight.contains(site->id()))
        return;
    fireAndForget(
        this, [](SiteAppearanceService* self, SitePtr s, std::optional<QUrl> url, bool f) -> QCoro::Task<> {
            co_await self->refreshNow(std::move(s), std::move(url), f);
        }(this, site, std::move(baseURL), force));
}

QCoro::Task<AppearanceRefresh> SiteAppearanceService::refreshNow(SitePtr site, std::optional<QUrl> baseURL,
                                                                 bool force, Parts parts)
{
    if (!site || m_stopped || m_inFlight.contains(site->id()))
        co_return AppearanceRefresh{};
    ++m_running;
    const auto returned = qScopeGuard([this, alive = m_life.token()] {
        if (alive)
            --m_running;
    });
    const QUuid id = site->id();
    const LifeToken alive = m_life.token();
    auto source = std::make_shared<CancellationSource>();
    m_inFlight.insert(id, source);
    m_refreshing.insert(id);
    Q_EMIT changed(id);
    AppearanceRefresh result;
    try {
        result = co_await performRefresh(site, std::move(baseURL), force, parts, source->token());
    } catch (const CancelledError&) {
    } catch (const std::exception& error) {
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik site appearance refresh failed: ") + QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return result;
    if (m_inFlight.value(id) == source)
        m_inFlight.remove(id);
    m_refreshing.remove(id);
    Q_EMIT changed(id);
    co_return result;
}

QCoro::Task<AppearanceRefresh> SiteAppearanceService::performRefresh(SitePtr site,
                                                                     std::optional<QUrl> baseURL, bool force,
                                                                     Parts parts, CancellationToken token)
{
    const LifeToken alive = m_life.token();
    const QUuid id = site->id();
    const QString projectPath = site->path();
    const AppearanceFiles files = this->files(id);
    const QDateTime now = m_clock();
    AppearanceRefresh result;
    result.ran = true;

    bool wantFavicon = parts != Parts::screenshot;
    bool wantScreenshot = parts != Parts::favicon;
    if (!force) {
        const QString faviconPath = files.faviconPath();
        const QString screenshotPath = files.screenshotPath();
        const bool askFavicon = wantFavicon;
        const bool askScreenshot = wantScreenshot;
        auto work2 =
            QtConcurrent::run([faviconPath, screenshotPath, projectPath, now, askFavicon, askScreenshot] {
                return std::pair(askFavicon && needsFavicon(faviconPath, projectPath),
                                 askScreenshot && needsScreenshot(screenshotPath, projectPath, now));
            });
        const auto needs = co_await work2;
        if (!alive)
            co_return result;
        wantFavicon = wantFavicon && needs.first;
        wantScreenshot = wantScreenshot && needs.second;
    }
    token.throwIfCancelled();

    if (wantFavicon) {
        const auto found = co_await resolveFavicon(projectPath, baseURL);
        if (!alive)
            co_return result;
        token.throwIfCancelled();
        if (found) {
            const QImage source = found->first;
            const int side = m_iconPixels;
            const QString path = files.faviconPath();
            auto work3 = QtConcurrent::run([source, path, now, side] {
                const QImage icon = preparedIcon(source, faviconMaxPixel);
                const bool saved = AppearanceFiles::store(path, encodePNG(icon), now);
                return std::pair(saved, preparedIcon(icon, side));
            });
            const auto stored = co_await work3;
            if (!alive)
                co_return result;
            token.throwIfCancelled();
            if (stored.first) {
                setFavicon(id, stored.second);
                result.faviconRefreshed = true;
                result.faviconFrom = found->second;
            }
        }
    }

    if (wantScreenshot && baseURL) {
        std::optional<QImage> accepted;
        for (const QUrl& candidate : captureURLCandidates(*baseURL)) {
            const bool urgent = m_priority == id;
            RenderGate::Ticket ticket = co_await RenderGate::shared().enter(urgent);
            if (!alive)
                co_return result;
            token.throwIfCancelled();
            const CaptureFunction capture = m_capture;
            std::optional<QImage> image = co_await capture(candidate, captureSize);
            ticket.release();
            if (!alive)
                co_return result;
            token.throwIfCancelled();
            if (!image)
                continue;
            const QImage shot = *image;
            auto work4 = QtConcurrent::run([shot] { return isFlatFill(shot); });
            const bool flat = co_await work4;
            if (!alive)
                co_return result;
            if (!flat) {
                accepted = std::move(image);
                break;
            }
        }
        token.throwIfCancelled();
        if (accepted) {
            const QImage shot = *accepted;
            const QString path = files.screenshotPath();
            auto work5 = QtConcurrent::run(
                [shot, path, now] { return AppearanceFiles::store(path, encodePNG(shot), now); });
            const bool saved = co_await work5;
            if (!alive)
                co_return result;
            if (saved) {
                m_screenshots.insert(id);
                m_failedURLs.remove(id);
                m_previewCache.removeIf([id](const CachedPreview& cached) { return cached.site == id; });
                result.screenshotRefreshed = true;
            }
        } else {
            m_failedURLs.insert(id, *baseURL);
            result.previewFailed = true;
            result.failedURL = *baseURL;
        }
    }
    co_return result;
}

void SiteAppearanceService::refreshAll(const QList<QPair<SitePtr, std::optional<QUrl>>>& sites, bool force)
{
    for (const auto& [site, url] : sites) {
        if (!site)
            continue;
        Queued entry{site, url, force};
        if (m_priority == site->id())
            m_queue.push_front(std::move(entry));
        else
            m_queue.push_back(std::move(entry));
    }
    while (m_workers < refreshWorkers && !m_queue.empty()) {
        ++m_workers;
        fireAndForget(this, drainQueue());
    }
}

QCoro::Task<> SiteAppearanceService::drainQueue()
{
    const LifeToken alive = m_life.token();
    while (!m_queue.empty()) {
        Queued next = std::move(m_queue.front());
        m_queue.pop_front();
        co_await refreshNow(next.site, next.baseURL, next.force);
        if (!alive)
            co_return;
    }
    --m_workers;
}

void SiteAppearanceService::setPrioritySite(std::optional<QUuid> site)
{
    m_priority = site;
    if (!site)
        return;
    const auto it = std::find_if(m_queue.begin(), m_queue.end(),
                                 [&](const Queued& queued) { return queued.site->id() == *site; });
    if (it != m_queue.end() && it != m_queue.begin()) {
        Queued entry = std::move(*it);
        m_queue.erase(it);
        m_queue.push_front(std::move(entry));
    }
}

void SiteAppearanceService::invalidate(const QUuid& site)
{
    if (const auto source = m_inFlight.take(site))
        source->cancel();
    m_refreshing.remove(site);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [&](const Queued& queued) { return queued.site->id() == site; }),
                  m_queue.end());
    m_favicons.remove(site);
    m_screenshots.remove(site);
    m_failedURLs.remove(site);
    m_previewCache.removeIf([site](const CachedPreview& cached) { return cached.site == site; });
    QDir(files(site).folder()).removeRecursively();
    Q_EMIT changed(site);
}

void SiteAppearanceService::setFavicon(const QUuid& site, const QImage& icon)
{
    m_favicons.insert(site, icon);
}

QCoro::Task<QImage> SiteAppearanceService::preview(QUuid site, QSize bounds)
{
    const QString path = files(site).screenshotPath();
    const QFileInfo info(path);
    const qint64 stamp = info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0;
    for (qsizetype i = 0; i < m_previewCache.size(); ++i)
        if (m_previewCache[i].site == site && m_previewCache[i].bounds == bounds &&
            m_previewCache[i].stamp == stamp) {
            m_previewCache.move(i, 0);
            co_return m_previewCache.first().image;
        }
    if (!stamp)
        co_return QImage();
    const LifeToken alive = m_life.token();
    auto work6 = QtConcurrent::run([path, bounds] {
        QImageReader reader(path);
        QSize size = reader.size();
        if (size.isValid() && bounds.isValid()) {
            size.scale(bounds, Qt::KeepAspectRatio);
            reader.setScaledSize(size);
        }
        return reader.read();
    });
    const QImage image = co_await work6;
    if (!alive || image.isNull())
        co_return image;
    m_previewCache.prepend(CachedPreview{site, bounds, stamp, image});
    while (m_previewCache.size() > previewCacheSize)
        m_previewCache.removeLast();
    co_return image;
}

QCoro::Task<std::optional<SiteAppearanceService::Fetched>> SiteAppearanceService::get(QUrl url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    request.setTransferTimeout(requestTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    std::unique_ptr<QNetworkReply> reply(m_network.get(request));
    LocalTlsTrust::attach(reply.get());
    co_await qCoro(reply.get()).waitForFinished();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        co_return std::nullopt;
    co_return Fetched{status, reply->readAll(), reply->url()};
}

QCoro::Task<QImage> SiteAppearanceService::downloadImage(QUrl url)
{
    QByteArray data;
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        const auto decoded = decodeDataURL(url.toString(QUrl::FullyEncoded));
        if (!decoded)
            co_return QImage();
        data = *decoded;
    } else {
        const LifeToken alive = m_life.token();
        const auto fetched = co_await get(url);
        if (!alive || !fetched || fetched->status < 200 || fetched->status > 399)
            co_return QImage();
        data = fetched->body;
    }
    if (data.isEmpty())
        co_return QImage();
    if (looksLikeSVG(url, data)) {
        const auto drawn =
            co_await m_snapshotter->rasterizeSVG(data, QSize(faviconMaxPixel, faviconMaxPixel));
        co_return drawn.value_or(QImage());
    }
    auto work7 = QtConcurrent::run(decodeBitmap, data);
    co_return co_await work7;
}

QCoro::Task<std::optional<std::pair<QImage, QString>>> SiteAppearanceService::faviconFromHTML(QUrl page)
{
    const LifeToken alive = m_life.token();
    const auto fetched = co_await get(page);
    if (!alive || !fetched)
        co_return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString html = decoder.decode(fetched->body);
    auto work8 = QtConcurrent::run(iconLinksFromHTML, html);
    const QStringList hrefs = co_await work8;
    if (!alive)
        co_return std::nullopt;
    for (const QString& href : hrefs) {
        // A data: URI is decoded as it stands; anything else is relative to the page.
        const bool inline_ = href.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
        const QUrl target = inline_ ? QUrl(href) : fetched->url.resolved(QUrl(href.trimmed()));
        const QImage image = co_await downloadImage(target);
        if (!alive)
            co_return std::nullopt;
        if (!image.isNull())
            co_return std::pair(image, inline_ ? fetched->url.toString() : target.toString());
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<std::pair<QImage, QString>>>
SiteAppearanceService::resolveFavicon(QString projectPath, std::optional<QUrl> baseURL)
{
    const LifeToken alive = m_life.token();
    auto work9 = QtConcurrent::run(readLocalIcons, projectPath);
    const QList<LocalIcon> local = co_await work9;
    if (!alive)
        co_return std::nullopt;
    for (const LocalIcon& icon : local) {
        QImage image;
        if (looksLikeSVG(QUrl::fromLocalFile(icon.path), icon.data)) {
            const auto drawn =
                co_await m_snapshotter->rasterizeSVG(icon.data, QSize(faviconMaxPixel, faviconMaxPixel));
            image = drawn.value_or(QImage());
        } else {
            auto work10 = QtConcurrent::run(decodeBitmap, icon.data);
            image = co_await work10;
        }
        if (!alive)
            co_return std::nullopt;
        if (!image.isNull())
            co_return std::pair(image, icon.path);
    }
    if (!baseURL)
        co_return std::nullopt;
    const QList<QUrl> candidates = captureURLCandidates(*baseURL);
    for (const QUrl& candidate : candidates) {
        auto found = co_await faviconFromHTML(candidate);
        if (!alive)
            co_return std::nullopt;
        if (found)
            co_return found;
    }
    for (const QUrl& candidate : candidates) {
        const QUrl ico = candidate.resolved(QUrl(QStringLiteral("/favicon.ico")));
        const QImage image = co_await downloadImage(ico);
        if (!alive)
            co_return std::nullopt;
        if (!image.isNull())
            co_return std::pair(image, ico.toString());
    }
    co_return std::nullopt;
}

} // namespace halvik
