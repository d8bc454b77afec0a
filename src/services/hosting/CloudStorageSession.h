#pragma once

#include "CloudStorageRecords.h"

#include "async/Cancellation.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class FileLock;
class LaravelCloudClient;
class ProcessRunner;
class SecretStore;

// A resumable move of one site's flat-file content, users and assets into a database and a
// bucket for Laravel Cloud. Every step works on a private working copy in
// "<setups folder>/<setup id>/site" and saves the checkpoint (session.json) when it ends; the
// site itself changes only in the final apply, which journals every file first. Passwords
// and secrets live in the secret store. Main thread.
class CloudStorageSession : public QObject
{
    Q_OBJECT

public:
    struct Tools
    {
        ProcessRunner* runner = nullptr;
        SecretStore* secrets = nullptr;
        LaravelCloudClient* cloud = nullptr;
        // The token of the site's Laravel Cloud account, when there is one.
        std::function<std::optional<QString>()> cloudToken;
        QString php;      // the site's PHP
        QString composer; // Composer, run with `php`
        QString setupsFolder;
        QString workerScript;
        QString rsync;
        QString sqlite3;
        // A copy may run this long without progress, any other worker call this long in all.
        std::chrono::milliseconds timeLimit{120000};
    };

    CloudStorageSession(SitePtr site, Tools tools, QObject* parent = nullptr);
    ~CloudStorageSession() override;

    // The setup of this site already saved under the setups folder, if any.
    static std::optional<QString> findSetup(const QString& setupsFolder, const QString& sitePath);
    // rsync and sqlite3: /usr/bin first, then PATH.
    static QString locateTool(const QString& name);

    const SitePtr& site() const { return m_site; }
    QString setupID() const { return m_setupID; }
    QString folder() const;
    QString workingCopy() const { return folder() + QStringLiteral("/site"); }
    bool exists() const;
    const CloudStorageCheckpoint& checkpoint() const { return m_checkpoint; }
    CloudStorageStage stage() const { return m_checkpoint.stage; }
    QString status() const { return m_status; }
    const QStringList& log() const { return m_log; }
    bool isRunning() const { return m_running; }
    // Whether the last step ended by a cancel (it runs again from the checkpoint).
    bool wasCancelled() const { return m_cancelled; }
    // Whether cancel() would stop the running step now: not while the apply runs.
    bool canCancel() const;
    // Stops the running step: its worker, tool or request, with everything they started.
    void cancel();
    std::optional<QString> error() const { return m_error; }
    bool hasBackup() const;

    // The plan with its secrets filled from the secret store.
    CloudStoragePlan plan() const;
    // Keeps the plan: secrets into the secret store, the rest into the checkpoint.
    void setPlan(const CloudStoragePlan& plan);

    QCoro::Task<> inspect(CancellationToken cancel = {});
    QCoro::Task<> check(CancellationToken cancel = {});
    QCoro::Task<> prepare(CancellationToken cancel = {});
    QCoro::Task<> copyAndConfigure(CancellationToken cancel = {});
    // The steps from the checkpoint to the end (or to the end of check for a dry run).
    QCoro::Task<> runToEnd(bool dryRun, CancellationToken cancel = {});
    // Puts back every file the last apply changed; the check that nothing else changed reads
    // the whole site off the main thread.
    QCoro::Task<> restoreBackup();
    // Forgets the setup: its folder and its secrets.
    void discardForRestart();

    // The apply alone, for its journal: `failAfter` ends it (as a crash would) after that many
    // files; `prepared` is what the working copy changed, worked out here when not given.
    void applyToSite(std::optional<int> failAfter = std::nullopt,
                     std::optional<QStringList> prepared = std::nullopt);

    // Every file of a site with its SHA-256, and the files a working copy changed: for any thread.
    static QMap<QString, QString> fingerprintOf(const QString& sitePath);
    static QStringList preparedChanges(const QString& sitePath, const QString& workingCopy);

Q_SIGNALS:
    void changed();
    void logLine(const QString& line);

private:
    struct Lock;
    QCoro::Task<nlohmann::json> call(const QString& action, const QString& folder, CancellationToken cancel,
                                     bool copies = false);
    QCoro::Task<> runTool(const QString& executable, const QStringList& arguments, const QString& folder,
                          const QString& failure, CancellationToken cancel);
    QCoro::Task<> artisan(const QStringList& arguments, const QString& name, CancellationToken cancel);
    QCoro::Task<> saveCloudConfiguration(const QString& token, CancellationToken cancel);

    template <typename Step>
    QCoro::Task<> runStep(CloudStorageStage stage, CancellationToken cancel, const Step& step);
    std::unique_ptr<Lock> lock();
    void save();
    void load();
    void addLog(const QString& line);
    void setStatus(const QString& status);
    void complete(CloudStorageStage stage);
    void createWorkingCopyEnv();
    QString secretKey(const char* kind) const;

    SitePtr m_site;
    Tools m_tools;
    QString m_setupID;
    CloudStorageCheckpoint m_checkpoint;
    QString m_status;
    QStringList m_log;
    bool m_running = false;
    bool m_cancelled = false;
    std::optional<CancellationSource> m_stop;
    std::optional<QString> m_error;
};

} // namespace halvik
