#pragma once

#include "PackageUpdateJob.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

class ComposerService;
class NotificationService;
class SiteStore;

// Whole-site package updates: one per site at a time, different sites side by side. Each job
// stays in `jobs` after it ends, until a new update of the same site replaces it. Main thread.
class PackageUpdateCoordinator : public QObject
{
    Q_OBJECT
public:
    PackageUpdateCoordinator(ComposerService& composer, SiteStore& store, NotificationService& notifications,
                             QObject* parent = nullptr);
    ~PackageUpdateCoordinator() override;

    // Nothing happens while the site's update runs.
    void start(const SitePtr& site);
    void cancel(const QUuid& siteID);
    PackageUpdateJob* job(const QUuid& siteID) const;
    bool isUpdating(const QUuid& siteID) const;
    // Sites whose update task is still running.
    QList<QUuid> runningSites() const { return m_tasks.keys(); }

Q_SIGNALS:
    // A new job replaced the site's previous one.
    void jobStarted(const QUuid& siteID);
    void jobFinished(const QUuid& siteID);

private:
    struct Task
    {
        quint64 generation = 0;
        std::shared_ptr<CancellationSource> cancel;
    };
    QCoro::Task<> run(SitePtr site, std::shared_ptr<PackageUpdateJob> job, CancellationToken token,
                      quint64 generation);
    void markCancelled(PackageUpdateJob& job);
    void removeTask(const QUuid& siteID, quint64 generation);

    ComposerService& m_composer;
    SiteStore& m_store;
    NotificationService& m_notifications;
    QHash<QUuid, std::shared_ptr<PackageUpdateJob>> m_jobs;
    QHash<QUuid, Task> m_tasks;
    quint64 m_generation = 0;
    LifeGuard m_life;
};

} // namespace halvik
