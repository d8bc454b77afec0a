#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QHttpServer;

namespace halvik::test {

// A local web site on 127.0.0.1 (Qt HttpServer): serves the pages and icons a test gives it,
// answers 404 for anything else, and records every request with its User-Agent. The TLS
// variant uses a self-signed certificate made by openssl when the test runs.
class FakeSite : public QObject
{
    Q_OBJECT
public:
    struct Resource
    {
        QByteArray body;
        QByteArray contentType = "text/html; charset=utf-8";
        int status = 200;
    };
    struct Request
    {
        QString path;
        QByteArray userAgent;
    };

    explicit FakeSite(QObject* parent = nullptr);
    ~FakeSite() override;

    // Listens on a free port, or on `port` (to come back where it was); false when it cannot.
    bool start(bool tls = false, quint16 port = 0);
    // Stops answering: the port closes.
    void stop();
    bool isRunning() const { return bool(m_server); }

    void set(const QString& path, Resource resource) { m_resources.insert(path, std::move(resource)); }
    void remove(const QString& path) { m_resources.remove(path); }

    quint16 port() const { return m_port; }
    // http(s)://<host>:<port>/
    QUrl url(const QString& host = QStringLiteral("127.0.0.1")) const;
    const QList<Request>& requests() const { return m_requests; }
    int count(const QString& path) const;
    void clear() { m_requests.clear(); }

    // A page with a header, columns and colours: what a real home page looks like to the
    // flat-fill test.
    static QByteArray colourfulPage(const QByteArray& headExtra = {});
    // A small PNG of one colour, `side` pixels square.
    static QByteArray png(const QColor& colour, int side);

private:
    std::unique_ptr<QHttpServer> m_server;
    QHash<QString, Resource> m_resources;
    QList<Request> m_requests;
    quint16 m_port = 0;
    bool m_tls = false;
};

} // namespace halvik::test
