#include "ViteDevServer.h"

#include "NpmCommands.h"
#include "ViteDevServerError.h"

#include "services/LoggedOperation.h"
#include "services/OperationLogSink.h"
#include "services/ProcessRunner.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/RegistryFile.h"

#include "async/FireAndForget.h"
#include "platform/ProcessProbe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

namespace halvik {

ViteDevServer::ViteDevServer(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                             SaveFunction save, DevServerRegistry registry, QObject* parent)
    : QObject(parent), m_runner(runner), m_runtime(runtime), m_herd(herd), m_save(std::move(save)),
      m_registry(std::move(registry))
{
    QDir().mkpath(QFileInfo(m_registry.filePath()).absolutePath());
    m_settle.setSingleShot(true);
    m_settle.setInterval(100);
    connect(&m_settle, &QTimer::timeout, this, &ViteDevServer::refresh);
    refresh();
}

void ViteDevServer::watchOtherProcesses()
{
    if (m_watcher)
        return;
    m_watcher = watchRegistryFolder(m_registry.filePath(), m_settle);
    refresh();
}

ViteDevServer::~ViteDevServer()
{
    m_life.end();
    stopAll();
}

ViteDevSession ViteDevServer::session(const QUuid& site) const
{
    ViteDevSession session = m_sessions.value(site);
    if (m_runs.contains(site))
        return session;
    if (const auto other = m_elsewhere.constFind(site); other != m_elsewhere.constEnd()) {
        session.phase = other->url ? ViteDevServerPhase::running : ViteDevServerPhase::starting;
        session.failure.clear();
        session.url = other->url;
        session.pid = other->pid;
        session.elsewhere = true;
    }
    return session;
}

bool ViteDevServer::isCurrent(const QUuid& site, int generation) const
{
    const auto run = m_runs.constFind(site);
    return run != m_runs.constEnd() && run->generation == generation;
}

void ViteDevServer::setPhase(const QUuid& site, ViteDevServerPhase phase, QString failure)
{
    ViteDevSession& session = m_sessions[site];
    session.phase = phase;
    session.failure = std::move(failure);
    if (phase != ViteDevServerPhase::running)
        session.url.reset();
    Q_EMIT sessionChanged(site);
}

void ViteDevServer::appendLog(const QUuid& site, const QString& lines)
{
    ViteDevSession& session = m_sessions[site];
    if (!session.log.isEmpty())
        session.log += QLatin1Char('\n');
    session.log += lines;
    Q_EMIT logAppended(site, lines);
}

ViteDevServer::Prepared ViteDevServer::prepare(const Site& site) const
{
    const std::optional<FrontendProject::Info> info = FrontendProject::inspect(site.path());
    if (!info || !info->devScriptName)
        throw ViteDevServerError::noDevScript();
    const std::optional<NodeRuntime::Toolchain> node = NodeRuntime(m_runtime.roots()).resolve();
    if (!node)
        throw ViteDevServerError::nodeMissing();
    const auto php = m_runtime.resolvePHP(site, m_herd);
    const QStringList php_entries = m_runtime.processPathEntries(php ? php->path : QString(), m_herd);
    return Prepared{*info, *node, NpmCommands::pathFor(*node, php_entries)};
}

QCoro::Task<> ViteDevServer::start(SitePtr site)
{
    const QUuid id = site->id();
    refresh();
    if (m_runs.contains(id) || m_elsewhere.contains(id))
        throw ViteDevServerError::alreadyRunning();
    Prepared prepared;
    try {
        prepared = prepare(*site);
    } catch (const ViteDevServerError& error) {
        m_sessions[id].log.clear();
        setPhase(id, ViteDevServerPhase::failed, error.description());
        throw;
    }
    const int generation = ++m_generation;
    m_runs.insert(id, Run{generation, 0, site->path(), std::make_shared<CancellationSource>(), nullptr});
    m_sessions[id] = ViteDevSession();
    const LifeToken alive = m_life.token();
    if (!prepared.info.nodeModulesPresent) {
        const CancellationToken token = m_runs[id].stop->token();
        try {
            co_await installDependencies(site, prepared, generation, token);
        } catch (const CancelledError&) {
            co_return;
        } catch (const ProcessRunnerError& error) {
            if (error.isCancelled())
                co_return;
            if (alive && isCurrent(id, generation)) {
                m_runs.remove(id);
                setPhase(id, ViteDevServerPhase::failed, error.description());
            }
            throw ViteDevServerError::installFailed(error.description());
        } catch (const ViteDevServerError& error) {
            if (alive && isCurrent(id, generation)) {
                m_runs.remove(id);
                setPhase(id, ViteDevServerPhase::failed, error.description());
            }
            throw;
        }
        if (!alive || !isCurrent(id, generation))
            co_return;
    }
    launch(site, prepared, generation);
}

QCoro::Task<> ViteDevServer::installDependenciesOnly(SitePtr site)
{
    const std::optional<NodeRuntime::Toolchain> node = NodeRuntime(m_runtime.roots()).resolve();
    if (!node)
        throw ViteDevServerError::nodeMissing();
    const auto php = m_runtime.resolvePHP(*site, m_herd);
    Prepared prepared{
        FrontendProject::inspect(site->path()).value_or(FrontendProject::Info()), *node,
        NpmCommands::pathFor(*node, m_runtime.processPathEntries(php ? php->path : QString(), m_herd))};
    const CancellationToken never;
    co_await installDependencies(site, std::move(prepared), 0, never);
}

QCoro::Task<> ViteDevServer::installDependencies(SitePtr site, Prepared prepared, int generation,
                                                 CancellationToken token)
{
    const QUuid id = site->id();
    const LifeToken alive = m_life.token();
    if (generation)
        setPhase(id, ViteDevServerPhase::installingDependencies);
    LoggedOperationRequest request;
    request.process = NpmCommands::install(site->path(), prepared.node, prepared.path);
    request.command = QStringLiteral("npm ") + request.process.arguments.join(QLatin1Char(' '));
    request.kind = OperationKind::shell;
    request.token = token;
    request.tidy = FrontendProject::withoutTerminalCodes;
    appendLog(id, QStringLiteral("$ ") + request.command);
    QPointer<ViteDevServer> self(this);
    auto sink = OperationLogSink::create(this, [self, id](const QString& batch, bool) {
        if (self)
            self->appendLog(id, batch);
    });
    request.lines = [sink](const ProcessOutput& line) { sink->append(line.line); };
    const LoggedOperationResult done =
        co_await runLoggedOperation(m_runner, site, std::move(request), m_save);
    if (!alive)
        co_return;
    sink->flush();
    if (done.result.exitCode != 0)
        throw ViteDevServerError::installFailed(
            QStringLiteral("npm install failed (exit code %1). See the log for details.")
                .arg(done.result.exitCode));
    appendLog(id, QStringLiteral("Dependencies installed."));
}

void ViteDevServer::launch(const SitePtr& site, const Prepared& prepared, int generation)
{
    const QUuid id = site->id();
    Run& run = m_runs[id];
    const QMap<QString, QString> devEnvironment{{QStringLiteral("FORCE_COLOR"), QStringLiteral("1")}};
    ProcessRequest request = NpmCommands::runScript(site->path(), prepared.node, prepared.path,
                                                    *prepared.info.devScriptName, devEnvironment);
    request.streamOnly = true;
    const QString command = QStringLiteral("npm run ") + *prepared.info.devScriptName;
    setPhase(id, ViteDevServerPhase::starting);
    appendLog(id, QStringLiteral("$ ") + command);

    const DevServerRegistry registry = m_registry;
    const QString folder = site->path();
    QPointer<ViteDevServer> self(this);
    request.started = [registry, id, folder, self, generation](qint64 pid) {
        registry.add({id, pid, folder, std::nullopt});
        QMetaObject::invokeMethod(
            self.data(),
            [self, id, generation, pid] {
                if (self && self->isCurrent(id, generation)) {
                    self->m_runs[id].pid = pid;
                    self->m_sessions[id].pid = pid;
                }
            },
            Qt::QueuedConnection);
    };

    run.hotPoller = std::make_shared<QTimer>();
    run.hotPoller->setInterval(hotFileInterval);
    connect(run.hotPoller.get(), &QTimer::timeout, this, [this, id, generation, folder] {
        if (const auto url = FrontendProject::readHotFileURL(folder))
            markRunning(id, generation, *url);
    });
    run.hotPoller->start();
    fireAndForget(this, follow(site, generation, std::move(request), command, run.stop));
}

QCoro::Task<> ViteDevServer::follow(SitePtr site, int generation, ProcessRequest request, QString command,
                                    std::shared_ptr<CancellationSource> stop)
{
    const QUuid id = site->id();
    const LifeToken alive = m_life.token();
    QPointer<ViteDevServer> self(this);
    auto sink = OperationLogSink::create(this, [self, id, generation](const QString& batch, bool) {
        if (!self || !self->isCurrent(id, generation))
            return;
        self->appendLog(id, batch);
        if (self->m_sessions.value(id).phase == ViteDevServerPhase::starting)
            if (const auto url = FrontendProject::parseDevServerURL(batch))
                self->markRunning(id, generation, *url);
    });
    LoggedOperationRequest logged;
    logged.process = std::move(request);
    logged.command = command;
    logged.kind = OperationKind::serve;
    logged.token = stop->token();
    logged.tidy = FrontendProject::withoutTerminalCodes;
    logged.lines = [sink](const ProcessOutput& line) { sink->append(line.line); };
    std::optional<int> exitCode;
    std::optional<QString> error;
    try {
        const LoggedOperationResult done =
            co_await runLoggedOperation(m_runner, site, std::move(logged), m_save);
        exitCode = done.result.exitCode;
    } catch (const ProcessRunnerError& failure) {
        if (!failure.isCancelled())
            error = ViteDevServerError::startFailed(failure.description()).description();
    }
    if (!alive)
        co_return;
    sink->flush();
    ended(id, generation, exitCode, error);
}

void ViteDevServer::markRunning(const QUuid& site, int generation, const QUrl& url)
{
    if (!isCurrent(site, generation) || m_sessions.value(site).phase != ViteDevServerPhase::starting)
        return;
    Run& run = m_runs[site];
    if (run.hotPoller)
        run.hotPoller->stop();
    ViteDevSession& session = m_sessions[site];
    session.phase = ViteDevServerPhase::running;
    session.url = url;
    if (run.pid > 0)
        m_registry.add({site, run.pid, run.folder, url});
    Q_EMIT sessionChanged(site);
}

void ViteDevServer::ended(const QUuid& site, int generation, std::optional<int> exitCode,
                          std::optional<QString> error)
{
    if (!isCurrent(site, generation))
        return; // stopped here already, or replaced by a newer run
    const Run run = m_runs.take(site);
    // Stopped by another Halvik process: it took the entry away first, and that is no failure.
    const bool stoppedElsewhere = run.pid > 0 && !error && !m_registry.records(run.pid);
    if (run.pid > 0)
        m_registry.remove(run.pid);
    if (run.pid > 0 && ProcessProbe::groupExists(run.pid))
        endGroup(run.pid);
    removeHotFile(run.folder);
    if (stoppedElsewhere)
        setPhase(site, ViteDevServerPhase::idle);
    else if (error)
        setPhase(site, ViteDevServerPhase::failed, *error);
    else
        setPhase(site, ViteDevServerPhase::failed,
                 QStringLiteral("Asset dev server exited with code %1").arg(exitCode.value_or(-1)));
}

void ViteDevServer::removeHotFile(const QString& folder)
{
    // Left behind, it would send the site's pages to a dev server that no longer runs.
    QFile::remove(QDir(folder).filePath(QStringLiteral("public/hot")));
}

void ViteDevServer::endGroup(qint64 pgid)
{
    ProcessProbe::terminateGroup(pgid);
    m_endingGroups.insert(pgid);
    // Whatever ignores the first signal is killed once the grace has passed.
    QTimer::singleShot(m_stopGrace, [pgid] {
        if (ProcessProbe::groupExists(pgid))
            ProcessProbe::killGroup(pgid);
    });
}

void ViteDevServer::stop(const QUuid& site)
{
    if (m_runs.contains(site)) {
        const Run run = m_runs.take(site);
        if (run.hotPoller)
            run.hotPoller->stop();
        if (run.pid > 0) {
            m_registry.remove(run.pid);
            endGroup(run.pid);
        }
        run.stop->cancel();
        removeHotFile(run.folder);
        setPhase(site, ViteDevServerPhase::idle);
        return;
    }
    if (const auto other = m_elsewhere.constFind(site); other != m_elsewhere.constEnd()) {
        const DevServerRegistry::Entry entry = *other;
        m_elsewhere.remove(site);
        m_registry.remove(entry.pid);
        if (DevServerRegistry::isRunning(entry.pid))
            endGroup(entry.pid);
        removeHotFile(entry.path);
        setPhase(site, ViteDevServerPhase::idle);
    }
}

void ViteDevServer::stopAll()
{
    const QList<QUuid> sites = m_runs.keys();
    for (const QUuid& site : sites)
        stop(site);
    const QList<qint64> groups = m_endingGroups.values();
    m_endingGroups.clear();
    // At quit nothing is left to run the grace timers: wait here, briefly, then kill the rest.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < m_stopGrace.count() &&
           std::any_of(groups.cbegin(), groups.cend(), ProcessProbe::groupExists))
        QThread::msleep(20);
    QList<qint64> killed;
    for (const qint64 group : std::as_const(groups))
        if (ProcessProbe::groupExists(group) && ProcessProbe::killGroup(group))
            killed << group;
    // A killed process is gone only once it has been scheduled to die, which on a busy machine
    // takes a moment: quitting waits for that, briefly.
    clock.restart();
    while (!killed.isEmpty() && clock.elapsed() < 500 &&
           std::any_of(killed.cbegin(), killed.cend(), ProcessProbe::groupExists))
        QThread::msleep(5);
}

void ViteDevServer::refresh()
{
    QHash<QUuid, DevServerRegistry::Entry> elsewhere;
    QSet<qint64> ownPids;
    for (const Run& run : std::as_const(m_runs))
        ownPids.insert(run.pid);
    for (const DevServerRegistry::Entry& entry : m_registry.entries())
        if (!ownPids.contains(entry.pid) && !m_runs.contains(entry.site))
            elsewhere.insert(entry.site, entry);
    QSet<QUuid> moved;
    for (auto it = elsewhere.cbegin(); it != elsewhere.cend(); ++it)
        if (m_elsewhere.value(it.key()) != *it)
            moved.insert(it.key());
    for (auto it = m_elsewhere.cbegin(); it != m_elsewhere.cend(); ++it)
        if (!elsewhere.contains(it.key()))
            moved.insert(it.key());
    m_elsewhere = std::move(elsewhere);
    for (const QUuid& site : std::as_const(moved)) {
        if (!m_elsewhere.contains(site) && !m_runs.contains(site))
            m_sessions[site].phase = ViteDevServerPhase::idle;
        Q_EMIT sessionChanged(site);
    }
}

} // namespace halvik
