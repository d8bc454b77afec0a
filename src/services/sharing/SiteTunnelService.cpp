#include "SiteTunnelService.h"

#include "SharingError.h"
#include "SharingServer.h"

#include "services/OperationLogSink.h"
#include "services/ProcessRunner.h"
#include "services/ReachabilityProbe.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"

#include "async/FireAndForget.h"
#include "async/Sleep.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessProbe.h"
#include "platform/SleepInhibitor.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>

namespace halvik {

namespace {

const QString registeredLine = QStringLiteral("Registered tunnel connection");

} // namespace

// Everything one run of sharing holds, released as a whole on stop and on failure.
struct SiteTunnelService::Share
{
    int generation = 0;
    CancellationSource stop;
    // Cancelled once the tunnel is connected, or the run has failed.
    CancellationSource settled;
    std::unique_ptr<SharingServer> server;
    std::shared_ptr<CancellationSource> toolStop;
    std::shared_ptr<std::atomic<qint64>> toolPid = std::make_shared<std::atomic<qint64>>(0);
    QString tunnelDirectory;
    QString output;
    std::unique_ptr<SleepInhibitor> awake;
};

SiteTunnelService::SiteTunnelService(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                                     ViteDevServer& devServer, QObject* parent)
    : QObject(parent), m_runner(runner), m_runtime(runtime), m_herd(herd),
      m_preparation(runner, runtime, herd, devServer)
{
}

SiteTunnelService::~SiteTunnelService()
{
    m_life.end();
    stopAll();
}

std::optional<QString> SiteTunnelService::findExecutable() const
{
    if (const auto bundled = m_runtime.resourcePath(QStringLiteral("cloudflared"));
        bundled && QFileInfo(*bundled).isExecutable())
        return bundled;
    if (const QString onPath = QStandardPaths::findExecutable(QStringLiteral("cloudflared"));
        !onPath.isEmpty())
        return onPath;
    const QString local = QDir::homePath() + QStringLiteral("/.local/bin/cloudflared");
    if (QFileInfo(local).isExecutable())
        return local;
    return std::nullopt;
}

std::optional<QUrl> SiteTunnelService::findPublicAddress(const QString& output)
{
    static const QRegularExpression address(
        QStringLiteral(R"(https://[a-z0-9]+(?:-[a-z0-9]+)*\.trycloudflare\.com\b)"));
    const QRegularExpressionMatch match = address.match(output);
    return match.hasMatch() ? std::optional(QUrl(match.captured(0))) : std::nullopt;
}

bool SiteTunnelService::isCurrent(const QUuid& site, int generation) const
{
    const auto share = m_shares.constFind(site);
    return share != m_shares.constEnd() && (*share)->generation == generation;
}

void SiteTunnelService::setStatus(const QUuid& site, int generation, std::optional<QString> status)
{
    if (!isCurrent(site, generation))
        return;
    Session& session = m_sessions[site];
    session.status = std::move(status);
    if (session.status)
        appendLog(site, *session.status);
    Q_EMIT sessionChanged(site);
}

void SiteTunnelService::appendLog(const QUuid& site, const QString& lines)
{
    Session& session = m_sessions[site];
    if (!session.log.isEmpty())
        session.log += QLatin1Char('\n');
    session.log += lines;
}

QCoro::Task<> SiteTunnelService::start(SitePtr site)
{
    const QUuid id = site->id();
    if (m_shares.contains(id))
        stop(id);
    const int generation = ++m_generation;
    auto share = std::make_shared<Share>();
    share->generation = generation;
    m_shares.insert(id, share);
    m_sessions[id] = Session();
    m_sessions[id].active = true;
    setStatus(id, generation, QStringLiteral("Preparing site…"));
    const LifeToken alive = m_life.token();

    const std::optional<QString> executable = findExecutable();
    if (!executable) {
        fail(id, generation, SharingError::toolMissing().description());
        co_return;
    }
    if (!QFileInfo::exists(QDir(site->path()).filePath(QStringLiteral("public/index.php")))) {
        fail(id, generation, SharingError::missingEntryPoint().description());
        co_return;
    }

    QPointer<SiteTunnelService> self(this);
    const SharingPreparation::Lines status = [self, id, generation](const QString& line) {
        if (self)
            self->setStatus(id, generation, line);
    };
    const SharingPreparation::Lines log = [self, id, generation](const QString& lines) {
        if (self && self->isCurrent(id, generation)) {
            self->appendLog(id, lines);
            Q_EMIT self->sessionChanged(id);
        }
    };
    try {
        co_await m_preparation.prepare(site, status, log, share->stop.token());
    } catch (const CancelledError&) {
        co_return;
    } catch (const HalvikError& error) {
        if (alive)
            fail(id, generation, error.description());
        co_return;
    }
    if (!alive || !isCurrent(id, generation))
        co_return;

    setStatus(id, generation, QStringLiteral("Starting local site…"));
    const auto php = m_runtime.resolvePHP(*site, m_herd);
    if (!php) {
        fail(id, generation, RuntimeError::phpMissing().description());
        co_return;
    }
    QUrl origin;
    try {
        share->server = std::make_unique<SharingServer>(m_runner);
        origin = share->server->start(site->path(), php->path, [self, id, generation] {
            if (!self || !self->isCurrent(id, generation))
                return;
            const QStringList errors = self->m_shares.value(id)->server->lastErrorLines();
            self->fail(id, generation, SharingError::localServerExited().description());
            self->m_sessions[id].serverErrors = errors;
            Q_EMIT self->sessionChanged(id);
        });
    } catch (const HalvikError& error) {
        fail(id, generation, error.description());
        co_return;
    }
    m_sessions[id].origin = origin;
    Reachability answer;
    try {
        answer = co_await ReachabilityProbe::waitUntilServing(origin, originWait, share->stop.token(),
                                                              std::chrono::milliseconds(50));
    } catch (const CancelledError&) {
        co_return;
    }
    if (!alive || !isCurrent(id, generation))
        co_return;
    if (!answer.isServing()) {
        fail(id, generation, SharingError::siteDoesNotAnswer().description());
        co_return;
    }

    setStatus(id, generation, QStringLiteral("Connecting to Cloudflare…"));
    launchTunnel(id, generation, *executable, origin);
    try {
        co_await sleepFor(m_connectLimit, share->settled.token());
    } catch (const CancelledError&) {
        co_return; // connected, failed or stopped: the session says which
    }
    if (alive && isCurrent(id, generation))
        fail(id, generation, SharingError::tunnelTimeout().description());
}

void SiteTunnelService::launchTunnel(const QUuid& site, int generation, const QString& executable,
                                     const QUrl& origin)
{
    Share& share = *m_shares.value(site);
    share.tunnelDirectory = QDir::temp().filePath(
        QStringLiteral("Halvik-Tunnel-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QDir().mkpath(share.tunnelDirectory);
    const QString config = share.tunnelDirectory + QStringLiteral("/config.yml");
    writeFileAtomically(config, QByteArrayLiteral("{}\n"));

    ProcessRequest request;
    request.executable = executable;
    request.arguments = {QStringLiteral("tunnel"),
                         QStringLiteral("--config"),
                         config,
                         QStringLiteral("--no-autoupdate"),
                         QStringLiteral("--url"),
                         origin.toString(),
                         QStringLiteral("--loglevel"),
                         QStringLiteral("info"),
                         QStringLiteral("--grace-period"),
                         QStringLiteral("0s")};
    request.removedEnvironmentPrefixes = {QStringLiteral("TUNNEL_"), QStringLiteral("CLOUDFLARED_")};
    request.streamOnly = true;
    request.started = [pid = share.toolPid](qint64 started) { *pid = started; };
    share.toolStop = std::make_shared<CancellationSource>();
    fireAndForget(this, followTunnel(site, generation, std::move(request), share.toolStop));
}

QCoro::Task<> SiteTunnelService::followTunnel(QUuid site, int generation, ProcessRequest request,
                                              std::shared_ptr<CancellationSource> stop)
{
    const LifeToken alive = m_life.token();
    QPointer<SiteTunnelService> self(this);
    auto sink = OperationLogSink::create(this, [self, site, generation](const QString& batch, bool) {
        if (self)
            self->toolOutput(site, generation, batch);
    });
    const ProcessRunner::OutputCallback lines = [sink](const ProcessOutput& line) {
        sink->append(line.line);
    };
    try {
        co_await m_runner.run(std::move(request), lines, stop->token());
    } catch (const ProcessRunnerError&) {
    }
    if (!alive)
        co_return;
    sink->flush();
    if (!stop->isCancelled() && isCurrent(site, generation) && !isStopping(site))
        fail(site, generation, SharingError::toolExited().description());
}

void SiteTunnelService::toolOutput(const QUuid& site, int generation, const QString& lines)
{
    if (!isCurrent(site, generation))
        return;
    Share& share = *m_shares.value(site);
    appendLog(site, lines);
    Session& session = m_sessions[site];
    if (!session.url) {
        share.output += lines + QLatin1Char('\n');
        if (!session.assignedURL)
            session.assignedURL = findPublicAddress(share.output);
        if (session.assignedURL && share.output.contains(registeredLine)) {
            session.url = session.assignedURL;
            session.status.reset();
            share.output.clear();
            share.awake = std::make_unique<SleepInhibitor>(QStringLiteral("Sharing a site"));
            share.settled.cancel();
        }
    }
    Q_EMIT sessionChanged(site);
}

void SiteTunnelService::release(const QUuid& site)
{
    const std::shared_ptr<Share> share = m_shares.take(site);
    if (!share)
        return;
    share->stop.cancel();
    share->settled.cancel();
    if (share->server)
        share->server->stop();
    if (share->toolStop)
        share->toolStop->cancel();
    if (const qint64 pid = share->toolPid->exchange(0); pid > 0)
        ProcessProbe::terminateGroup(pid);
    if (!share->tunnelDirectory.isEmpty())
        QDir(share->tunnelDirectory).removeRecursively();
    share->awake.reset();
    share->server.reset();
}

void SiteTunnelService::fail(const QUuid& site, int generation, const QString& message)
{
    if (!isCurrent(site, generation))
        return;
    release(site);
    Session& session = m_sessions[site];
    session.error = message;
    session.status.reset();
    session.url.reset();
    session.active = false;
    appendLog(site, message);
    Q_EMIT sessionChanged(site);
}

void SiteTunnelService::stop(const QUuid& site)
{
    m_stopping.insert(site);
    release(site);
    m_stopping.remove(site);
    if (m_sessions.remove(site))
        Q_EMIT sessionChanged(site);
}

void SiteTunnelService::stopAll()
{
    const QList<QUuid> sites = m_shares.keys();
    for (const QUuid& site : sites)
        stop(site);
}

} // namespace halvik
