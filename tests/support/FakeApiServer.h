#pragma once

#include <QByteArray>
#include <QHttpServer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace halvik::test {

// A provider's web API played on 127.0.0.1: every request is recorded (method, path, query,
// headers, body) and answered by a handler the test supplies.
class FakeApiServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QString path;
        QString query;
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;

        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
        // The body parsed as a JSON object; empty when it is not one.
        QVariantMap json() const;
    };

    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        QList<QPair<QByteArray, QByteArray>> headers;

        static Response json(int status, const QByteArray& body)
        {
            return {status, body, "application/json", {}};
        }
    };

    using Handler = std::function<Response(const Request&)>;

    explicit FakeApiServer(Handler handler = {}, QObject* parent = nullptr);
    bool start();
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Every answer leaves this long after its request came in (a slow provider).
    void setDelay(int milliseconds) { m_delayMs = milliseconds; }
    // "http://127.0.0.1:<port>"
    QString root() const;
    const QList<Request>& requests() const { return m_requests; }
    void clear() { m_requests.clear(); }

private:
    QHttpServer m_server;
    Handler m_handler;
    QList<Request> m_requests;
    quint16 m_port = 0;
    int m_delayMs = 0;
};

// Serves the bare repositories under `projectRoot` over Git's smart HTTP through
// `git http-backend`, but only to requests carrying Basic credentials with `password` (any
// user name); anything else gets 401 with a Basic challenge. `accepted` counts requests that
// carried the right password.
FakeApiServer::Handler gitHttpBackend(const QString& projectRoot, const QByteArray& password, int* accepted);

} // namespace halvik::test
