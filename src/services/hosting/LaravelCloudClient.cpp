#include "LaravelCloudClient.h"

#include "CloudCommands.h"

#include "async/Sleep.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace halvik {

using nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

std::string u(const QString& text)
{
    return text.toStdString();
}

// A member as text: strings as they are, numbers written out, anything else empty.
QString str(const json& object, const char* key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return {};
    if (it->is_string())
        return QString::fromStdString(it->get<std::string>());
    if (it->is_number())
        return QString::fromStdString(it->dump());
    return {};
}

std::optional<QString> optionalStr(const json& object, const char* key)
{
    const QString value = str(object, key);
    return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
}

const json& member(const json& object, const char* key)
{
    static const json empty = json::object();
    if (!object.is_object())
        return empty;
    const auto it = object.find(key);
    return it == object.end() ? empty : *it;
}

QString resourceID(const json& resource)
{
    const QString id = str(resource, "id");
    if (!id.isEmpty())
        return id;
    const QString href = str(member(member(resource, "links"), "self"), "href");
    return QUrl(href).path().section(QLatin1Char('/'), -1);
}

std::optional<QString> relatedID(const json& resource, const char* name)
{
    const json& data = member(member(member(resource, "relationships"), name), "data");
    if (data.is_array())
        return data.empty() ? std::nullopt : optionalStr(data.front(), "id");
    return optionalStr(data, "id");
}

const json* findIncluded(const json& included, const char* type, const QString& id)
{
    if (!included.is_array())
        return nullptr;
    for (const json& item : included)
        if (str(item, "type") == QLatin1String(type) && str(item, "id") == id)
            return &item;
    return nullptr;
}

// The resource of a single-resource answer: under `key` when Cloud names it, else "data".
const json& resourceOf(const json& body, const char* key)
{
    const json& named = member(body, key);
    if (named.is_object() && !named.empty())
        return named;
    return member(body, "data");
}

QString withScheme(const QString& domain)
{
    if (domain.isEmpty() || domain.startsWith(s("http://")) || domain.startsWith(s("https://")))
        return domain;
    return s("https://") + domain;
}

} // namespace

QString CloudEnvironment::vanityURL() const
{
    return withScheme(vanityDomain);
}

std::optional<QString> CloudEnvironment::variable(const QString& key) const
{
    for (const CloudEnvironmentVariable& variable : environmentVariables)
        if (variable.key == key)
            return variable.value;
    return std::nullopt;
}

CloudDatabaseCluster CloudDatabaseCluster::preservingPassword(const QString& password) const
{
    CloudDatabaseCluster copy = *this;
    if (copy.connection && copy.connection->password.isEmpty())
        copy.connection->password = password;
    return copy;
}

LaravelCloudClient::Timing LaravelCloudClient::Timing::real()
{
    Timing timing;
    timing.sleep = [](std::chrono::milliseconds duration, CancellationToken cancel) {
        return sleepFor(duration, std::move(cancel));
    };
    // A shorter look interval, for scripts and tests that drive a local stand-in for Cloud.
    bool ok = false;
    const int interval = qEnvironmentVariableIntValue("HALVIK_CLOUD_POLL_MS", &ok);
    if (ok && interval >= 0) {
        timing.deploymentInterval = std::chrono::milliseconds(interval);
        timing.clusterInterval = std::chrono::milliseconds(interval);
    }
    return timing;
}

LaravelCloudClient::LaravelCloudClient(ProcessRunner* runner) : m_transport(runner) {}

QCoro::Task<json> LaravelCloudClient::call(CloudRequest request, CancellationToken cancel)
{
    const CloudResponse response = co_await m_transport.send(std::move(request), cancel);
    co_return CloudTransport::finalize(response);
}

CloudApplication LaravelCloudClient::parseApplication(const json& resource, const json& included)
{
    const json& attributes = member(resource, "attributes");
    CloudApplication application;
    application.id = resourceID(resource);
    application.name = str(attributes, "name");
    application.region = str(attributes, "region");
    application.environmentID = relatedID(resource, "defaultEnvironment").value_or(QString());
    application.deploymentID = relatedID(resource, "latestDeployment");
    application.vanityURL = withScheme(str(attributes, "vanity_domain"));
    if (const json* environment = findIncluded(included, "environments", application.environmentID)) {
        const QString domain = str(member(*environment, "attributes"), "vanity_domain");
        if (!domain.isEmpty())
            application.vanityURL = withScheme(domain);
    }
    return application;
}

CloudEnvironment LaravelCloudClient::parseEnvironment(const json& resource)
{
    const json& attributes = member(resource, "attributes");
    CloudEnvironment environment;
    environment.id = resourceID(resource);
    environment.name = str(attributes, "name");
    environment.status = str(attributes, "status");
    environment.vanityDomain = str(attributes, "vanity_domain");
    environment.buildCommand = optionalStr(attributes, "build_command");
    environment.deployCommand = optionalStr(attributes, "deploy_command");
    environment.databaseSchemaID = optionalStr(attributes, "database_schema_id");
    const json& variables = member(attributes, "environment_variables");
    if (variables.is_array())
        for (const json& variable : variables)
            environment.environmentVariables
                << CloudEnvironmentVariable{str(variable, "key"), str(variable, "value")};
    return environment;
}

CloudDeployment LaravelCloudClient::parseDeployment(const json& resource)
{
    const json& attributes = member(resource, "attributes");
    CloudDeployment deployment;
    deployment.id = resourceID(resource);
    if (const QString status = str(attributes, "status"); !status.isEmpty())
        deployment.status = status;
    deployment.failureReason = optionalStr(attributes, "failure_reason");
    return deployment;
}

CloudDatabaseCluster LaravelCloudClient::parseCluster(const json& resource, const json& included)
{
    const json& attributes = member(resource, "attributes");
    CloudDatabaseCluster cluster;
    cluster.id = resourceID(resource);
    cluster.name = str(attributes, "name");
    cluster.type = str(attributes, "type");
    cluster.region = str(attributes, "region");
    cluster.status = str(attributes, "status");
    cluster.schemaID = relatedID(resource, "databases").value_or(QString());
    if (const json* schema = findIncluded(included, "databaseSchemas", cluster.schemaID))
        cluster.schemaName = str(member(*schema, "attributes"), "name");
    const json& connection = member(attributes, "connection");
    if (connection.is_object() && !connection.empty()) {
        CloudDatabaseConnection link;
        link.hostname = str(connection, "hostname");
        link.port = str(connection, "port").toInt();
        link.username = str(connection, "username");
        link.password = str(connection, "password");
        link.database = str(connection, "database");
        cluster.connection = link;
    }
    return cluster;
}

QCoro::Task<QString> LaravelCloudClient::createAuthSession(int port, CancellationToken cancel)
{
    CloudRequest request{"POST", s("cli/auth-sessions"), {}, std::nullopt, false, json{{"port", port}}};
    const json body = co_await call(std::move(request), cancel);
    const QString url = str(body, "redirect_url");
    if (url.isEmpty())
        throw LaravelCloudClientError::missing(s("redirect_url"));
    co_return url;
}

QCoro::Task<QList<CloudSignIn>> LaravelCloudClient::exchangeAuthCode(QString code, CancellationToken cancel)
{
    CloudRequest request{"POST", s("cli/auth-sessions/exchange"), {}, std::nullopt,
                         false,  json{{"exchange_code", u(code)}}};
    const CloudResponse response = co_await m_transport.send(std::move(request), cancel);
    if (response.isRedirect())
        throw LaravelCloudClientError::refused(
            response.status, s("Sign-in code expired or already used. Click Sign in again — "
                               "don’t paste an old exchange_code."));
    const json body = CloudTransport::finalize(response);
    QList<CloudSignIn> signIns;
    const json& tokens = member(body, "tokens");
    if (tokens.is_array())
        for (const json& entry : tokens) {
            const QString token = str(entry, "token");
            if (token.isEmpty())
                continue;
            const QString organization = str(entry, "organization_name");
            signIns << CloudSignIn{organization.isEmpty() ? s("Laravel Cloud") : organization, token};
        }
    if (signIns.isEmpty())
        throw LaravelCloudClientError::missing(s("OAuth token"));
    co_return signIns;
}

QCoro::Task<QString> LaravelCloudClient::verify(QString token)
{
    CloudRequest request{"GET", s("meta/organization"), {}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), {});
    const json& attributes = member(member(body, "data"), "attributes");
    for (const char* key : {"name", "slug"})
        if (const QString value = str(attributes, key).trimmed(); !value.isEmpty())
            co_return value;
    co_return s("Laravel Cloud");
}

QCoro::Task<QList<CloudRegion>> LaravelCloudClient::regions(QString token, CancellationToken cancel)
{
    CloudRequest request{"GET", s("meta/regions"), {}, token, false, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    QList<CloudRegion> found;
    const json& data = member(body, "data");
    if (data.is_array())
        for (const json& region : data)
            if (const QString code = str(region, "region"); !code.isEmpty())
                found << CloudRegion{code, str(region, "label"), str(region, "flag")};
    co_return found;
}

QCoro::Task<QList<CloudApplication>> LaravelCloudClient::applications(QString token, CancellationToken cancel)
{
    CloudRequest request{"GET", s("applications"), {}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    QList<CloudApplication> found;
    const json& data = member(body, "data");
    if (data.is_array())
        for (const json& item : data)
            found << parseApplication(item, member(body, "included"));
    co_return found;
}

QCoro::Task<std::optional<CloudApplication>> LaravelCloudClient::findApplication(QString name, QString token,
                                                                                 CancellationToken cancel)
{
    CloudRequest request{"GET", s("applications"), {{s("filter[name]"), name}}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& data = member(body, "data");
    if (data.is_array())
        for (const json& item : data) {
            const CloudApplication application = parseApplication(item, member(body, "included"));
            if (application.name.compare(name, Qt::CaseInsensitive) == 0)
                co_return application;
        }
    co_return std::nullopt;
}

QCoro::Task<CloudApplication> LaravelCloudClient::application(QString id, QString token,
                                                              CancellationToken cancel)
{
    CloudRequest request{"GET",
                         s("applications/") + id,
                         {{s("include"), s("environments,defaultEnvironment")}},
                         token,
                         true,
                         std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& resource = resourceOf(body, "application");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("application"));
    co_return parseApplication(resource, member(body, "included"));
}

QCoro::Task<CloudApplication> LaravelCloudClient::createApplication(QString name, QString repository,
                                                                    QString region, QString token,
                                                                    CancellationToken cancel)
{
    const json payload{{"source_control_provider_type", "github"},
                       {"repository", u(repository)},
                       {"name", u(name)},
                       {"region", u(region)}};
    CloudRequest request{"POST", s("applications"), {}, token, true, payload};
    const CloudResponse response = co_await m_transport.send(std::move(request), cancel);
    if (response.status == 422) {
        auto existing = co_await findApplication(name, token, cancel);
        if (existing)
            co_return *existing;
    }
    if (response.status == 302)
        throw LaravelCloudClientError::refused(
            302,
            s("Cloud doesn’t have GitHub access to %1. Grant the Laravel Cloud GitHub App access to that "
              "repo (or create from a repo it can already see).")
                .arg(repository));
    const json body = CloudTransport::finalize(response);
    const json& resource = resourceOf(body, "application");
    if (resource.is_object() && !resource.empty())
        co_return parseApplication(resource, member(body, "included"));
    if (!response.location.isEmpty()) {
        const QString id = QUrl(response.location).path().section(QLatin1Char('/'), -1);
        if (!id.isEmpty()) {
            try {
                co_return co_await application(id, token, cancel);
            } catch (const LaravelCloudClientError& error) {
                if (error.isUnauthorized())
                    throw;
            }
        }
    }
    throw LaravelCloudClientError::refused(response.status, s("Cloud did not create “%1”.").arg(name));
}

QCoro::Task<QList<CloudEnvironment>> LaravelCloudClient::environments(QString applicationID, QString token,
                                                                      CancellationToken cancel)
{
    CloudRequest request{"GET",       s("applications/%1/environments").arg(applicationID), {}, token, true,
                         std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    QList<CloudEnvironment> found;
    const json& data = member(body, "data");
    if (data.is_array())
        for (const json& item : data)
            found << parseEnvironment(item);
    co_return found;
}

QCoro::Task<CloudEnvironment> LaravelCloudClient::environment(QString id, QString token,
                                                              CancellationToken cancel)
{
    CloudRequest request{"GET", s("environments/") + id, {}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& resource = resourceOf(body, "environment");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("environment"));
    co_return parseEnvironment(resource);
}

QCoro::Task<> LaravelCloudClient::updateEnvironment(QString id, QString token,
                                                    std::optional<QString> buildCommand,
                                                    std::optional<QString> deployCommand,
                                                    std::optional<QString> databaseSchemaID,
                                                    CancellationToken cancel)
{
    json payload = json::object();
    if (buildCommand)
        payload["build_command"] = u(*buildCommand);
    if (deployCommand)
        payload["deploy_command"] = u(*deployCommand);
    if (databaseSchemaID)
        payload["database_schema_id"] = u(*databaseSchemaID);
    CloudRequest request{"PATCH", s("environments/") + id, {}, token, true, payload};
    co_await call(std::move(request), cancel);
}

QCoro::Task<> LaravelCloudClient::addEnvironmentVariables(QString environmentID,
                                                          QList<CloudEnvironmentVariable> variables,
                                                          QString token, CancellationToken cancel)
{
    json list = json::array();
    for (const CloudEnvironmentVariable& variable : variables)
        list.push_back(json{{"key", u(variable.key)}, {"value", u(variable.value)}});
    CloudRequest request{"POST", s("environments/%1/variables").arg(environmentID), {}, token,
                         false,  json{{"method", "set"}, {"variables", list}}};
    co_await call(std::move(request), cancel);
}

QCoro::Task<> LaravelCloudClient::deleteEnvironmentVariables(QString environmentID, QStringList keys,
                                                             QString token, CancellationToken cancel)
{
    json list = json::array();
    for (const QString& key : keys)
        list.push_back(u(key));
    CloudRequest request{"POST", s("environments/%1/variables/delete").arg(environmentID),
                         {},     token,
                         false,  json{{"keys", list}}};
    co_await call(std::move(request), cancel);
}

QCoro::Task<CloudDeployment> LaravelCloudClient::initiateDeployment(QString environmentID, QString token,
                                                                    CancellationToken cancel)
{
    CloudRequest request{"POST",      s("environments/%1/deployments").arg(environmentID), {}, token, true,
                         std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& resource = resourceOf(body, "deployment");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("deployment"));
    co_return parseDeployment(resource);
}

QCoro::Task<CloudDeployment> LaravelCloudClient::deployment(QString id, QString token,
                                                            CancellationToken cancel)
{
    CloudRequest request{"GET", s("deployments/") + id, {}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& resource = resourceOf(body, "deployment");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("deployment"));
    co_return parseDeployment(resource);
}

QCoro::Task<QString> LaravelCloudClient::deploymentLogs(QString id, QString token, CancellationToken cancel)
{
    CloudRequest request{"GET", s("deployments/%1/logs").arg(id), {}, token, false, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    co_return CloudCommands::formatLogs(body);
}

QCoro::Task<CloudDeployment> LaravelCloudClient::waitForDeployment(QString id, QString token,
                                                                   DeploymentUpdate onUpdate,
                                                                   CancellationToken cancel)
{
    for (int poll = 0; poll < m_timing.deploymentPolls; ++poll) {
        if (poll > 0)
            co_await m_timing.sleep(m_timing.deploymentInterval, cancel);
        const CloudDeployment current = co_await deployment(id, token, cancel);
        if (onUpdate)
            onUpdate(current);
        const QString& status = current.status;
        if (status == QLatin1String("deployment.succeeded"))
            co_return current;
        if (status == QLatin1String("deployment.failed") || status == QLatin1String("build.failed") ||
            status == QLatin1String("failed") || status == QLatin1String("cancelled")) {
            const QString reason = current.failureReason.value_or(QString()).trimmed();
            throw LaravelCloudClientError::failed(500, reason.isEmpty() ? s("Deployment %1.").arg(status)
                                                                        : reason);
        }
    }
    throw LaravelCloudClientError::failed(504, s("Timed out waiting for deployment %1.").arg(id));
}

QCoro::Task<QList<CloudDatabaseCluster>>
LaravelCloudClient::databaseClusters(std::optional<QString> region, QString token, CancellationToken cancel)
{
    QList<QPair<QString, QString>> query{{s("include"), s("databases")}};
    if (region)
        query.append(qMakePair(s("filter[region]"), *region));
    CloudRequest request{"GET", s("databases/clusters"), query, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    QList<CloudDatabaseCluster> found;
    const json& data = member(body, "data");
    if (data.is_array())
        for (const json& item : data)
            found << parseCluster(item, member(body, "included"));
    co_return found;
}

QCoro::Task<CloudDatabaseCluster> LaravelCloudClient::databaseCluster(QString id, QString token,
                                                                      CancellationToken cancel)
{
    CloudRequest request{
        "GET", s("databases/clusters/") + id, {{s("include"), s("databases")}}, token, true, std::nullopt};
    const json body = co_await call(std::move(request), cancel);
    const json& resource = member(body, "data");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("database cluster"));
    co_return parseCluster(resource, member(body, "included"));
}

QCoro::Task<CloudDatabaseCluster> LaravelCloudClient::createDatabaseCluster(QString name, QString region,
                                                                            QString token,
                                                                            CancellationToken cancel)
{
    json payload{{"type", "laravel_mysql_84"},
                 {"name", u(name)},
                 {"region", u(region)},
                 {"config",
                  {{"size", "mysql-flex-512mb"},
                   {"storage", 5},
                   {"is_public", true},
                   {"uses_scheduled_snapshots", false},
                   {"retention_days", 0}}}};
    CloudRequest first{"POST", s("databases/clusters"), {}, token, true, payload};
    CloudResponse response = co_await m_transport.send(std::move(first), cancel);
    if (response.status == 422) {
        auto existing = co_await findDatabaseCluster(name, region, token, cancel);
        if (existing)
            co_return *existing;
        payload["type"] = "laravel_mysql_8";
        CloudRequest second{"POST", s("databases/clusters"), {}, token, true, payload};
        response = co_await m_transport.send(std::move(second), cancel);
    }
    const json body = CloudTransport::finalize(response);
    const json& resource = member(body, "data");
    if (!resource.is_object() || resource.empty())
        throw LaravelCloudClientError::missing(s("database cluster"));
    co_return parseCluster(resource, member(body, "included"));
}

QCoro::Task<CloudDatabaseCluster> LaravelCloudClient::waitForDatabaseCluster(QString id, QString token,
                                                                             CancellationToken cancel)
{
    QString name;
    for (int poll = 0; poll < m_timing.clusterPolls; ++poll) {
        if (poll > 0)
            co_await m_timing.sleep(m_timing.clusterInterval, cancel);
        const CloudDatabaseCluster cluster = co_await databaseCluster(id, token, cancel);
        name = cluster.name;
        if (cluster.status == QLatin1String("available"))
            co_return cluster;
        if (cluster.status == QLatin1String("deleted") || cluster.status == QLatin1String("disabled") ||
            cluster.status == QLatin1String("restore_failed"))
            throw LaravelCloudClientError::failed(500, s("Database cluster %1.").arg(cluster.status));
    }
    throw LaravelCloudClientError::failed(
        504, name.isEmpty() ? s("Timed out waiting for database cluster.")
                            : s("Timed out waiting for database cluster %1.").arg(name));
}

QCoro::Task<std::optional<CloudDatabaseCluster>>
LaravelCloudClient::findDatabaseCluster(QString name, QString region, QString token, CancellationToken cancel)
{
    const QList<CloudDatabaseCluster> clusters = co_await databaseClusters(region, token, cancel);
    for (const CloudDatabaseCluster& cluster : clusters)
        if (cluster.name == name)
            co_return cluster;
    co_return std::nullopt;
}

QCoro::Task<std::optional<CloudDatabaseCluster>>
LaravelCloudClient::databaseClusterOwning(QString schemaID, QString region, QString token,
                                          CancellationToken cancel)
{
    const QList<CloudDatabaseCluster> clusters = co_await databaseClusters(region, token, cancel);
    for (const CloudDatabaseCluster& cluster : clusters)
        if (cluster.schemaID == schemaID) {
            const CloudDatabaseCluster full = co_await databaseCluster(cluster.id, token, cancel);
            co_return full;
        }
    co_return std::nullopt;
}

QCoro::Task<CloudDatabaseSetup> LaravelCloudClient::attachMySQLIfNeeded(QString environmentID, QString region,
                                                                        QString appName, QString token,
                                                                        CancellationToken cancel)
{
    const CloudEnvironment current = co_await environment(environmentID, token, cancel);
    const QString deployCommand = CloudCommands::withMigrateDeployCommand(current.deployCommand);
    if (current.databaseSchemaID) {
        if (deployCommand != current.deployCommand.value_or(QString()))
            co_await updateEnvironment(environmentID, token, std::nullopt, deployCommand, std::nullopt,
                                       cancel);
        const auto owner = co_await databaseClusterOwning(*current.databaseSchemaID, region, token, cancel);
        CloudDatabaseCluster cluster;
        if (owner) {
            cluster = *owner;
        } else {
            cluster.schemaID = *current.databaseSchemaID;
            cluster.name = *current.databaseSchemaID;
        }
        co_return CloudDatabaseSetup{cluster, false};
    }
    const QString name = CloudCommands::mysqlClusterName(appName);
    std::optional<CloudDatabaseCluster> found = co_await findDatabaseCluster(name, region, token, cancel);
    CloudDatabaseCluster cluster;
    if (found) {
        cluster = *found;
        if (cluster.status != QLatin1String("available"))
            cluster = co_await waitForDatabaseCluster(cluster.id, token, cancel);
    } else {
        const CloudDatabaseCluster created = co_await createDatabaseCluster(name, region, token, cancel);
        const QString password = created.connection ? created.connection->password : QString();
        const CloudDatabaseCluster ready = co_await waitForDatabaseCluster(created.id, token, cancel);
        cluster = ready.preservingPassword(password);
        if (!cluster.connection && created.connection)
            cluster.connection = created.connection;
    }
    if (cluster.schemaID.isEmpty())
        throw LaravelCloudClientError::missing(s("database schema"));
    co_await updateEnvironment(environmentID, token, std::nullopt, deployCommand, cluster.schemaID, cancel);
    co_return CloudDatabaseSetup{cluster, true};
}

QCoro::Task<bool> LaravelCloudClient::prepareBuildCommand(QString environmentID, QString siteFolder,
                                                          QString token, CancellationToken cancel)
{
    const CloudEnvironment current = co_await environment(environmentID, token, cancel);
    const bool npm = QFileInfo::exists(QDir(siteFolder).filePath(s("package.json")));
    const QString prepared = CloudCommands::preparedBuildCommand(current.buildCommand, npm);
    if (prepared == current.buildCommand.value_or(QString()))
        co_return false;
    co_await updateEnvironment(environmentID, token, prepared, std::nullopt, std::nullopt, cancel);
    co_return true;
}

} // namespace halvik
