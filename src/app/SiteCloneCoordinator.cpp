#include "SiteCloneCoordinator.h"

#include "services/appearance/SiteAppearances.h"

#include "AppServices.h"
#include "NotificationService.h"

#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/cloning/FolderCopier.h"
#include "services/cloning/SiteCloneError.h"
#include "services/composer/ComposerService.h"
#include "services/git/GitService.h"
#include "services/newsite/SiteAddress.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

namespace halvik {

namespace {

const ComposerService::Environment noEnvironment;

QString engineName(const HerdService& herd)
{
    return herd.engine() == LocalDevEngine::valet ? QStringLiteral("Valet") : QStringLiteral("Herd");
}

} // namespace

SiteCloneCoordinator::SiteCloneCoordinator(AppServices& services, QObject* parent)
    : QObject(parent), m_services(services)
{
}

SiteCloneCoordinator::~SiteCloneCoordinator()
{
    m_life.end();
    for (const Task& task : std::as_const(m_tasks))
        task.cancel->cancel();
}

CloneJob* SiteCloneCoordinator::job(const QUuid& siteID) const
{
    const auto it = m_jobs.constFind(siteID);
    return it == m_jobs.cend() ? nullptr : it->get();
}

bool SiteCloneCoordinator::isCloning(const QUuid& siteID) const
{
    const CloneJob* current = job(siteID);
    return current && !current->isFinished();
}

void SiteCloneCoordinator::start(CloneRequest request)
{
    const QUuid id = request.targetSiteID;
    if (const auto old = m_tasks.constFind(id); old != m_tasks.cend())
        old->cancel->cancel();
    const SitePtr target = m_services.store().site(id);
    auto job = std::make_shared<CloneJob>(id, target ? target->displayName() : request.slug);
    m_jobs.insert(id, job);
    Task task{++m_generation, std::make_shared<CancellationSource>()};
    m_tasks.insert(id, task);
    Q_EMIT jobStarted(id);
    fireAndForget(this, run(std::move(request), job, task.cancel->token(), task.generation));
}

void SiteCloneCoordinator::cancel(const QUuid& siteID)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend())
        task->cancel->cancel();
}

void SiteCloneCoordinator::removeTask(const QUuid& siteID, quint64 generation)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend() && task->generation == generation)
        m_tasks.erase(task);
}

QCoro::Task<> SiteCloneCoordinator::run(CloneRequest request, std::shared_ptr<CloneJob> job,
                                        CancellationToken token, quint64 generation)
{
    const LifeToken alive = m_life.token();
    const QUuid id = request.targetSiteID;
    const SitePtr site = m_services.store().site(id);
    auto created = std::make_shared<bool>(false);
    bool cancelled = false;
    std::optional<QString> failure;
    try {
        if (!site)
            throw HalvikError(QStringLiteral("Site missing from store"));
        co_await clone(request, site, job, token, created);
    } catch (const CancelledError&) {
        cancelled = true;
    } catch (const HalvikError& error) {
        failure = error.description();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return;
    if (failure && token.isCancelled())
        cancelled = true;
    if (cancelled || failure) {
        co_await rollback(request, site, job, cancelled, failure.value_or(QString()), *created);
        if (!alive)
            co_return;
    } else {
        job->appendLine(QStringLiteral("Clone complete."));
        job->finish(true);
        m_services.store().save();
        m_services.notifications().finished(QStringLiteral("Site cloned"),
                                            job->siteName() + QStringLiteral(" is ready."), true);
        m_services.refreshSiteAppearance(site, true);
    }
    removeTask(id, generation);
    Q_EMIT jobFinished(id);
}

QCoro::Task<> SiteCloneCoordinator::rollback(const CloneRequest& request, SitePtr site,
                                             std::shared_ptr<CloneJob> job, bool cancelled, QString error,
                                             bool created)
{
    const QString message = cancelled ? QStringLiteral("Cancelled") : error;
    job->appendLine(cancelled ? QStringLiteral("Clone cancelled.") : error);
    const QString destination = request.destination.toLocalFile();
    if (created && QFileInfo(destination).isDir()) {
        // Off the main thread: the copy may be large.
        QFuture<bool> removing =
            QtConcurrent::run([destination] { return QDir(destination).removeRecursively(); });
        co_await removing;
        job->appendLine(QStringLiteral("Removed incomplete clone folder."));
    }
    if (site) {
        if (m_services.selectedSiteID() == site->id())
            m_services.setSelectedSiteID(std::nullopt);
        m_services.appearances().invalidate(site->id());
        m_services.store().remove(site);
        m_services.store().save();
    }
    job->finish(false, message);
    if (!cancelled)
        m_services.notifications().finished(QStringLiteral("Clone failed"), job->siteName(), false);
}

QCoro::Task<> SiteCloneCoordinator::copyFolder(const CloneRequest& request, std::shared_ptr<CloneJob> job,
                                               CancellationToken token)
{
    auto stop = std::make_shared<std::atomic<bool>>(false);
    token.onCancelled(job.get(), [stop] { stop->store(true); });
    FolderCopier::Options options;
    options.source = request.sourcePath;
    options.destination = request.destination.toLocalFile();
    if (request.removeGit)
        options.excludedNames.insert(QStringLiteral(".git"));
    QPointer<CloneJob> target = job.get();
    const FolderCopier::Progress progress = [target](qint64 done, qint64 total) {
        const double fraction = 0.1 + 0.65 * (total > 0 ? double(done) / double(total) : 1.0);
        QMetaObject::invokeMethod(
            target.data(),
            [target, fraction] {
                if (target)
                    target->setFraction(fraction);
            },
            Qt::QueuedConnection);
    };
    QFuture<FolderCopier::Result> copying =
        QtConcurrent::run([options, stop, progress] { return FolderCopier::copy(options, *stop, progress); });
    const FolderCopier::Result result = co_await copying;
    for (const QString& note : result.notes)
        job->appendLine(note);
    if (result.cancelled)
        throw CancelledError();
    if (result.error)
        throw SiteCloneError::copyFailed(*result.error);
}

QCoro::Task<> SiteCloneCoordinator::clone(const CloneRequest& request, SitePtr site,
                                          std::shared_ptr<CloneJob> job, CancellationToken token,
                                          std::shared_ptr<bool> created)
{
    const QString destination = request.destination.toLocalFile();
    if (!QFileInfo(request.sourcePath).isDir())
        throw SiteCloneError::sourceMissing();
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink())
        throw SiteCloneError::destinationExists();

    token.throwIfCancelled();
    job->setStep(CloneStep::copy, 0.1);
    job->appendLine(QStringLiteral("Copying %1…").arg(QFileInfo(request.sourcePath).fileName()));
    QDir().mkpath(QFileInfo(destination).absolutePath());
    try {
        co_await copyFolder(request, job, token);
    } catch (...) {
        *created = QFileInfo(destination).isDir();
        throw;
    }
    *created = true;
    QFile::remove(QDir(destination).filePath(QStringLiteral("public/hot")));

    token.throwIfCancelled();
    job->setStep(CloneStep::configure, 0.75);
    job->appendLine(QStringLiteral("Configuring clone…"));
    HerdService& herd = m_services.herd();
    std::optional<int> port;
    if (!herd.engine()) {
        port = SiteAddress::pickLocalPort(m_services.store().sites(), site->id());
        site->setLocalPort(port);
    }
    SiteAddress::writeAppURL(destination,
                             SiteAddress::applicationURL(&herd, request.slug, request.secureHerd, port));

    ComposerService& composer = m_services.composer();
    if (request.regenerateAppKey) {
        token.throwIfCancelled();
        job->appendLine(QStringLiteral("Regenerating APP_KEY…"));
        const QStringList args{QStringLiteral("key:generate"), QStringLiteral("--force")};
        const ComposerService::OutputCallback quiet;
        co_await composer.runPHP(site, QStringLiteral("artisan"), args, OperationKind::artisan, noEnvironment,
                                 quiet, token);
    }
    token.throwIfCancelled();
    job->appendLine(QStringLiteral("Clearing caches…"));
    {
        const QStringList clearIndex{QStringLiteral("tarnel:clear")};
        const ComposerService::OutputCallback quiet;
        co_await composer.keffin(site, clearIndex, noEnvironment, quiet, token);
        const QStringList clearCache{QStringLiteral("cache:clear")};
        co_await composer.runPHP(site, QStringLiteral("artisan"), clearCache, OperationKind::artisan,
                                 noEnvironment, quiet, token);
    }

    if (!request.removeGit && GitService::isRepository(destination)) {
        const std::optional<QString> repo = co_await m_services.git().discoverGitHubRepo(site);
        site->setGithubRepo(repo);
    }

    if (herd.engine()) {
        token.throwIfCancelled();
        job->setStep(CloneStep::linkHerd, 0.9);
        if (herd.isParked(destination)) {
            job->appendLine(
                QStringLiteral("Site is in a parked %1 folder — no link needed.").arg(engineName(herd)));
        } else {
            job->appendLine(QStringLiteral("Linking to %1…").arg(engineName(herd)));
            co_await herd.link(destination, request.slug);
            site->setHerdLinked(true);
        }
        if (request.secureHerd) {
            job->appendLine(QStringLiteral("Securing with HTTPS…"));
            co_await herd.secure(request.slug, destination);
        }
    }
    job->setStep(CloneStep::done, 1.0);
}

} // namespace halvik
