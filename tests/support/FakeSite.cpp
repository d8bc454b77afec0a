#include "FakeSite.h"

#include "FakeWebServer.h"

#include <QBuffer>
#include <QColor>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QImage>

namespace halvik::test {

FakeSite::FakeSite(QObject* parent) : QObject(parent) {}

FakeSite::~FakeSite() = default;

bool FakeSite::start(bool tls, quint16 port)
{
    m_server = std::make_unique<QHttpServer>();
    m_tls = tls;
    if (tls) {
        static const auto identity = FakeWebServer::selfSignedIdentity(QStringLiteral("site.test"));
        if (!identity)
            return false;
        m_server->sslSetup(identity->certificate, identity->key);
    }
    m_server->setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        const QString path = request.url().path();
        m_requests.append({path, request.value("User-Agent")});
        const auto it = m_resources.constFind(path);
        const Resource resource =
            it == m_resources.constEnd() ? Resource{"<h1>Not found</h1>", "text/html", 404} : *it;
        responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(resource.status));
        responder.writeHeader("Content-Type", resource.contentType);
        responder.writeHeader("Content-Length", QByteArray::number(resource.body.size()));
        responder.writeBody(resource.body);
    });
    m_port = m_server->listen(QHostAddress::LocalHost, port);
    if (m_port == 0) {
        m_server.reset();
        return false;
    }
    return true;
}

void FakeSite::stop()
{
    m_server.reset();
}

QUrl FakeSite::url(const QString& host) const
{
    return QUrl(QStringLiteral("%1://%2:%3/")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"), host)
                    .arg(m_port));
}

int FakeSite::count(const QString& path) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const Request& request) { return request.path == path; }));
}

QByteArray FakeSite::colourfulPage(const QByteArray& headExtra)
{
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Shop</title>" + headExtra +
           "<style>body{margin:0;font-family:sans-serif}header{background:#1d4ed8;color:#fff;height:160px;"
           "padding:24px;font-size:40px}main{display:flex;height:560px}.a{flex:1;background:#f97316}"
           ".b{flex:1;background:#16a34a}.c{flex:1;background:#f5f5f4}</style></head><body><header>Shop</"
           "header>"
           "<main><div class=\"a\"></div><div class=\"b\"></div><div class=\"c\"></div></main></body></html>";
}

QByteArray FakeSite::png(const QColor& colour, int side)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

} // namespace halvik::test
