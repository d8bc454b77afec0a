#pragma once

#include "ServerRegistry.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "services/ProcessRequest.h"

#include <QCoroTask>
#include <QFileSystemWatcher>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class ProcessRunner;
class Site;
using SitePtr = std::shared_ptr<Site>;

// Halvik's own `php artisan serve`, one per site, on a free loopback port. Servers another
// Halvik process started (a `halvik serve` in a terminal) show here too, through the registry,
// and can be stopped from here. Main thread.
class LocalServer : public QObject
{
    Q_OBJECT
public:
    struct RunningServer
    {
        QUuid site;
        int port = 0;
        qint64 pid = 0;
        bool startedHere = false;
        // Started (or first seen) moments ago and not answering yet: still within its time to
        // come up.
        bool starting = false;

        QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)); }
        bool operator==(const RunningServer&) const = default;
    };

    explicit LocalServer(ProcessRunner& runner, ServerRegistry registry = ServerRegistry(),
                         QObject* parent = nullptr);
    ~LocalServer() override;

    // From `preferred` (or 4000) upwards, at most 200 ports and never past 65535, skipping
    // `avoiding` untested; the first one 127.0.0.1 can bind. None free: the port after the last
    // one tried, untested (or 65535 when that would be past the end).
    static int freePort(std::optional<int> preferred, const QSet<int>& avoiding);

    // Starts `php artisan serve` for the site unless one already runs for it (here or in another
    // Halvik process). Sets the site's localPort to the chosen port; the caller saves the store.
    // The run is recorded in the site's operations like any other, its log growing with the
    // server's own lines. Throws ProcessRunnerError when the PHP executable is missing.
    void start(const SitePtr& site, const QString& php);
    // Saves the store when a server's operation has ended.
    void setSaveOperations(std::function<void()> save) { m_save = std::move(save); }
    void stop(const QUuid& site);
    // Stops every server this process started (at quit).
    void stopAll();

    bool isRunning(const QUuid& site) const { return running(site).has_value(); }
    std::optional<RunningServer> running(const QUuid& site) const;
    std::optional<QUrl> url(const QUuid& site) const;
    QList<RunningServer> allRunning() const;
    std::optional<QString> lastExit(const QUuid& site) const;

    // Re-reads what other processes run; emits changed() when the picture moved.
    void refresh();
    // From now on notices by itself when another process starts or ends a server. Only a window
    // needs it: a command reads the registry when asked, and a watched folder costs every exit a
    // wait of some milliseconds in the kernel.
    void watchOtherProcesses();

    // How long a new server has to answer before it counts as failing.
    static constexpr std::chrono::milliseconds startLimit{8000};

    const ServerRegistry& registry() const { return m_registry; }

Q_SIGNALS:
    void changed();

private:
    struct Own
    {
        int port = 0;
        qint64 pid = 0;
        int generation = 0;
        std::shared_ptr<CancellationSource> stop;
    };

    // The pids of servers this process started, written on the reader thread the moment a
    // server runs, before its registry entry: what refresh() must never count as elsewhere,
    // even while one is being stopped and its pid has not reached m_own.
    struct StartedHere
    {
        QMutex mutex;
        QSet<qint64> pids;
        bool contains(qint64 pid);
    };

    QCoro::Task<> serve(SitePtr site, int generation, ProcessRequest request,
                        std::shared_ptr<CancellationSource> stop, std::shared_ptr<std::atomic<qint64>> pid);
    void ended(const QUuid& site, int generation, std::optional<QString> exitText);
    // The server counts as starting until it answers or its time is up; then changed() says so.
    void watchStart(const QUuid& site, int port, CancellationToken stop);
    QCoro::Task<> awaitStart(QUuid site, quint64 watch, QUrl url, CancellationToken stop);

    ProcessRunner& m_runner;
    // Ends the watches on servers other processes started, when this object goes.
    CancellationSource m_elsewhereWatches;
    ServerRegistry m_registry;
    std::function<void()> m_save;
    std::shared_ptr<StartedHere> m_startedHere = std::make_shared<StartedHere>();
    QHash<QUuid, Own> m_own;
    QHash<QUuid, ServerRegistry::Entry> m_elsewhere;
    QHash<QUuid, QString> m_lastExit;
    // Sites whose server has not answered yet, each with the watch waiting for it.
    QHash<QUuid, quint64> m_starting;
    quint64 m_watches = 0;
    int m_generation = 0;
    // Follows the registry so servers other processes start or stop show up here.
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QTimer m_settle;
    // A process that served and was killed outright leaves its entry behind: looked after
    // every second so such a server does not show as running.
    QTimer m_vanished;
    LifeGuard m_life;
};

} // namespace halvik
