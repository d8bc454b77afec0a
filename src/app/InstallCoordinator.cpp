#include "InstallCoordinator.h"

#include "AppServices.h"
#include "NotificationService.h"

#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/accounts/SourceControlService.h"
#include "services/composer/ConflictTranslator.h"
#include "services/git/GitService.h"
#include "services/git/GitServiceError.h"
#include "services/newsite/SiteAddress.h"
#include "services/runtime/RuntimeManager.h"
#include "services/staticsite/StaticSiteSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace halvik {

namespace {

const QString cancelledMessage = QStringLiteral("Cancelled");
const ComposerService::Environment noEnvironment;

QString engineName(const HerdService& herd)
{
    return herd.engine() == LocalDevEngine::valet ? QStringLiteral("Valet") : QStringLiteral("Herd");
}

// "^5.0" for 5.73.0; nothing for an empty version or "latest".
QString createProjectConstraint(const std::optional<QString>& version)
{
    const QString v = version.value_or(QString()).trimmed();
    if (v.isEmpty() || v == QLatin1String("latest"))
        return {};
    const QString major = v.section(QLatin1Char('.'), 0, 0);
    return major.isEmpty() ? QString() : QLatin1Char('^') + major + QStringLiteral(".0");
}

} // namespace

InstallCoordinator::InstallCoordinator(AppServices& services, QObject* parent)
    : QObject(parent), m_services(services)
{
}

InstallCoordinator::~InstallCoordinator()
{
    m_life.end();
    for (const Task& task : std::as_const(m_tasks))
        task.cancel->cancel();
}

InstallJob* InstallCoordinator::job(const QUuid& siteID) const
{
    const auto it = m_jobs.constFind(siteID);
    return it == m_jobs.cend() ? nullptr : it->get();
}

bool InstallCoordinator::isInstalling(const QUuid& siteID) const
{
    const InstallJob* current = job(siteID);
    return current && !current->isFinished();
}

void InstallCoordinator::start(InstallRequest request)
{
    const QUuid id = request.siteID;
    if (const auto old = m_tasks.constFind(id); old != m_tasks.cend())
        old->cancel->cancel();
    if (InstallJob* previous = job(id); previous && !previous->isFinished())
        finishCancelled(*previous);
    auto job = std::make_shared<InstallJob>(id, request.slug);
    m_jobs.insert(id, job);
    Task task{++m_generation, std::make_shared<CancellationSource>()};
    m_tasks.insert(id, task);
    Q_EMIT jobStarted(id);
    fireAndForget(this, run(std::move(request), job, task.cancel->token(), task.generation));
}

void InstallCoordinator::cancel(const QUuid& siteID)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend())
        task->cancel->cancel();
}

void InstallCoordinator::finishCancelled(InstallJob& job)
{
    job.appendLine(QStringLiteral("Install cancelled."));
    job.finish(false, cancelledMessage);
}

void InstallCoordinator::removeTask(const QUuid& siteID, quint64 generation)
{
    if (const auto task = m_tasks.constFind(siteID); task != m_tasks.cend() && task->generation == generation)
        m_tasks.erase(task);
}

InstallCoordinator::CommandOutput InstallCoordinator::output(const std::shared_ptr<InstallJob>& job,
                                                             std::optional<InstallStep> step, QString mask)
{
    auto sink = OperationLogSink::create(job.get(), [job, step, mask](const QString& batch, bool) {
        for (QString line : batch.split(QLatin1Char('\n'))) {
            if (!mask.isEmpty())
                line.replace(mask, QStringLiteral("********"));
            if (step)
                job->noteComposerLine(*step, line);
            job->appendLine(line);
        }
    });
    ComposerService::OutputCallback callback = [sink](const ProcessOutput& out) { sink->append(out.line); };
    return {sink, std::move(callback)};
}

QCoro::Task<> InstallCoordinator::run(InstallRequest request, std::shared_ptr<InstallJob> job,
                                      CancellationToken token, quint64 generation)
{
    const LifeToken alive = m_life.token();
    const QUuid id = request.siteID;
    SitePtr site = m_services.store().site(id);
    bool cancelled = false;
    std::optional<QString> failure;
    try {
        if (!site)
            throw HalvikError(QStringLiteral("Site missing from store"));
        co_await install(request, site, job, token);
    } catch (const CancelledError&) {
        cancelled = true;
    } catch (const HalvikError& error) {
        failure = error.description();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return;
    removeTask(id, generation);
    if (job->isFinished())
        co_return;
    if (failure && token.isCancelled())
        cancelled = true;
    const QString name = site ? site->displayName() : request.slug;
    if (cancelled) {
        finishCancelled(*job);
        m_services.notifications().finished(QStringLiteral("Install cancelled"), name, false);
    } else if (failure) {
        job->appendLine(*failure);
        m_services.setLastAdvice(ConflictTranslator::translate(job->log()));
        m_services.store().save();
        job->finish(false, *failure);
        m_services.notifications().finished(QStringLiteral("Install failed"), name, false);
    } else {
        job->appendLine(QStringLiteral("Install complete."));
        job->finish(true);
        m_services.store().save();
        m_services.notifications().finished(QStringLiteral("Site ready"),
                                            name + QStringLiteral(" is installed."), true);
        m_services.refreshSiteAppearance(site, true);
    }
    Q_EMIT jobFinished(id);
}

QCoro::Task<> InstallCoordinator::install(const InstallRequest& request, SitePtr site,
                                          std::shared_ptr<InstallJob> job, CancellationToken token)
{
    ComposerService& composer = m_services.composer();
    const QString destination = request.destination.toLocalFile();
    const QString parent = QFileInfo(destination).absolutePath();
    QDir().mkpath(parent);

    // Download.
    token.throwIfCancelled();
    job->enterStep(InstallStep::download);
    job->appendLine(QStringLiteral("Creating Quillmar project…"));
    {
        QStringList args{QStringLiteral("create-project"), QStringLiteral("quillmar/quillmar"), destination};
        if (const QString constraint = createProjectConstraint(request.version); !constraint.isEmpty())
            args << constraint;
        args << QStringLiteral("--remove-vcs") << QStringLiteral("--prefer-dist")
             << QStringLiteral("--no-progress");
        const CommandOutput out = output(job, InstallStep::download);
        const std::optional<QString> workingDirectory = parent;
        co_await composer.run(site, args, OperationKind::createProject, workingDirectory, out.callback,
                              token);
        out.sink->flush();
    }

    // Pinning the release.
    token.throwIfCancelled();
    // The download is done: the bar stands halfway while the release is pinned.
    job->enterStep(InstallStep::dependencies, 0.5);
    const QString version = request.version.value_or(QString()).trimmed();
    if (!version.isEmpty() && version != QLatin1String("latest")) {
        job->appendLine(QStringLiteral("Pinning quillmar/cms %1…").arg(version));
        const QStringList args{QStringLiteral("require"), QStringLiteral("quillmar/cms:") + version,
                               QStringLiteral("--no-progress"), QStringLiteral("--with-all-dependencies")};
        const CommandOutput out = output(job, InstallStep::dependencies);
        const std::optional<QString> inSite;
        co_await composer.run(site, args, OperationKind::composer, inSite, out.callback, token);
        out.sink->flush();
    }

    // Starter kit.
    if (request.starterKit) {
        token.throwIfCancelled();
        job->enterStep(InstallStep::starterKit);
        job->appendLine(QStringLiteral("Installing starter kit %1…").arg(*request.starterKit));
        const QStringList args{QStringLiteral("starter-kit:install"), *request.starterKit,
                               QStringLiteral("--cli-install"), QStringLiteral("--clear-site")};
        const CommandOutput out = output(job, InstallStep::starterKit);
        co_await composer.keffin(site, args, noEnvironment, out.callback, token);
        out.sink->flush();
    }

    co_await configure(request, site, job, token);
    co_await serveAndCommit(request, site, job, token);

    const QString instructions =
        QDir(destination).filePath(QStringLiteral("storage/quillmar/tmp/cli/post-install-instructions.txt"));
    if (QFile file(instructions); file.open(QIODevice::ReadOnly))
        job->setPostInstallInstructions(QString::fromUtf8(file.readAll()).trimmed());
    StaticSiteSupport::refreshUsesSSG(*site);
    job->enterStep(InstallStep::done);
}

void InstallCoordinator::writeApplicationURL(const InstallRequest& request, Site& site)
{
    const HerdService& herd = m_services.herd();
    std::optional<int> port;
    if (!herd.engine()) {
        port = site.localPort();
        if (!port || SiteAddress::portsInUse(m_services.store().sites(), site.id()).contains(*port))
            port = SiteAddress::pickLocalPort(m_services.store().sites(), site.id());
        // The built-in server serves the site exactly there.
        site.setLocalPort(port);
    }
    SiteAddress::writeAppURL(site.path(),
                             SiteAddress::applicationURL(&herd, request.slug, request.secureHerd, port));
}

QCoro::Task<> InstallCoordinator::configure(const InstallRequest& request, SitePtr site,
                                            std::shared_ptr<InstallJob> job, CancellationToken token)
{
    ComposerService& composer = m_services.composer();
    const QDir folder(site->path());
    token.throwIfCancelled();
    job->enterStep(InstallStep::configure);
    job->appendLine(QStringLiteral("Configuring site…"));
    if (!folder.exists(QStringLiteral(".env")) && folder.exists(QStringLiteral(".env.example")))
        QFile::copy(folder.filePath(QStringLiteral(".env.example")), folder.filePath(QStringLiteral(".env")));
    writeApplicationURL(request, *site);
    {
        const QStringList args{QStringLiteral("key:generate"), QStringLiteral("--force")};
        const CommandOutput out = output(job, std::nullopt);
        co_await composer.runPHP(site, QStringLiteral("artisan"), args, OperationKind::artisan, noEnvironment,
                                 out.callback, token);
        out.sink->flush();
    }

    if (request.installSSG) {
        token.throwIfCancelled();
        job->appendLine(QStringLiteral("Installing Static Site Generator…"));
        const QStringList args{QStringLiteral("install:ssg"), QStringLiteral("--no-interaction")};
        const CommandOutput out = output(job, std::nullopt);
        co_await composer.runPHP(site, QStringLiteral("keffin"), args, OperationKind::keffin, noEnvironment,
                                 out.callback, token);
        out.sink->flush();
    }

    if (request.contentStorage == ContentStorage::database) {
        token.throwIfCancelled();
        job->appendLine(QStringLiteral("Setting up database content storage (SQLite)…"));
        SiteAddress::configureSQLite(site->path());
        const QString database = folder.filePath(QStringLiteral("database/database.sqlite"));
        if (!QFile::exists(database)) {
            QDir().mkpath(QFileInfo(database).path());
            QFile file(database);
            file.open(QIODevice::WriteOnly);
        }
        const QStringList migrate{QStringLiteral("migrate"), QStringLiteral("--force")};
        const CommandOutput migrateOut = output(job, std::nullopt);
        co_await composer.runPHP(site, QStringLiteral("artisan"), migrate, OperationKind::artisan,
                                 noEnvironment, migrateOut.callback, token);
        migrateOut.sink->flush();
        const QStringList driver{QStringLiteral("install:eloquent-driver"), QStringLiteral("--all"),
                                 QStringLiteral("--import"), QStringLiteral("--without-messages")};
        const CommandOutput driverOut = output(job, std::nullopt);
        co_await composer.runPHP(site, QStringLiteral("keffin"), driver, OperationKind::keffin, noEnvironment,
                                 driverOut.callback, token);
        driverOut.sink->flush();
    }

    if (request.installSSG) {
        try {
            if (StaticSiteSupport::ensureAssetURL(site->path()))
                job->appendLine(QStringLiteral("Set ASSET_URL=/ for root-relative Vite assets."));
            const auto php = m_services.runtime().resolvePHP(*site, &m_services.herd());
            const QString phpPath = php ? php->path : QStringLiteral("php");
            const QString outputFolder = co_await StaticSiteSupport::outputDirectory(
                m_services.configuration(), site->path(), phpPath);
            StaticSiteSupport::writeNetlifyToml(site->path(), outputFolder);
            StaticSiteSupport::writeCloudflarePagesConfig(site->path(), outputFolder, request.slug);
            job->appendLine(
                QStringLiteral("Wrote netlify.toml and wrangler.toml for optional Git-based deploys."));
        } catch (const CancelledError&) {
            throw;
        } catch (const HalvikError& error) {
            job->appendLine(QStringLiteral("Could not write static host config: ") + error.description());
        }
    }

    if (request.createSuperUser) {
        token.throwIfCancelled();
        job->enterStep(InstallStep::createUser);
        job->appendLine(QStringLiteral("Creating super user…"));
        const CommandOutput out = output(job, std::nullopt, request.adminPassword);
        co_await composer.createUser(site, request.adminEmail, request.adminPassword, true, out.callback);
        out.sink->flush();
    }
}

QCoro::Task<> InstallCoordinator::serveAndCommit(const InstallRequest& request, SitePtr site,
                                                 std::shared_ptr<InstallJob> job, CancellationToken token)
{
    HerdService& herd = m_services.herd();
    if (herd.engine()) {
        token.throwIfCancelled();
        job->enterStep(InstallStep::linkHerd);
        if (!herd.isParked(site->path())) {
            job->appendLine(QStringLiteral("Linking to %1…").arg(engineName(herd)));
            co_await herd.link(site->path(), request.slug);
            site->setHerdLinked(true);
        }
        if (request.isolatePHPVersion) {
            job->appendLine(QStringLiteral("Isolating PHP %1…").arg(*request.isolatePHPVersion));
            co_await herd.isolate(site->path(), *request.isolatePHPVersion);
        }
        if (request.secureHerd) {
            job->appendLine(QStringLiteral("Securing %1…").arg(herd.domain(request.slug)));
            try {
                co_await herd.secure(request.slug, site->path());
            } catch (const HalvikError& error) {
                job->appendLine(QStringLiteral("HTTPS skipped: ") + error.description());
            }
        }
        writeApplicationURL(request, *site);
    }

    if (request.initGit || request.createGitHubRepo) {
        token.throwIfCancelled();
        job->enterStep(InstallStep::git);
        job->appendLine(QStringLiteral("Initializing git…"));
        GitService& git = m_services.git();
        co_await git.initialize(site);
        bool committed = false;
        try {
            const std::optional<QStringList> everything;
            const QString message = QStringLiteral("Initial commit from Halvik");
            co_await git.commit(site, everything, message);
            committed = true;
            job->appendLine(QStringLiteral("Created initial commit."));
        } catch (const GitServiceError& error) {
            if (error.kind() != GitServiceError::Case::identityMissing)
                throw;
            job->appendLine(
                QStringLiteral("Git repo created. Commit skipped — set your name and email in the Git tab."));
        }
        if (request.createGitHubRepo && request.githubToken && committed) {
            token.throwIfCancelled();
            job->appendLine(request.githubRepoIsPrivate ? QStringLiteral("Creating private GitHub repo…")
                                                        : QStringLiteral("Creating public GitHub repo…"));
            const std::optional<QString> owner;
            const GitRemoteRepository repository = co_await m_services.sourceControl().createRepository(
                SourceControlProvider::github, request.slug, request.githubRepoIsPrivate, owner);
            site->setGithubRepo(repository.fullName);
            // The clean address: Git authenticates through the accounts' credential helper, so no
            // token ever lands in .git/config or a log.
            co_await git.addOrigin(site, repository.cloneURL);
            co_await git.push(site, token);
            job->appendLine(QStringLiteral("Pushed to %1").arg(repository.fullName));
        }
    }
}

} // namespace halvik
