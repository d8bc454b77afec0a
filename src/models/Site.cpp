#include "Site.h"

#include <QDir>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace halvik {

Site::Site(QString name, QString path)
{
    m_fields.id = QUuid::createUuid();
    m_fields.name = std::move(name);
    m_fields.path = std::move(path);
    m_fields.createdAt = QDateTime::currentDateTimeUtc();
    m_fields.phpSourceRaw = toRaw(PHPSource::automatic);
}

Site::Site(QUuid id, QString name, QString path, QDateTime createdAt, QString phpSourceRaw, bool herdLinked)
{
    m_fields.id = id;
    m_fields.name = std::move(name);
    m_fields.path = std::move(path);
    m_fields.createdAt = std::move(createdAt);
    m_fields.phpSourceRaw = std::move(phpSourceRaw);
    m_fields.herdLinked = herdLinked;
}

std::shared_ptr<Site> Site::fromRecord(const SiteRecord& record)
{
    auto site = std::make_shared<Site>(record.id, record.name, record.path, record.createdAt,
                                       record.phpSourceRaw, record.herdLinked);
    site->update(record);
    return site;
}

SiteRecord Site::record() const
{
    SiteRecord r;
    static_cast<SiteFields&>(r) = m_fields;
    r.operations.reserve(m_operations.size());
    for (const auto& op : m_operations)
        r.operations.append(op->record());
    r.deployments.reserve(m_deployments.size());
    for (const auto& d : m_deployments)
        r.deployments.append(d->record());
    return r;
}

namespace {

// Brings a history list in line with a stored one: stored items that are new are added,
// known ones updated when `mayUpdate` allows, and items that came from the store but are no
// longer in it dropped. Items made in this process stay. Returns whether the list changed.
template <typename Ptr, typename Rec, typename MayUpdate, typename CameFromStore>
bool mergeHistory(QList<Ptr>& list, const QList<Rec>& stored, MayUpdate mayUpdate,
                  CameFromStore cameFromStore)
{
    using Item = typename Ptr::element_type;
    QHash<QUuid, Ptr> known;
    for (const auto& item : list)
        known.insert(item->id(), item);
    QSet<QUuid> storedIds;
    QList<Ptr> merged;
    merged.reserve(std::max(list.size(), stored.size()));
    bool changed = false;
    for (const auto& record : stored) {
        storedIds.insert(record.id);
        if (const Ptr existing = known.value(record.id)) {
            if (mayUpdate(*existing))
                existing->update(record);
            merged.append(existing);
        } else {
            merged.append(Item::fromRecord(record));
            changed = true;
        }
    }
    for (const auto& item : list) {
        if (storedIds.contains(item->id()))
            continue;
        if (cameFromStore(*item)) {
            changed = true;
            continue;
        }
        merged.append(item);
    }
    std::stable_sort(merged.begin(), merged.end(),
                     [](const Ptr& a, const Ptr& b) { return a->startedAt() < b->startedAt(); });
    if (!changed && merged != list)
        changed = true;
    list = std::move(merged);
    return changed;
}

} // namespace

void Site::update(const SiteRecord& r)
{
    // The identity stays; everything else follows the stored record.
    SiteFields fields = r;
    fields.id = m_fields.id;
    const bool fieldsChanged = fields != m_fields;
    m_fields = std::move(fields);
    // A finished entry no longer changes, so only running ones are compared: adopting a large
    // store written elsewhere then costs little on the main thread.
    const bool operationsChanged = mergeHistory(
        m_operations, r.operations,
        [](const SiteOperation& op) { return op.isFromStore() && op.isRunning(); },
        [](const SiteOperation& op) { return op.isFromStore(); });
    const bool deploymentsChanged = mergeHistory(
        m_deployments, r.deployments, [](const Deployment& d) { return d.isRunning(); },
        [](const Deployment&) { return true; });
    if (fieldsChanged || operationsChanged || deploymentsChanged)
        touch();
}

quint64 Site::contentRevision() const
{
    quint64 newest = revision();
    for (const auto& op : m_operations)
        newest = std::max(newest, op->revision());
    for (const auto& d : m_deployments)
        newest = std::max(newest, d->revision());
    return newest;
}

void Site::appendOperation(SiteOperationPtr operation)
{
    m_operations.append(std::move(operation));
    if (m_operations.size() > StoreLimits::operationsPerSite)
        m_operations.remove(0, m_operations.size() - StoreLimits::operationsPerSite);
    touch();
}

void Site::appendDeployment(DeploymentPtr deployment)
{
    m_deployments.append(std::move(deployment));
    touch();
}

QString Site::displayName() const
{
    if (!m_fields.name.isEmpty())
        return m_fields.name;
    QString path = m_fields.path;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString last = path.section(QLatin1Char('/'), -1);
    return last.isEmpty() ? path : last;
}

bool Site::isLinkedToCloud() const
{
    return m_fields.cloudAppId.has_value() || m_fields.cloudEnvId.has_value() ||
           m_fields.cloudURL.has_value();
}

QList<HostProviderKind> Site::linkedDeployProviders() const
{
    QList<HostProviderKind> kinds;
    const auto add = [&kinds](HostProviderKind kind) {
        if (!kinds.contains(kind))
            kinds.append(kind);
    };
    if (isLinkedToCloud())
        add(HostProviderKind::laravelCloud);
    if (m_fields.staticHostKind) {
        if (auto kind = fromRaw<HostProviderKind>(*m_fields.staticHostKind);
            kind && (m_fields.staticHostSiteId.has_value() || m_fields.staticHostURL.has_value()))
            add(*kind);
    }
    if (m_fields.forgeServerId || m_fields.forgeSiteId || m_fields.forgeHostId)
        add(HostProviderKind::forge);
    return kinds;
}

} // namespace halvik
