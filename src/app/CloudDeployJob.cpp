#include "CloudDeployJob.h"

#include "NotificationService.h"

#include "models/SiteStore.h"
#include "platform/AtomicFile.h"
#include "services/composer/ComposerService.h"
#include "services/hosting/CloudCommands.h"
#include "services/hosting/CloudDeploySupport.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QDir>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

// Rewrites config/database.php whole and atomically; whether it changed.
bool patchDatabaseFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    const QString patched = CloudCommands::patchDatabaseConfig(text);
    if (patched == text)
        return false;
    return !writeFileAtomically(path, patched.toUtf8(), file.permissions()).has_value();
}

} // namespace

CloudDeployJob::CloudDeployJob(Services services, SitePtr site, CloudDeployPlan plan, QObject* parent)
    : DeployJob(site, std::make_shared<Deployment>(s("Laravel Cloud"), plan.applicationName), parent),
      m_services(std::move(services)), m_plan(std::move(plan)), m_region(m_plan.region)
{
    deployment()->setProviderRaw(toRaw(HostProviderKind::laravelCloud));
    site->appendDeployment(deployment());
    m_services.store.save();
}

QString CloudDeployJob::applyCloudStatus(const QString& status)
{
    return CloudCommands::statusLabel(status);
}

void CloudDeployJob::stop()
{
    m_cancel.cancel();
}

void CloudDeployJob::setStatus(const QString& status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged(status);
}

void CloudDeployJob::raise(double fraction)
{
    if (fraction <= m_fraction)
        return;
    m_fraction = std::min(fraction, 1.0);
    Q_EMIT fractionChanged(m_fraction);
}

void CloudDeployJob::onCloudUpdate(const CloudDeployment& update)
{
    setProviderStatus(update.status);
    // Cloud's first build moves no bar: the run's own deployment is what it measures.
    const QString lower = update.status.toLower();
    if (isTriggered() && !lower.contains(s("fail"))) {
        if (lower.contains(s("deploy")))
            raise(0.8);
        else if (lower.contains(s("build")))
            raise(0.6);
    }
    setStatus(applyCloudStatus(update.status));
}

template <typename T> QCoro::Task<T> CloudDeployJob::authorized(std::function<QCoro::Task<T>(QString)> call)
{
    try {
        co_return co_await call(m_plan.token);
    } catch (const LaravelCloudClientError& error) {
        if (!error.isUnauthorized())
            throw;
    }
    co_await renewToken();
    co_return co_await call(m_plan.token);
}

QCoro::Task<> CloudDeployJob::renewToken()
{
    // One renewal per run: a token rejected again ends it.
    if (m_renewed || !m_services.renew || !m_plan.host)
        throw LaravelCloudClientError::unauthorized();
    m_renewed = true;
    addLine(s("Laravel Cloud rejected the API token."));
    m_waitingForSignIn = true;
    Q_EMIT waitingForSignInChanged(true);
    const CloudTokenRenewer renew = m_services.renew;
    const HostAccountPtr host = m_plan.host;
    std::optional<QString> fresh;
    try {
        fresh = co_await renew(host, m_cancel.token());
    } catch (...) {
        m_waitingForSignIn = false;
        Q_EMIT waitingForSignInChanged(false);
        throw;
    }
    m_waitingForSignIn = false;
    Q_EMIT waitingForSignInChanged(false);
    m_cancel.token().throwIfCancelled();
    if (!fresh)
        throw LaravelCloudClientError::unauthorized();
    m_plan.token = *fresh;
    m_services.hosts.renewToken(host, *fresh);
    addLine(s("Signed in again to %1.").arg(host->label()));
}

QCoro::Task<> CloudDeployJob::run()
{
    const CancellationToken cancel = m_cancel.token();
    try {
        raise(0.05);
        setStatus(s("Starting"));
        if (m_plan.token.isEmpty())
            throw HalvikError(s("Connect Laravel Cloud first."));
        if (m_plan.redeploy) {
            LaravelCloudClient& cloud = m_services.cloud;
            const QString appID = site()->cloudAppId().value_or(QString());
            const std::function<QCoro::Task<CloudApplication>(QString)> read =
                [&cloud, appID, cancel](QString token) { return cloud.application(appID, token, cancel); };
            const CloudApplication application = co_await authorized(read);
            deployment()->setSiteName(application.name);
            if (!application.region.isEmpty())
                m_region = application.region;
            const QString envID = site()->cloudEnvId().value_or(application.environmentID);
            const std::function<QCoro::Task<CloudEnvironment>(QString)> readEnv =
                [&cloud, envID, cancel](QString token) { return cloud.environment(envID, token, cancel); };
            const CloudEnvironment environment = co_await authorized(readEnv);
            if (environment.variable(s("HALVIK_STORAGE_MANAGED")) != s("true")) {
                const QString folder = site()->path();
                const std::function<QCoro::Task<bool>(QString)> build = [&cloud, envID, folder,
                                                                         cancel](QString token) {
                    return cloud.prepareBuildCommand(envID, folder, token, cancel);
                };
                co_await authorized(build);
            }
            m_services.store.save();
            co_await deployAndFollow();
            co_await finishLive(std::nullopt);
            co_return;
        }

        const CloudApplication application = co_await resolveApplication();
        const std::optional<CloudDatabaseSetup> setup = co_await configureEnvironment(application);
        co_await waitForFirstBuild(application);
        co_await deployAndFollow();
        co_await finishLive(setup);
    } catch (const CancelledError&) {
        if (isTriggered()) {
            // Cloud goes on; the record stays open until a later look completes it.
            m_services.store.save();
            finish(Outcome::watchStopped);
        } else {
            fail(s("Cancelled."));
        }
    } catch (const HalvikError& error) {
        fail(error.description());
    } catch (const std::exception& error) {
        fail(QString::fromUtf8(error.what()));
    }
}

QCoro::Task<CloudApplication> CloudDeployJob::resolveApplication()
{
    const CancellationToken cancel = m_cancel.token();
    LaravelCloudClient& cloud = m_services.cloud;
    const std::optional<QString> existing =
        m_plan.existingApplicationID ? m_plan.existingApplicationID : site()->cloudAppId();
    CloudApplication application;
    if (existing) {
        addLine(s("Using existing Cloud application…"));
        const QString id = *existing;
        const std::function<QCoro::Task<CloudApplication>(QString)> read =
            [&cloud, id, cancel](QString token) { return cloud.application(id, token, cancel); };
        application = co_await authorized(read);
    } else {
        const GitHubDeploySource::Progress progress = [this](const QString& line) { addLine(line); };
        co_await m_services.source.prepare(site(), m_plan.repositoryName, m_plan.privateRepository, progress,
                                           cancel);
        m_services.store.save();
        const QString repository = site()->githubRepo().value_or(QString());
        if (repository.isEmpty())
            throw HalvikError(s("No GitHub repository available."));
        addLine(s("Creating Laravel Cloud application %1…").arg(m_plan.applicationName));
        raise(0.12);
        const QString name = m_plan.applicationName;
        const QString region = m_plan.region;
        const std::function<QCoro::Task<CloudApplication>(QString)> create = [&cloud, name, repository,
                                                                              region, cancel](QString token) {
            return cloud.createApplication(name, repository, region, token, cancel);
        };
        application = co_await authorized(create);
        raise(0.18);
    }
    cancel.throwIfCancelled();
    if (application.environmentID.isEmpty())
        throw LaravelCloudClientError::missing(s("default environment"));
    if (!application.region.isEmpty())
        m_region = application.region;
    deployment()->setSiteName(application.name);
    site()->setCloudAppId(application.id);
    site()->setCloudEnvId(application.environmentID);
    site()->setCloudHostId(m_plan.host->id());
    if (!application.vanityURL.isEmpty()) {
        site()->setCloudURL(application.vanityURL);
        m_url = application.vanityURL;
    }
    m_services.store.save();
    co_return application;
}

QCoro::Task<std::optional<CloudDatabaseSetup>>
CloudDeployJob::configureEnvironment(const CloudApplication& application)
{
    const CancellationToken cancel = m_cancel.token();
    LaravelCloudClient& cloud = m_services.cloud;
    const QString envID = application.environmentID;
    raise(0.22);
    setStatus(s("Setting environment"));
    addLine(s("Setting Quillmar environment variables…"));
    const bool databaseMode =
        ComposerService::readManifest(*site()).contentStorage == ContentStorage::database;
    if (databaseMode) {
        raise(0.28);
        setStatus(s("Provisioning database"));
    }

    const std::function<QCoro::Task<CloudEnvironment>(QString)> readEnv =
        [&cloud, envID, cancel](QString token) { return cloud.environment(envID, token, cancel); };
    const CloudEnvironment environment = co_await authorized(readEnv);
    if (environment.variable(s("HALVIK_STORAGE_MANAGED")) == s("true")) {
        addLine(s("Using verified Cloud storage configuration."));
        co_return std::nullopt;
    }
    const QString folder = site()->path();
    const std::function<QCoro::Task<bool>(QString)> build = [&cloud, envID, folder, cancel](QString token) {
        return cloud.prepareBuildCommand(envID, folder, token, cancel);
    };
    co_await authorized(build);

    const QList<CloudEnvironmentVariable> basics{
        {s("SESSION_DRIVER"), s("file")}, {s("CACHE_STORE"), s("file")}, {s("QUEUE_CONNECTION"), s("sync")}};
    const std::function<QCoro::Task<bool>(QString)> setBasics = [&cloud, envID, basics,
                                                                 cancel](QString token) -> QCoro::Task<bool> {
        co_await cloud.addEnvironmentVariables(envID, basics, token, cancel);
        co_return true;
    };
    co_await authorized(setBasics);
    addLine(s("Build uses a throwaway SQLite file so Composer doesn’t open Cloud MySQL."));
    if (!databaseMode)
        co_return std::nullopt;

    addLine(s("Quillmar is in database mode. Cloud can’t persist SQLite — provisioning Laravel MySQL in %1…")
                .arg(m_region));
    if (co_await patchLocalDatabaseConfig())
        addLine(
            s("Patched config/database.php so Cloud MySQL SSL doesn’t fail certificate verify. Commit that "
              "when you can — Cloud also patches it during build."));
    const QList<CloudEnvironmentVariable> database{
        {s("DB_CONNECTION"), s("mysql")}, {s("MYSQL_ATTR_SSL_CA"), s("/etc/ssl/certs/ca-certificates.crt")}};
    const std::function<QCoro::Task<bool>(QString)> setDatabase =
        [&cloud, envID, database, cancel](QString token) -> QCoro::Task<bool> {
        co_await cloud.addEnvironmentVariables(envID, database, token, cancel);
        co_return true;
    };
    co_await authorized(setDatabase);
    const QString region = m_region;
    const QString appName = application.name.isEmpty() ? m_plan.applicationName : application.name;
    const std::function<QCoro::Task<CloudDatabaseSetup>(QString)> attach = [&cloud, envID, region, appName,
                                                                            cancel](QString token) {
        return cloud.attachMySQLIfNeeded(envID, region, appName, token, cancel);
    };
    const CloudDatabaseSetup setup = co_await authorized(attach);
    if (setup.didAttach)
        addLine(s("Attached MySQL cluster %1. Deploy will run php artisan migrate --force.")
                    .arg(setup.cluster.name));
    else
        addLine(s("Using existing MySQL cluster %1. Deploy command set to migrate --force.")
                    .arg(setup.cluster.name));
    co_return setup;
}

QCoro::Task<bool> CloudDeployJob::patchLocalDatabaseConfig()
{
    const QString path = QDir(site()->path()).filePath(s("config/database.php"));
    QFuture<bool> patch = QtConcurrent::run(&patchDatabaseFile, path);
    const bool changed = co_await patch;
    co_return changed;
}

QCoro::Task<> CloudDeployJob::waitForFirstBuild(const CloudApplication& application)
{
    if (!application.deploymentID)
        co_return;
    const CancellationToken cancel = m_cancel.token();
    LaravelCloudClient& cloud = m_services.cloud;
    raise(0.42);
    setStatus(s("Waiting on deployment"));
    addLine(s("Waiting on Cloud’s first build…"));
    const QString id = *application.deploymentID;
    std::optional<QString> reason;
    const LaravelCloudClient::DeploymentUpdate update = [this, &reason](const CloudDeployment& current) {
        onCloudUpdate(current);
        reason = current.failureReason;
    };
    const std::function<QCoro::Task<CloudDeployment>(QString)> wait = [&cloud, id, update,
                                                                       cancel](QString token) {
        return cloud.waitForDeployment(id, token, update, cancel);
    };
    std::optional<QString> failure;
    try {
        co_await authorized(wait);
    } catch (const CancelledError&) {
        throw;
    } catch (const LaravelCloudClientError& error) {
        if (error.isUnauthorized())
            throw;
        failure = reason.value_or(QString()).trimmed();
        if (failure->isEmpty())
            failure = error.description();
    }
    if (failure) {
        addLine(s("First build failed: %1").arg(*failure));
        addLine(s("Retrying after database/build setup…"));
    }
}

QCoro::Task<> CloudDeployJob::deployAndFollow()
{
    const CancellationToken cancel = m_cancel.token();
    LaravelCloudClient& cloud = m_services.cloud;
    const QString envID = site()->cloudEnvId().value_or(QString());
    if (envID.isEmpty())
        throw LaravelCloudClientError::missing(s("default environment"));
    raise(0.48);
    setStatus(s("Starting deployment"));
    addLine(s("Starting deployment…"));
    const std::function<QCoro::Task<CloudDeployment>(QString)> start =
        [&cloud, envID, cancel](QString token) { return cloud.initiateDeployment(envID, token, cancel); };
    const CloudDeployment started = co_await authorized(start);
    setTriggered();
    deployment()->setCloudDeploymentId(started.id);
    setProviderStatus(started.status);
    m_services.store.save();

    const QString id = started.id;
    const LaravelCloudClient::DeploymentUpdate update = [this](const CloudDeployment& current) {
        onCloudUpdate(current);
    };
    const std::function<QCoro::Task<CloudDeployment>(QString)> wait = [&cloud, id, update,
                                                                       cancel](QString token) {
        return cloud.waitForDeployment(id, token, update, cancel);
    };
    std::optional<QString> failure;
    try {
        co_await authorized(wait);
    } catch (const LaravelCloudClientError& error) {
        if (error.isUnauthorized() || error.status() == 504)
            throw;
        failure = error.description();
    }
    // Cloud's own step log goes with the record, whichever way the deployment ended.
    try {
        const std::function<QCoro::Task<QString>(QString)> logs = [&cloud, id, cancel](QString token) {
            return cloud.deploymentLogs(id, token, cancel);
        };
        const QString output = co_await authorized(logs);
        setOutput(output);
    } catch (const CancelledError&) {
        throw;
    } catch (const HalvikError&) {
        // The deployment's outcome stands without its log.
    }
    if (failure)
        throw HalvikError(*failure);
}

QCoro::Task<> CloudDeployJob::finishLive(std::optional<CloudDatabaseSetup> setup)
{
    const CancellationToken cancel = m_cancel.token();
    LaravelCloudClient& cloud = m_services.cloud;
    if (setup && m_services.composer) {
        raise(0.92);
        setStatus(s("Importing database"));
        const CloudDeploySupport::Log log = [this](const QString& line) { addLine(line); };
        co_await CloudDeploySupport::importLocalDatabaseIfNeeded(site(), setup, *m_services.composer, log,
                                                                 cancel);
    }
    const QString envID = site()->cloudEnvId().value_or(QString());
    const std::function<QCoro::Task<CloudEnvironment>(QString)> readEnv =
        [&cloud, envID, cancel](QString token) { return cloud.environment(envID, token, cancel); };
    const CloudEnvironment environment = co_await authorized(readEnv);
    if (!environment.vanityDomain.isEmpty())
        m_url = environment.vanityURL();
    if (!m_url.isEmpty())
        site()->setCloudURL(m_url);
    addLine(s("Live at %1").arg(m_url));
    raise(1.0);
    setStatus(s("Deployed"));
    deployment()->setStatus(s("finished"));
    deployment()->setFinishedAt(QDateTime::currentDateTimeUtc());
    m_services.store.save();
    m_services.notifications.finished(s("Deployed"),
                                      s("%1 is live on Laravel Cloud.").arg(site()->displayName()), true);
    finish(Outcome::finished);
}

void CloudDeployJob::fail(const QString& sentence)
{
    addLine(sentence);
    setStatus(s("Failed"));
    deployment()->setStatus(s("failed"));
    deployment()->setFinishedAt(QDateTime::currentDateTimeUtc());
    m_services.store.save();
    m_services.notifications.finished(s("Deploy failed"), sentence, false);
    finish(Outcome::failed, sentence);
}

} // namespace halvik
