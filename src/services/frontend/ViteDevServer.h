#pragma once

#include "DevServerRegistry.h"
#include "FrontendProject.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/ProcessRequest.h"
#include "services/runtime/NodeRuntime.h"

#include <QCoroTask>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class HerdService;
class ProcessRunner;
class RuntimeManager;

enum class ViteDevServerPhase
{
    idle,
    installingDependencies,
    starting,
    running,
    failed
};

constexpr auto enumCases(std::type_identity<ViteDevServerPhase>)
{
    using P = ViteDevServerPhase;
    return std::to_array<EnumCase<P>>({{P::idle, "idle", "Stopped"},
                                       {P::installingDependencies, "installingDependencies", "Installing"},
                                       {P::starting, "starting", "Starting"},
                                       {P::running, "running", "Running"},
                                       {P::failed, "failed", "Failed"}});
}

struct ViteDevSession
{
    ViteDevServerPhase phase = ViteDevServerPhase::idle;
    // The sentence of a failed phase.
    QString failure;
    std::optional<QUrl> url;
    QString log;
    // The npm script's process (and group), here or in another Halvik process.
    qint64 pid = 0;
    // Run by another Halvik process (known through the registry only).
    bool elsewhere = false;

    bool isActive() const
    {
        return phase == ViteDevServerPhase::installingDependencies || phase == ViteDevServerPhase::starting ||
               phase == ViteDevServerPhase::running;
    }
};

// Runs a site's frontend dev server (`npm run dev`, `npm run hot`, …): installs missing Node
// dependencies first, follows the output and public/hot to learn its address, logs the run as
// a `serve` operation, and ends the whole process group on stop and at quit. Main thread.
class ViteDevServer : public QObject
{
    Q_OBJECT
public:
    using SaveFunction = std::function<void()>;
    static constexpr std::chrono::milliseconds hotFileInterval{200};

    ViteDevServer(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd, SaveFunction save,
                  DevServerRegistry registry = DevServerRegistry(), QObject* parent = nullptr);
    ~ViteDevServer() override;

    // Returns once the script has been launched; the session follows it from there. Throws
    // ViteDevServerError (also recorded in the session, except alreadyRunning).
    QCoro::Task<> start(SitePtr site);
    // `npm ci` (with a lock file) or `npm install`, without starting anything.
    QCoro::Task<> installDependenciesOnly(SitePtr site);
    // Ends the site's dev server, whichever Halvik process runs it.
    void stop(const QUuid& site);
    // Every dev server this process started; waits (briefly) until every group stopped from
    // here is gone, and kills what is left.
    void stopAll();

    ViteDevSession session(const QUuid& site) const;
    bool isActive(const QUuid& site) const { return session(site).isActive(); }
    // Re-reads what other processes run; emits sessionChanged for every site that moved.
    void refresh();
    // From now on notices by itself when another process starts or ends a dev server (a window
    // does; a command reads the registry when asked).
    void watchOtherProcesses();
    const DevServerRegistry& registry() const { return m_registry; }

    // How long a stopped group has to end before the rest of it is killed.
    void setStopGrace(std::chrono::milliseconds grace) { m_stopGrace = grace; }

Q_SIGNALS:
    void sessionChanged(const QUuid& site);
    // New log lines of a site's session, joined by line feeds.
    void logAppended(const QUuid& site, const QString& lines);

private:
    struct Run
    {
        int generation = 0;
        qint64 pid = 0;
        QString folder;
        std::shared_ptr<CancellationSource> stop;
        std::shared_ptr<QTimer> hotPoller;
    };

    struct Prepared
    {
        FrontendProject::Info info;
        NodeRuntime::Toolchain node;
        QStringList path;
    };

    Prepared prepare(const Site& site) const;
    QCoro::Task<> installDependencies(SitePtr site, Prepared prepared, int generation,
                                      CancellationToken token);
    void launch(const SitePtr& site, const Prepared& prepared, int generation);
    QCoro::Task<> follow(SitePtr site, int generation, ProcessRequest request, QString command,
                         std::shared_ptr<CancellationSource> stop);
    void ended(const QUuid& site, int generation, std::optional<int> exitCode, std::optional<QString> error);
    void appendLog(const QUuid& site, const QString& lines);
    void markRunning(const QUuid& site, int generation, const QUrl& url);
    void setPhase(const QUuid& site, ViteDevServerPhase phase, QString failure = {});
    bool isCurrent(const QUuid& site, int generation) const;
    void endGroup(qint64 pgid);
    static void removeHotFile(const QString& folder);

    ProcessRunner& m_runner;
    RuntimeManager& m_runtime;
    const HerdService* m_herd;
    SaveFunction m_save;
    DevServerRegistry m_registry;
    QHash<QUuid, Run> m_runs;
    QHash<QUuid, ViteDevSession> m_sessions;
    QHash<QUuid, DevServerRegistry::Entry> m_elsewhere;
    // Groups sent SIGTERM from here, which stopAll makes sure are gone.
    QSet<qint64> m_endingGroups;
    int m_generation = 0;
    std::chrono::milliseconds m_stopGrace{1500};
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QTimer m_settle;
    LifeGuard m_life;
};

} // namespace halvik
