#include "StoreCodec.h"

#include "StoreJsonCursor.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace halvik::StoreCodec {

namespace {

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceOffsetSeconds = 978307200;
constexpr qsizetype kChunkBytes = 1 << 20;

// ---- writing ----

class Writer
{
public:
    explicit Writer(QByteArray& out) : m_out(out) {}

    void open()
    {
        m_out.append('{');
        m_first = true;
    }
    void close()
    {
        m_out.append('}');
        m_first = false;
    }

    void key(const char* name)
    {
        if (!m_first)
            m_out.append(',');
        m_first = false;
        m_out.append('"').append(name).append("\":");
    }
    void string(const char* name, const QString& value)
    {
        key(name);
        quoted(value);
    }
    void string(const char* name, const std::optional<QString>& value)
    {
        if (value)
            string(name, *value);
    }
    void text(const char* name, const StoredText& value)
    {
        key(name);
        value.appendJson(m_out, StoreLimits::logBytes);
    }
    void uuid(const char* name, const QUuid& value) { string(name, uuidString(value)); }
    void uuid(const char* name, const std::optional<QUuid>& value)
    {
        if (value)
            uuid(name, *value);
    }
    void boolean(const char* name, bool value)
    {
        key(name);
        m_out.append(value ? "true" : "false");
    }
    template <typename Int> void integer(const char* name, const std::optional<Int>& value)
    {
        if (!value)
            return;
        key(name);
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<qint64>(*value));
        m_out.append(buffer, result.ptr - buffer);
    }
    void date(const char* name, const QDateTime& value)
    {
        key(name);
        number(toReferenceSeconds(value));
    }
    void date(const char* name, const std::optional<QDateTime>& value)
    {
        if (value)
            date(name, *value);
    }
    // Starts an array value; elements are written with open()/close() or by the caller.
    void beginArray(const char* name)
    {
        key(name);
        m_out.append('[');
        m_first = true;
    }
    void element()
    {
        if (!m_first)
            m_out.append(',');
        m_first = true;
    }
    void endArray()
    {
        m_out.append(']');
        m_first = false;
    }

private:
    void quoted(const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        m_out.append('"');
        StoreJson::appendEscaped(m_out, utf8.constData(), utf8.size());
        m_out.append('"');
    }
    // Shortest text that reads back as the same double; whole numbers keep a ".0".
    void number(double value)
    {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        const std::string_view text(buffer, result.ptr - buffer);
        m_out.append(text.data(), qsizetype(text.size()));
        if (text.find_first_of(".en") == std::string_view::npos)
            m_out.append(".0");
    }

    QByteArray& m_out;
    bool m_first = true;
};

void writeOperation(Writer& w, const OperationRecord& op)
{
    w.open();
    w.uuid("id", op.id);
    w.string("command", op.command);
    w.text("log", op.log);
    w.integer("exitCode", op.exitCode);
    w.date("startedAt", op.startedAt);
    w.date("finishedAt", op.finishedAt);
    w.string("kindRaw", op.kindRaw);
    w.close();
}

void writeDeployment(Writer& w, const DeploymentRecord& d)
{
    w.open();
    w.uuid("id", d.id);
    w.date("startedAt", d.startedAt);
    w.date("finishedAt", d.finishedAt);
    w.string("status", d.status);
    w.text("log", d.log);
    w.integer("forgeDeploymentId", d.forgeDeploymentId);
    w.string("serverName", d.serverName);
    w.string("siteName", d.siteName);
    w.string("providerRaw", d.providerRaw);
    w.string("cloudDeploymentId", d.cloudDeploymentId);
    w.close();
}

void writeSite(QByteArray& out, const SiteRecord& s)
{
    Writer w(out);
    w.open();
    w.uuid("id", s.id);
    w.string("name", s.name);
    w.string("path", s.path);
    w.date("createdAt", s.createdAt);
    w.string("phpSourceRaw", s.phpSourceRaw);
    w.string("managedPHPVersion", s.managedPHPVersion);
    w.boolean("herdLinked", s.herdLinked);
    w.integer("localPort", s.localPort);
    w.string("githubRepo", s.githubRepo);
    w.integer("forgeServerId", s.forgeServerId);
    w.integer("forgeSiteId", s.forgeSiteId);
    w.uuid("forgeHostId", s.forgeHostId);
    w.string("cloudAppId", s.cloudAppId);
    w.string("cloudEnvId", s.cloudEnvId);
    w.uuid("cloudHostId", s.cloudHostId);
    w.string("cloudURL", s.cloudURL);
    w.boolean("usesSSG", s.usesSSG);
    w.string("staticHostKind", s.staticHostKind);
    w.string("staticHostSiteId", s.staticHostSiteId);
    w.string("staticHostURL", s.staticHostURL);
    w.date("lastStaticBuildAt", s.lastStaticBuildAt);
    w.string("notes", s.notes);
    w.beginArray("operations");
    const qsizetype firstKept = std::max<qsizetype>(0, s.operations.size() - StoreLimits::operationsPerSite);
    for (qsizetype i = firstKept; i < s.operations.size(); ++i) {
        w.element();
        writeOperation(w, s.operations.at(i));
    }
    w.endArray();
    w.beginArray("deployments");
    for (const auto& d : s.deployments) {
        w.element();
        writeDeployment(w, d);
    }
    w.endArray();
    w.close();
}

void writeHost(QByteArray& out, const HostRecord& h)
{
    Writer w(out);
    w.open();
    w.uuid("id", h.id);
    w.string("providerRaw", h.providerRaw);
    w.string("label", h.label);
    w.date("createdAt", h.createdAt);
    w.date("lastVerifiedAt", h.lastVerifiedAt);
    w.string("providerAccountID", h.providerAccountID);
    w.close();
}

void writeAccount(QByteArray& out, const SourceControlAccount& a)
{
    Writer w(out);
    w.open();
    w.string("provider", a.provider);
    w.string("login", a.login);
    w.date("connectedAt", a.connectedAt);
    w.close();
}

// ---- reading ----

// Walks one object's members. Keys written by older versions read as plain keys: `_$…`
// bookkeeping is skipped and one leading underscore dropped; where a document holds both
// spellings, the plain one wins. Unknown keys and null values are skipped (null is "unset").
// Returns the set of fields seen, one bit per name.
template <std::size_t N, typename Handle>
quint32 readMembers(StoreJsonCursor& c, const JsonPlace& place, const std::array<const char*, N>& names,
                    Handle&& handle)
{
    static_assert(N <= 32);
    c.enterObject(place);
    quint32 seen = 0;
    quint32 plainSeen = 0;
    QByteArrayView key;
    QByteArray scratch;
    while (c.nextKey(key, scratch)) {
        bool legacy = false;
        if (key.startsWith("_$")) {
            c.skipValue();
            continue;
        }
        if (key.startsWith('_')) {
            key = key.sliced(1);
            legacy = true;
        }
        std::size_t index = N;
        for (std::size_t i = 0; i < N; ++i) {
            if (key == QByteArrayView(names[i])) {
                index = i;
                break;
            }
        }
        const quint32 bit = index < N ? (1u << index) : 0;
        if (index == N || (legacy && (plainSeen & bit)) || c.skipNull()) {
            if (index == N || (legacy && (plainSeen & bit)))
                c.skipValue();
            continue;
        }
        handle(index, JsonPlace{&place, names[index], -1});
        seen |= bit;
        if (!legacy)
            plainSeen |= bit;
    }
    return seen;
}

template <std::size_t N>
void requireMembers(StoreJsonCursor& c, const JsonPlace& place, const std::array<const char*, N>& names,
                    quint32 seen, quint32 required)
{
    const quint32 missing = required & ~seen;
    if (!missing)
        return;
    for (std::size_t i = 0; i < N; ++i)
        if (missing & (1u << i))
            c.fail(place, QStringLiteral("the required key “%1” is missing").arg(QLatin1String(names[i])));
}

constexpr quint32 bits(std::initializer_list<int> indexes)
{
    quint32 mask = 0;
    for (int i : indexes)
        mask |= 1u << i;
    return mask;
}

// Typed values.
struct Values
{
    StoreJsonCursor& c;

    QString string(const JsonPlace& at) { return c.readString(at).decode(); }
    StoredText text(const JsonPlace& at)
    {
        const auto s = c.readString(at);
        return StoredText::fromJsonBody(c.buffer(), s.body, s.size, s.escaped);
    }
    bool boolean(const JsonPlace& at) { return c.readBool(at); }
    qint64 integer(const JsonPlace& at)
    {
        bool integral = false;
        qint64 whole = 0;
        const double value = c.readNumber(at, &integral, &whole);
        if (integral)
            return whole;
        if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 9.0e15)
            return static_cast<qint64>(value);
        c.fail(at, QStringLiteral("expected an integer"));
    }
    int int32(const JsonPlace& at)
    {
        const qint64 value = integer(at);
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            c.fail(at, QStringLiteral("expected a 32-bit integer"));
        return static_cast<int>(value);
    }
    QDateTime date(const JsonPlace& at)
    {
        const double value = c.readNumber(at);
        if (!std::isfinite(value) || std::fabs(value) > 1.0e11)
            c.fail(at, QStringLiteral("expected a date"));
        return fromReferenceSeconds(value);
    }
    QUuid uuid(const JsonPlace& at)
    {
        const auto s = c.readString(at);
        const QUuid id =
            s.size == 36 && !s.escaped ? QUuid::fromString(QLatin1StringView(s.body, s.size)) : QUuid();
        if (id.isNull())
            c.fail(at, QStringLiteral("expected a UUID string"));
        return id;
    }
};

OperationRecord readOperation(StoreJsonCursor& c, const JsonPlace& place)
{
    static constexpr std::array<const char*, 7> names{"id",        "command",    "log",    "exitCode",
                                                      "startedAt", "finishedAt", "kindRaw"};
    OperationRecord op;
    Values v{c};
    const quint32 seen = readMembers(c, place, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            op.id = v.uuid(at);
            break;
        case 1:
            op.command = v.string(at);
            break;
        case 2:
            op.log = v.text(at);
            break;
        case 3:
            op.exitCode = v.int32(at);
            break;
        case 4:
            op.startedAt = v.date(at);
            break;
        case 5:
            op.finishedAt = v.date(at);
            break;
        case 6:
            op.kindRaw = v.string(at);
            break;
        }
    });
    requireMembers(c, place, names, seen, bits({0, 1, 4, 6}));
    return op;
}

DeploymentRecord readDeployment(StoreJsonCursor& c, const JsonPlace& place)
{
    static constexpr std::array<const char*, 10> names{
        "id",         "startedAt", "finishedAt",  "status",           "log", "forgeDeploymentId",
        "serverName", "siteName",  "providerRaw", "cloudDeploymentId"};
    DeploymentRecord d;
    Values v{c};
    const quint32 seen = readMembers(c, place, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            d.id = v.uuid(at);
            break;
        case 1:
            d.startedAt = v.date(at);
            break;
        case 2:
            d.finishedAt = v.date(at);
            break;
        case 3:
            d.status = v.string(at);
            break;
        case 4:
            d.log = v.text(at);
            break;
        case 5:
            d.forgeDeploymentId = v.integer(at);
            break;
        case 6:
            d.serverName = v.string(at);
            break;
        case 7:
            d.siteName = v.string(at);
            break;
        case 8:
            d.providerRaw = v.string(at);
            break;
        case 9:
            d.cloudDeploymentId = v.string(at);
            break;
        }
    });
    requireMembers(c, place, names, seen, bits({0, 1, 3, 6, 7}));
    return d;
}

SiteRecord readSite(StoreJsonCursor& c, const JsonPlace& place)
{
    static constexpr std::array<const char*, 24> names{"id",
                                                       "name",
                                                       "path",
                                                       "createdAt",
                                                       "phpSourceRaw",
                                                       "managedPHPVersion",
                                                       "herdLinked",
                                                       "localPort",
                                                       "githubRepo",
                                                       "forgeServerId",
                                                       "forgeSiteId",
                                                       "forgeHostId",
                                                       "cloudAppId",
                                                       "cloudEnvId",
                                                       "cloudHostId",
                                                       "cloudURL",
                                                       "usesSSG",
                                                       "staticHostKind",
                                                       "staticHostSiteId",
                                                       "staticHostURL",
                                                       "lastStaticBuildAt",
                                                       "notes",
                                                       "operations",
                                                       "deployments"};
    SiteRecord s;
    Values v{c};
    const quint32 seen = readMembers(c, place, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            s.id = v.uuid(at);
            break;
        case 1:
            s.name = v.string(at);
            break;
        case 2:
            s.path = v.string(at);
            break;
        case 3:
            s.createdAt = v.date(at);
            break;
        case 4:
            s.phpSourceRaw = v.string(at);
            break;
        case 5:
            s.managedPHPVersion = v.string(at);
            break;
        case 6:
            s.herdLinked = v.boolean(at);
            break;
        case 7:
            s.localPort = v.int32(at);
            break;
        case 8:
            s.githubRepo = v.string(at);
            break;
        case 9:
            s.forgeServerId = v.integer(at);
            break;
        case 10:
            s.forgeSiteId = v.integer(at);
            break;
        case 11:
            s.forgeHostId = v.uuid(at);
            break;
        case 12:
            s.cloudAppId = v.string(at);
            break;
        case 13:
            s.cloudEnvId = v.string(at);
            break;
        case 14:
            s.cloudHostId = v.uuid(at);
            break;
        case 15:
            s.cloudURL = v.string(at);
            break;
        case 16:
            s.usesSSG = v.boolean(at);
            break;
        case 17:
            s.staticHostKind = v.string(at);
            break;
        case 18:
            s.staticHostSiteId = v.string(at);
            break;
        case 19:
            s.staticHostURL = v.string(at);
            break;
        case 20:
            s.lastStaticBuildAt = v.date(at);
            break;
        case 21:
            s.notes = v.string(at);
            break;
        case 22: {
            s.operations.clear();
            c.enterArray(at);
            for (qsizetype i = 0; c.nextElement(); ++i)
                s.operations.append(readOperation(c, JsonPlace{&at, nullptr, i}));
            break;
        }
        case 23: {
            s.deployments.clear();
            c.enterArray(at);
            for (qsizetype i = 0; c.nextElement(); ++i)
                s.deployments.append(readDeployment(c, JsonPlace{&at, nullptr, i}));
            break;
        }
        }
    });
    requireMembers(c, place, names, seen, bits({0, 1, 2, 3, 4, 6}));
    // Histories grow at the end; only the newest are kept.
    if (s.operations.size() > StoreLimits::operationsPerSite)
        s.operations.remove(0, s.operations.size() - StoreLimits::operationsPerSite);
    return s;
}

HostRecord readHost(StoreJsonCursor& c, const JsonPlace& place)
{
    static constexpr std::array<const char*, 6> names{"id",        "providerRaw",    "label",
                                                      "createdAt", "lastVerifiedAt", "providerAccountID"};
    HostRecord h;
    Values v{c};
    const quint32 seen = readMembers(c, place, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            h.id = v.uuid(at);
            break;
        case 1:
            h.providerRaw = v.string(at);
            break;
        case 2:
            h.label = v.string(at);
            break;
        case 3:
            h.createdAt = v.date(at);
            break;
        case 4:
            h.lastVerifiedAt = v.date(at);
            break;
        case 5:
            h.providerAccountID = v.string(at);
            break;
        }
    });
    requireMembers(c, place, names, seen, bits({0, 1, 2, 3}));
    return h;
}

SourceControlAccount readAccount(StoreJsonCursor& c, const JsonPlace& place)
{
    static constexpr std::array<const char*, 3> names{"provider", "login", "connectedAt"};
    SourceControlAccount a;
    Values v{c};
    const quint32 seen = readMembers(c, place, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            a.provider = v.string(at);
            break;
        case 1:
            a.login = v.string(at);
            break;
        case 2:
            a.connectedAt = v.date(at);
            break;
        }
    });
    requireMembers(c, place, names, seen, bits({0, 1, 2}));
    return a;
}

template <typename Record, typename Read>
QList<Record> readList(StoreJsonCursor& c, const JsonPlace& at, Read read)
{
    QList<Record> out;
    c.enterArray(at);
    for (qsizetype i = 0; c.nextElement(); ++i)
        out.append(read(c, JsonPlace{&at, nullptr, i}));
    return out;
}

} // namespace

double toReferenceSeconds(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0 -
           static_cast<double>(kReferenceOffsetSeconds);
}

QDateTime fromReferenceSeconds(double seconds)
{
    const double msecs = (seconds + static_cast<double>(kReferenceOffsetSeconds)) * 1000.0;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(msecs)), Qt::UTC);
}

void write(const StoreDocument& document, const std::function<void(const QByteArray&)>& sink)
{
    QByteArray chunk;
    chunk.reserve(kChunkBytes + kChunkBytes / 4);
    const auto flushIfFull = [&] {
        if (chunk.size() >= kChunkBytes) {
            sink(chunk);
            chunk.resize(0);
        }
    };
    const auto list = [&](const char* key, const auto& records, auto writeOne) {
        chunk.append('"').append(key).append("\":[");
        bool first = true;
        for (const auto& record : records) {
            if (!first)
                chunk.append(',');
            first = false;
            writeOne(chunk, record);
            flushIfFull();
        }
        chunk.append(']');
    };
    chunk.append('{');
    list("sites", document.sites, writeSite);
    chunk.append(',');
    list("hosts", document.hosts, writeHost);
    chunk.append(',');
    list("sourceControlAccounts", document.sourceControlAccounts, writeAccount);
    chunk.append('}');
    sink(chunk);
}

QByteArray encode(const StoreDocument& document)
{
    QByteArray out;
    write(document, [&out](const QByteArray& chunk) { out.append(chunk); });
    return out;
}

QByteArray encodeSite(const SiteRecord& site)
{
    QByteArray out;
    writeSite(out, site);
    return out;
}

StoreDocument decode(const QByteArray& bytes)
{
    static constexpr std::array<const char*, 3> names{"sites", "hosts", "sourceControlAccounts"};
    StoreJsonCursor c(bytes);
    const JsonPlace root{nullptr, "store", -1};
    StoreDocument document;
    const quint32 seen = readMembers(c, root, names, [&](std::size_t field, const JsonPlace& at) {
        switch (field) {
        case 0:
            document.sites = readList<SiteRecord>(c, at, readSite);
            break;
        case 1:
            document.hosts = readList<HostRecord>(c, at, readHost);
            break;
        case 2:
            document.sourceControlAccounts = readList<SourceControlAccount>(c, at, readAccount);
            break;
        }
    });
    requireMembers(c, root, names, seen, bits({0, 1}));
    c.expectEnd();
    return document;
}

} // namespace halvik::StoreCodec
