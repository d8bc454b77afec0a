#include "ForgeClient.h"

#include "services/accounts/HttpJson.h"

#include <QProcessEnvironment>

namespace halvik {

using nlohmann::json;

namespace {

constexpr int kMessageLimit = 300;

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

qint64 integerOf(const json& object, const char* key, qint64 fallback = 0)
{
    const auto it = object.find(key);
    if (it == object.end())
        return fallback;
    if (it->is_number_integer())
        return it->get<qint64>();
    if (it->is_string()) {
        bool ok = false;
        const qint64 value = QString::fromStdString(it->get<std::string>()).toLongLong(&ok);
        return ok ? value : fallback;
    }
    return fallback;
}

bool looksLikeWebPage(const QByteArray& body)
{
    const QByteArray start = body.trimmed().left(64).toLower();
    return start.startsWith("<!doctype") || start.startsWith("<html");
}

QString path(qint64 server, qint64 site, const char* rest = "")
{
    return QStringLiteral("servers/%1/sites/%2%3").arg(server).arg(site).arg(s(rest));
}

ForgeDeploymentStatus statusOf(const json& object)
{
    ForgeDeploymentStatus status;
    if (!object.is_object())
        return status;
    if (object.contains("id"))
        status.id = integerOf(object, "id");
    const QString text = jsonString(object, "status");
    if (!text.isEmpty())
        status.status = text;
    return status;
}

} // namespace

QString ForgeClient::baseURL()
{
    const QString configured = qEnvironmentVariable("HALVIK_FORGE_URL").trimmed();
    return configured.isEmpty() ? s("https://forge.laravel.com") : configured;
}

QString ForgeClient::failureMessage(const QByteArray& body)
{
    if (looksLikeWebPage(body))
        return s("Forge returned a web page instead of the API.");
    const auto parsed = json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("message")) {
        QStringList parts{jsonString(parsed, "message").trimmed()};
        const auto errors = parsed.find("errors");
        if (errors != parsed.end() && errors->is_object()) {
            for (const auto& [field, messages] : errors->items()) {
                Q_UNUSED(field);
                if (messages.is_array() && !messages.empty() && messages.front().is_string())
                    parts << QString::fromStdString(messages.front().get<std::string>()).trimmed();
                else if (messages.is_string())
                    parts << QString::fromStdString(messages.get<std::string>()).trimmed();
            }
        }
        parts.removeAll(QString());
        if (!parts.isEmpty())
            return parts.join(QLatin1Char(' '));
    }
    QString text = QString::fromUtf8(body).trimmed();
    if (text.size() > kMessageLimit)
        text = text.left(kMessageLimit);
    return text;
}

QCoro::Task<json> ForgeClient::request(QString path, QByteArray method, QString token,
                                       std::optional<json> body, CancellationToken cancel)
{
    const QUrl url = apiURL(baseURL(), QStringLiteral("/api/v1/") + path);
    const HttpHeaders headers{{"Authorization", "Bearer " + token.toUtf8()},
                              {"Accept", "application/json"},
                              {"Content-Type", "application/json"}};
    std::optional<QByteArray> payload;
    if (body)
        payload = jsonBody(*body);
    const HttpAnswer answer = co_await sendHttp(m_manager, method, url, headers, payload, m_timeout, cancel);
    if (answer.status == 401)
        throw ForgeClientError::unauthorized();
    if (!answer.isSuccess())
        throw ForgeClientError::failed(answer.status, failureMessage(answer.body));
    if (answer.body.trimmed().isEmpty())
        co_return json::object();
    if (looksLikeWebPage(answer.body))
        throw ForgeClientError::failed(answer.status, failureMessage(answer.body));
    const auto object = answer.object();
    if (!object)
        throw ForgeClientError::failed(answer.status, s("Unexpected answer from Forge."));
    co_return *object;
}

QCoro::Task<QString> ForgeClient::verify(QString token)
{
    const ForgeUser account = co_await user(token);
    co_return account.name.trimmed().isEmpty() ? account.email : account.name;
}

QCoro::Task<ForgeUser> ForgeClient::user(QString token)
{
    const json answer = co_await request(s("user"), "GET", token);
    const json object = answer.value("user", json::object());
    co_return ForgeUser{jsonString(object, "name"), jsonString(object, "email")};
}

QList<ForgeServer> ForgeClient::parseServers(const json& object)
{
    QList<ForgeServer> servers;
    const auto list = object.find("servers");
    if (list == object.end() || !list->is_array())
        return servers;
    for (const json& item : *list) {
        if (!item.is_object() || !item.contains("id") || !item.contains("name"))
            continue;
        ForgeServer server;
        server.id = integerOf(item, "id");
        server.name = jsonString(item, "name");
        server.ipAddress = jsonString(item, "ip_address");
        server.region = jsonString(item, "region");
        server.phpVersion = jsonString(item, "php_version");
        const auto ready = item.find("is_ready");
        server.isReady = ready != item.end() && ready->is_boolean() && ready->get<bool>();
        servers << server;
    }
    return servers;
}

QCoro::Task<QList<ForgeServer>> ForgeClient::servers(QString token)
{
    const json answer = co_await request(s("servers"), "GET", token);
    co_return parseServers(answer);
}

QCoro::Task<ForgeSite> ForgeClient::createSite(qint64 serverID, QString domain, QString directory,
                                               std::optional<QString> phpVersion, QString token,
                                               CancellationToken cancel)
{
    json body{{"domain", domain.toStdString()},
              {"project_type", "php"},
              {"directory", directory.toStdString()},
              {"isolated", false}};
    if (phpVersion)
        body["php_version"] = phpVersion->toStdString();
    const QString where = QStringLiteral("servers/%1/sites").arg(serverID);
    const json answer = co_await request(where, "POST", token, body, cancel);
    const auto site = answer.find("site");
    if (site == answer.end() || !site->is_object())
        throw ForgeClientError::failed(200, s("Missing site in response"));
    ForgeSite created;
    created.id = integerOf(*site, "id");
    created.name = jsonString(*site, "name");
    created.directory = jsonString(*site, "directory");
    if (const QString status = jsonString(*site, "status"); !status.isEmpty())
        created.status = status;
    co_return created;
}

QCoro::Task<> ForgeClient::enableQuickDeploy(qint64 serverID, qint64 siteID, QString token,
                                             CancellationToken cancel)
{
    co_await request(path(serverID, siteID, "/deployment"), "POST", token, std::nullopt, cancel);
}

QCoro::Task<> ForgeClient::deploy(qint64 serverID, qint64 siteID, QString token, CancellationToken cancel)
{
    co_await request(path(serverID, siteID, "/deployment/deploy"), "POST", token, std::nullopt, cancel);
}

QCoro::Task<ForgeDeploymentStatus> ForgeClient::latestDeployment(qint64 serverID, qint64 siteID,
                                                                 QString token)
{
    const json answer = co_await request(path(serverID, siteID, "/deployment-history"), "GET", token);
    const auto list = answer.find("deployments");
    if (list == answer.end() || !list->is_array() || list->empty())
        co_return ForgeDeploymentStatus{};
    co_return statusOf(list->front());
}

QCoro::Task<ForgeDeploymentStatus> ForgeClient::deployment(qint64 serverID, qint64 siteID,
                                                           qint64 deploymentID, QString token)
{
    const QString where = path(serverID, siteID, "/deployment-history/") + QString::number(deploymentID);
    const json answer = co_await request(where, "GET", token);
    co_return statusOf(answer.value("deployment", json::object()));
}

QCoro::Task<QString> ForgeClient::deploymentOutput(qint64 serverID, qint64 siteID, qint64 deploymentID,
                                                   QString token)
{
    const QString where =
        path(serverID, siteID, "/deployment-history/") + QString::number(deploymentID) + s("/output");
    const json answer = co_await request(where, "GET", token);
    co_return jsonString(answer, "output");
}

} // namespace halvik
