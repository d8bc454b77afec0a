#include "StoreFile.h"

#include "StoreCodec.h"

#include "platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace halvik {

StoreFile::StoreFile(QString path) : m_path(std::move(path)) {}

StoreFile::Read StoreFile::load()
{
    QMutexLocker lock(&m_mutex);
    Read read;
    m_known = false;
    if (!readIfChanged(&read.error))
        return read;
    read.document = m_document;
    return read;
}

bool StoreFile::readIfChanged(std::optional<QString>* error)
{
    const FileStamp stamp = FileStamp::of(m_path);
    if (m_known && stamp == m_stamp)
        return false;
    if (!stamp.exists) {
        // Missing: start empty, or keep what this process knew and write it back next time.
        if (!m_known)
            m_document = {};
        m_known = true;
        m_stamp = stamp;
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    try {
        m_document = StoreCodec::decode(bytes);
    } catch (const StoreDecodeError& failure) {
        // Not a store (a hand edit gone wrong, a disk fault): keep a copy before any write can
        // replace it, and build on what this process last knew.
        keepAside(failure.description());
        if (error)
            *error = failure.description();
        m_known = true;
        m_stamp = stamp;
        return false;
    }
    m_known = true;
    m_stamp = stamp;
    return true;
}

StoreFile::Outcome StoreFile::commit(const StoreChanges& changes)
{
    QMutexLocker lock(&m_mutex);
    Outcome outcome;
    FileLock fileLock(m_path + QStringLiteral(".lock"));
    // Without the lock (a read-only folder, say) the change is still written: losing it
    // would be worse than racing another writer.
    const bool elsewhere = readIfChanged();
    apply(m_document, changes);
    outcome.error = write();
    if (elsewhere)
        outcome.changedElsewhere = m_document;
    return outcome;
}

std::optional<StoreDocument> StoreFile::refresh()
{
    QMutexLocker lock(&m_mutex);
    if (readIfChanged())
        return m_document;
    return std::nullopt;
}

void StoreFile::keepAside(const QString& reason) const
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = m_path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    if (QFile::copy(m_path, copy))
        qCWarning(halvikLog).noquote()
            << "Halvik store load failed: " + reason + " The unreadable file was kept as " + copy;
    else
        qCWarning(halvikLog).noquote()
            << "Halvik store load failed: " + reason + " Copying it aside to " + copy + " failed too.";
}

std::optional<QString> StoreFile::write()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Couldn’t create the folder %1.").arg(folder);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = true;
    StoreCodec::write(m_document, [&](const QByteArray& chunk) {
        if (written && file.write(chunk) != chunk.size())
            written = false;
    });
    // Buffered: only flushing shows whether the disk took it all (a short write must never
    // replace the old file).
    if (!written || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    m_stamp = FileStamp::of(m_path);
    return std::nullopt;
}

namespace {

template <typename Rec> QList<Rec> unionById(const QList<Rec>& mine, const QList<Rec>& theirs)
{
    QSet<QUuid> ids;
    for (const auto& r : mine)
        ids.insert(r.id);
    QList<Rec> out = mine;
    for (const auto& r : theirs)
        if (!ids.contains(r.id))
            out.append(r);
    std::stable_sort(out.begin(), out.end(),
                     [](const Rec& a, const Rec& b) { return a.startedAt < b.startedAt; });
    return out;
}

} // namespace

SiteRecord StoreFile::mergeSite(const SiteRecord& stored, const SiteRecord& changed)
{
    SiteRecord merged = changed;
    merged.operations = unionById(changed.operations, stored.operations);
    if (merged.operations.size() > StoreLimits::operationsPerSite)
        merged.operations.remove(0, merged.operations.size() - StoreLimits::operationsPerSite);
    merged.deployments = unionById(changed.deployments, stored.deployments);
    return merged;
}

void StoreFile::apply(StoreDocument& document, const StoreChanges& changes)
{
    for (const SiteRecord& site : changes.sites) {
        auto it = std::find_if(document.sites.begin(), document.sites.end(),
                               [&site](const SiteRecord& s) { return s.id == site.id; });
        if (it != document.sites.end()) {
            *it = mergeSite(*it, site);
            continue;
        }
        // Newest first: in front of the first site created before it.
        auto at = std::find_if(document.sites.begin(), document.sites.end(),
                               [&site](const SiteRecord& s) { return s.createdAt < site.createdAt; });
        document.sites.insert(at, site);
    }
    if (!changes.removedSites.isEmpty())
        document.sites.removeIf(
            [&changes](const SiteRecord& s) { return changes.removedSites.contains(s.id); });

    for (const HostRecord& host : changes.hosts) {
        auto it = std::find_if(document.hosts.begin(), document.hosts.end(),
                               [&host](const HostRecord& h) { return h.id == host.id; });
        if (it != document.hosts.end()) {
            *it = host;
            continue;
        }
        // Oldest first: after every host created no later than it.
        auto at = std::find_if(document.hosts.begin(), document.hosts.end(),
                               [&host](const HostRecord& h) { return h.createdAt > host.createdAt; });
        document.hosts.insert(at, host);
    }
    if (!changes.removedHosts.isEmpty())
        document.hosts.removeIf(
            [&changes](const HostRecord& h) { return changes.removedHosts.contains(h.id); });

    auto& accounts = document.sourceControlAccounts;
    for (const SourceControlAccount& account : changes.accounts) {
        accounts.removeIf(
            [&account](const SourceControlAccount& a) { return a.provider == account.provider; });
        accounts.append(account);
    }
    if (!changes.removedAccounts.isEmpty())
        accounts.removeIf([&changes](const SourceControlAccount& a) {
            return changes.removedAccounts.contains(a.provider);
        });
    std::stable_sort(
        accounts.begin(), accounts.end(),
        [](const SourceControlAccount& a, const SourceControlAccount& b) { return a.provider < b.provider; });
}

} // namespace halvik
