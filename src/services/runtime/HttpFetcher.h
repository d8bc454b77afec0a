#pragma once

#include "async/Cancellation.h"
#include "async/HalvikError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <functional>

namespace halvik {

// Plain GETs and streamed downloads for the runtime installs, awaited on the main thread.
// Transfers run on Qt's network thread; a cancelled token aborts the transfer and the call
// throws CancelledError. A connection that fails throws HttpFetchError.
class HttpFetcher
{
public:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        bool ok() const { return status >= 200 && status < 300; }
    };

    struct Download
    {
        int status = 0;
        qint64 bytes = 0;
        QByteArray sha256; // hex, lower case; only of a 2xx body, and only when asked for
        bool ok() const { return status >= 200 && status < 300; }
    };

    // received, total (-1 when the server did not say)
    using Progress = std::function<void(qint64, qint64)>;

    explicit HttpFetcher(int timeoutMs = 60000) : m_timeoutMs(timeoutMs) {}
    ~HttpFetcher();
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    QCoro::Task<Reply> get(QUrl url, CancellationToken token = {});
    enum class Checksum
    {
        none,
        sha256
    };
    // Writes a 2xx body to `filePath` as it arrives; any other status writes nothing.
    QCoro::Task<Download> download(QUrl url, QString filePath, Progress progress = {},
                                   CancellationToken token = {}, Checksum checksum = Checksum::none);

    static QByteArray userAgent();

private:
    QNetworkRequest request(const QUrl& url) const;

    QNetworkAccessManager m_network;
    int m_timeoutMs;
};

// The connection failed; the description names the address and Qt's reason.
class HttpFetchError : public HalvikError
{
public:
    using HalvikError::HalvikError;
};

} // namespace halvik
