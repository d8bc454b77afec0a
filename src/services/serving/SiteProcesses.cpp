#include "SiteProcesses.h"

#include "services/HerdService.h"
#include "services/ReachabilityProbe.h"
#include "services/composer/ComposerService.h"
#include "services/frontend/ViteDevServer.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"
#include "services/sharing/SiteTunnelService.h"

namespace halvik {

namespace {

QString serverDidNotStart(const std::optional<QString>& detail)
{
    if (detail && !detail->isEmpty())
        return QStringLiteral("Halvik’s local server didn’t start. ") + *detail;
    return QStringLiteral("Halvik’s local server didn’t start.");
}

} // namespace

SiteProcesses::SiteProcesses(ProcessRunner& runner, RuntimeManager& runtime, const HerdService& herd,
                             SaveFunction save, QObject* parent)
    : QObject(parent), m_runtime(runtime), m_herd(herd), m_save(std::move(save))
{
    m_localServer = std::make_unique<LocalServer>(runner);
    m_localServer->setSaveOperations(m_save);
    m_devServer = std::make_unique<ViteDevServer>(runner, runtime, &herd, m_save);
    m_tunnels = std::make_unique<SiteTunnelService>(runner, runtime, &herd, *m_devServer);
}

void SiteProcesses::watchOtherProcesses()
{
    m_localServer->watchOtherProcesses();
    m_devServer->watchOtherProcesses();
}

SiteProcesses::~SiteProcesses()
{
    m_life.end();
    stopAll();
}

std::optional<QString> SiteProcesses::startServer(const SitePtr& sitePtr)
{
    Site& site = *sitePtr;
    // Halvik's server runs artisan: a Composer project that is not a Laravel application has none.
    if (const auto noArtisan = ComposerService::artisanUnavailable(site))
        return noArtisan;
    const auto php = m_runtime.resolvePHP(site, &m_herd);
    if (!php)
        return RuntimeError::phpMissing().description();
    try {
        m_localServer->start(sitePtr, php->path);
    } catch (const HalvikError& error) {
        return error.description();
    }
    if (m_save)
        m_save();
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> SiteProcesses::waitForServer(QUuid site)
{
    const LifeToken alive = m_life.token();
    const std::optional<QUrl> url = m_localServer->url(site);
    // Stops waiting as soon as the server has ended: a server that died will not answer.
    CancellationSource gaveUp;
    const auto watch = connect(m_localServer.get(), &LocalServer::changed, this, [this, site, &gaveUp] {
        if (!m_localServer->isRunning(site))
            gaveUp.cancel();
    });
    Reachability answer;
    try {
        if (url)
            answer = co_await ReachabilityProbe::waitUntilServing(*url, m_serverWait, gaveUp.token(),
                                                                  std::chrono::milliseconds(50));
    } catch (const CancelledError&) {
    }
    if (!alive)
        co_return std::nullopt;
    disconnect(watch);
    if (url && answer.isServing())
        co_return std::nullopt;
    const std::optional<QString> detail = m_localServer->lastExit(site);
    m_localServer->stop(site);
    co_return serverDidNotStart(detail);
}

QCoro::Task<std::optional<QString>> SiteProcesses::serve(SitePtr site)
{
    if (auto error = startServer(site))
        co_return error;
    co_return co_await waitForServer(site->id());
}

void SiteProcesses::stopServer(const QUuid& site)
{
    // The share serves through its own server, but it shows the site this one serves.
    m_tunnels->stop(site);
    m_localServer->stop(site);
}

std::optional<QString> SiteProcesses::toggleServer(const SitePtr& site)
{
    if (m_localServer->isRunning(site->id())) {
        stopServer(site->id());
        return std::nullopt;
    }
    return startServer(site);
}

void SiteProcesses::stopSite(const QUuid& site)
{
    m_tunnels->stop(site);
    m_devServer->stop(site);
    m_localServer->stop(site);
}

void SiteProcesses::stopAll()
{
    m_tunnels->stopAll();
    m_localServer->stopAll();
    m_devServer->stopAll();
}

} // namespace halvik
