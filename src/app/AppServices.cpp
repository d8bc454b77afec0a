#include "AppServices.h"

#include "DeleteSitesDialogs.h"
#include "DeployCoordinator.h"
#include "InstallCoordinator.h"
#include "PackageUpdateCoordinator.h"
#include "SiteCloneCoordinator.h"
#include "SiteImporter.h"
#include "StaticPublishCoordinator.h"

#include "services/HerdService.h"
#include "services/ProcessRunner.h"
#include "services/accounts/SourceControlService.h"
#include "services/appearance/HeadlessSiteAppearances.h"
#include "services/composer/ComposerService.h"
#include "services/composer/PackagistClient.h"
#include "services/git/GitService.h"
#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"
#include "services/hosting/NetlifyClient.h"
#include "services/marketplace/QuillmarAPI.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/LaravelConfigurationResolver.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"
#include "services/staticsite/StaticSiteBuilder.h"

#include "DevEnvironment.h"

#include "async/FireAndForget.h"

#include "platform/Browser.h"
#include <QCoroFuture>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include "platform/DesktopEntry.h"
#include "platform/Log.h"
#include "platform/Trash.h"

namespace halvik {

namespace {

QList<SitePtr> distinct(const QList<SitePtr>& sites)
{
    QList<SitePtr> out;
    QSet<QUuid> seen;
    for (const auto& site : sites)
        if (site && !seen.contains(site->id())) {
            seen.insert(site->id());
            out.append(site);
        }
    return out;
}

} // namespace

AppServices::AppServices(SecretStore& secrets, UserPrompts& prompts, HerdRoots herdRoots,
                         std::unique_ptr<QSettings> settings, QObject* parent)
    : AppServices(secrets, prompts, std::move(herdRoots), std::move(settings), RuntimeRoots::system(), parent)
{
}

AppServices::AppServices(SecretStore& secrets, UserPrompts& prompts, HerdRoots herdRoots,
                         std::unique_ptr<QSettings> settings, RuntimeRoots runtimeRoots, QObject* parent)
    : QObject(parent), m_secrets(secrets), m_prompts(prompts), m_trash(moveToTrash)
{
    // Services join here, in their fixed order, as they land.
    m_runner = std::make_unique<ProcessRunner>();
    m_runtime = std::make_unique<RuntimeManager>(*m_runner, std::move(runtimeRoots));
    m_herd = std::make_unique<HerdService>(std::move(herdRoots));
    // Runs outlive this object at teardown (a server stopped at quit ends after it): their saves
    // must not reach the store once it is gone.
    const auto saveStore = [this, alive = m_life.token()] {
        if (alive)
            m_store->save();
    };
    m_processes = std::make_unique<SiteProcesses>(*m_runner, *m_runtime, *m_herd, saveStore);
    m_configuration = std::make_unique<LaravelConfigurationResolver>(*m_runner);
    m_git = std::make_unique<GitService>(*m_runner);
    m_store = std::make_unique<SiteStore>(m_secrets);
    m_preferences = std::make_unique<AppPreferences>(std::move(settings));
    m_importer = std::make_unique<SiteImporter>(*m_store, *m_herd, *m_git);
    m_appearance = std::make_unique<HeadlessSiteAppearances>();
    m_importer->setSiteAdded([this](const SitePtr& site) { refreshSiteAppearance(site, true); });
    connect(this, &AppServices::selectionChanged, this,
            [this] { m_appearance->setPrioritySite(m_selectedSiteID); });
    m_git->setSaveHandler(saveStore);
    connect(m_store.get(), &SiteStore::saveFinished, this, &AppServices::checkSaves);
    UserPrompts& chooser = m_prompts;
    m_preferences->setEditorChooser(
        [&chooser](EditorPanel panel) { return chooser.chooseEditor(std::move(panel)); });
    m_preferences->setEditorLauncher(DesktopEntry::launch);
    m_preferences->setEditorNamer(DesktopEntry::applicationName);
    m_preferences->setParkedFolderSource(
        [this] { return m_herd->engine() ? m_herd->parkedPath() : std::nullopt; });
    m_notifications = std::make_unique<NotificationService>();
    m_devEnvironment = std::make_unique<DevEnvironment>(*this);
    m_openBrowser = Browser::open;
    m_commands = std::make_unique<CommandCenter>();
    m_sourceControl = std::make_unique<SourceControlService>(*m_store, m_secrets, *m_runner);
    SourceControlService& accounts = *m_sourceControl;
    m_git->setCredentialSource(
        [&accounts](const QString& url) { return accounts.gitCredentialEnvironment(url); });
    m_composer = std::make_unique<ComposerService>(*m_runner, *m_runtime, m_herd.get());
    m_composer->setSaveHandler([this] { m_store->save(); });
    m_packageUpdates = std::make_unique<PackageUpdateCoordinator>(*m_composer, *m_store, *m_notifications);
    m_packagist = std::make_unique<PackagistClient>();
    addSiteStopHook([this](const SitePtr& site) { m_packageUpdates->cancel(site->id()); });
    addQuitHook([this] {
        for (const QUuid& id : m_packageUpdates->runningSites())
            m_packageUpdates->cancel(id);
    });
    m_forge = std::make_unique<ForgeClient>();
    m_hostAccounts = std::make_unique<HostAccountService>(*m_store, m_secrets);
    ForgeClient& forge = *m_forge;
    m_hostAccounts->setVerifier(HostProviderKind::forge,
                                [&forge](QString token) { return forge.verify(token); });
    m_cloud = std::make_unique<LaravelCloudClient>(m_runner.get());
    LaravelCloudClient& cloud = *m_cloud;
    m_hostAccounts->setVerifier(HostProviderKind::laravelCloud,
                                [&cloud](QString token) { return cloud.verify(token); });
    m_deploys = std::make_unique<DeployCoordinator>(*m_forge, *m_hostAccounts, *m_git, *m_sourceControl,
                                                    *m_store, *m_notifications);
    m_deploys->attachCloud(*m_cloud, m_composer.get());
    m_deploys->setCloudRenewer(
        m_deploys->interactiveCloudRenewer([this](const QUrl& url) { return m_openBrowser(url); }));
    addSiteStopHook([this](const SitePtr& site) { m_deploys->stop(site->id()); });
    addQuitHook([this] { m_deploys->stopAll(); });
    m_netlify = std::make_unique<NetlifyClient>();
    m_cloudflare = std::make_unique<CloudflarePagesClient>(*m_runner);
    NetlifyClient& netlify = *m_netlify;
    CloudflarePagesClient& cloudflare = *m_cloudflare;
    m_hostAccounts->setVerifier(HostProviderKind::netlify,
                                [&netlify](QString token) { return netlify.verify(token); });
    m_hostAccounts->setVerifier(
        HostProviderKind::cloudflarePages,
        [&cloudflare](QString token, QString account) { return cloudflare.verify(token, account); });
    m_staticBuilder = std::make_unique<StaticSiteBuilder>(*m_runner, *m_runtime, m_herd.get(), *m_composer,
                                                          *m_configuration, [this] { m_store->save(); });
    m_staticPublishes = std::make_unique<StaticPublishCoordinator>(StaticPublishJob::Services{
        *m_staticBuilder, *m_netlify, *m_cloudflare, *m_hostAccounts, *m_runtime, m_herd.get(), *m_runner,
        *m_store, *m_notifications, NetlifyPublisher::Timing{}});
    addSiteStopHook([this](const SitePtr& site) { m_staticPublishes->cancel(site->id()); });
    addQuitHook([this] { m_staticPublishes->cancelAll(); });
    m_marketplace = std::make_unique<QuillmarAPI>(*m_packagist);
    m_installs = std::make_unique<InstallCoordinator>(*this);
    m_clones = std::make_unique<SiteCloneCoordinator>(*this);
    addSiteStopHook([this](const SitePtr& site) {
        m_installs->cancel(site->id());
        m_clones->cancel(site->id());
    });
    addQuitHook([this] {
        for (const QUuid& id : m_installs->runningSites())
            m_installs->cancel(id);
        for (const QUuid& id : m_clones->runningSites())
            m_clones->cancel(id);
    });
}

void AppServices::setLastAdvice(QList<ConflictAdvice> advice)
{
    m_lastAdvice = std::move(advice);
    Q_EMIT lastAdviceChanged();
}

AppServices::~AppServices()
{
    // The store writes what is pending as it goes, after this object's own state has gone.
    m_store->disconnect(this);
}

QCoro::Task<> AppServices::bootstrap(BootstrapScope scope)
{
    // Each step is best effort: a failure is logged and start-up goes on.
    const auto step = [](const char* what, const std::function<void()>& body) {
        try {
            body();
        } catch (const std::exception& error) {
            qCWarning(halvikLog).noquote() << QStringLiteral("Halvik start-up step “%1” failed: %2")
                                                  .arg(QLatin1String(what), QString::fromUtf8(error.what()));
        }
    };
    const LifeToken alive = m_life.token();
    m_headless = scope == BootstrapScope::command;
    if (scope == BootstrapScope::window)
        m_processes->watchOtherProcesses();
    try {
        co_await m_store->loadInBackground();
    } catch (const std::exception& error) {
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik start-up step “store” failed: ") + QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return;
    step("secrets", [this] { m_secrets.warmup(requiredSecretAccounts()); });
    co_await m_sourceControl->migrateLegacyGitHubIfNeeded();
    if (!alive)
        co_return;
    if (scope == BootstrapScope::window) {
        co_await m_appearance->warmFromDisk(m_store->sites());
        if (!alive)
            co_return;
    }
    if (scope == BootstrapScope::window) {
        try {
            co_await m_sourceControl->refreshOriginAccount();
        } catch (const std::exception& error) {
            qCWarning(halvikLog).noquote()
                << QStringLiteral("Halvik start-up step “origin account” failed: ") +
                       QString::fromUtf8(error.what());
        }
        if (!alive)
            co_return;
        co_await refreshStaticSiteFlags();
        if (!alive)
            co_return;
    }
    co_await refreshEngine();
    if (!alive)
        co_return;
    if (scope == BootstrapScope::window) {
        try {
            m_runtime->seedIfNeeded();
        } catch (const std::exception& error) {
            setBusyMessage(QString::fromUtf8(error.what()));
        }
        co_await m_runtime->refreshVersions();
        if (!alive)
            co_return;
    }
    // Only the window: a command reaches the notification server when it has something to say,
    // and most never do (asking costs a session-bus connection and a round trip first).
    if (scope == BootstrapScope::window)
        step("notifications", [this] { m_notifications->requestPermission(); });
    // Once the window has painted and settled, so a person opening Halvik never waits behind a
    // thousand stale previews. A command asks for icons and previews itself.
    if (scope == BootstrapScope::window)
        QTimer::singleShot(m_appearanceDelay, this, [this] { refreshSiteAppearances(false); });
    if (scope == BootstrapScope::window)
        fireAndForget(this, m_devEnvironment->refresh());
    m_bootstrapped = true;
    Q_EMIT bootstrapped();
    co_return;
}

QCoro::Task<> AppServices::refreshStaticSiteFlags()
{
    const LifeToken alive = m_life.token();
    QStringList paths;
    QList<QUuid> ids;
    for (const SitePtr& site : m_store->sites()) {
        paths << site->path();
        ids << site->id();
    }
    // Lock files run to megabytes: they are read away from the window.
    QFuture<QList<bool>> reading = QtConcurrent::run([paths] {
        QList<bool> flags;
        for (const QString& path : paths)
            flags << SiteImporter::mentionsStaticGenerator(path);
        return flags;
    });
    const QList<bool> flags = co_await reading;
    if (!alive)
        co_return;
    for (qsizetype i = 0; i < paths.size(); ++i)
        if (const SitePtr site = m_store->site(ids[i]); site && site->usesSSG() != flags[i])
            site->setUsesSSG(flags[i]);
    m_store->save();
}

QCoro::Task<> AppServices::refreshEngine()
{
    const LifeToken alive = m_life.token();
    m_herd->refresh();
    try {
        const std::optional<QString> php = m_herd->globalPHPPath();
        std::optional<QString> version;
        if (php)
            version = co_await m_herd->phpVersion(*php);
        if (!alive)
            co_return;
        m_herd->setGlobalPHPVersion(version);
    } catch (const std::exception& error) {
        qCWarning(halvikLog).noquote()
            << QStringLiteral("Halvik engine PHP version check failed: ") + QString::fromUtf8(error.what());
    }
}

LocalServer& AppServices::localServer()
{
    return m_processes->localServer();
}

const LocalServer& AppServices::localServer() const
{
    return m_processes->localServer();
}

void AppServices::setServerWaitLimit(std::chrono::milliseconds limit)
{
    m_processes->setServerWaitLimit(limit);
}

void AppServices::shutdown()
{
    // Tunnels, then built-in servers, then dev servers; then the jobs; the store is saved last.
    m_processes->stopAll();
    for (const auto& stop : m_quitHooks)
        stop();
    m_appearance->stop();
    m_store->flush();
}

QString AppServices::saveProblemText(const QString& reason)
{
    return QStringLiteral("Halvik couldn’t save your changes (%1); they are kept and will be saved "
                          "with the next change.")
        .arg(reason.trimmed());
}

void AppServices::checkSaves()
{
    // A store save is the moment to try the secrets again too.
    m_secrets.retryFailedWrite();
    std::optional<QString> reason = m_store->lastSaveError();
    if (!reason)
        reason = m_secrets.lastWriteError();
    const std::optional<QString> problem = reason ? std::optional(saveProblemText(*reason)) : std::nullopt;
    if (problem == m_saveProblem)
        return;
    m_saveProblem = problem;
    Q_EMIT saveProblemChanged();
}

void AppServices::removeManagedNode()
{
    m_runtime->removeManagedNode();
    fireAndForget(this, m_devEnvironment->refresh());
}

void AppServices::removeManagedPHP(const QString& line)
{
    m_runtime->removeManagedPHP(line);
    fireAndForget(this, m_devEnvironment->refresh());
}

QStringList AppServices::requiredSecretAccounts() const
{
    QStringList keys;
    for (const auto& host : m_store->hosts())
        keys << host->secretAccount();
    for (const auto& account : m_store->sourceControlAccounts())
        keys << QStringLiteral("sourceControl.") + account.provider;
    return keys;
}

QCoro::Task<SitePtr> AppServices::importExistingSite(QString path, std::optional<QString> name)
{
    co_return co_await m_importer->importExistingSite(std::move(path), std::move(name));
}

QCoro::Task<> AppServices::promptDeleteSites(QList<SitePtr> sites)
{
    const QList<SitePtr> unique = distinct(sites);
    if (unique.isEmpty() || m_askingToDelete)
        co_return;
    m_askingToDelete = true;
    const LifeToken alive = m_life.token();
    UserPrompts& prompts = m_prompts;

    const PromptDialog first = DeleteSitesDialogs::first(unique);
    const int choice = co_await prompts.ask(first);
    if (!alive)
        co_return;
    bool confirmed = choice == DeleteSitesDialogs::removeButton;
    const bool deleteFiles = choice == DeleteSitesDialogs::deleteFilesButton;
    if (deleteFiles) {
        const PromptDialog confirmTrash = DeleteSitesDialogs::confirmTrash(unique);
        const int answer = co_await prompts.ask(confirmTrash);
        if (!alive)
            co_return;
        confirmed = answer == DeleteSitesDialogs::moveToTrashButton;
    }
    m_askingToDelete = false;
    if (!confirmed)
        co_return;

    // The store may have lost or reloaded some of them while the question was open.
    QList<SitePtr> current;
    for (const auto& site : unique)
        if (const SitePtr registered = m_store->site(site->id()))
            current << registered;
    const QStringList failures = deleteSites(current, deleteFiles);
    if (!failures.isEmpty()) {
        const QString title = DeleteSitesDialogs::failureTitle(current.size());
        const QString text = failures.join(QLatin1Char('\n'));
        co_await prompts.alert(title, text);
    }
}

QStringList AppServices::deleteSites(const QList<SitePtr>& sites, bool deleteFiles)
{
    const QList<SitePtr> unique = distinct(sites);
    QStringList failures;
    for (const auto& site : unique) {
        m_processes->stopSite(site->id());
        for (const auto& stop : m_siteStopHooks)
            stop(site);
        if (deleteFiles) {
            if (auto error = m_trash(site->path())) {
                failures << site->displayName() + QStringLiteral(": ") + *error;
                continue;
            }
        }
        m_appearance->invalidate(site->id());
        m_store->remove(site);
        if (m_selectedSiteIDs.remove(site->id()))
            Q_EMIT selectionChanged();
    }

    if (m_selectedSiteID && !m_store->site(*m_selectedSiteID)) {
        setSelectedSiteID(m_store->sites().isEmpty() ? std::nullopt
                                                     : std::optional(m_store->sites().first()->id()));
    }
    return failures;
}

void AppServices::refreshSiteAppearance(const SitePtr& site, bool force)
{
    if (!m_headless && site)
        m_appearance->refresh(site, previewURL(*site), force);
}

void AppServices::refreshSiteAppearances(bool force)
{
    QList<QPair<SitePtr, std::optional<QUrl>>> sites;
    for (const SitePtr& site : m_store->sites())
        sites.append({site, siteURL(*site)});
    fireAndForget(
        this,
        [](AppServices* self, QList<QPair<SitePtr, std::optional<QUrl>>> all, bool forced) -> QCoro::Task<> {
            const LifeToken alive = self->m_life.token();
            QList<SitePtr> list;
            for (const auto& entry : all)
                list << entry.first;
            co_await self->m_appearance->warmFromDisk(list);
            if (!alive)
                co_return;
            self->m_appearance->refreshAll(all, forced);
        }(this, std::move(sites), force));
}

void AppServices::setSelectedSection(SidebarSection section)
{
    if (section == m_selectedSection)
        return;
    m_selectedSection = section;
    Q_EMIT selectedSectionChanged();
}

void AppServices::setSelectedSiteID(std::optional<QUuid> id)
{
    if (id == m_selectedSiteID)
        return;
    m_selectedSiteID = id;
    Q_EMIT selectionChanged();
}

void AppServices::setSelectedSiteIDs(const QSet<QUuid>& ids)
{
    if (ids == m_selectedSiteIDs)
        return;
    m_selectedSiteIDs = ids;
    Q_EMIT selectionChanged();
}

void AppServices::setBusyMessage(std::optional<QString> message)
{
    if (message == m_busyMessage)
        return;
    m_busyMessage = std::move(message);
    Q_EMIT busyMessageChanged();
}

} // namespace halvik
