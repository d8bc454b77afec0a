#include "FakeForge.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace halvik::test {

namespace {

FakeApiServer::Response json(int status, const QJsonObject& object)
{
    return FakeApiServer::Response::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

const QString kPrefix = QStringLiteral("/api/v1/");

} // namespace

FakeForge::FakeForge(QByteArray expectedToken) : token(std::move(expectedToken))
{
    m_server.setHandler([this](const Request& request) { return answer(request); });
}

QJsonObject FakeForge::server(qint64 id, const QString& name, const QString& ip)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("ip_address"), ip},
                       {QStringLiteral("region"), QStringLiteral("Frankfurt")},
                       {QStringLiteral("php_version"), QStringLiteral("php83")},
                       {QStringLiteral("is_ready"), true}};
}

FakeApiServer::Response FakeForge::webPage(int status)
{
    return {status, "<!DOCTYPE html><html><body>Maintenance</body></html>", "text/html", {}};
}

QStringList FakeForge::calls() const
{
    QStringList list;
    for (const Request& request : requests())
        list << QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path.mid(kPrefix.size());
    return list;
}

std::optional<FakeForge::Request> FakeForge::find(const QByteArray& method, const QString& path) const
{
    for (const Request& request : requests())
        if (request.method == method && request.path == kPrefix + path)
            return request;
    return std::nullopt;
}

FakeApiServer::Response FakeForge::answer(const Request& request)
{
    if (request.header("authorization") != "Bearer " + token)
        return Response::json(401, R"({"message":"Unauthenticated."})");
    if (override)
        if (auto replaced = override(request))
            return *replaced;
    if (!request.path.startsWith(kPrefix))
        return webPage(404);
    const QString path = request.path.mid(kPrefix.size());
    if (path == QLatin1String("user"))
        return json(200, {{QStringLiteral("user"), QJsonObject{{QStringLiteral("name"), userName},
                                                               {QStringLiteral("email"), userEmail}}}});
    if (path == QLatin1String("servers"))
        return json(200, {{QStringLiteral("servers"), servers}});
    static const QRegularExpression sites(QStringLiteral("^servers/(\\d+)/sites$"));
    if (const auto match = sites.match(path); match.hasMatch() && request.method == "POST") {
        const QVariantMap body = request.json();
        const qint64 id = nextSiteId++;
        return json(
            200,
            {{QStringLiteral("site"),
              QJsonObject{{QStringLiteral("id"), id},
                          {QStringLiteral("name"), body.value(QStringLiteral("domain")).toString()},
                          {QStringLiteral("directory"), body.value(QStringLiteral("directory")).toString()},
                          {QStringLiteral("status"), QStringLiteral("installing")}}}});
    }
    static const QRegularExpression site(QStringLiteral("^servers/\\d+/sites/\\d+/(.*)$"));
    if (const auto match = site.match(path); match.hasMatch())
        return deploymentAnswer(match.captured(1), request);
    return webPage(404);
}

FakeApiServer::Response FakeForge::deploymentAnswer(const QString& rest, const Request& request)
{
    if (rest == QLatin1String("deployment/deploy")) {
        m_deploymentId = nextDeploymentId++;
        m_step = -1;
        m_output.clear();
        return Response::json(200, "");
    }
    if (rest == QLatin1String("deployment-history")) {
        ++m_historyLooks;
        if (m_deploymentId == 0)
            return json(200, {{QStringLiteral("deployments"), QJsonArray()}});
        m_step = std::min<int>(m_step + 1, static_cast<int>(statuses.size()) - 1);
        for (int i = 0; i < outputPerPoll; ++i)
            m_output << QStringLiteral("step %1 line %2").arg(m_step).arg(m_output.size() + 1);
        return json(200, {{QStringLiteral("deployments"),
                           QJsonArray{QJsonObject{{QStringLiteral("id"), m_deploymentId},
                                                  {QStringLiteral("status"), statuses.at(m_step)}}}}});
    }
    static const QRegularExpression one(QStringLiteral("^deployment-history/(\\d+)(/output)?$"));
    if (const auto match = one.match(rest); match.hasMatch()) {
        if (match.captured(1).toLongLong() != m_deploymentId)
            return Response::json(404, R"({"message":"Not found."})");
        if (!match.captured(2).isEmpty())
            return json(200, {{QStringLiteral("output"), m_output.join(QLatin1Char('\n'))}});
        // A look by id reads the deployment as it stands now, at its last status.
        const QString status = statuses.last();
        return json(200, {{QStringLiteral("deployment"), QJsonObject{{QStringLiteral("id"), m_deploymentId},
                                                                     {QStringLiteral("status"), status}}}});
    }
    Q_UNUSED(request);
    // git, deployment script, env, quick deploy, certificate: an empty success.
    return Response::json(200, "");
}

} // namespace halvik::test
