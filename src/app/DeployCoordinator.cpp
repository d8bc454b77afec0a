#include "DeployCoordinator.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"
#include "models/SiteStore.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QCoroSignal>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QCoro::Task<> runToEnd(std::shared_ptr<ForgeDeployJob> job)
{
    // The frame keeps the job alive until its run returns, whoever else lets go of it.
    co_await job->run();
}

QCoro::Task<> runCloudToEnd(std::shared_ptr<CloudDeployJob> job)
{
    co_await job->run();
}

} // namespace

DeployCoordinator::DeployCoordinator(ForgeClient& forge, HostAccountService& hosts, GitService& git,
                                     SourceControlService& sourceControl, SiteStore& store,
                                     NotificationService& notifications, QObject* parent)
    : QObject(parent), m_forge(forge), m_hosts(hosts), m_git(git), m_sourceControl(sourceControl),
      m_store(store), m_notifications(notifications)
{
}

DeployCoordinator::~DeployCoordinator()
{
    m_life.end();
    stopAll();
}

ForgeDeployJob* DeployCoordinator::startForge(const SitePtr& site, ForgeDeployPlan plan)
{
    if (isDeploying(site->id()))
        throw HalvikError(s("This site is already deploying."));
    if (!plan.host)
        throw HalvikError(s("Connect Forge first."));
    const auto token = m_hosts.token(*plan.host);
    if (!token)
        throw HalvikError(s("Connect Forge first."));
    plan.token = *token;
    const bool redeploy = site->forgeServerId() && site->forgeSiteId();
    if (redeploy && (plan.serverName.isEmpty() || plan.domain.isEmpty())) {
        // A new deployment of the same Forge site carries the names of the last one.
        const QList<DeploymentPtr>& history = site->deployments();
        for (auto it = history.crbegin(); it != history.crend(); ++it) {
            const DeploymentPtr& earlier = *it;
            if (earlier->providerRaw().value_or(s("forge")) != QLatin1String("forge"))
                continue;
            if (plan.serverName.isEmpty())
                plan.serverName = earlier->serverName();
            if (plan.domain.isEmpty())
                plan.domain = earlier->siteName();
            break;
        }
    }
    ForgeDeployJob::Services services{m_forge, GitHubDeploySource(m_git, m_sourceControl), m_store,
                                      m_notifications};
    auto job = std::make_shared<ForgeDeployJob>(services, site, std::move(plan), m_forgeTiming);
    const QUuid id = site->id();
    m_jobs.insert(id, job);
    ForgeDeployJob* raw = job.get();
    connect(raw, &DeployJob::finished, this, [this, id] { Q_EMIT jobFinished(id); });
    Q_EMIT jobStarted(id);
    fireAndForget(this, runToEnd(job));
    return raw;
}

void DeployCoordinator::attachCloud(LaravelCloudClient& cloud, ComposerService* composer)
{
    m_cloud = &cloud;
    m_composer = composer;
}

CloudTokenRenewer DeployCoordinator::interactiveCloudRenewer(std::function<bool(const QUrl&)> open)
{
    return
        [this, open](HostAccountPtr host, CancellationToken cancel) -> QCoro::Task<std::optional<QString>> {
            QObject waiting;
            cancel.onCancelled(&waiting, [this] { Q_EMIT cloudSignInAnswered(false); });
            const bool signIn = co_await qCoro(this, &DeployCoordinator::cloudSignInAnswered);
            if (!signIn || cancel.isCancelled() || !m_cloud)
                co_return std::nullopt;
            CloudBrowserAuth::Options options;
            options.openBrowser = open;
            const QList<CloudSignIn> signIns = co_await CloudBrowserAuth::signIn(*m_cloud, options, cancel);
            for (const CloudSignIn& each : signIns)
                if (each.organization.compare(host->label(), Qt::CaseInsensitive) == 0)
                    co_return each.token;
            co_return signIns.first().token;
        };
}

CloudDeployJob* DeployCoordinator::startCloud(const SitePtr& site, CloudDeployPlan plan)
{
    if (isDeploying(site->id()))
        throw HalvikError(s("This site is already deploying."));
    if (!m_cloud || !plan.host)
        throw HalvikError(s("Connect Laravel Cloud first."));
    const auto token = m_hosts.token(*plan.host);
    if (!token)
        throw HalvikError(
            s(plan.redeploy ? "Connect a Laravel Cloud account first." : "Connect Laravel Cloud first."));
    plan.token = *token;
    if (plan.redeploy && (!site->cloudAppId() || !site->cloudEnvId()))
        plan.redeploy = false;
    if (plan.redeploy && plan.applicationName.isEmpty()) {
        // A new deployment of the same application carries its name from the start.
        const QList<DeploymentPtr>& history = site->deployments();
        for (auto it = history.crbegin(); it != history.crend(); ++it)
            if ((*it)->providerRaw() == toRaw(HostProviderKind::laravelCloud) &&
                !(*it)->siteName().isEmpty()) {
                plan.applicationName = (*it)->siteName();
                break;
            }
    }
    CloudDeployJob::Services services{
        *m_cloud,    GitHubDeploySource(m_git, m_sourceControl, s("Laravel Cloud")),
        m_store,     m_notifications,
        m_hosts,     m_composer,
        m_cloudRenew};
    auto job = std::make_shared<CloudDeployJob>(std::move(services), site, std::move(plan));
    const QUuid id = site->id();
    m_jobs.insert(id, job);
    CloudDeployJob* raw = job.get();
    connect(raw, &DeployJob::finished, this, [this, id] { Q_EMIT jobFinished(id); });
    Q_EMIT jobStarted(id);
    fireAndForget(this, runCloudToEnd(job));
    return raw;
}

DeployJob* DeployCoordinator::job(const QUuid& siteID) const
{
    const auto found = m_jobs.find(siteID);
    return found == m_jobs.end() ? nullptr : found.value().get();
}

bool DeployCoordinator::isDeploying(const QUuid& siteID) const
{
    const DeployJob* running = job(siteID);
    return running && !running->isFinished();
}

void DeployCoordinator::stop(const QUuid& siteID)
{
    if (DeployJob* running = job(siteID); running && !running->isFinished())
        running->stop();
}

void DeployCoordinator::stopAll()
{
    for (const auto& running : std::as_const(m_jobs))
        if (!running->isFinished())
            running->stop();
}

QCoro::Task<> DeployCoordinator::completeUnfinished(SitePtr site)
{
    const LifeToken alive = m_life.token();
    const DeployJob* running = job(site->id());
    QList<DeploymentPtr> open;
    for (const DeploymentPtr& deployment : site->deployments()) {
        if (!deployment->isRunning())
            continue;
        if (running && !running->isFinished() && running->deployment() == deployment)
            continue;
        open << deployment;
    }
    for (const DeploymentPtr& deployment : std::as_const(open)) {
        if (deployment->providerRaw().value_or(s("forge")) == QLatin1String("forge"))
            co_await completeForge(site, deployment);
        else if (deployment->providerRaw() == toRaw(HostProviderKind::laravelCloud))
            co_await completeCloud(site, deployment);
        if (!alive)
            co_return;
    }
}

QCoro::Task<> DeployCoordinator::completeForge(SitePtr site, DeploymentPtr deployment)
{
    const LifeToken alive = m_life.token();
    const auto server = site->forgeServerId();
    const auto forgeSite = site->forgeSiteId();
    const HostAccountPtr host = site->forgeHostId() ? m_hosts.account(*site->forgeHostId()) : nullptr;
    const auto token = host ? m_hosts.token(*host) : std::nullopt;
    if (!server || !forgeSite || !token)
        co_return;
    try {
        ForgeDeploymentStatus status;
        if (const auto id = deployment->forgeDeploymentId())
            status = co_await m_forge.deployment(*server, *forgeSite, *id, *token);
        else
            status = co_await m_forge.latestDeployment(*server, *forgeSite, *token);
        if (!alive || !status.id)
            co_return;
        deployment->setForgeDeploymentId(status.id);
        const QString output = co_await m_forge.deploymentOutput(*server, *forgeSite, *status.id, *token);
        if (!alive)
            co_return;
        deployment->setLog(DeployJob::composeLog(DeployJob::stepsOf(deployment->log()), output));
        deployment->setStatus(status.status);
        if (status.status == QLatin1String("finished") || status.status == QLatin1String("failed"))
            deployment->setFinishedAt(QDateTime::currentDateTimeUtc());
        m_store.save();
    } catch (const HalvikError&) {
        // Forge can't be asked now; the record stays open for the next look.
    }
}

QCoro::Task<> DeployCoordinator::completeCloud(SitePtr site, DeploymentPtr deployment)
{
    const LifeToken alive = m_life.token();
    const auto id = deployment->cloudDeploymentId();
    const HostAccountPtr host = site->cloudHostId() ? m_hosts.account(*site->cloudHostId()) : nullptr;
    const auto token = host ? m_hosts.token(*host) : std::nullopt;
    if (!m_cloud || !id || !token)
        co_return;
    try {
        const CloudDeployment current = co_await m_cloud->deployment(*id, *token);
        if (!alive)
            co_return;
        const QString& status = current.status;
        const bool succeeded = status == QLatin1String("deployment.succeeded");
        const bool failed = status == QLatin1String("deployment.failed") ||
                            status == QLatin1String("build.failed") || status == QLatin1String("failed") ||
                            status == QLatin1String("cancelled");
        deployment->setStatus(succeeded ? s("finished") : failed ? s("failed") : status);
        if (succeeded || failed) {
            const QString output = co_await m_cloud->deploymentLogs(*id, *token);
            if (!alive)
                co_return;
            deployment->setLog(DeployJob::composeLog(DeployJob::stepsOf(deployment->log()), output));
            deployment->setFinishedAt(QDateTime::currentDateTimeUtc());
        }
        m_store.save();
    } catch (const HalvikError&) {
        // Cloud can't be asked now; the record stays open for the next look.
    }
}

} // namespace halvik
