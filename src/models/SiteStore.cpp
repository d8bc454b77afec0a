#include "SiteStore.h"

#include "SecretStore.h"

#include "platform/AppDataDir.h"
#include "platform/Log.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace halvik {

namespace {

constexpr int kSaveDelayMs = 100;
constexpr int kRefreshDelayMs = 150;

void sortSites(QList<SitePtr>& sites)
{
    std::stable_sort(sites.begin(), sites.end(),
                     [](const SitePtr& a, const SitePtr& b) { return a->createdAt() > b->createdAt(); });
}

void sortHosts(QList<HostAccountPtr>& hosts)
{
    std::stable_sort(hosts.begin(), hosts.end(), [](const HostAccountPtr& a, const HostAccountPtr& b) {
        return a->createdAt() < b->createdAt();
    });
}

void sortAccounts(QList<SourceControlAccount>& accounts)
{
    std::stable_sort(
        accounts.begin(), accounts.end(),
        [](const SourceControlAccount& a, const SourceControlAccount& b) { return a.provider < b.provider; });
}

quint64 siteRevision(const Site& site)
{
    return site.contentRevision();
}
quint64 hostRevision(const HostAccount& host)
{
    return host.revision();
}

template <typename Item, typename Revision>
bool changedSinceSaved(const Item& item, const QHash<QUuid, quint64>& saved, Revision revisionOf)
{
    const auto it = saved.constFind(item.id());
    return it == saved.constEnd() || revisionOf(item) > *it;
}

// Brings shared records in line with the file. Records changed here and not yet written keep
// their values (and stay even if another process removed them); the others follow the file,
// and records the file has that were not removed here are added. Returns whether the list changed.
template <typename Ptr, typename Rec, typename Revision>
bool adoptRecords(QList<Ptr>& list, const QList<Rec>& stored, QHash<QUuid, quint64>& saved,
                  const QSet<QUuid>& removedHere, Revision revisionOf)
{
    using Item = typename Ptr::element_type;
    QHash<QUuid, const Rec*> byId;
    for (const auto& record : stored)
        byId.insert(record.id, &record);
    bool changed = false;
    QList<Ptr> kept;
    kept.reserve(std::max(list.size(), stored.size()));
    QSet<QUuid> local;
    for (const auto& item : std::as_const(list)) {
        local.insert(item->id());
        const bool dirty = changedSinceSaved(*item, saved, revisionOf);
        if (const Rec* record = byId.value(item->id())) {
            if (!dirty) {
                item->update(*record);
                saved.insert(item->id(), revisionOf(*item));
            }
            kept.append(item);
        } else if (dirty) {
            kept.append(item);
        } else {
            saved.remove(item->id());
            changed = true;
        }
    }
    for (const auto& record : stored) {
        if (local.contains(record.id) || removedHere.contains(record.id))
            continue;
        auto item = Item::fromRecord(record);
        saved.insert(item->id(), revisionOf(*item));
        kept.append(std::move(item));
        changed = true;
    }
    list = std::move(kept);
    return changed;
}

} // namespace

SiteStore::SiteStore(SecretStore& secrets, QString directory, QObject* parent)
    : QObject(parent), m_secrets(secrets), m_directory(std::move(directory))
{
    m_thread.setMaxThreadCount(1);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &SiteStore::startCommit);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SiteStore::refreshFromDisk);
}

SiteStore::~SiteStore()
{
    m_life.end();
    flush();
    m_thread.waitForDone();
}

QString SiteStore::filePath() const
{
    const QString folder = m_directory.isEmpty() ? AppDataDir::directory() : m_directory;
    return folder + QStringLiteral("/store.json");
}

StoreFile& SiteStore::file()
{
    const QString path = filePath();
    if (!m_file || m_file->path() != path)
        m_file = std::make_shared<StoreFile>(path);
    return *m_file;
}

void SiteStore::load()
{
    const StoreFile::Read read = file().load();
    if (!read.document)
        return;
    StoreDocument document = *read.document;
    QList<SitePtr> sites;
    sites.reserve(document.sites.size());
    m_savedSiteRevision.clear();
    for (const SiteRecord& record : document.sites) {
        auto site = Site::fromRecord(record);
        markSaved(site);
        sites.append(std::move(site));
    }
    sortSites(sites);
    QList<HostAccountPtr> hosts;
    m_savedHostRevision.clear();
    for (const HostRecord& record : document.hosts) {
        auto host = HostAccount::fromRecord(record);
        m_savedHostRevision.insert(host->id(), host->revision());
        hosts.append(std::move(host));
    }
    sortHosts(hosts);
    m_sites = std::move(sites);
    m_hosts = std::move(hosts);
    m_sourceControlAccounts = std::move(document.sourceControlAccounts);
    Q_EMIT sitesChanged();
    Q_EMIT hostsChanged();
    Q_EMIT sourceControlAccountsChanged();
}

void SiteStore::startReading()
{
    if (m_reading.isValid())
        return;
    file();
    const auto target = m_file;
    m_reading = QtConcurrent::run(&m_thread, [target] { return target->load(); });
}

QCoro::Task<> SiteStore::loadInBackground()
{
    const bool readEarly = m_reading.isValid();
    startReading();
    const QFuture<StoreFile::Read> reading = std::exchange(m_reading, {});
    const LifeToken alive = m_life.token();
    const StoreFile::Read read = co_await reading;
    if (!alive || !read.document)
        co_return;
    adopt(*read.document);
    // Read before the file was watched: a change another process made in between comes in now.
    if (readEarly && m_watcher)
        refreshFromDisk();
}

void SiteStore::save()
{
    if (!m_saveTimer.isActive())
        m_saveTimer.start();
}

bool SiteStore::isDirty(const Site& site) const
{
    return changedSinceSaved(site, m_savedSiteRevision, siteRevision);
}

bool SiteStore::isDirty(const HostAccount& host) const
{
    return changedSinceSaved(host, m_savedHostRevision, hostRevision);
}

StoreChanges SiteStore::takeChanges()
{
    StoreChanges changes;
    for (const auto& site : std::as_const(m_sites)) {
        if (isDirty(*site)) {
            changes.sites.append(site->record());
            markSaved(site);
        }
    }
    for (const auto& host : std::as_const(m_hosts)) {
        if (isDirty(*host)) {
            changes.hosts.append(host->record());
            m_savedHostRevision.insert(host->id(), host->revision());
        }
    }
    changes.removedSites = std::exchange(m_removedSites, {});
    changes.removedHosts = std::exchange(m_removedHosts, {});
    changes.accounts = m_changedAccounts.values();
    m_changedAccounts.clear();
    changes.removedAccounts = std::exchange(m_removedAccounts, {});
    return changes;
}

// A write failed: everything it carried counts as unsaved again, for the next save.
void SiteStore::restoreChanges(const StoreChanges& changes)
{
    for (const auto& site : changes.sites)
        m_savedSiteRevision.remove(site.id);
    for (const auto& host : changes.hosts)
        m_savedHostRevision.remove(host.id);
    m_removedSites.unite(changes.removedSites);
    m_removedHosts.unite(changes.removedHosts);
    for (const auto& account : changes.accounts)
        if (!m_changedAccounts.contains(account.provider) && !m_removedAccounts.contains(account.provider))
            m_changedAccounts.insert(account.provider, account);
    for (const auto& provider : changes.removedAccounts)
        if (!m_changedAccounts.contains(provider))
            m_removedAccounts.insert(provider);
}

void SiteStore::startCommit()
{
    if (m_writing) {
        // The running write picks this up when it ends.
        m_saveTimer.stop();
        return;
    }
    StoreChanges changes = takeChanges();
    if (changes.isEmpty())
        return;
    runOnStoreThread([changes](StoreFile& target) { return target.commit(changes); }, changes);
}

// One store operation at a time runs on the store's thread; its outcome is handled back here.
void SiteStore::runOnStoreThread(std::function<StoreFile::Outcome(StoreFile&)> work,
                                 const StoreChanges& changes)
{
    file();
    m_writing = true;
    const quint64 sequence = ++m_sequence;
    auto target = m_file;
    auto outcome = std::make_shared<StoreFile::Outcome>();
    m_running = QtConcurrent::run(&m_thread, [target, outcome, work] { *outcome = work(*target); });
    m_running.then(this, [this, sequence, outcome, changes] { finishCommit(sequence, *outcome, changes); });
    m_pendingOutcome = outcome;
    m_pendingChanges = changes;
}

void SiteStore::finishCommit(quint64 sequence, const StoreFile::Outcome& outcome, const StoreChanges& changes)
{
    if (!m_writing || sequence != m_sequence)
        return; // already handled by flush()
    m_writing = false;
    m_pendingOutcome.reset();
    m_pendingChanges = {};
    noteOutcome(outcome, changes);
    if (outcome.changedElsewhere)
        adopt(*outcome.changedElsewhere);
    Q_EMIT saveFinished();
    if (!outcome.error)
        save(); // anything changed while this write ran goes next; an empty change costs nothing
    if (std::exchange(m_refreshAfterWrite, false))
        refreshFromDisk();
}

void SiteStore::noteOutcome(const StoreFile::Outcome& outcome, const StoreChanges& changes)
{
    if (outcome.error)
        restoreChanges(changes); // written with the next save
    if (outcome.error != m_lastSaveError) {
        if (outcome.error) // once, not at every retry
            qCWarning(halvikLog).noquote() << "Halvik store save failed: " + *outcome.error;
        m_lastSaveError = outcome.error;
        Q_EMIT lastSaveErrorChanged();
    }
}

void SiteStore::flush()
{
    m_saveTimer.stop();
    if (m_writing) {
        m_running.waitForFinished();
        if (m_pendingOutcome)
            finishCommit(m_sequence, *m_pendingOutcome, m_pendingChanges);
        m_saveTimer.stop();
    }
    const StoreChanges changes = takeChanges();
    if (changes.isEmpty())
        return;
    const StoreFile::Outcome outcome = file().commit(changes);
    noteOutcome(outcome, changes);
    if (outcome.changedElsewhere)
        adopt(*outcome.changedElsewhere);
    Q_EMIT saveFinished();
}

void SiteStore::watchForChanges()
{
    if (m_watcher)
        return;
    const QString folder = QFileInfo(filePath()).absolutePath();
    QDir().mkpath(folder);
    m_watcher = new QFileSystemWatcher(this);
    // The folder, because a save replaces the file; the file too, for edits in place.
    m_watcher->addPath(folder);
    if (QFileInfo::exists(filePath()))
        m_watcher->addPath(filePath());
    const auto changed = [this] {
        if (!m_watcher->files().contains(filePath()) && QFileInfo::exists(filePath()))
            m_watcher->addPath(filePath());
        m_refreshTimer.start();
    };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
}

void SiteStore::refreshFromDisk()
{
    if (m_writing) {
        m_refreshAfterWrite = true;
        return;
    }
    runOnStoreThread(
        [](StoreFile& target) {
            StoreFile::Outcome outcome;
            outcome.changedElsewhere = target.refresh();
            return outcome;
        },
        {});
}

void SiteStore::adopt(const StoreDocument& document)
{
    adoptSites(document.sites);
    adoptHosts(document.hosts);

    QList<SourceControlAccount> accounts = document.sourceControlAccounts;
    for (const auto& account : std::as_const(m_changedAccounts)) {
        accounts.removeIf(
            [&account](const SourceControlAccount& a) { return a.provider == account.provider; });
        accounts.append(account);
    }
    accounts.removeIf(
        [this](const SourceControlAccount& a) { return m_removedAccounts.contains(a.provider); });
    sortAccounts(accounts);
    if (accounts != m_sourceControlAccounts) {
        m_sourceControlAccounts = std::move(accounts);
        Q_EMIT sourceControlAccountsChanged();
    }
}

void SiteStore::adoptSites(const QList<SiteRecord>& stored)
{
    if (adoptRecords(m_sites, stored, m_savedSiteRevision, m_removedSites, siteRevision)) {
        sortSites(m_sites);
        Q_EMIT sitesChanged();
    }
}

void SiteStore::adoptHosts(const QList<HostRecord>& stored)
{
    if (adoptRecords(m_hosts, stored, m_savedHostRevision, m_removedHosts, hostRevision)) {
        sortHosts(m_hosts);
        Q_EMIT hostsChanged();
    }
}

void SiteStore::insertSite(const SitePtr& site)
{
    m_sites.prepend(site);
    m_removedSites.remove(site->id());
    Q_EMIT sitesChanged();
    save();
}

void SiteStore::remove(const SitePtr& site)
{
    const QUuid id = site->id();
    m_sites.removeIf([&id](const SitePtr& s) { return s->id() == id; });
    m_savedSiteRevision.remove(id);
    m_removedSites.insert(id);
    Q_EMIT sitesChanged();
    save();
}

void SiteStore::addHost(const HostAccountPtr& host)
{
    m_hosts.append(host);
    m_removedHosts.remove(host->id());
    Q_EMIT hostsChanged();
    save();
}

void SiteStore::removeHost(const HostAccountPtr& host)
{
    m_secrets.remove(host->secretAccount());
    const QUuid id = host->id();
    m_hosts.removeIf([&id](const HostAccountPtr& h) { return h->id() == id; });
    m_savedHostRevision.remove(id);
    m_removedHosts.insert(id);
    Q_EMIT hostsChanged();
    save();
}

SitePtr SiteStore::site(const QUuid& id) const
{
    for (const auto& s : m_sites)
        if (s->id() == id)
            return s;
    return nullptr;
}

SitePtr SiteStore::siteAtPath(const QString& path) const
{
    const QString wanted = normalizedSitePath(path);
    if (wanted.isEmpty())
        return nullptr;
    for (const auto& s : m_sites)
        if (normalizedSitePath(s->path()) == wanted)
            return s;
    return nullptr;
}

std::optional<SourceControlAccount> SiteStore::sourceControlAccount(SourceControlProvider provider) const
{
    const QString raw = toRaw(provider);
    for (const auto& account : m_sourceControlAccounts)
        if (account.provider == raw)
            return account;
    return std::nullopt;
}

void SiteStore::upsertSourceControl(const SourceControlAccount& account)
{
    m_sourceControlAccounts.removeIf(
        [&account](const SourceControlAccount& a) { return a.provider == account.provider; });
    m_sourceControlAccounts.append(account);
    sortAccounts(m_sourceControlAccounts);
    m_changedAccounts.insert(account.provider, account);
    m_removedAccounts.remove(account.provider);
    Q_EMIT sourceControlAccountsChanged();
    save();
}

void SiteStore::removeSourceControl(SourceControlProvider provider)
{
    m_secrets.remove(secretAccount(provider));
    const QString raw = toRaw(provider);
    m_sourceControlAccounts.removeIf([&raw](const SourceControlAccount& a) { return a.provider == raw; });
    m_changedAccounts.remove(raw);
    m_removedAccounts.insert(raw);
    Q_EMIT sourceControlAccountsChanged();
    save();
}

QString SiteStore::normalizedSitePath(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        return {};
    QString standard =
        QDir::cleanPath(QDir::isAbsolutePath(trimmed) ? trimmed : QDir::current().absoluteFilePath(trimmed));
    // Resolve symbolic links where the folder exists; a missing folder compares by its clean path.
    const QString resolved = QFileInfo(standard).canonicalFilePath();
    return resolved.isEmpty() ? standard : resolved;
}

} // namespace halvik
