#pragma once

#include "async/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace halvik {

// One answer of a provider's web API. A request that got no HTTP answer at all has status 0
// and the network's own description as its body.
struct HttpAnswer
{
    int status = 0;
    QByteArray body;

    bool isSuccess() const { return status >= 200 && status <= 299; }
    // The body as UTF-8, or empty when it does not decode.
    QString text() const;
    // The body as a JSON object, or nothing.
    std::optional<nlohmann::json> object() const;
};

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// Sends one request with the given headers and, when present, the body; never throws for
// HTTP or network failures. Cancelling `cancel` aborts the request and throws CancelledError.
QCoro::Task<HttpAnswer> sendHttp(QNetworkAccessManager& manager, QByteArray method, QUrl url,
                                 HttpHeaders headers, std::optional<QByteArray> body = std::nullopt,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(60),
                                 CancellationToken cancel = {});

// The request body for a JSON object.
QByteArray jsonBody(const nlohmann::json& object);
// A string member, or empty.
QString jsonString(const nlohmann::json& object, const char* key);
// Joins an API root and a path ("/user").
QUrl apiURL(const QString& root, const QString& path);

} // namespace halvik
