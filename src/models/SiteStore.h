#pragma once

#include "HostAccount.h"
#include "Site.h"
#include "SourceControlAccount.h"
#include "StoreFile.h"

#include "async/LifeGuard.h"

#include <QCoroTask>

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QFileSystemWatcher;

namespace halvik {

class SecretStore;

// The whole persistent registry: sites (newest first), hosting accounts (oldest first) and
// source-control accounts (by provider name), shared with every other Halvik process.
//
// Records change on the main thread; save() only notes that something changed. Shortly
// after, the store works out which records changed since they were last saved and hands plain
// copies of them to its own thread, which lays them over the file as other processes left it
// (see StoreFile) and writes it. When the file held someone else's changes, the records here
// are brought in line with it. At most one write runs and at most one waits.
class SiteStore : public QObject
{
    Q_OBJECT
public:
    // `secrets` is where removed accounts' tokens are deleted; `directory` overrides the
    // application folder (tests), otherwise AppDataDir::directory() is asked.
    explicit SiteStore(SecretStore& secrets, QString directory = {}, QObject* parent = nullptr);
    // Writes whatever is still pending.
    ~SiteStore() override;

    const QList<SitePtr>& sites() const { return m_sites; }
    const QList<HostAccountPtr>& hosts() const { return m_hosts; }
    const QList<SourceControlAccount>& sourceControlAccounts() const { return m_sourceControlAccounts; }

    QString filePath() const;

    // Replaces the lists with the file's contents. A missing file changes nothing; a bad one
    // is logged, copied aside so no later save can destroy it, and changes nothing.
    void load();
    // The same, read and decoded on the store's thread so a large store never holds up the
    // window; records changed here meanwhile are kept, as when following another process.
    QCoro::Task<> loadInBackground();
    // Starts that read now, for the next loadInBackground to adopt: the window reads the file
    // while it builds itself, and its first frame already lists the sites.
    void startReading();
    // Notes that records changed; they are written shortly, off the main thread.
    void save();
    // Writes everything pending now and waits for it: for quitting, the end of a command,
    // and tests. Blocks, so the window never calls it while it runs.
    void flush();
    // Why the last write failed (the disk refused it); nothing once a write succeeds. A change
    // that could not be written stays pending and goes with the next save.
    std::optional<QString> lastSaveError() const { return m_lastSaveError; }
    // Whether a write runs or waits to run.
    bool isSaving() const { return m_writing || m_saveTimer.isActive(); }
    // How long save() waits to gather further changes.
    void setSaveDelay(int milliseconds) { m_saveTimer.setInterval(milliseconds); }

    // Follow changes other processes make to the file (the window does; commands need not).
    void watchForChanges();
    // Reads the file again if another process changed it, and applies that here.
    void refreshFromDisk();

    // New sites go to the front (they are the newest), then the store is saved.
    void insertSite(const SitePtr& site);
    void remove(const SitePtr& site);
    void addHost(const HostAccountPtr& host);
    void removeHost(const HostAccountPtr& host);
    SitePtr site(const QUuid& id) const;
    SitePtr siteAtPath(const QString& path) const;
    std::optional<SourceControlAccount> sourceControlAccount(SourceControlProvider provider) const;
    void upsertSourceControl(const SourceControlAccount& account);
    void removeSourceControl(SourceControlProvider provider);

    // Trimmed, `.`/`..` and duplicate separators removed, symbolic links resolved; empty stays empty.
    static QString normalizedSitePath(const QString& path);

Q_SIGNALS:
    void sitesChanged();
    void hostsChanged();
    void sourceControlAccountsChanged();
    // A write finished (successfully or not); for tests and the benchmark.
    void saveFinished();
    void lastSaveErrorChanged();

private:
    StoreFile& file();
    bool isDirty(const Site& site) const;
    bool isDirty(const HostAccount& host) const;
    StoreChanges takeChanges();
    void restoreChanges(const StoreChanges& changes);
    void startCommit();
    void runOnStoreThread(std::function<StoreFile::Outcome(StoreFile&)> work, const StoreChanges& changes);
    void finishCommit(quint64 sequence, const StoreFile::Outcome& outcome, const StoreChanges& changes);
    void adopt(const StoreDocument& document);
    void adoptSites(const QList<SiteRecord>& stored);
    void adoptHosts(const QList<HostRecord>& stored);
    void noteOutcome(const StoreFile::Outcome& outcome, const StoreChanges& changes);
    void markSaved(const SitePtr& site) { m_savedSiteRevision.insert(site->id(), site->contentRevision()); }

    SecretStore& m_secrets;
    QString m_directory;
    QList<SitePtr> m_sites;
    QList<HostAccountPtr> m_hosts;
    QList<SourceControlAccount> m_sourceControlAccounts;

    std::shared_ptr<StoreFile> m_file;
    QFuture<StoreFile::Read> m_reading;
    QThreadPool m_thread; // one thread: writes happen one after another
    QTimer m_saveTimer;
    QTimer m_refreshTimer;
    QFileSystemWatcher* m_watcher = nullptr;
    bool m_writing = false;
    bool m_refreshAfterWrite = false;
    quint64 m_sequence = 0;
    QFuture<void> m_running;
    std::shared_ptr<StoreFile::Outcome> m_pendingOutcome; // of the running write
    StoreChanges m_pendingChanges;
    std::optional<QString> m_lastSaveError;

    // What was last saved of each record; a higher revision means it changed since.
    QHash<QUuid, quint64> m_savedSiteRevision;
    QHash<QUuid, quint64> m_savedHostRevision;
    QSet<QUuid> m_removedSites;
    QSet<QUuid> m_removedHosts;
    QHash<QString, SourceControlAccount> m_changedAccounts;
    QSet<QString> m_removedAccounts;
    LifeGuard m_life;
};

} // namespace halvik
