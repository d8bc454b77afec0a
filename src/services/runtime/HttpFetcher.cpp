#include "HttpFetcher.h"

#include "async/ReplyFinished.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkReply>
#include <QPointer>

#include <memory>

namespace halvik {

namespace {

int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// A connection that produced no HTTP answer at all.
void throwIfFailedWithoutAnswer(QNetworkReply* reply, const QUrl& url)
{
    if (statusOf(reply) == 0 && reply->error() != QNetworkReply::NoError)
        throw HttpFetchError(QStringLiteral("Couldn’t reach %1: %2")
                                 .arg(url.toDisplayString(QUrl::RemoveUserInfo), reply->errorString()));
}

// Deletes the reply when the transfer's coroutine ends, unless its manager already did.
struct ReplyDeleter
{
    QPointer<QNetworkReply> reply;
    ~ReplyDeleter()
    {
        if (reply)
            reply->deleteLater();
    }
};

} // namespace

QByteArray HttpFetcher::userAgent()
{
    return QByteArrayLiteral("Halvik/1 (+https://halvik.app)");
}

QNetworkRequest HttpFetcher::request(const QUrl& url) const
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent());
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

HttpFetcher::~HttpFetcher()
{
    // Every transfer still running ends now; its coroutine finds the reply gone and stops.
    for (QNetworkReply* reply : m_network.findChildren<QNetworkReply*>())
        reply->abort();
}

QCoro::Task<HttpFetcher::Reply> HttpFetcher::get(QUrl url, CancellationToken token)
{
    token.throwIfCancelled();
    // The manager owns the reply; should the fetcher go first, the pointer turns null.
    const QPointer<QNetworkReply> reply = m_network.get(request(url));
    const ReplyDeleter cleanup{reply};
    token.onCancelled(reply, [reply] { reply->abort(); });
    ReplyFinished finishing{reply, {}, {}};
    co_await finishing;
    if (!reply)
        throw CancelledError();
    token.throwIfCancelled();
    throwIfFailedWithoutAnswer(reply, url);
    co_return Reply{statusOf(reply), reply->readAll()};
}

QCoro::Task<HttpFetcher::Download> HttpFetcher::download(QUrl url, QString filePath, Progress progress,
                                                         CancellationToken token, Checksum checksum)
{
    token.throwIfCancelled();
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw HttpFetchError(QStringLiteral("Couldn’t write %1: %2").arg(filePath, file.errorString()));

    const QPointer<QNetworkReply> reply = m_network.get(request(url));
    const ReplyDeleter cleanup{reply};
    QNetworkReply* raw = reply;
    token.onCancelled(raw, [raw] { raw->abort(); });

    // The body goes to disk chunk by chunk as it arrives and is hashed on the way, so a large
    // archive is never held in memory or read twice.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 written = 0;
    QString writeError;
    const auto drain = [&] {
        const int status = statusOf(raw);
        const QByteArray chunk = raw->readAll();
        if (status < 200 || status >= 300 || chunk.isEmpty() || !writeError.isEmpty())
            return;
        if (file.write(chunk) != chunk.size()) {
            writeError = file.errorString();
            raw->abort();
            return;
        }
        if (checksum == Checksum::sha256)
            hash.addData(chunk);
        written += chunk.size();
    };
    QObject::connect(raw, &QNetworkReply::readyRead, raw, drain);
    if (progress)
        QObject::connect(raw, &QNetworkReply::downloadProgress, raw,
                         [&progress](qint64 received, qint64 total) { progress(received, total); });
    ReplyFinished finishing{reply, {}, {}};
    co_await finishing;
    if (!reply)
        throw CancelledError();
    drain();
    QObject::disconnect(raw, nullptr, nullptr, nullptr); // the handlers use this frame's locals
    file.close();
    token.throwIfCancelled();
    if (!writeError.isEmpty())
        throw HttpFetchError(QStringLiteral("Couldn’t write %1: %2").arg(filePath, writeError));
    throwIfFailedWithoutAnswer(raw, url);
    Download result{statusOf(raw), written, {}};
    if (result.ok()) {
        if (raw->error() != QNetworkReply::NoError)
            throw HttpFetchError(QStringLiteral("Download from %1 broke off: %2")
                                     .arg(url.toDisplayString(QUrl::RemoveUserInfo), raw->errorString()));
        if (checksum == Checksum::sha256)
            result.sha256 = hash.result().toHex();
    }
    co_return result;
}

} // namespace halvik
