#include "LocalServer.h"
#include "RegistryFile.h"

#include "models/Site.h"
#include "services/LoggedOperation.h"
#include "services/ProcessRunner.h"
#include "services/ReachabilityProbe.h"

#include "platform/ProcessProbe.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>

#include <algorithm>

namespace halvik {

namespace {

// The last non-empty standard-error line of a server, written on its reader thread.
struct LastLine
{
    QMutex mutex;
    QString line;
};

bool canBind(int port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, static_cast<quint16>(port));
}

} // namespace

LocalServer::LocalServer(ProcessRunner& runner, ServerRegistry registry, QObject* parent)
    : QObject(parent), m_runner(runner), m_registry(std::move(registry))
{
    QDir().mkpath(QFileInfo(m_registry.filePath()).absolutePath());
    m_settle.setSingleShot(true);
    m_settle.setInterval(100);
    connect(&m_settle, &QTimer::timeout, this, &LocalServer::refresh);
    m_vanished.setInterval(1000);
    connect(&m_vanished, &QTimer::timeout, this, [this] {
        for (const ServerRegistry::Entry& entry : std::as_const(m_elsewhere))
            if (!ServerRegistry::isServing(entry.pid)) {
                refresh();
                return;
            }
    });
    refresh();
}

void LocalServer::watchOtherProcesses()
{
    if (m_watcher)
        return;
    m_watcher = watchRegistryFolder(m_registry.filePath(), m_settle);
    m_vanished.start();
    refresh();
}

LocalServer::~LocalServer()
{
    m_life.end();
    m_elsewhereWatches.cancel();
    stopAll();
}

int LocalServer::freePort(std::optional<int> preferred, const QSet<int>& avoiding)
{
    constexpr int highest = 65535;
    const int first = std::clamp(preferred.value_or(4000), 1, highest);
    const int end = std::min(first + 200, highest + 1);
    for (int port = first; port < end; ++port) {
        if (avoiding.contains(port))
            continue;
        if (canBind(port))
            return port;
    }
    return std::min(end, highest);
}

void LocalServer::start(const SitePtr& sitePtr, const QString& php)
{
    Site& site = *sitePtr;
    refresh();
    if (isRunning(site.id()))
        return;
    if (!QFileInfo(php).isExecutable())
        throw ProcessRunnerError::executableMissing(php);

    QSet<int> avoiding;
    for (const RunningServer& server : allRunning())
        avoiding.insert(server.port);
    const int port = freePort(site.localPort(), avoiding);

    const QUuid id = site.id();
    const int generation = ++m_generation;
    auto stopSource = std::make_shared<CancellationSource>();
    m_own.insert(id, Own{port, 0, generation, stopSource});
    m_lastExit.remove(id);
    if (site.localPort() != port)
        site.setLocalPort(port);

    ProcessRequest request;
    request.executable = php;
    request.arguments = {QStringLiteral("artisan"), QStringLiteral("serve"),
                         QStringLiteral("--host=127.0.0.1"), QStringLiteral("--port=%1").arg(port),
                         QStringLiteral("--no-reload")};
    request.workingDirectory = site.path();
    request.streamOnly = true;
    // The registry learns of the server as soon as it runs, from the reader thread; the records
    // here follow on the main thread.
    const ServerRegistry registry = m_registry;
    const QString path = site.path();
    QPointer<LocalServer> self(this);
    auto startedPid = std::make_shared<std::atomic<qint64>>(0);
    request.started = [registry, id, port, path, self, generation, startedHere = m_startedHere,
                       startedPid](qint64 pid) {
        startedPid->store(pid);
        {
            QMutexLocker lock(&startedHere->mutex);
            startedHere->pids.insert(pid);
        }
        registry.add({id, port, pid, path});
        QMetaObject::invokeMethod(
            self.data(),
            [self, id, generation, pid] {
                if (!self)
                    return;
                auto own = self->m_own.find(id);
                if (own != self->m_own.end() && own->generation == generation)
                    own->pid = pid;
            },
            Qt::QueuedConnection);
    };
    fireAndForget(this, serve(sitePtr, generation, std::move(request), stopSource, startedPid));
    watchStart(id, port, stopSource->token());
    Q_EMIT changed();
}

bool LocalServer::StartedHere::contains(qint64 pid)
{
    QMutexLocker lock(&mutex);
    return pids.contains(pid);
}

QCoro::Task<> LocalServer::serve(SitePtr site, int generation, ProcessRequest request,
                                 std::shared_ptr<CancellationSource> stop,
                                 std::shared_ptr<std::atomic<qint64>> pid)
{
    const LifeToken alive = m_life.token();
    const QUuid id = site->id();
    auto last = std::make_shared<LastLine>();
    LoggedOperationRequest logged;
    logged.command = QStringLiteral("php ") + request.arguments.join(QLatin1Char(' '));
    logged.kind = OperationKind::serve;
    logged.process = std::move(request);
    logged.token = stop->token();
    logged.lines = [last](const ProcessOutput& line) {
        if (line.isStdout() || line.line.trimmed().isEmpty())
            return;
        QMutexLocker lock(&last->mutex);
        last->line = line.line.trimmed();
    };
    std::optional<QString> exitText;
    try {
        const ProcessResult result =
            (co_await runLoggedOperation(m_runner, std::move(site), std::move(logged), m_save)).result;
        // Only a server that exited on its own says why; one stopped by a signal (from another
        // Halvik process, say) did not fail.
        QMutexLocker lock(&last->mutex);
        if (!result.endedBySignal)
            exitText = last->line.isEmpty()
                           ? QStringLiteral("php artisan serve exited with status %1.").arg(result.exitCode)
                           : last->line;
    } catch (const ProcessRunnerError& error) {
        if (!error.isCancelled())
            exitText = error.description();
    }
    if (!alive)
        co_return;
    // The process has exited: its entry is stale whoever stopped it.
    if (const qint64 exited = pid->load(); exited > 0) {
        m_registry.remove(exited);
        QMutexLocker lock(&m_startedHere->mutex);
        m_startedHere->pids.remove(exited);
    }
    ended(id, generation, exitText);
}

void LocalServer::watchStart(const QUuid& site, int port, CancellationToken stop)
{
    const quint64 watch = ++m_watches;
    m_starting.insert(site, watch);
    fireAndForget(this, awaitStart(site, watch, QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), stop));
}

QCoro::Task<> LocalServer::awaitStart(QUuid site, quint64 watch, QUrl url, CancellationToken stop)
{
    const LifeToken alive = m_life.token();
    try {
        co_await ReachabilityProbe::waitUntilServing(url, startLimit, stop, std::chrono::milliseconds(100));
    } catch (const CancelledError&) {
    }
    if (!alive || m_starting.value(site) != watch)
        co_return; // stopped, ended or replaced meanwhile
    m_starting.remove(site);
    Q_EMIT changed();
}

void LocalServer::ended(const QUuid& site, int generation, std::optional<QString> exitText)
{
    const auto own = m_own.constFind(site);
    if (own == m_own.constEnd() || own->generation != generation)
        return; // stopped already, or a newer server took its place
    const qint64 pid = own->pid;
    own->stop->cancel(); // its start watch has nothing left to wait for
    m_own.remove(site);
    m_starting.remove(site);
    if (pid > 0)
        m_registry.remove(pid);
    if (exitText)
        m_lastExit.insert(site, *exitText);
    Q_EMIT changed();
}

void LocalServer::stop(const QUuid& site)
{
    if (const auto own = m_own.constFind(site); own != m_own.constEnd()) {
        const Own server = *own;
        m_own.remove(site);
        m_starting.remove(site);
        if (server.pid > 0)
            m_registry.remove(server.pid);
        // SIGTERM to the whole group (`serve` and its `php -S` child) right now, not only through
        // the run's own thread, which may not get to it when the process is about to exit.
        if (server.pid > 0)
            ProcessProbe::terminateGroup(server.pid);
        server.stop->cancel();
        Q_EMIT changed();
        return;
    }
    if (const auto other = m_elsewhere.constFind(site); other != m_elsewhere.constEnd()) {
        const qint64 pid = other->pid;
        m_elsewhere.remove(site);
        m_starting.remove(site);
        m_registry.remove(pid);
        if (ServerRegistry::isServing(pid))
            ProcessProbe::terminateGroup(pid);
        Q_EMIT changed();
    }
}

void LocalServer::stopAll()
{
    const QList<QUuid> sites = m_own.keys();
    for (const QUuid& site : sites)
        stop(site);
}

std::optional<LocalServer::RunningServer> LocalServer::running(const QUuid& site) const
{
    if (const auto own = m_own.constFind(site); own != m_own.constEnd())
        return RunningServer{site, own->port, own->pid, true, m_starting.contains(site)};
    if (const auto other = m_elsewhere.constFind(site); other != m_elsewhere.constEnd())
        return RunningServer{site, other->port, other->pid, false, m_starting.contains(site)};
    return std::nullopt;
}

std::optional<QUrl> LocalServer::url(const QUuid& site) const
{
    const auto server = running(site);
    return server ? std::optional<QUrl>(server->url()) : std::nullopt;
}

QList<LocalServer::RunningServer> LocalServer::allRunning() const
{
    QList<RunningServer> list;
    for (auto it = m_own.cbegin(); it != m_own.cend(); ++it)
        list << RunningServer{it.key(), it->port, it->pid, true, m_starting.contains(it.key())};
    for (auto it = m_elsewhere.cbegin(); it != m_elsewhere.cend(); ++it)
        if (!m_own.contains(it.key()))
            list << RunningServer{it.key(), it->port, it->pid, false, m_starting.contains(it.key())};
    return list;
}

std::optional<QString> LocalServer::lastExit(const QUuid& site) const
{
    const auto it = m_lastExit.constFind(site);
    return it == m_lastExit.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

void LocalServer::refresh()
{
    QHash<QUuid, ServerRegistry::Entry> elsewhere;
    QSet<qint64> ownPids;
    for (const Own& own : std::as_const(m_own))
        ownPids.insert(own.pid);
    // A server of ours is in the registry before its pid reaches m_own (that news comes queued
    // from the reader thread), so a site served here is never counted as served elsewhere.
    for (const ServerRegistry::Entry& entry : m_registry.entries())
        if (!ownPids.contains(entry.pid) && !m_own.contains(entry.site) &&
            !m_startedHere->contains(entry.pid))
            elsewhere.insert(entry.site, entry);
    if (elsewhere != m_elsewhere) {
        // A server another process just started may not answer yet: it gets its time to come up.
        for (auto it = elsewhere.cbegin(); it != elsewhere.cend(); ++it)
            if (m_elsewhere.value(it.key()) != *it && !m_own.contains(it.key()))
                watchStart(it.key(), it->port, m_elsewhereWatches.token());
        for (auto it = m_elsewhere.cbegin(); it != m_elsewhere.cend(); ++it)
            if (!elsewhere.contains(it.key()) && !m_own.contains(it.key()))
                m_starting.remove(it.key());
        m_elsewhere = std::move(elsewhere);
        Q_EMIT changed();
    }
}

} // namespace halvik
