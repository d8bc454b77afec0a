#include "FakeFileServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace halvik::test {

QUrl FakeFileServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
}

void FakeFileServer::serve(const QByteArray& path, QByteArray body, int status)
{
    m_routes.insert(path, Route{status, std::move(body), 0, 0});
}

void FakeFileServer::serveSlowly(const QByteArray& path, QByteArray body, qint64 chunk, int intervalMs)
{
    m_routes.insert(path, Route{200, std::move(body), chunk, intervalMs});
}

void FakeFileServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0 || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        answer(socket, buffer.left(end));
    });
}

void FakeFileServer::answer(QTcpSocket* socket, const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request{requestLine.value(0), requestLine.value(1), {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    const auto route = m_routes.constFind(request.path);
    const Route found = route == m_routes.constEnd() ? Route{404, "Not Found", 0, 0} : *route;
    socket->write("HTTP/1.1 " + QByteArray::number(found.status) +
                  " Fake\r\nContent-Length: " + QByteArray::number(found.body.size()) +
                  "\r\nContent-Type: application/octet-stream\r\n" + "Connection: close\r\n\r\n");
    if (request.method == "HEAD")
        socket->disconnectFromHost();
    else if (found.chunk > 0)
        trickle(socket, found.body, found.chunk, found.intervalMs);
    else {
        socket->write(found.body);
        socket->disconnectFromHost();
    }
}

void FakeFileServer::trickle(QTcpSocket* socket, QByteArray body, qint64 chunk, int intervalMs)
{
    ++m_sending;
    auto* timer = new QTimer(socket);
    auto offset = std::make_shared<qint64>(0);
    QPointer<FakeFileServer> self(this);
    auto finished = std::make_shared<bool>(false);
    const auto done = [self, timer, finished] {
        if (*finished)
            return;
        *finished = true;
        timer->stop();
        if (self)
            --self->m_sending;
    };
    connect(socket, &QTcpSocket::disconnected, timer, done);
    connect(timer, &QTimer::timeout, socket, [socket, body, chunk, offset, done] {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
        socket->write(body.mid(*offset, chunk));
        *offset += chunk;
        if (*offset >= body.size()) {
            done();
            socket->disconnectFromHost();
        }
    });
    timer->start(intervalMs);
}

} // namespace halvik::test
