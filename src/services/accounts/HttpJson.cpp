#include "HttpJson.h"

#include "async/HalvikError.h"
#include "async/ReplyFinished.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>

namespace halvik {

QString HttpAnswer::text() const
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(body);
    if (decoder.hasError())
        return {};
    return decoded;
}

std::optional<nlohmann::json> HttpAnswer::object() const
{
    const auto parsed =
        nlohmann::json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return std::nullopt;
    return parsed;
}

QCoro::Task<HttpAnswer> sendHttp(QNetworkAccessManager& manager, QByteArray method, QUrl url,
                                 HttpHeaders headers, std::optional<QByteArray> body,
                                 std::chrono::milliseconds timeout, CancellationToken cancel)
{
    cancel.throwIfCancelled();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    for (const auto& [name, value] : std::as_const(headers))
        request.setRawHeader(name, value);
    QNetworkReply* sent =
        body ? manager.sendCustomRequest(request, method, *body) : manager.sendCustomRequest(request, method);
    // The manager deletes its replies when it goes first (at quit): the reply is held by a guarded
    // pointer, and the wait ends on its deletion too, or this request would wait for ever.
    const QPointer<QNetworkReply> reply(sent);
    // Later: the wait may end inside the reply's own finished signal.
    const auto deleting = qScopeGuard([&reply] {
        if (reply)
            reply->deleteLater();
    });
    cancel.onCancelled(sent, [sent] { sent->abort(); });
    // Named, not a temporary: with GCC 12 a temporary's guarded pointer was released twice when
    // the wait ended.
    ReplyFinished finishing{reply, {}, {}};
    co_await finishing;
    if (!reply)
        throw CancelledError();
    cancel.throwIfCancelled();
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0) {
        // Qt ends a request past its transfer time-out as "Operation canceled"; nobody cancelled
        // it here (that threw above), so say what happened.
        if (reply->error() == QNetworkReply::OperationCanceledError) {
            const auto seconds = std::max<qint64>(1, (timeout.count() + 999) / 1000);
            answer.body = (seconds == 1 ? QStringLiteral("No answer within a second")
                                        : QStringLiteral("No answer within %1 seconds").arg(seconds))
                              .toUtf8();
        } else {
            answer.body = reply->errorString().toUtf8();
        }
        co_return answer;
    }
    answer.body = reply->readAll();
    co_return answer;
}

QByteArray jsonBody(const nlohmann::json& object)
{
    const std::string dumped = object.dump();
    return QByteArray(dumped.data(), static_cast<qsizetype>(dumped.size()));
}

QString jsonString(const nlohmann::json& object, const char* key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return {};
    return QString::fromStdString(it->get<std::string>());
}

QUrl apiURL(const QString& root, const QString& path)
{
    QString base = root;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path);
}

} // namespace halvik
