#include "CallbackServer.h"

#include "CloudRecords.h"

#include <QCoroSignal>
#include <QUrl>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

// A browser that connects and never sends its request must not hold up the next one.
constexpr int kStallMs = 10000;

} // namespace

CallbackServer::CallbackServer(QObject* parent) : QObject(parent)
{
    m_server.setMaxPendingConnections(4);
    m_stall.setSingleShot(true);
    m_stall.setInterval(kStallMs);
    connect(&m_stall, &QTimer::timeout, this, &CallbackServer::dropCurrent);
    connect(&m_server, &QTcpServer::newConnection, this, &CallbackServer::takeNext);
}

CallbackServer::~CallbackServer()
{
    close();
}

quint16 CallbackServer::listen(quint16 first, int attempts)
{
    for (int i = 0; i < attempts; ++i) {
        const quint16 candidate = static_cast<quint16>(first + i);
        if (m_server.listen(QHostAddress(QHostAddress::LocalHost), candidate)) {
            m_port = candidate;
            return m_port;
        }
    }
    throw LaravelCloudClientError::refused(0, s("Could not open a local port for Cloud sign-in."));
}

void CallbackServer::close()
{
    m_server.close();
    m_stall.stop();
    if (m_current) {
        m_current->abort();
        m_current->deleteLater();
    }
    m_current = nullptr;
}

QString CallbackServer::codeFrom(const QByteArray& request)
{
    const qsizetype end = request.indexOf('\n');
    const QByteArray firstLine = (end < 0 ? request : request.left(end)).trimmed();
    const QList<QByteArray> parts = firstLine.split(' ');
    if (parts.size() < 2)
        return {};
    const QByteArray target = parts.at(1);
    const qsizetype question = target.indexOf('?');
    if (question < 0)
        return {};
    const QByteArray query = target.mid(question + 1);
    const QByteArray key = "exchange_code=";
    qsizetype at = 0;
    while (at <= query.size()) {
        if (query.mid(at).startsWith(key)) {
            const qsizetype start = at + key.size();
            const qsizetype amp = query.indexOf('&', start);
            const QByteArray raw = query.mid(start, amp < 0 ? -1 : amp - start);
            QByteArray plus = raw;
            plus.replace('+', ' ');
            return QString::fromUtf8(QByteArray::fromPercentEncoding(plus)).trimmed();
        }
        const qsizetype next = query.indexOf('&', at);
        if (next < 0)
            break;
        at = next + 1;
    }
    return {};
}

QByteArray CallbackServer::answer(bool success)
{
    const QByteArray sentence = success ? "Signed in. You can close this window and return to Halvik."
                                        : "Sign-in failed. Close this window and try again from Halvik.";
    const QByteArray body =
        "<!doctype html><html><body style=\"font:16px system-ui;padding:48px;text-align:center\">\n"
        "<p>" +
        sentence + "</p>\n</body></html>";
    const QByteArray status = success ? "HTTP/1.1 200 OK" : "HTTP/1.1 400 Bad Request";
    return status + "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void CallbackServer::takeNext()
{
    if (m_current || m_done || !m_server.hasPendingConnections())
        return;
    m_current = m_server.nextPendingConnection();
    m_buffer.clear();
    QTcpSocket* socket = m_current;
    connect(socket, &QTcpSocket::readyRead, this, &CallbackServer::readCurrent);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_current == socket)
            dropCurrent();
    });
    m_stall.start();
    readCurrent();
}

void CallbackServer::dropCurrent()
{
    m_stall.stop();
    if (m_current) {
        QTcpSocket* socket = m_current;
        m_current = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    takeNext();
}

void CallbackServer::readCurrent()
{
    if (!m_current)
        return;
    m_buffer += m_current->readAll();
    if (!m_buffer.contains("\r\n\r\n") && !m_buffer.contains("\n\n"))
        return;
    m_stall.stop();
    const QString code = codeFrom(m_buffer);
    QTcpSocket* socket = m_current;
    m_current = nullptr;
    socket->disconnect(this);
    socket->write(answer(!code.isEmpty()));
    // Closes once the answer is out; the socket deletes itself when it is.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (!code.isEmpty())
        resolve(code, std::nullopt);
    else
        takeNext();
}

void CallbackServer::resolve(std::optional<QString> code, std::optional<QString> error)
{
    if (m_done)
        return;
    m_done = true;
    m_code = std::move(code);
    m_error = std::move(error);
    close();
    Q_EMIT resolved();
}

QCoro::Task<QString> CallbackServer::waitForCode(std::chrono::milliseconds timeout, CancellationToken cancel)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this,
            [this] { resolve(std::nullopt, s("Cloud sign-in timed out.")); });
    QObject guard;
    cancel.onCancelled(&guard, [this] { resolve(std::nullopt, std::nullopt); });
    if (!m_done) {
        deadline.start(static_cast<int>(timeout.count()));
        // A browser may have come back before anyone waited.
        takeNext();
    }
    if (!m_done)
        co_await qCoro(this, &CallbackServer::resolved);
    if (m_code)
        co_return *m_code;
    if (m_error)
        throw LaravelCloudClientError::refused(408, *m_error);
    throw CancelledError();
}

} // namespace halvik
