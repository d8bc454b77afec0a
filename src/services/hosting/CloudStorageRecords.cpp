#include "CloudStorageRecords.h"

#include <QHostAddress>
#include <QUrl>

namespace halvik {

using Json = nlohmann::json;

namespace {

const char* kMask = "••••••";

std::string u(const QString& text)
{
    return text.toStdString();
}

QString text(const Json& json, const char* key, const QString& fallback = {})
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_string())
        return fallback;
    return QString::fromStdString(it->get<std::string>());
}

qint64 number(const Json& json, const char* key, qint64 fallback = 0)
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_number())
        return fallback;
    return it->get<qint64>();
}

bool flag(const Json& json, const char* key)
{
    const auto it = json.find(key);
    return it != json.end() && it->is_boolean() && it->get<bool>();
}

QStringList texts(const Json& json, const char* key)
{
    QStringList list;
    const auto it = json.find(key);
    if (it != json.end() && it->is_array())
        for (const Json& item : *it)
            if (item.is_string())
                list << QString::fromStdString(item.get<std::string>());
    return list;
}

Json array(const QStringList& list)
{
    Json out = Json::array();
    for (const QString& item : list)
        out.push_back(u(item));
    return out;
}

bool isLoopback(const QString& host)
{
    if (host == QLatin1String("localhost"))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isSecureAddress(const QString& address)
{
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http") && isLoopback(url.host());
}

} // namespace

const QStringList& movableRepositories()
{
    static const QStringList names{QStringLiteral("entries"),
                                   QStringLiteral("collection_trees"),
                                   QStringLiteral("global_variables"),
                                   QStringLiteral("nav_trees"),
                                   QStringLiteral("terms"),
                                   QStringLiteral("form_submissions"),
                                   QStringLiteral("assets"),
                                   QStringLiteral("collections"),
                                   QStringLiteral("globals"),
                                   QStringLiteral("navs"),
                                   QStringLiteral("taxonomies"),
                                   QStringLiteral("asset_containers"),
                                   QStringLiteral("blueprints"),
                                   QStringLiteral("fieldsets"),
                                   QStringLiteral("forms"),
                                   QStringLiteral("sites"),
                                   QStringLiteral("revisions"),
                                   QStringLiteral("addon_settings"),
                                   QStringLiteral("tokens")};
    return names;
}

std::optional<QString> configuredRepositoriesProblem(const QStringList& configured,
                                                     const QStringList& planned)
{
    // One the setup cannot move outweighs one merely left out: including it would not help.
    for (const QString& repository : configured)
        if (!movableRepositories().contains(repository))
            return QString::fromUtf8(
                "This site has additional database repositories. Their migration needs to be "
                "configured before using this setup.");
    for (const QString& repository : configured)
        if (!planned.contains(repository))
            return QString::fromUtf8("Include every repository already stored in the local database.");
    return std::nullopt;
}

bool CloudStoragePlan::Database::isValid() const
{
    return (driver == QLatin1String("pgsql") || driver == QLatin1String("mysql")) && !host.isEmpty() &&
           port > 0 && port < 65536 && !name.isEmpty() && !username.isEmpty() && !password.isEmpty();
}

bool CloudStoragePlan::Bucket::isValid() const
{
    return !endpoint.isEmpty() && !region.isEmpty() && !name.isEmpty() && !key.isEmpty() &&
           !secret.isEmpty() && !url.isEmpty() && isSecureAddress(endpoint) && isSecureAddress(url);
}

bool CloudStoragePlan::isValid() const
{
    if (!database && !bucket)
        return false;
    if (database && !database->isValid())
        return false;
    if (assets && (!bucket || !bucket->isValid() || containers.isEmpty()))
        return false;
    return !bucket || bucket->isValid();
}

Json CloudStoragePlan::toJson(Secrets secrets) const
{
    auto secret = [secrets](const QString& value) -> Json {
        switch (secrets) {
        case Secrets::included:
            return u(value);
        case Secrets::masked:
            return kMask;
        case Secrets::left:
            break;
        }
        return nullptr;
    };
    Json json{{"repositories", array(repositories)},
              {"users", users},
              {"assets", assets},
              {"containers", array(containers)}};
    if (database) {
        Json db{{"driver", u(database->driver)},
                {"host", u(database->host)},
                {"port", database->port},
                {"name", u(database->name)},
                {"username", u(database->username)},
                {"sslmode", u(database->sslmode)}};
        if (secrets != Secrets::left)
            db["password"] = secret(database->password);
        json["database"] = db;
    }
    if (bucket) {
        Json b{{"endpoint", u(bucket->endpoint)},
               {"region", u(bucket->region)},
               {"name", u(bucket->name)},
               {"key", u(bucket->key)},
               {"url", u(bucket->url)}};
        if (secrets != Secrets::left)
            b["secret"] = secret(bucket->secret);
        json["bucket"] = b;
    }
    return json;
}

CloudStoragePlan CloudStoragePlan::fromJson(const Json& json)
{
    CloudStoragePlan plan;
    if (!json.is_object())
        return plan;
    if (const auto db = json.find("database"); db != json.end() && db->is_object()) {
        Database database;
        database.driver = text(*db, "driver", database.driver);
        database.host = text(*db, "host");
        database.port = int(number(*db, "port", database.driver == QLatin1String("mysql") ? 3306 : 5432));
        database.name = text(*db, "name");
        database.username = text(*db, "username");
        database.password = text(*db, "password");
        database.sslmode = text(*db, "sslmode", database.sslmode);
        plan.database = database;
    }
    if (const auto b = json.find("bucket"); b != json.end() && b->is_object()) {
        Bucket bucket;
        bucket.endpoint = text(*b, "endpoint");
        bucket.region = text(*b, "region", bucket.region);
        bucket.name = text(*b, "name");
        bucket.key = text(*b, "key");
        bucket.secret = text(*b, "secret");
        bucket.url = text(*b, "url");
        plan.bucket = bucket;
    }
    plan.repositories = texts(json, "repositories");
    plan.users = flag(json, "users");
    plan.assets = flag(json, "assets");
    plan.containers = texts(json, "containers");
    return plan;
}

Json CloudStorageInventory::toJson() const
{
    Json list = Json::array();
    for (const CloudStorageContainer& c : containers)
        list.push_back(Json{{"id", u(c.id)}, {"title", u(c.title)}, {"disk", u(c.disk)}, {"files", c.files}});
    return Json{{"containers", list},
                {"users", users},
                {"userRepository", u(userRepository)},
                {"databaseDriver", u(databaseDriver)},
                {"configuredRepositories", array(configuredRepositories)},
                {"contentCounts", Json{{"entries", entries}, {"terms", terms}, {"assets", assets}}}};
}

CloudStorageInventory CloudStorageInventory::fromJson(const Json& json)
{
    CloudStorageInventory inventory;
    if (!json.is_object())
        return inventory;
    if (const auto list = json.find("containers"); list != json.end() && list->is_array())
        for (const Json& item : *list)
            if (item.is_object())
                inventory.containers << CloudStorageContainer{text(item, "id"), text(item, "title"),
                                                              text(item, "disk"), int(number(item, "files"))};
    inventory.users = int(number(json, "users"));
    inventory.userRepository = text(json, "userRepository", inventory.userRepository);
    inventory.databaseDriver = text(json, "databaseDriver", inventory.databaseDriver);
    inventory.configuredRepositories = texts(json, "configuredRepositories");
    const Json counts = json.value("contentCounts", Json::object());
    if (counts.is_object()) {
        inventory.entries = int(number(counts, "entries"));
        inventory.terms = int(number(counts, "terms"));
        inventory.assets = int(number(counts, "assets"));
    }
    return inventory;
}

Json CloudStorageResult::toJson() const
{
    Json counts = Json::object();
    for (auto it = tables.begin(); it != tables.end(); ++it)
        counts[u(it.key())] = it.value();
    return Json{{"tables", counts}, {"files", files}};
}

CloudStorageResult CloudStorageResult::fromJson(const Json& json)
{
    CloudStorageResult result;
    if (!json.is_object())
        return result;
    if (const auto counts = json.find("tables"); counts != json.end() && counts->is_object())
        for (auto it = counts->begin(); it != counts->end(); ++it)
            if (it->is_number())
                result.tables.insert(QString::fromStdString(it.key()), it->get<qint64>());
    result.files = number(json, "files");
    return result;
}

QString stageName(CloudStorageStage stage)
{
    switch (stage) {
    case CloudStorageStage::inspect:
        return QStringLiteral("inspect");
    case CloudStorageStage::check:
        return QStringLiteral("check");
    case CloudStorageStage::prepare:
        return QStringLiteral("prepare");
    case CloudStorageStage::copyAndConfigure:
        return QStringLiteral("copyAndConfigure");
    case CloudStorageStage::complete:
        break;
    }
    return QStringLiteral("complete");
}

std::optional<CloudStorageStage> stageFromName(const QString& name)
{
    for (CloudStorageStage stage :
         {CloudStorageStage::inspect, CloudStorageStage::check, CloudStorageStage::prepare,
          CloudStorageStage::copyAndConfigure, CloudStorageStage::complete})
        if (stageName(stage) == name)
            return stage;
    return std::nullopt;
}

Json CloudStorageCheckpoint::toJson() const
{
    Json base = Json::object();
    for (auto it = baseline.begin(); it != baseline.end(); ++it)
        base[u(it.key())] = u(it.value());
    Json content = Json::object();
    for (auto it = sourceContent.begin(); it != sourceContent.end(); ++it)
        content[u(it.key())] = it.value();
    return Json{{"plan", plan.toJson(CloudStoragePlan::Secrets::left)},
                {"inventory", inventory ? inventory->toJson() : Json(nullptr)},
                {"target",
                 Json{{"sitePath", u(sitePath)}, {"hostID", u(hostID)}, {"environmentID", u(environmentID)}}},
                {"stage", u(stageName(stage))},
                {"workspace", u(workspace)},
                {"baseline", base},
                {"runID", u(runID)},
                {"sourceUsers", sourceUsers},
                {"sourceContent", content},
                {"result", result.toJson()},
                {"completed", array(completed)},
                {"copiedDatabase", copiedDatabase},
                {"copiedAssets", copiedAssets},
                {"applied", applied},
                {"applying", applying},
                {"remoteStarted", remoteStarted}};
}

CloudStorageCheckpoint CloudStorageCheckpoint::fromJson(const Json& json)
{
    CloudStorageCheckpoint checkpoint;
    if (!json.is_object())
        return checkpoint;
    checkpoint.plan = CloudStoragePlan::fromJson(json.value("plan", Json::object()));
    if (const auto inventory = json.find("inventory"); inventory != json.end() && inventory->is_object())
        checkpoint.inventory = CloudStorageInventory::fromJson(*inventory);
    const Json target = json.value("target", Json::object());
    if (target.is_object()) {
        checkpoint.sitePath = text(target, "sitePath");
        checkpoint.hostID = text(target, "hostID");
        checkpoint.environmentID = text(target, "environmentID");
    }
    checkpoint.stage = stageFromName(text(json, "stage")).value_or(CloudStorageStage::inspect);
    checkpoint.workspace = text(json, "workspace");
    if (const auto base = json.find("baseline"); base != json.end() && base->is_object())
        for (auto it = base->begin(); it != base->end(); ++it)
            if (it->is_string())
                checkpoint.baseline.insert(QString::fromStdString(it.key()),
                                           QString::fromStdString(it->get<std::string>()));
    checkpoint.runID = text(json, "runID");
    checkpoint.sourceUsers = int(number(json, "sourceUsers"));
    if (const auto content = json.find("sourceContent"); content != json.end() && content->is_object())
        for (auto it = content->begin(); it != content->end(); ++it)
            if (it->is_number())
                checkpoint.sourceContent.insert(QString::fromStdString(it.key()), it->get<int>());
    checkpoint.result = CloudStorageResult::fromJson(json.value("result", Json::object()));
    checkpoint.completed = texts(json, "completed");
    checkpoint.copiedDatabase = flag(json, "copiedDatabase");
    checkpoint.copiedAssets = flag(json, "copiedAssets");
    checkpoint.applied = flag(json, "applied");
    checkpoint.applying = flag(json, "applying");
    checkpoint.remoteStarted = flag(json, "remoteStarted");
    return checkpoint;
}

} // namespace halvik
