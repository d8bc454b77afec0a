#include "HttpFetcher.h"

#include <QCoroNetworkReply>
#include <QCryptographicHash>
#include <QFile>
#include <QNetworkReply>

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

QCoro::Task<HttpFetcher::Reply> HttpFetcher::get(QUrl url, CancellationToken token)
{
    token.throwIfCancelled();
    std::unique_ptr<QNetworkReply> reply(m_network.get(request(url)));
    token.onCancelled(reply.get(), [r = reply.get()] { r->abort(); });
    co_await qCoro(reply.get()).waitForFinished();
    token.throwIfCancelled();
    throwIfFailedWithoutAnswer(reply.get(), url);
    co_return Reply{statusOf(reply.get()), reply->readAll()};
}

QCoro::Task<HttpFetcher::Download> HttpFetcher::download(QUrl url, QString filePath, Progress progress,
                                                         CancellationToken token)
{
    token.throwIfCancelled();
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw HttpFetchError(QStringLiteral("Couldn’t write %1: %2").arg(filePath, file.errorString()));

    std::unique_ptr<QNetworkReply> reply(m_network.get(request(url)));
    QNetworkReply* raw = reply.get();
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
        hash.addData(chunk);
        written += chunk.size();
    };
    QObject::connect(raw, &QNetworkReply::readyRead, raw, drain);
    if (progress)
        QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [&progress](qint64 received, qint64 total) {
            progress(received, total);
        });
    co_await qCoro(raw).waitForFinished();
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
        result.sha256 = hash.result().toHex();
    }
    co_return result;
}

} // namespace halvik
