#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QUrl>

namespace halvik::test {

// A small HTTP/1.1 file server on 127.0.0.1 for download tests: each path answers with its own
// status and body (404 for anything unknown), optionally trickled out in chunks so a test can
// cancel mid-transfer. Records every request it received.
class FakeFileServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // lower-case names
    };

    explicit FakeFileServer(QObject* parent = nullptr) : QTcpServer(parent) {}

    bool start() { return listen(QHostAddress::LocalHost, 0); }
    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path = QStringLiteral("/")) const;

    void serve(const QByteArray& path, QByteArray body, int status = 200);
    // Sends `chunk` bytes every `intervalMs` milliseconds.
    void serveSlowly(const QByteArray& path, QByteArray body, qint64 chunk, int intervalMs);
    void remove(const QByteArray& path) { m_routes.remove(path); }

    const QList<Request>& requests() const { return m_requests; }
    // Whether a slow transfer is still being sent.
    bool isSending() const { return m_sending > 0; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Route
    {
        int status = 200;
        QByteArray body;
        qint64 chunk = 0;
        int intervalMs = 0;
    };
    void answer(QTcpSocket* socket, const QByteArray& head);
    void trickle(QTcpSocket* socket, QByteArray body, qint64 chunk, int intervalMs);

    QHash<QByteArray, Route> m_routes;
    QList<Request> m_requests;
    int m_sending = 0;
};

} // namespace halvik::test
