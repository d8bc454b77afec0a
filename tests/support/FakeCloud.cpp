#include "FakeCloud.h"

#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

namespace halvik::test {

namespace {

using Response = FakeApiServer::Response;

Response jsonAnswer(int status, const QJsonObject& object)
{
    return Response::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString queryValue(const FakeApiServer::Request& request, const QString& name)
{
    return QUrlQuery(request.query).queryItemValue(name, QUrl::FullyDecoded);
}

} // namespace

FakeCloud::FakeCloud(QByteArray accepted, QString org)
    : token(std::move(accepted)), organization(std::move(org))
{
    regions =
        QJsonArray{QJsonObject{{"region", "us-east-1"}, {"label", "US East (N. Virginia)"}, {"flag", "🇺🇸"}},
                   QJsonObject{{"region", "eu-central-1"}, {"label", "EU (Frankfurt)"}, {"flag", "🇩🇪"}}};
    m_server.setHandler([this](const Request& request) {
        if (override)
            if (auto replaced = override(request))
                return *replaced;
        return answer(request);
    });
}

QStringList FakeCloud::calls() const
{
    QStringList list;
    for (const Request& request : requests()) {
        QString path = request.path;
        if (path.startsWith(QLatin1String("/api/")))
            path = path.mid(5);
        list << QString::fromLatin1(request.method) + QLatin1Char(' ') + path;
    }
    return list;
}

QList<FakeCloud::Request> FakeCloud::find(const QByteArray& method, const QString& path) const
{
    QList<Request> found;
    for (const Request& request : requests())
        if (request.method == method && request.path == QLatin1String("/api/") + path)
            found << request;
    return found;
}

QString FakeCloud::addApplication(const QString& name, const QString& region)
{
    const QString app = QStringLiteral("app-%1").arg(m_next++);
    const QString env = QStringLiteral("env-%1").arg(m_next++);
    const QString slug = name.toLower();
    environments.insert(env, QJsonObject{{"name", "production"},
                                         {"status", "running"},
                                         {"vanity_domain", slug + QStringLiteral(".laravel.cloud")},
                                         {"build_command", QJsonValue::Null},
                                         {"deploy_command", QJsonValue::Null},
                                         {"database_schema_id", QJsonValue::Null},
                                         {"environment_variables", QJsonArray{}}});
    applications.insert(app, QJsonObject{{"name", name},
                                         {"region", region},
                                         {"repository", ""},
                                         {"vanity_domain", slug + QStringLiteral(".laravel.cloud")},
                                         {"environment", env}});
    return app;
}

QString FakeCloud::environmentOf(const QString& applicationID) const
{
    return applications.value(applicationID).value("environment").toString();
}

QString FakeCloud::newDeployment(const QStringList& statuses, const QString& reason)
{
    const QString id = QStringLiteral("dep-%1").arg(m_next++);
    deployments.insert(id, DeploymentState{statuses, -1, reason});
    return id;
}

QJsonObject FakeCloud::applicationResource(const QString& id) const
{
    const QJsonObject stored = applications.value(id);
    QJsonObject attributes = stored;
    attributes.remove("environment");
    attributes.remove("latest");
    QJsonObject relationships{
        {"defaultEnvironment",
         QJsonObject{{"data", QJsonObject{{"type", "environments"}, {"id", stored.value("environment")}}}}},
        {"environments",
         QJsonObject{{"data", QJsonArray{QJsonObject{{"type", "environments"},
                                                     {"id", stored.value("environment")}}}}}}};
    if (stored.contains("latest"))
        relationships.insert(
            "latestDeployment",
            QJsonObject{{"data", QJsonObject{{"type", "deployments"}, {"id", stored.value("latest")}}}});
    return QJsonObject{
        {"type", "applications"},
        {"id", id},
        {"attributes", attributes},
        {"relationships", relationships},
        {"links", QJsonObject{{"self", QJsonObject{{"href", root() + "/api/applications/" + id}}}}}};
}

QJsonObject FakeCloud::environmentResource(const QString& id) const
{
    return QJsonObject{{"type", "environments"}, {"id", id}, {"attributes", environments.value(id)}};
}

QJsonObject FakeCloud::deploymentResource(const QString& id) const
{
    const DeploymentState& state = deployments[id];
    const QString status =
        state.step < 0 ? QStringLiteral("pending")
                       : state.statuses.value(std::min<qsizetype>(state.step, state.statuses.size() - 1));
    QJsonObject attributes{{"status", status}};
    attributes.insert("failure_reason",
                      status.contains(QLatin1String("fail")) ? QJsonValue(state.reason) : QJsonValue::Null);
    return QJsonObject{{"type", "deployments"}, {"id", id}, {"attributes", attributes}};
}

QJsonObject FakeCloud::clusterResource(const QString& id, bool withPassword) const
{
    QJsonObject attributes = clusters.value(id);
    const QString schema = attributes.take("schema").toString();
    attributes.remove("looks");
    QJsonObject connection = attributes.value("connection").toObject();
    if (!withPassword)
        connection.remove("password");
    attributes.insert("connection", connection);
    return QJsonObject{
        {"type", "databaseClusters"},
        {"id", id},
        {"attributes", attributes},
        {"relationships",
         QJsonObject{{"databases", QJsonObject{{"data", QJsonArray{QJsonObject{{"type", "databaseSchemas"},
                                                                               {"id", schema}}}}}}}}};
}

Response FakeCloud::answer(const Request& request)
{
    if (request.path == QLatin1String("/signin")) {
        const QString port = queryValue(request, QStringLiteral("port"));
        const QString target = QStringLiteral("http://127.0.0.1:%1/callback?state=x&exchange_code=%2&then=1")
                                   .arg(port, QString::fromLatin1(QUrl::toPercentEncoding(exchangeCode)));
        Response redirect{302, "", "text/html", {}};
        redirect.headers.append(qMakePair(QByteArray("Location"), target.toUtf8()));
        return redirect;
    }
    if (!request.path.startsWith(QLatin1String("/api/")))
        return Response::json(404, "{}");
    const QStringList parts = request.path.mid(5).split(QLatin1Char('/'));
    const QString first = parts.value(0);

    if (first == QLatin1String("cli")) {
        if (parts.value(2) == QLatin1String("exchange")) {
            if (request.json().value("exchange_code").toString() != exchangeCode || exchangeCode.isEmpty()) {
                Response redirect{302, "", "text/html", {}};
                redirect.headers.append(qMakePair(QByteArray("Location"), (root() + "/login").toUtf8()));
                return redirect;
            }
            exchangeCode.clear(); // used once
            QJsonArray tokens{
                QJsonObject{{"token", QString::fromLatin1(token)}, {"organization_name", organization}}};
            for (const auto& [org, extra] : std::as_const(extraOrganizations))
                tokens.append(QJsonObject{{"token", QString::fromLatin1(extra)}, {"organization_name", org}});
            return jsonAnswer(200, QJsonObject{{"tokens", tokens}});
        }
        const int port = request.json().value("port").toInt();
        return jsonAnswer(
            201, QJsonObject{{"redirect_url", root() + QStringLiteral("/signin?port=%1").arg(port)}});
    }

    if (rejectTokens > 0) {
        --rejectTokens;
        return Response::json(401, R"({"message":"Unauthenticated."})");
    }
    if (request.header("authorization") != "Bearer " + token)
        return Response::json(401, R"({"message":"Unauthenticated."})");

    if (first == QLatin1String("meta")) {
        if (parts.value(1) == QLatin1String("regions"))
            return jsonAnswer(200, QJsonObject{{"data", regions}});
        return jsonAnswer(
            200, QJsonObject{{"data", QJsonObject{{"type", "organizations"},
                                                  {"id", "org-1"},
                                                  {"attributes",
                                                   QJsonObject{{"name", organization}, {"slug", "acme"}}}}}});
    }
    if (first == QLatin1String("applications"))
        return applicationsAnswer(request, parts);
    if (first == QLatin1String("environments"))
        return environmentAnswer(request, parts);
    if (first == QLatin1String("deployments"))
        return deploymentAnswer(request, parts);
    if (first == QLatin1String("databases"))
        return clusterAnswer(request, parts);
    return Response::json(404, R"({"message":"Not found."})");
}

Response FakeCloud::applicationsAnswer(const Request& request, const QStringList& parts)
{
    if (request.method == "POST") {
        if (denyGitHub) {
            Response redirect{302, "", "text/html", {}};
            redirect.headers.append(qMakePair(QByteArray("Location"), (root() + "/github/install").toUtf8()));
            return redirect;
        }
        const QVariantMap body = request.json();
        const QString name = body.value("name").toString();
        for (auto it = applications.cbegin(); it != applications.cend(); ++it)
            if (it.value().value("name").toString() == name)
                return Response::json(422, R"({"errors":[{"detail":"The name has already been taken."}]})");
        const QString id = addApplication(name, body.value("region").toString());
        applications[id].insert("repository", body.value("repository").toString());
        applications[id].insert("latest", newDeployment(firstBuildStatuses, firstBuildReason));
        const QString env = environmentOf(id);
        return jsonAnswer(201, QJsonObject{{"data", applicationResource(id)},
                                           {"included", QJsonArray{environmentResource(env)}}});
    }
    if (parts.size() == 1) {
        const QString filter = queryValue(request, QStringLiteral("filter[name]"));
        QJsonArray data;
        QJsonArray included;
        for (auto it = applications.cbegin(); it != applications.cend(); ++it) {
            if (!filter.isEmpty() && it.value().value("name").toString() != filter)
                continue;
            data.append(applicationResource(it.key()));
            included.append(environmentResource(environmentOf(it.key())));
        }
        return jsonAnswer(200, QJsonObject{{"data", data}, {"included", included}});
    }
    const QString id = parts.value(1);
    if (!applications.contains(id))
        return Response::json(404, R"({"message":"No application."})");
    if (parts.value(2) == QLatin1String("environments"))
        return jsonAnswer(200, QJsonObject{{"data", QJsonArray{environmentResource(environmentOf(id))}}});
    return jsonAnswer(200, QJsonObject{{"data", applicationResource(id)},
                                       {"included", QJsonArray{environmentResource(environmentOf(id))}}});
}

Response FakeCloud::environmentAnswer(const Request& request, const QStringList& parts)
{
    const QString id = parts.value(1);
    if (!environments.contains(id))
        return Response::json(404, R"({"message":"No environment."})");
    QJsonObject& env = environments[id];
    const QString rest = parts.mid(2).join(QLatin1Char('/'));
    if (rest == QLatin1String("deployments") && request.method == "POST") {
        const QString deployment = newDeployment(deploymentStatuses, QStringLiteral("The build failed."));
        return jsonAnswer(201, QJsonObject{{"deployment", deploymentResource(deployment)}});
    }
    if (rest == QLatin1String("variables") && request.method == "POST") {
        QJsonArray variables = env.value("environment_variables").toArray();
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        for (const QJsonValue& value : body.value("variables").toArray()) {
            const QString key = value.toObject().value("key").toString();
            for (qsizetype i = variables.size() - 1; i >= 0; --i)
                if (variables.at(i).toObject().value("key").toString() == key)
                    variables.removeAt(i);
            variables.append(value);
        }
        env.insert("environment_variables", variables);
        return Response::json(200, "");
    }
    if (rest == QLatin1String("variables/delete") && request.method == "POST") {
        const QStringList keys = request.json().value("keys").toStringList();
        QJsonArray variables;
        for (const QJsonValue& value : env.value("environment_variables").toArray())
            if (!keys.contains(value.toObject().value("key").toString()))
                variables.append(value);
        env.insert("environment_variables", variables);
        return Response::json(200, "");
    }
    if (request.method == "PATCH") {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        for (auto it = body.begin(); it != body.end(); ++it)
            env.insert(it.key(), it.value());
        return jsonAnswer(200, QJsonObject{{"data", environmentResource(id)}});
    }
    return jsonAnswer(200, QJsonObject{{"data", environmentResource(id)}});
}

Response FakeCloud::deploymentAnswer(const Request&, const QStringList& parts)
{
    const QString id = parts.value(1);
    if (!deployments.contains(id))
        return Response::json(404, R"({"message":"No deployment."})");
    if (parts.value(2) == QLatin1String("logs")) {
        const QJsonObject current = deploymentResource(id);
        const QString status = current.value("attributes").toObject().value("status").toString();
        return jsonAnswer(
            200,
            QJsonObject{
                {"meta", QJsonObject{{"deployment_status", status}}},
                {"data", QJsonObject{{"steps", QJsonArray{QJsonObject{{"step", "build"},
                                                                      {"status", "succeeded"},
                                                                      {"description", "Building the app"},
                                                                      {"output", "composer install"}}}}}}});
    }
    DeploymentState& state = deployments[id];
    if (state.step < state.statuses.size() - 1)
        ++state.step;
    return jsonAnswer(200, QJsonObject{{"data", deploymentResource(id)}});
}

Response FakeCloud::clusterAnswer(const Request& request, const QStringList& parts)
{
    if (request.method == "POST") {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        if (refuseMySQL84 && body.value("type").toString() == QLatin1String("laravel_mysql_84"))
            return Response::json(422, R"({"errors":[{"title":"Unsupported type."}]})");
        const QString id = QStringLiteral("cl-%1").arg(m_next++);
        const QString schema = QStringLiteral("sch-%1").arg(m_next++);
        clusters.insert(id, QJsonObject{{"name", body.value("name")},
                                        {"type", body.value("type")},
                                        {"region", body.value("region")},
                                        {"status", "creating"},
                                        {"schema", schema},
                                        {"looks", 0},
                                        {"connection", QJsonObject{{"hostname", "127.0.0.1"},
                                                                   {"port", 1},
                                                                   {"username", "cloud"},
                                                                   {"password", clusterPassword},
                                                                   {"database", "main"}}}});
        return jsonAnswer(201, QJsonObject{{"data", clusterResource(id, true)}});
    }
    const auto includedFor = [this](const QString& id) {
        return QJsonObject{{"type", "databaseSchemas"},
                           {"id", clusters.value(id).value("schema")},
                           {"attributes", QJsonObject{{"name", "main"}}}};
    };
    if (parts.size() <= 2) {
        const QString region = queryValue(request, QStringLiteral("filter[region]"));
        QJsonArray data;
        QJsonArray included;
        for (auto it = clusters.cbegin(); it != clusters.cend(); ++it) {
            if (!region.isEmpty() && it.value().value("region").toString() != region)
                continue;
            data.append(clusterResource(it.key(), false));
            included.append(includedFor(it.key()));
        }
        return jsonAnswer(200, QJsonObject{{"data", data}, {"included", included}});
    }
    const QString id = parts.value(2);
    if (!clusters.contains(id))
        return Response::json(404, R"({"message":"No cluster."})");
    QJsonObject& cluster = clusters[id];
    const int looks = cluster.value("looks").toInt() + 1;
    cluster.insert("looks", looks);
    if (looks >= clusterLooks)
        cluster.insert("status", "available");
    return jsonAnswer(
        200, QJsonObject{{"data", clusterResource(id, false)}, {"included", QJsonArray{includedFor(id)}}});
}

} // namespace halvik::test
