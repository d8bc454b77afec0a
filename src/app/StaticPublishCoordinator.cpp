#include "StaticPublishCoordinator.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"

namespace halvik {

namespace {

QCoro::Task<> runToEnd(std::shared_ptr<StaticPublishJob> job)
{
    // The frame keeps the job alive until its run returns, whoever else lets go of it.
    co_await job->run();
}

} // namespace

StaticPublishCoordinator::StaticPublishCoordinator(StaticPublishJob::Services services, QObject* parent)
    : QObject(parent), m_services(services)
{
}

StaticPublishCoordinator::~StaticPublishCoordinator()
{
    cancelAll();
}

StaticPublishRequest StaticPublishCoordinator::withTarget(const Site& site, StaticPublishRequest request)
{
    if (request.createNewSite || (request.existingSiteID && !request.existingSiteID->isEmpty()))
        return request;
    const QString provider = request.host ? request.host->providerRaw() : QString();
    if (site.staticHostKind() == provider && site.staticHostSiteId() && !site.staticHostSiteId()->isEmpty()) {
        request.existingSiteID = site.staticHostSiteId();
        return request;
    }
    request.createNewSite = true;
    if (request.siteName.trimmed().isEmpty())
        request.siteName = site.displayName();
    return request;
}

StaticPublishJob* StaticPublishCoordinator::generateOnly(const SitePtr& site)
{
    return start(site, std::nullopt);
}

StaticPublishJob* StaticPublishCoordinator::publish(const SitePtr& site, StaticPublishRequest request)
{
    return start(site, withTarget(*site, std::move(request)));
}

StaticPublishJob* StaticPublishCoordinator::start(const SitePtr& site,
                                                  std::optional<StaticPublishRequest> request)
{
    if (isPublishing(site->id()))
        throw HalvikError(QStringLiteral("A static build or publish of this site is already running."));
    auto job = std::make_shared<StaticPublishJob>(m_services, site, std::move(request));
    const QUuid id = site->id();
    m_jobs.insert(id, job);
    connect(job.get(), &StaticPublishJob::finished, this, [this, id] { Q_EMIT jobFinished(id); });
    Q_EMIT jobStarted(id);
    fireAndForget(this, runToEnd(job));
    return job.get();
}

void StaticPublishCoordinator::cancel(const QUuid& siteID)
{
    if (StaticPublishJob* running = job(siteID))
        running->cancel();
}

void StaticPublishCoordinator::cancelAll()
{
    for (const auto& running : std::as_const(m_jobs))
        running->cancel();
}

StaticPublishJob* StaticPublishCoordinator::job(const QUuid& siteID) const
{
    const auto found = m_jobs.find(siteID);
    return found == m_jobs.end() ? nullptr : found.value().get();
}

bool StaticPublishCoordinator::isPublishing(const QUuid& siteID) const
{
    const StaticPublishJob* running = job(siteID);
    return running && !running->isFinished();
}

void StaticPublishCoordinator::clearFinishedJob(const QUuid& siteID)
{
    if (const StaticPublishJob* finished = job(siteID); finished && finished->isFinished()) {
        m_jobs.remove(siteID);
        Q_EMIT jobCleared(siteID);
    }
}

} // namespace halvik
