#include "FakeApiServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace halvik::test {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}

} // namespace

QVariantMap FakeApiServer::Request::json() const
{
    return QJsonDocument::fromJson(body).object().toVariantMap();
}

FakeApiServer::FakeApiServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    m_server.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        Request recorded;
        recorded.method = methodName(request.method());
        recorded.path = request.url().path();
        recorded.query = request.url().query();
        for (const auto& [name, value] : request.headers())
            recorded.headers.insert(name.toLower(), value);
        recorded.body = request.body();
        m_requests.append(recorded);
        const Response response = m_handler ? m_handler(recorded) : Response::json(404, "{}");
        const auto write = [response](QHttpServerResponder& out) {
            out.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(response.status));
            out.writeHeader("Content-Type", response.contentType);
            for (const auto& [name, value] : response.headers)
                out.writeHeader(name, value);
            out.writeHeader("Content-Length", QByteArray::number(response.body.size()));
            out.writeBody(response.body);
        };
        if (m_delayMs <= 0) {
            write(responder);
            return;
        }
        auto later = std::make_shared<QHttpServerResponder>(std::move(responder));
        QTimer::singleShot(m_delayMs, this, [later, write] { write(*later); });
    });
}

bool FakeApiServer::start()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    // A provider sits across a network, where segments are Ethernet-sized. With loopback's 64 KB
    // segments, the last piece of a large request body on a kept-alive connection (Qt writes
    // bodies in 16 KB pieces and leaves Nagle's algorithm on) waits for this end's delayed
    // acknowledgement: about 40 ms that no real connection pays.
    for (QTcpServer* listener : m_server.servers()) {
        const int ethernetSegment = 1460;
        ::setsockopt(int(listener->socketDescriptor()), IPPROTO_TCP, TCP_MAXSEG, &ethernetSegment,
                     sizeof ethernetSegment);
    }
    return m_port != 0;
}

QString FakeApiServer::root() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_port);
}

FakeApiServer::Handler gitHttpBackend(const QString& projectRoot, const QByteArray& password, int* accepted)
{
    using Request = FakeApiServer::Request;
    using Response = FakeApiServer::Response;
    return [projectRoot, password, accepted](const Request& request) -> Response {
        const QByteArray authorization = request.header("authorization");
        const QByteArray credentials = QByteArray::fromBase64(authorization.mid(6));
        if (!authorization.startsWith("Basic ") ||
            credentials.mid(credentials.indexOf(':') + 1) != password) {
            Response challenge{401, "Authentication required\n", "text/plain", {}};
            challenge.headers.append(
                qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"fake\"")));
            return challenge;
        }
        if (accepted)
            ++*accepted;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GIT_PROJECT_ROOT"), projectRoot);
        env.insert(QStringLiteral("GIT_HTTP_EXPORT_ALL"), QStringLiteral("1"));
        env.insert(QStringLiteral("REMOTE_USER"),
                   QString::fromUtf8(credentials.left(credentials.indexOf(':'))));
        env.insert(QStringLiteral("REQUEST_METHOD"), QString::fromLatin1(request.method));
        env.insert(QStringLiteral("PATH_INFO"), request.path);
        env.insert(QStringLiteral("QUERY_STRING"), request.query);
        env.insert(QStringLiteral("CONTENT_TYPE"), QString::fromLatin1(request.header("content-type")));
        env.insert(QStringLiteral("CONTENT_LENGTH"), QString::number(request.body.size()));
        if (!request.header("content-encoding").isEmpty())
            env.insert(QStringLiteral("HTTP_CONTENT_ENCODING"),
                       QString::fromLatin1(request.header("content-encoding")));
        if (!request.header("git-protocol").isEmpty())
            env.insert(QStringLiteral("GIT_PROTOCOL"), QString::fromLatin1(request.header("git-protocol")));
        QProcess backend;
        backend.setProcessEnvironment(env);
        backend.start(QStringLiteral("git"), {QStringLiteral("http-backend")});
        backend.write(request.body);
        backend.closeWriteChannel();
        backend.waitForFinished(60000);
        const QByteArray output = backend.readAllStandardOutput();
        qsizetype split = output.indexOf("\r\n\r\n");
        qsizetype skip = 4;
        if (split < 0) {
            split = output.indexOf("\n\n");
            skip = 2;
        }
        Response response{200, split < 0 ? output : output.mid(split + skip), "application/octet-stream", {}};
        for (const QByteArray& line : output.left(std::max<qsizetype>(split, 0)).split('\n')) {
            const QByteArray trimmed = line.trimmed();
            const qsizetype colon = trimmed.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = trimmed.left(colon).trimmed();
            const QByteArray value = trimmed.mid(colon + 1).trimmed();
            if (name.compare("Status", Qt::CaseInsensitive) == 0)
                response.status = value.left(3).toInt();
            else if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
                response.contentType = value;
            else
                response.headers.append(qMakePair(name, value));
        }
        return response;
    };
}

} // namespace halvik::test
