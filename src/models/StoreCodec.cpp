#include "StoreCodec.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace halvik::StoreCodec {

namespace {

using Json = nlohmann::ordered_json;

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceOffsetSeconds = 978307200;

// ---- writing ----

std::string str(const QString& value) { return value.toStdString(); }

void put(Json& object, const char* key, const std::optional<QString>& value)
{
    if (value)
        object[key] = str(*value);
}
void put(Json& object, const char* key, const std::optional<qint64>& value)
{
    if (value)
        object[key] = *value;
}
void put(Json& object, const char* key, const std::optional<int>& value)
{
    if (value)
        object[key] = *value;
}
void put(Json& object, const char* key, const std::optional<QUuid>& value)
{
    if (value)
        object[key] = str(uuidString(*value));
}
void put(Json& object, const char* key, const std::optional<QDateTime>& value)
{
    if (value)
        object[key] = toReferenceSeconds(*value);
}

Json encodeOperation(const SiteOperation& op)
{
    Json o = Json::object();
    o["id"] = str(uuidString(op.id()));
    o["command"] = str(op.command());
    o["log"] = str(op.log());
    put(o, "exitCode", op.exitCode());
    o["startedAt"] = toReferenceSeconds(op.startedAt());
    put(o, "finishedAt", op.finishedAt());
    o["kindRaw"] = str(op.kindRaw());
    return o;
}

Json encodeDeployment(const Deployment& d)
{
    Json o = Json::object();
    o["id"] = str(uuidString(d.id()));
    o["startedAt"] = toReferenceSeconds(d.startedAt());
    put(o, "finishedAt", d.finishedAt());
    o["status"] = str(d.status());
    o["log"] = str(d.log());
    put(o, "forgeDeploymentId", d.forgeDeploymentId());
    o["serverName"] = str(d.serverName());
    o["siteName"] = str(d.siteName());
    return o;
}

Json encodeSite(const Site& s)
{
    Json o = Json::object();
    o["id"] = str(uuidString(s.id()));
    o["name"] = str(s.name());
    o["path"] = str(s.path());
    o["createdAt"] = toReferenceSeconds(s.createdAt());
    o["phpSourceRaw"] = str(s.phpSourceRaw());
    put(o, "managedPHPVersion", s.managedPHPVersion());
    o["herdLinked"] = s.herdLinked();
    put(o, "localPort", s.localPort());
    put(o, "githubRepo", s.githubRepo());
    put(o, "forgeServerId", s.forgeServerId());
    put(o, "forgeSiteId", s.forgeSiteId());
    put(o, "forgeHostId", s.forgeHostId());
    put(o, "cloudAppId", s.cloudAppId());
    put(o, "cloudEnvId", s.cloudEnvId());
    put(o, "cloudHostId", s.cloudHostId());
    put(o, "cloudURL", s.cloudURL());
    o["usesSSG"] = s.usesSSG();
    put(o, "staticHostKind", s.staticHostKind());
    put(o, "staticHostSiteId", s.staticHostSiteId());
    put(o, "staticHostURL", s.staticHostURL());
    put(o, "lastStaticBuildAt", s.lastStaticBuildAt());
    o["notes"] = str(s.notes());
    Json operations = Json::array();
    for (const auto& op : s.operations())
        operations.push_back(encodeOperation(*op));
    o["operations"] = std::move(operations);
    Json deployments = Json::array();
    for (const auto& d : s.deployments())
        deployments.push_back(encodeDeployment(*d));
    o["deployments"] = std::move(deployments);
    return o;
}

Json encodeHost(const HostAccount& h)
{
    Json o = Json::object();
    o["id"] = str(uuidString(h.id()));
    o["providerRaw"] = str(h.providerRaw());
    o["label"] = str(h.label());
    o["createdAt"] = toReferenceSeconds(h.createdAt());
    put(o, "lastVerifiedAt", h.lastVerifiedAt());
    put(o, "providerAccountID", h.providerAccountID());
    return o;
}

// ---- reading ----

// Reads fields of one JSON object, naming the object's place in the document in its errors.
class Reader
{
public:
    Reader(const Json& object, QString where) : m_object(object), m_where(std::move(where))
    {
        if (!object.is_object())
            fail(QStringLiteral("expected an object"));
    }

    [[noreturn]] void fail(const QString& problem) const
    {
        throw StoreDecodeError(m_where + QStringLiteral(": ") + problem + QLatin1Char('.'));
    }

    // The value for `key`, or nullptr when absent or null.
    const Json* find(const char* key) const
    {
        auto it = m_object.find(key);
        if (it == m_object.end() || it->is_null())
            return nullptr;
        return &*it;
    }
    const Json& need(const char* key) const
    {
        const Json* value = find(key);
        if (!value)
            fail(QStringLiteral("the required key “%1” is missing").arg(QLatin1String(key)));
        return *value;
    }
    [[noreturn]] void wrongType(const char* key, const char* expected) const
    {
        fail(QStringLiteral("“%1” is not %2").arg(QLatin1String(key), QLatin1String(expected)));
    }

    QString string(const char* key) const { return asString(key, need(key)); }
    std::optional<QString> optString(const char* key) const
    {
        const Json* v = find(key);
        return v ? std::optional(asString(key, *v)) : std::nullopt;
    }
    bool boolean(const char* key) const { return asBool(key, need(key)); }
    std::optional<bool> optBool(const char* key) const
    {
        const Json* v = find(key);
        return v ? std::optional(asBool(key, *v)) : std::nullopt;
    }
    std::optional<qint64> optInteger(const char* key) const
    {
        const Json* v = find(key);
        if (!v)
            return std::nullopt;
        if (v->is_number_integer())
            return v->get<qint64>();
        if (v->is_number_float()) {
            const double d = v->get<double>();
            if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.0e15)
                return static_cast<qint64>(d);
        }
        wrongType(key, "an integer");
    }
    std::optional<int> optInt(const char* key) const
    {
        const auto v = optInteger(key);
        if (v && (*v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max()))
            wrongType(key, "a 32-bit integer");
        return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
    }
    QDateTime date(const char* key) const { return asDate(key, need(key)); }
    std::optional<QDateTime> optDate(const char* key) const
    {
        const Json* v = find(key);
        return v ? std::optional(asDate(key, *v)) : std::nullopt;
    }
    QUuid uuid(const char* key) const { return asUuid(key, need(key)); }
    std::optional<QUuid> optUuid(const char* key) const
    {
        const Json* v = find(key);
        return v ? std::optional(asUuid(key, *v)) : std::nullopt;
    }
    const Json* optArray(const char* key) const
    {
        const Json* v = find(key);
        if (v && !v->is_array())
            wrongType(key, "an array");
        return v;
    }
    const Json& array(const char* key) const
    {
        const Json& v = need(key);
        if (!v.is_array())
            wrongType(key, "an array");
        return v;
    }
    const QString& where() const { return m_where; }

private:
    QString asString(const char* key, const Json& v) const
    {
        if (!v.is_string())
            wrongType(key, "a string");
        return QString::fromStdString(v.get<std::string>());
    }
    bool asBool(const char* key, const Json& v) const
    {
        if (!v.is_boolean())
            wrongType(key, "a boolean");
        return v.get<bool>();
    }
    QDateTime asDate(const char* key, const Json& v) const
    {
        if (!v.is_number() || !std::isfinite(v.get<double>()) || std::fabs(v.get<double>()) > 1.0e11)
            wrongType(key, "a date");
        return fromReferenceSeconds(v.get<double>());
    }
    QUuid asUuid(const char* key, const Json& v) const
    {
        if (!v.is_string())
            wrongType(key, "a UUID string");
        const QString text = QString::fromStdString(v.get<std::string>());
        const QUuid id = QUuid::fromString(text);
        if (id.isNull() || text.size() != 36)
            wrongType(key, "a UUID string");
        return id;
    }

    const Json& m_object;
    QString m_where;
};

SiteOperationPtr decodeOperation(const Json& json, const QString& where)
{
    Reader r(json, where);
    auto op = std::make_shared<SiteOperation>(r.uuid("id"), r.string("command"), r.string("kindRaw"),
                                              r.date("startedAt"));
    op->setLog(r.optString("log").value_or(QString()));
    op->setExitCode(r.optInt("exitCode"));
    op->setFinishedAt(r.optDate("finishedAt"));
    return op;
}

DeploymentPtr decodeDeployment(const Json& json, const QString& where)
{
    Reader r(json, where);
    auto d = std::make_shared<Deployment>(r.uuid("id"), r.date("startedAt"), r.string("status"),
                                          r.string("serverName"), r.string("siteName"));
    d->setFinishedAt(r.optDate("finishedAt"));
    d->setLog(r.optString("log").value_or(QString()));
    d->setForgeDeploymentId(r.optInteger("forgeDeploymentId"));
    return d;
}

SitePtr decodeSite(const Json& json, const QString& where)
{
    Reader r(json, where);
    auto s = std::make_shared<Site>(r.uuid("id"), r.string("name"), r.string("path"), r.date("createdAt"),
                                    r.string("phpSourceRaw"), r.boolean("herdLinked"));
    s->setManagedPHPVersion(r.optString("managedPHPVersion"));
    s->setLocalPort(r.optInt("localPort"));
    s->setGithubRepo(r.optString("githubRepo"));
    s->setForgeServerId(r.optInteger("forgeServerId"));
    s->setForgeSiteId(r.optInteger("forgeSiteId"));
    s->setForgeHostId(r.optUuid("forgeHostId"));
    s->setCloudAppId(r.optString("cloudAppId"));
    s->setCloudEnvId(r.optString("cloudEnvId"));
    s->setCloudHostId(r.optUuid("cloudHostId"));
    s->setCloudURL(r.optString("cloudURL"));
    s->setUsesSSG(r.optBool("usesSSG").value_or(false));
    s->setStaticHostKind(r.optString("staticHostKind"));
    s->setStaticHostSiteId(r.optString("staticHostSiteId"));
    s->setStaticHostURL(r.optString("staticHostURL"));
    s->setLastStaticBuildAt(r.optDate("lastStaticBuildAt"));
    s->setNotes(r.optString("notes").value_or(QString()));
    QList<SiteOperationPtr> operations;
    if (const Json* list = r.optArray("operations"))
        for (std::size_t i = 0; i < list->size(); ++i)
            operations.append(decodeOperation((*list)[i], where + QStringLiteral(".operations[%1]").arg(i)));
    s->setOperations(std::move(operations));
    QList<DeploymentPtr> deployments;
    if (const Json* list = r.optArray("deployments"))
        for (std::size_t i = 0; i < list->size(); ++i)
            deployments.append(decodeDeployment((*list)[i], where + QStringLiteral(".deployments[%1]").arg(i)));
    s->setDeployments(std::move(deployments));
    return s;
}

HostAccountPtr decodeHost(const Json& json, const QString& where)
{
    Reader r(json, where);
    auto h = std::make_shared<HostAccount>(r.uuid("id"), r.string("providerRaw"), r.string("label"),
                                           r.date("createdAt"));
    h->setLastVerifiedAt(r.optDate("lastVerifiedAt"));
    h->setProviderAccountID(r.optString("providerAccountID"));
    return h;
}

SourceControlAccount decodeAccount(const Json& json, const QString& where)
{
    Reader r(json, where);
    return SourceControlAccount{r.string("provider"), r.string("login"), r.date("connectedAt")};
}

} // namespace

double toReferenceSeconds(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0 - static_cast<double>(kReferenceOffsetSeconds);
}

QDateTime fromReferenceSeconds(double seconds)
{
    const double msecs = (seconds + static_cast<double>(kReferenceOffsetSeconds)) * 1000.0;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(msecs)), Qt::UTC);
}

QByteArray encode(const StoreSnapshot& snapshot)
{
    Json document = Json::object();
    Json sites = Json::array();
    for (const auto& site : snapshot.sites)
        sites.push_back(encodeSite(*site));
    document["sites"] = std::move(sites);
    Json hosts = Json::array();
    for (const auto& host : snapshot.hosts)
        hosts.push_back(encodeHost(*host));
    document["hosts"] = std::move(hosts);
    Json accounts = Json::array();
    for (const auto& account : snapshot.sourceControlAccounts) {
        Json o = Json::object();
        o["provider"] = str(account.provider);
        o["login"] = str(account.login);
        o["connectedAt"] = toReferenceSeconds(account.connectedAt);
        accounts.push_back(std::move(o));
    }
    document["sourceControlAccounts"] = std::move(accounts);
    // Strings came from QString, so they are valid UTF-8; replace anything odd rather than throw.
    return QByteArray::fromStdString(document.dump(-1, ' ', false, Json::error_handler_t::replace));
}

StoreSnapshot decode(const QByteArray& bytes)
{
    Json document = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (document.is_discarded())
        throw StoreDecodeError(QStringLiteral("The data isn’t valid JSON."));
    Reader root(document, QStringLiteral("store"));
    StoreSnapshot snapshot;
    const Json& sites = root.array("sites");
    for (std::size_t i = 0; i < sites.size(); ++i)
        snapshot.sites.append(decodeSite(sites[i], QStringLiteral("sites[%1]").arg(i)));
    const Json& hosts = root.array("hosts");
    for (std::size_t i = 0; i < hosts.size(); ++i)
        snapshot.hosts.append(decodeHost(hosts[i], QStringLiteral("hosts[%1]").arg(i)));
    if (const Json* accounts = root.optArray("sourceControlAccounts"))
        for (std::size_t i = 0; i < accounts->size(); ++i)
            snapshot.sourceControlAccounts.append(
                decodeAccount((*accounts)[i], QStringLiteral("sourceControlAccounts[%1]").arg(i)));
    return snapshot;
}

} // namespace halvik::StoreCodec
