#include "FakeWebServer.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace halvik::test {

bool FakeWebServer::start(quint16 port)
{
    return listen(QHostAddress::LocalHost, port);
}

QUrl FakeWebServer::url(const QString& host) const
{
    QUrl url;
    url.setScheme(m_identity ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(host);
    url.setPort(serverPort());
    url.setPath(QStringLiteral("/"));
    return url;
}

void FakeWebServer::incomingConnection(qintptr descriptor)
{
    if (!m_identity) {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        serve(socket);
        return;
    }
    auto* socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setLocalCertificate(m_identity->certificate);
    socket->setPrivateKey(m_identity->key);
    // A client that rejects the certificate just hangs up.
    connect(socket, &QSslSocket::errorOccurred, socket, &QObject::deleteLater);
    serve(socket);
    socket->startServerEncryption();
}

void FakeWebServer::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray requestLine = buffer.left(buffer.indexOf("\r\n"));
        m_requestLines.append(requestLine);
        m_requestHeads.append(buffer.left(buffer.indexOf("\r\n\r\n")));
        const bool head = requestLine.startsWith("HEAD ");

        QByteArray answer = "HTTP/1.1 " + QByteArray::number(m_response.status) + " Fake\r\n";
        for (const auto& [name, value] : std::as_const(m_response.headers))
            answer += name + ": " + value + "\r\n";
        answer += "Content-Length: " + QByteArray::number(m_response.body.size()) + "\r\n";
        answer += "Connection: close\r\n\r\n";
        if (!head)
            answer += m_response.body;
        socket->write(answer);
        socket->disconnectFromHost();
    });
}

std::optional<FakeWebServer::Identity> FakeWebServer::selfSignedIdentity(const QString& commonName)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        return std::nullopt;
    QTemporaryDir dir;
    QProcess process;
    process.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=") + commonName, QStringLiteral("-keyout"),
                            dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                            dir.filePath(QStringLiteral("cert.pem"))});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return std::nullopt;
    QFile certFile(dir.filePath(QStringLiteral("cert.pem")));
    QFile keyFile(dir.filePath(QStringLiteral("key.pem")));
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    Identity identity{QSslCertificate(&certFile, QSsl::Pem), QSslKey(&keyFile, QSsl::Ec, QSsl::Pem)};
    if (identity.certificate.isNull() || identity.key.isNull())
        return std::nullopt;
    return identity;
}

quint16 unusedLocalPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace halvik::test
