#pragma once

#include "HttpFetcher.h"
#include "RuntimeRoots.h"
#include "RuntimeSnapshot.h"

#include "models/Enums.h"
#include "services/LocalDevEngine.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QMap>
#include <QObject>

#include <functional>
#include <optional>

namespace halvik {

class HerdService;
class ProcessRunner;
class Site;

// Halvik's own PHP, Composer and Node: seeds them into the application folder, downloads extra
// PHP lines and a Node toolchain on request, says what is present, picks the PHP a site runs
// with and gives every child that runs php or composer its PATH and environment. The managed
// runtimes never go on the user's own PATH. Main thread.
class RuntimeManager : public QObject
{
    Q_OBJECT
public:
    // What Composer runs with: PHP, then the Composer path, then Composer's own arguments.
    struct ComposerLaunch
    {
        QString php;
        QString composer;
        ResolvedPHP resolved;
    };

    RuntimeManager(ProcessRunner& runner, RuntimeRoots roots = RuntimeRoots::system(),
                   QObject* parent = nullptr);
    ~RuntimeManager() override;

    const RuntimeRoots& roots() const { return m_roots; }
    const RuntimeSnapshot& snapshot() const { return m_snapshot; }
    std::optional<QString> lastError() const { return m_lastError; }
    bool isInstallingPHP() const { return m_isInstallingPHP; }
    std::optional<QString> phpInstallProgress() const { return m_phpInstallProgress; }
    std::optional<QString> phpInstallLine() const { return m_phpInstallLine; }
    bool isInstallingNode() const { return m_isInstallingNode; }
    std::optional<QString> nodeInstallProgress() const { return m_nodeInstallProgress; }

    // Prepares bin/, composer/, cache/, the ini and the wrappers. Idempotent. Throws
    // std::runtime_error with a sentence on a file-system failure.
    void seedIfNeeded();
    // Seeds, then rebuilds the snapshot; a seeding error becomes lastError and the rest still runs.
    // The latest Composer release is looked up afterwards, without being awaited.
    QCoro::Task<> refreshVersions();
    QCoro::Task<> refreshLatestComposerVersion();

    QList<ManagedPHP> installedPHP() const;
    std::optional<ManagedPHP> extraPHP(const QString& line) const;

    // Both throw RuntimeError (or HttpFetchError, ProcessRunnerError, CancelledError). A second
    // request while one of the same kind runs returns at once.
    QCoro::Task<> installManagedPHP(QString line);
    QCoro::Task<> installManagedNode();
    // Stops a running download or unpack; the install then throws CancelledError and leaves any
    // earlier installation as it was.
    void cancelPHPInstall();
    void cancelNodeInstall();
    void removeManagedPHP(const QString& line);
    // The folder is moved aside at once and deleted off the main thread.
    void removeManagedNode();

    std::optional<ResolvedPHP> resolvePHP(const Site& site, const HerdService* herd) const;
    std::optional<ResolvedPHP> resolvePHP(const QString& sourceRaw, const QString& siteName,
                                          const HerdService* herd,
                                          const std::optional<QString>& managedLine) const;
    std::optional<ResolvedPHP> resolveManagedPHP(const std::optional<QString>& line) const;
    // Throws RuntimeError::phpMissing or composerMissing.
    ComposerLaunch composerLaunch(const Site& site, const HerdService* herd) const;
    QStringList processPathEntries(const QString& php, const HerdService* herd) const;
    QMap<QString, QString> composerEnvironment() const;

    // The first `<folder>/<name>` of the fixed search that is executable.
    std::optional<QString> which(const QString& name) const;
    // A resource shipped with Halvik (runtime/<name>), when there is one.
    std::optional<QString> resourcePath(const QString& name) const;

Q_SIGNALS:
    // Any observable value above changed.
    void changed();
    // A managed PHP line or the managed Node was installed or removed.
    void installationsChanged();

private:
    using EngineLookup = std::function<std::optional<ResolvedPHP>()>;
    std::optional<ResolvedPHP> resolve(std::optional<PHPSource> source, const EngineLookup& fromEngine,
                                       const std::optional<QString>& managedLine) const;
    void setSnapshot(RuntimeSnapshot snapshot);
    void setLastError(std::optional<QString> error);
    void setPHPInstall(bool installing, std::optional<QString> line, std::optional<QString> progress);
    void setPHPProgress(std::optional<QString> progress);
    void setNodeInstall(bool installing, std::optional<QString> progress);
    void setNodeProgress(std::optional<QString> progress);
    void refreshExtraPHP();
    QCoro::Task<> installPHPLine(QString line, CancellationToken token);
    QCoro::Task<> installNode(CancellationToken token);
    // Nothing on success, else tar's output (possibly empty).
    QCoro::Task<std::optional<QString>> unpack(QString archive, QString into, CancellationToken token);
    QCoro::Task<bool> moveFolder(QString from, QString to, CancellationToken token);
    QCoro::Task<> clearQuarantine(QString folder);
    // Puts a checked folder in place of `target`, whose old content goes only once it is replaced.
    static bool replaceFolder(const QString& staged, const QString& target);
    void seedPHP();
    QCoro::Task<std::optional<QString>> runForVersion(QString program, QStringList arguments);
    QCoro::Task<std::optional<QString>> latestComposerVersion();

    ProcessRunner& m_runner;
    RuntimeRoots m_roots;
    HttpFetcher m_http;
    HttpFetcher m_lookup{10000}; // the latest-Composer check must not hold up start-up for long
    RuntimeSnapshot m_snapshot;
    std::optional<QString> m_lastError;
    bool m_isInstallingPHP = false;
    std::optional<QString> m_phpInstallProgress;
    std::optional<QString> m_phpInstallLine;
    bool m_isInstallingNode = false;
    std::optional<QString> m_nodeInstallProgress;
    CancellationSource m_phpCancel;
    CancellationSource m_nodeCancel;
    CancellationSource m_lookupCancel;
    LifeGuard m_life;
};

} // namespace halvik
