#pragma once

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/OperationLogSink.h"
#include "services/composer/ComposerService.h"
#include "services/newsite/InstallJob.h"
#include "services/newsite/InstallRequest.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

class AppServices;

// New-site installations as cancellable background jobs, one per site at a time. A job stays
// in `jobs` after it ends until a new install of the same site replaces it. Nothing is rolled
// back on failure: the folder and the site stay for the person to inspect. Main thread.
class InstallCoordinator : public QObject
{
    Q_OBJECT
public:
    explicit InstallCoordinator(AppServices& services, QObject* parent = nullptr);
    ~InstallCoordinator() override;

    // Cancels any install of the same site, then starts this one.
    void start(InstallRequest request);
    void cancel(const QUuid& siteID);
    InstallJob* job(const QUuid& siteID) const;
    bool isInstalling(const QUuid& siteID) const;
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
    QCoro::Task<> run(InstallRequest request, std::shared_ptr<InstallJob> job, CancellationToken token,
                      quint64 generation);
    // The steps; throws on failure and cancellation.
    QCoro::Task<> install(const InstallRequest& request, SitePtr site, std::shared_ptr<InstallJob> job,
                          CancellationToken token);
    QCoro::Task<> configure(const InstallRequest& request, SitePtr site, std::shared_ptr<InstallJob> job,
                            CancellationToken token);
    QCoro::Task<> serveAndCommit(const InstallRequest& request, SitePtr site, std::shared_ptr<InstallJob> job,
                                 CancellationToken token);
    // Lines of one command, into the job's log (and its progress while Composer runs in `step`).
    struct CommandOutput
    {
        std::shared_ptr<OperationLogSink> sink;
        ComposerService::OutputCallback callback;
    };
    static CommandOutput output(const std::shared_ptr<InstallJob>& job, std::optional<InstallStep> step,
                                QString mask = {});
    void writeApplicationURL(const InstallRequest& request, Site& site);
    void finishCancelled(InstallJob& job);
    void removeTask(const QUuid& siteID, quint64 generation);

    AppServices& m_services;
    QHash<QUuid, std::shared_ptr<InstallJob>> m_jobs;
    QHash<QUuid, Task> m_tasks;
    quint64 m_generation = 0;
    LifeGuard m_life;
};

} // namespace halvik
