#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

#include <optional>

namespace halvik::test {

// A tiny HTTP/1.1 server on 127.0.0.1 that answers every request with one canned response and
// records the request lines it received. Optionally speaks TLS with a given certificate.
class FakeWebServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };

    struct Identity
    {
        QSslCertificate certificate;
        QSslKey key;
    };

    explicit FakeWebServer(QObject* parent = nullptr) : QTcpServer(parent) {}

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool start(quint16 port = 0);
    void setResponse(Response response) { m_response = std::move(response); }
    void useTls(Identity identity) { m_identity = std::move(identity); }

    // `host` defaults to 127.0.0.1; the scheme follows whether TLS is on.
    QUrl url(const QString& host = QStringLiteral("127.0.0.1")) const;
    const QList<QByteArray>& requestLines() const { return m_requestLines; }
    // Each request's line and headers, as received.
    const QList<QByteArray>& requestHeads() const { return m_requestHeads; }

    // A self-signed certificate made with the openssl command, or nothing when it is missing.
    static std::optional<Identity> selfSignedIdentity(const QString& commonName);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket* socket);

    Response m_response;
    std::optional<Identity> m_identity;
    QList<QByteArray> m_requestLines;
    QList<QByteArray> m_requestHeads;
};

// A port on 127.0.0.1 that nothing listens on right now.
quint16 unusedLocalPort();

} // namespace halvik::test
