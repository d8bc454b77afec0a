#pragma once

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/cloning/CloneJob.h"
#include "services/cloning/CloneRequest.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

class AppServices;

// Site duplications as cancellable background jobs. A failed or cancelled clone is rolled
// back: the folder it created and the new site record go; the source is never touched. A job
// stays in `jobs` until a new clone of the same target replaces it. Main thread.
class SiteCloneCoordinator : public QObject
{
    Q_OBJECT
public:
    explicit SiteCloneCoordinator(AppServices& services, QObject* parent = nullptr);
    ~SiteCloneCoordinator() override;

    void start(CloneRequest request);
    void cancel(const QUuid& siteID);
    CloneJob* job(const QUuid& siteID) const;
    bool isCloning(const QUuid& siteID) const;
    QList<QUuid> runningSites() const { return m_tasks.keys(); }

Q_SIGNALS:
    void jobStarted(const QUuid& siteID);
    void jobFinished(const QUuid& siteID);

private:
    struct Task
    {
        quint64 generation = 0;
        std::shared_ptr<CancellationSource> cancel;
    };
    QCoro::Task<> run(CloneRequest request, std::shared_ptr<CloneJob> job, CancellationToken token,
                      quint64 generation);
    // Throws; sets `created` once the destination folder exists because of this clone.
    QCoro::Task<> clone(const CloneRequest& request, SitePtr site, std::shared_ptr<CloneJob> job,
                        CancellationToken token, std::shared_ptr<bool> created);
    QCoro::Task<> copyFolder(const CloneRequest& request, std::shared_ptr<CloneJob> job,
                             CancellationToken token);
    QCoro::Task<> rollback(const CloneRequest& request, SitePtr site, std::shared_ptr<CloneJob> job,
                           bool cancelled, QString error, bool created);
    void removeTask(const QUuid& siteID, quint64 generation);

    AppServices& m_services;
    QHash<QUuid, std::shared_ptr<CloneJob>> m_jobs;
    QHash<QUuid, Task> m_tasks;
    quint64 m_generation = 0;
    LifeGuard m_life;
};

} // namespace halvik
