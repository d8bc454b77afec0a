#include "LocalServer.h"

#include "models/Site.h"
#include "services/ProcessRunner.h"

#include "platform/ProcessProbe.h"

#include "async/FireAndForget.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>

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
    const QString folder = QFileInfo(m_registry.filePath()).absolutePath();
    QDir().mkpath(folder);
    m_watcher.addPath(folder);
    m_settle.setSingleShot(true);
    m_settle.setInterval(100);
    connect(&m_settle, &QTimer::timeout, this, &LocalServer::refresh);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
    refresh();
}

LocalServer::~LocalServer()
{
    m_life.end();
    stopAll();
}

int LocalServer::freePort(std::optional<int> preferred, const QSet<int>& avoiding)
{
    const int first = preferred.value_or(4000);
    for (int port = first; port < first + 200 && port <= 65535; ++port) {
        if (avoiding.contains(port))
            continue;
        if (canBind(port))
            return port;
    }
    return first + 200;
}

void LocalServer::start(Site& site, const QString& php)
{
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
    request.started = [registry, id, port, path, self, generation](qint64 pid) {
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
    fireAndForget(this, serve(id, generation, std::move(request), stopSource));
    Q_EMIT changed();
}

QCoro::Task<> LocalServer::serve(QUuid site, int generation, ProcessRequest request,
                                 std::shared_ptr<CancellationSource> stop)
{
    const LifeToken alive = m_life.token();
    auto last = std::make_shared<LastLine>();
    const ProcessRunner::OutputCallback output = [last](const ProcessOutput& line) {
        if (line.isStdout() || line.line.trimmed().isEmpty())
            return;
        QMutexLocker lock(&last->mutex);
        last->line = line.line.trimmed();
    };
    std::optional<QString> exitText;
    try {
        const ProcessResult result = co_await m_runner.run(std::move(request), output, stop->token());
        QMutexLocker lock(&last->mutex);
        exitText = last->line.isEmpty()
                       ? QStringLiteral("php artisan serve exited with status %1.").arg(result.exitCode)
                       : last->line;
    } catch (const ProcessRunnerError& error) {
        if (!error.isCancelled())
            exitText = error.description();
    }
    if (!alive)
        co_return;
    ended(site, generation, exitText);
}

void LocalServer::ended(const QUuid& site, int generation, std::optional<QString> exitText)
{
    const auto own = m_own.constFind(site);
    if (own == m_own.constEnd() || own->generation != generation)
        return; // stopped already, or a newer server took its place
    const qint64 pid = own->pid;
    // Stopped from another Halvik process: its entry is gone, and that is not a failure.
    const bool stoppedElsewhere = pid > 0 && !m_registry.records(pid);
    m_own.remove(site);
    if (pid > 0)
        m_registry.remove(pid);
    if (exitText && !stoppedElsewhere)
        m_lastExit.insert(site, *exitText);
    Q_EMIT changed();
}

void LocalServer::stop(const QUuid& site)
{
    if (const auto own = m_own.constFind(site); own != m_own.constEnd()) {
        const Own server = *own;
        m_own.remove(site);
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
        return RunningServer{site, own->port, own->pid, true};
    if (const auto other = m_elsewhere.constFind(site); other != m_elsewhere.constEnd())
        return RunningServer{site, other->port, other->pid, false};
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
        list << RunningServer{it.key(), it->port, it->pid, true};
    for (auto it = m_elsewhere.cbegin(); it != m_elsewhere.cend(); ++it)
        if (!m_own.contains(it.key()))
            list << RunningServer{it.key(), it->port, it->pid, false};
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
    for (const ServerRegistry::Entry& entry : m_registry.entries())
        if (!ownPids.contains(entry.pid))
            elsewhere.insert(entry.site, entry);
    if (elsewhere != m_elsewhere) {
        m_elsewhere = std::move(elsewhere);
        Q_EMIT changed();
    }
}

} // namespace halvik
