#include "NetlifyClient.h"

#include "services/accounts/HttpJson.h"

#include <QUrl>

namespace halvik {

using nlohmann::json;

namespace {

constexpr int kMessageLimit = 300;

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString bodyText(const QByteArray& body)
{
    QString text = QString::fromUtf8(body).trimmed();
    if (text.size() > kMessageLimit)
        text = text.left(kMessageLimit);
    return text;
}

QString idOf(const json& object)
{
    const auto it = object.find("id");
    if (it == object.end())
        return {};
    if (it->is_string())
        return QString::fromStdString(it->get<std::string>());
    if (it->is_number_integer())
        return QString::number(it->get<qint64>());
    return {};
}

} // namespace

QString NetlifySite::publicURL() const
{
    if (!sslURL.isEmpty())
        return sslURL;
    return QStringLiteral("https://%1.%2").arg(name, s(NetlifyClient::defaultDomain));
}

QString NetlifyClient::baseURL()
{
    const QString configured = qEnvironmentVariable("HALVIK_NETLIFY_URL").trimmed();
    return configured.isEmpty() ? s("https://api.netlify.com") : configured;
}

QString NetlifyClient::encodedPath(const QString& path)
{
    QStringList segments;
    for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        segments << QString::fromLatin1(QUrl::toPercentEncoding(segment));
    return segments.join(QLatin1Char('/'));
}

NetlifySite NetlifyClient::parseSite(const json& object)
{
    NetlifySite site;
    if (!object.is_object())
        return site;
    site.id = idOf(object);
    site.name = jsonString(object, "name");
    site.sslURL = jsonString(object, "ssl_url");
    site.adminURL = jsonString(object, "admin_url");
    return site;
}

NetlifyDeploy NetlifyClient::parseDeploy(const json& object)
{
    NetlifyDeploy deploy;
    if (!object.is_object())
        return deploy;
    deploy.id = idOf(object);
    if (const QString state = jsonString(object, "state"); !state.isEmpty())
        deploy.state = state;
    deploy.sslURL = jsonString(object, "ssl_url");
    deploy.errorMessage = jsonString(object, "error_message");
    const auto required = object.find("required");
    if (required != object.end() && required->is_array())
        for (const json& digest : *required)
            if (digest.is_string())
                deploy.required << QString::fromStdString(digest.get<std::string>());
    return deploy;
}

QCoro::Task<json> NetlifyClient::request(QString path, QByteArray method, QString token,
                                         std::optional<QByteArray> body, QByteArray contentType,
                                         CancellationToken cancel)
{
    const QUrl url = apiURL(baseURL(), QStringLiteral("/api/v1/") + path);
    HttpHeaders headers{{"Authorization", "Bearer " + token.toUtf8()}, {"Accept", "application/json"}};
    if (body)
        headers.append({"Content-Type", contentType});
    const HttpAnswer answer =
        co_await sendHttp(m_manager, method, url, headers, body, std::chrono::seconds(60), cancel);
    if (answer.status == 401)
        throw NetlifyClientError::unauthorized();
    if (!answer.isSuccess())
        throw NetlifyClientError::failed(answer.status, bodyText(answer.body));
    if (answer.body.trimmed().isEmpty())
        co_return json::object();
    const auto parsed =
        json::parse(answer.body.constData(), answer.body.constData() + answer.body.size(), nullptr, false);
    if (parsed.is_discarded())
        throw NetlifyClientError::failed(answer.status, bodyText(answer.body));
    co_return parsed;
}

QCoro::Task<QString> NetlifyClient::verify(QString token)
{
    const json user =
        co_await request(s("user"), "GET", token, std::nullopt, QByteArray(), CancellationToken());
    if (const QString name = jsonString(user, "full_name").trimmed(); !name.isEmpty())
        co_return name;
    if (const QString email = jsonString(user, "email").trimmed(); !email.isEmpty())
        co_return email;
    co_return s("Netlify");
}

QCoro::Task<QList<NetlifySite>> NetlifyClient::sites(QString token)
{
    const json answer =
        co_await request(s("sites"), "GET", token, std::nullopt, QByteArray(), CancellationToken());
    QList<NetlifySite> sites;
    if (answer.is_array())
        for (const json& item : answer)
            if (NetlifySite site = parseSite(item); !site.id.isEmpty())
                sites << site;
    co_return sites;
}

QCoro::Task<NetlifySite> NetlifyClient::createSite(std::optional<QString> name, QString token,
                                                   CancellationToken cancel)
{
    json body = json::object();
    if (name && !name->isEmpty())
        body["name"] = name->toStdString();
    const std::optional<QByteArray> payload = jsonBody(body);
    const json answer = co_await request(s("sites"), "POST", token, payload, "application/json", cancel);
    NetlifySite site = parseSite(answer);
    if (site.id.isEmpty())
        throw NetlifyClientError::missing(s("site id"));
    co_return site;
}

namespace {

QString deploysPath(const QString& siteID, const std::optional<QString>& title)
{
    QString path =
        QStringLiteral("sites/%1/deploys").arg(QString::fromLatin1(QUrl::toPercentEncoding(siteID)));
    if (title)
        path += QStringLiteral("?title=") + QString::fromLatin1(QUrl::toPercentEncoding(*title));
    return path;
}

} // namespace

QCoro::Task<NetlifyDeploy> NetlifyClient::deployZip(QString siteID, QByteArray zipData, QString token,
                                                    std::optional<QString> title, CancellationToken cancel)
{
    const std::optional<QByteArray> payload = std::move(zipData);
    const json answer =
        co_await request(deploysPath(siteID, title), "POST", token, payload, "application/zip", cancel);
    co_return parseDeploy(answer);
}

QCoro::Task<NetlifyDeploy> NetlifyClient::createDigestDeploy(QString siteID, QMap<QString, QString> files,
                                                             QString token, std::optional<QString> title,
                                                             CancellationToken cancel)
{
    json manifest = json::object();
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        manifest[it.key().toStdString()] = it.value().toStdString();
    const std::optional<QByteArray> payload = jsonBody(json{{"files", manifest}});
    const json answer =
        co_await request(deploysPath(siteID, title), "POST", token, payload, "application/json", cancel);
    NetlifyDeploy deploy = parseDeploy(answer);
    if (deploy.id.isEmpty())
        throw NetlifyClientError::missing(s("deploy id"));
    co_return deploy;
}

QCoro::Task<> NetlifyClient::uploadFile(QString deployID, QString path, QByteArray data, QString token,
                                        CancellationToken cancel)
{
    const QString where = QStringLiteral("deploys/%1/files/%2").arg(deployID, encodedPath(path));
    const std::optional<QByteArray> payload = std::move(data);
    co_await request(where, "PUT", token, payload, "application/octet-stream", cancel);
}

QCoro::Task<NetlifyDeploy> NetlifyClient::deploy(QString deployID, QString token, CancellationToken cancel)
{
    const json answer = co_await request(QStringLiteral("deploys/") + deployID, "GET", token, std::nullopt,
                                         QByteArray(), cancel);
    co_return parseDeploy(answer);
}

} // namespace halvik
