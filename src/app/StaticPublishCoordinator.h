#pragma once

#include "StaticPublishJob.h"

#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

// Static generate and publish runs, at most one per site. A run belongs to the coordinator,
// not to the screen or command that started it, and stays visible after it ends until
// clearFinishedJob or the site's next run. Main thread.
class StaticPublishCoordinator : public QObject
{
    Q_OBJECT
public:
    explicit StaticPublishCoordinator(StaticPublishJob::Services services, QObject* parent = nullptr);
    ~StaticPublishCoordinator() override;

    // Both throw a sentence while the site's run goes on.
    StaticPublishJob* generateOnly(const SitePtr& site);
    // Without a new site or an existing target, a site published before to the same provider
    // goes to its stored target, any other to a new site named after it.
    StaticPublishJob* publish(const SitePtr& site, StaticPublishRequest request);
    void cancel(const QUuid& siteID);
    void cancelAll();
    StaticPublishJob* job(const QUuid& siteID) const;
    bool isPublishing(const QUuid& siteID) const;
    void clearFinishedJob(const QUuid& siteID);

    // Fills in the target a request leaves open.
    static StaticPublishRequest withTarget(const Site& site, StaticPublishRequest request);

    void setNetlifyTiming(NetlifyPublisher::Timing timing) { m_services.netlifyTiming = timing; }

Q_SIGNALS:
    void jobStarted(const QUuid& siteID);
    void jobFinished(const QUuid& siteID);
    void jobCleared(const QUuid& siteID);

private:
    StaticPublishJob* start(const SitePtr& site, std::optional<StaticPublishRequest> request);

    StaticPublishJob::Services m_services;
    QHash<QUuid, std::shared_ptr<StaticPublishJob>> m_jobs;
};

} // namespace halvik
