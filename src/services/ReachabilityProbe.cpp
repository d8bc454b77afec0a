#include "ReachabilityProbe.h"

#include "LocalTlsTrust.h"
#include "async/HalvikError.h"
#include "async/Sleep.h"
#include "platform/ThreadPriority.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace halvik {

namespace {

Reachability classifyFailure(const QUrl& url, QNetworkReply::NetworkError error, const QString& description,
                             bool timedOut)
{
    const QString host = url.host().isEmpty() ? QStringLiteral("host") : url.host();
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return Reachability::unreachable(host + QStringLiteral(" doesn't resolve — no local DNS for it"));
    case QNetworkReply::ConnectionRefusedError: {
        const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
        return Reachability::unreachable(QStringLiteral("Nothing is listening on %1:%2").arg(host).arg(port));
    }
    case QNetworkReply::TimeoutError:
        return Reachability::unreachable(QStringLiteral("Timed out"));
    case QNetworkReply::OperationCanceledError:
        // Nothing but the two time-outs aborts a probe (cancellation is handled before this).
        return Reachability::unreachable(QStringLiteral("Timed out"));
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::RemoteHostClosedError:
        // Connected, but what came back (if anything) was no HTTP response.
        if (!timedOut)
            return Reachability::unreachable(QStringLiteral("No HTTP response"));
        return Reachability::unreachable(QStringLiteral("Timed out"));
    case QNetworkReply::SslHandshakeFailedError:
        return Reachability::unreachable(QStringLiteral("TLS handshake failed: ") + description);
    default:
        if (timedOut)
            return Reachability::unreachable(QStringLiteral("Timed out"));
        return Reachability::unreachable(description);
    }
}

// The main thread's probes share one manager: a manager costs a thread of its own, and a refresh
// of a thousand sites would otherwise start a thousand threads that compete with the window for
// the processor. Nothing is shared between probes through it: each asks for a connection of its
// own ("Connection: close") and neither sends nor keeps cookies.
// The manager is never deleted: a probe still waiting when the process ends owns its reply, which
// must not be deleted under it by the manager.
QNetworkAccessManager* sharedManager()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return nullptr;
    static QNetworkAccessManager* const manager = new QNetworkAccessManager;
    return manager;
}

} // namespace

QCoro::Task<Reachability> ReachabilityProbe::probe(QUrl url, CancellationToken token,
                                                   std::optional<std::chrono::milliseconds> limit)
{
    token.throwIfCancelled();
    QNetworkAccessManager* manager = sharedManager();
    if (manager)
        co_return co_await probeWith(manager, std::move(url), std::move(token), limit);
    QNetworkAccessManager ownManager;
    co_return co_await probeWith(&ownManager, std::move(url), std::move(token), limit);
}

QCoro::Task<Reachability> ReachabilityProbe::probeWith(QNetworkAccessManager* manager, QUrl url,
                                                       CancellationToken token,
                                                       std::optional<std::chrono::milliseconds> limit)
{
    const std::chrono::milliseconds floor{1};
    const std::chrono::milliseconds transferLimit =
        limit ? std::clamp(*limit, floor, requestTimeout) : requestTimeout;
    const std::chrono::milliseconds wholeLimit =
        limit ? std::clamp(*limit, floor, resourceTimeout) : resourceTimeout;
    token.throwIfCancelled();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setRawHeader("Connection", "close");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(transferLimit.count()));

    std::unique_ptr<QNetworkReply> reply(manager->head(request));
    LocalTlsTrust::attach(reply.get());

    bool timedOut = false;
    QTimer resourceTimer;
    resourceTimer.setSingleShot(true);
    QObject::connect(&resourceTimer, &QTimer::timeout, reply.get(), [&timedOut, r = reply.get()] {
        timedOut = true;
        r->abort();
    });
    resourceTimer.start(wholeLimit);
    token.onCancelled(reply.get(), [r = reply.get()] { r->abort(); });

    co_await qCoro(reply.get()).waitForFinished();
    resourceTimer.stop();
    token.throwIfCancelled();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        std::optional<QString> serverHeader;
        if (reply->hasRawHeader("Server"))
            serverHeader = QString::fromUtf8(reply->rawHeader("Server"));
        co_return Reachability::fromStatus(status.toInt(), serverHeader);
    }
    if (reply->error() == QNetworkReply::NoError)
        co_return Reachability::unreachable(QStringLiteral("No HTTP response"));
    co_return classifyFailure(url, reply->error(), reply->errorString(), timedOut);
}

namespace {

// A probe of a batch, writing its answer into the batch's list and saying when it is done.
QCoro::Task<> probeInto(QCoro::Task<Reachability> probe, Reachability* answer, std::function<void()> done)
{
    try {
        *answer = co_await std::move(probe);
    } catch (const CancelledError&) {
    }
    done();
}

// A few dozen requests at a time keep every local server busy without flooding the processor,
// which the window shares with those servers.
constexpr int maxProbesAtOnce = 24;

// The batches' threads: each batch runs its own event loop while its replies are out.
QThreadPool& batchThreads()
{
    static QThreadPool pool;
    return pool;
}

} // namespace

QCoro::Task<QList<Reachability>> ReachabilityProbe::probeAll(QList<QUrl> urls, CancellationToken token)
{
    token.throwIfCancelled();
    if (urls.isEmpty())
        co_return {};
    QFuture<QList<Reachability>> batch = QtConcurrent::run(&batchThreads(), [urls, token] {
        // The manager's own thread, started below, inherits this.
        lowerCurrentThreadPriority();
        QList<Reachability> answers(urls.size(), Reachability::notRunning());
        QEventLoop loop;
        QNetworkAccessManager manager;
        std::vector<QCoro::Task<>> probes;
        probes.reserve(urls.size());
        qsizetype started = 0;
        qsizetype ended = 0;
        std::function<void()> startNext = [&] {
            if (started == urls.size() || token.isCancelled())
                return;
            const qsizetype i = started++;
            probes.push_back(
                probeInto(probeWith(&manager, urls.at(i), token, std::nullopt), &answers[i], [&] {
                    if (++ended == started && (started == urls.size() || token.isCancelled()))
                        loop.quit();
                    else
                        startNext();
                }));
        };
        for (int i = 0; i < maxProbesAtOnce; ++i)
            startNext();
        if (ended < started)
            loop.exec();
        return answers;
    });
    QList<Reachability> answers = co_await batch;
    token.throwIfCancelled();
    co_return answers;
}

QCoro::Task<Reachability> ReachabilityProbe::waitUntilServing(QUrl url, std::chrono::milliseconds timeout,
                                                              CancellationToken token,
                                                              std::chrono::milliseconds interval)
{
    const QDeadlineTimer deadline(timeout);
    while (true) {
        const std::chrono::milliseconds left(std::max<qint64>(deadline.remainingTime(), 1));
        Reachability result = co_await probe(url, token, left);
        if (result.isServing() || deadline.hasExpired())
            co_return result;
        co_await sleepFor(std::min(interval, std::chrono::milliseconds(deadline.remainingTime())), token);
        if (deadline.hasExpired())
            co_return result;
    }
}

} // namespace halvik
