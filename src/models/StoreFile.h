#pragma once

#include "StoreRecords.h"

#include "platform/FileLock.h"

#include <QMutex>
#include <QSet>
#include <QString>

#include <optional>

namespace halvik {

// What one process changed in the store since its last save: whole records, so the change
// can be laid over whatever other processes wrote meanwhile.
struct StoreChanges
{
    QList<SiteRecord> sites; // changed or new
    QSet<QUuid> removedSites;
    QList<HostRecord> hosts;
    QSet<QUuid> removedHosts;
    QList<SourceControlAccount> accounts;
    QSet<QString> removedAccounts; // provider raw values

    bool isEmpty() const
    {
        return sites.isEmpty() && removedSites.isEmpty() && hosts.isEmpty() && removedHosts.isEmpty() &&
               accounts.isEmpty() && removedAccounts.isEmpty();
    }
};

// store.json as a file shared by every Halvik process. Each change is a transaction: take
// the lock beside the file, read the file again if someone else replaced it since this
// process last saw it, lay the change over it, write it whole through a temporary file and
// rename. Plain data only, no signals: the store's own thread calls it, one call at a time.
class StoreFile
{
public:
    explicit StoreFile(QString path);

    const QString& path() const { return m_path; }

    struct Read
    {
        std::optional<StoreDocument> document; // nothing when the file is missing
        std::optional<QString> error;          // the file exists but is not a store
    };
    // Reads the file as it is now and remembers it as the base of the next change.
    Read load();

    struct Outcome
    {
        // The document after the change, when another process had changed the file; the
        // caller brings its records in line with it.
        std::optional<StoreDocument> changedElsewhere;
        std::optional<QString> error; // the change could not be written (it stays pending in memory)
    };
    Outcome commit(const StoreChanges& changes);
    // Reads the file again only if another process replaced it.
    std::optional<StoreDocument> refresh();

    // Laying one site's change over the stored one: the change's fields win; operations and
    // deployments are the union of both (the newest operations up to the store's limit).
    static SiteRecord mergeSite(const SiteRecord& stored, const SiteRecord& changed);
    static void apply(StoreDocument& document, const StoreChanges& changes);

private:
    // Re-reads the file when its stamp differs from the last one seen; true when the
    // document now holds what another process wrote.
    bool readIfChanged(std::optional<QString>* error = nullptr);
    std::optional<QString> write();
    void keepAside(const QString& reason) const;

    QString m_path;
    QMutex m_mutex;
    FileStamp m_stamp;
    StoreDocument m_document;
    bool m_known = false; // m_document reflects the file as of m_stamp
};

} // namespace halvik
