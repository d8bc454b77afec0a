#include "PackageUpdateCoordinator.h"

#include "NotificationService.h"

#include "async/FireAndForget.h"

#include "models/SiteStore.h"
#include "services/OperationLogSink.h"
#include "services/composer/ComposerService.h"
#include <QCoroSignal>

namespace halvik {

namespace {

const QString cancelledLine = QStringLiteral("Update cancelled.");

} // namespace

PackageUpdateCoordinator::PackageUpdateCoordinator(ComposerService& composer, SiteStore& store,
                                                   NotificationService& notifications, QObject* parent)
    : QObject(parent), m_composer(composer), m_store(store), m_notifications(notifications)
{
}

PackageUpdateCoordinator::~PackageUpdateCoordinator()
{
    m_life.end();
    for (const Task& task : std::as_const(m_tasks))
        task.cancel->cancel();
    // A run waiting for its job's backlog resumes now and finds the coordinator gone.
    for (const auto& job : std::as_const(m_jobs))
        job->drainBacklog();
}

PackageUpdateJob* PackageUpdateCoordinator::job(const QUuid& siteID) const
{
    const auto it = m_jobs.constFind(siteID);
    return it == m_jobs.cend() ? nullptr : it->get();
}

bool PackageUpdateCoordinator::isUpdating(const QUuid& siteID) const
{
    const PackageUpdateJob* current = job(siteID);
    return current && !current->isFinished();
}

void PackageUpdateCoordinator::start(const SitePtr& site)
{
    if (!site || isUpdating(site->id()))
        return;
    const QUuid id = site->id();
    auto job = std::make_shared<PackageUpdateJob>(id);
    m_jobs.insert(id, job);
    if (const auto old = m_tasks.constFind(id); old != m_tasks.cend())
        old->cancel->cancel();
    Task task{++m_generation, std::make_shared<CancellationSource>()};
    m_tasks.insert(id, task);
    Q_EMIT jobStarted(id);
    fireAndForget(this, run(site, job, task.cancel->token(), task.generation));
}

void PackageUpdateCoordinator::cancel(const QUuid& siteID)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend()) {
        task->cancel->cancel();
        m_tasks.erase(task);
    }
    if (PackageUpdateJob* current = job(siteID); current && !current->isFinished()) {
        markCancelled(*current);
        Q_EMIT jobFinished(siteID);
    }
}

void PackageUpdateCoordinator::markCancelled(PackageUpdateJob& job)
{
    job.appendLine(cancelledLine);
    job.finish(false, QStringLiteral("Cancelled"));
}

void PackageUpdateCoordinator::removeTask(const QUuid& siteID, quint64 generation)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend() && task->generation == generation)
        m_tasks.erase(task);
}

QCoro::Task<> PackageUpdateCoordinator::run(SitePtr site, std::shared_ptr<PackageUpdateJob> job,
                                            CancellationToken token, quint64 generation)
{
    const LifeToken alive = m_life.token();
    const QUuid id = site->id();
    job->appendLine(QStringLiteral("$ composer update -W --no-interaction"));

    // Lines arrive on the runner's thread and reach the job in batches, on the main thread.
    auto sink =
        OperationLogSink::create(job.get(), [job](const QString& batch, bool) { job->enqueueLines(batch); });
    const ComposerService::OutputCallback forward = [sink](const ProcessOutput& out) {
        sink->append(out.line);
    };

    enum class Outcome
    {
        succeeded,
        cancelled,
        failed
    };
    Outcome outcome = Outcome::succeeded;
    QString error;
    if (token.isCancelled()) {
        outcome = Outcome::cancelled;
    } else {
        try {
            const QStringList args{QStringLiteral("update"), QStringLiteral("-W"),
                                   QStringLiteral("--no-interaction"), QStringLiteral("--no-ansi")};
            co_await m_composer.run(site, args, OperationKind::composer, std::nullopt, forward, token);
            if (token.isCancelled())
                outcome = Outcome::cancelled;
        } catch (const CancelledError&) {
            outcome = Outcome::cancelled;
        } catch (const HalvikError& failure) {
            outcome = token.isCancelled() ? Outcome::cancelled : Outcome::failed;
            error = failure.description();
        } catch (const std::exception& failure) {
            outcome = token.isCancelled() ? Outcome::cancelled : Outcome::failed;
            error = QString::fromUtf8(failure.what());
        }
    }
    sink->flush();
    // Whatever Composer printed is in the log before the outcome is.
    if (job->hasBacklog() && !job->isFinished())
        co_await qCoro(job.get(), &PackageUpdateJob::drained);
    if (!alive)
        co_return;
    removeTask(id, generation);
    if (job->isFinished()) // cancelled from outside while Composer was stopping
        co_return;

    switch (outcome) {
    case Outcome::succeeded:
        job->appendLine(QStringLiteral("Done."));
        job->finish(true);
        m_store.save();
        m_notifications.finished(QStringLiteral("Packages updated"), site->displayName(), true);
        break;
    case Outcome::cancelled:
        markCancelled(*job);
        break;
    case Outcome::failed:
        job->appendLine(error);
        job->finish(false, error);
        m_notifications.finished(QStringLiteral("Update failed"), site->displayName(), false);
        break;
    }
    Q_EMIT jobFinished(id);
}

} // namespace halvik
