#pragma once

#include "MenuCommands.h"
#include "NotificationService.h"
#include "SidebarSection.h"
#include "UserPrompts.h"

#include "models/AppPreferences.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/HerdRoots.h"
#include "services/composer/ComposerRecords.h"
#include "services/runtime/RuntimeRoots.h"

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>

#include <QHash>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class ComposerService;
class DeployCoordinator;
class CloudflarePagesClient;
class ForgeClient;
class NetlifyClient;
class StaticPublishCoordinator;
class StaticSiteBuilder;
class HostAccountService;
class LaravelCloudClient;
class InstallCoordinator;
class QuillmarAPI;
class SiteCloneCoordinator;
class GitService;
class HerdService;
class PackageUpdateCoordinator;
class PackagistClient;
class ProcessRunner;
class RuntimeManager;
class LocalServer;
class SiteProcesses;
class DevEnvironment;
class LaravelConfigurationResolver;
class SiteAppearanceService;
class SiteAppearances;
class SiteImporter;
class SourceControlService;

// Creates and owns every service for the life of the process, holds the application-wide
// selection and status the screens observe, and offers the site operations no more specific
// service owns. Main thread only.
class AppServices : public QObject
{
    Q_OBJECT
public:
    // Moves a folder to the Trash; returns an error text on failure.
    using TrashFunction = std::function<std::optional<QString>(const QString& path)>;

    // `herdRoots` and `settings` let tests point the engine at a fake machine and the
    // preferences at their own file; by default they are the real ones.
    AppServices(SecretStore& secrets, UserPrompts& prompts, HerdRoots herdRoots = HerdRoots::system(),
                std::unique_ptr<QSettings> settings = nullptr, QObject* parent = nullptr);
    // Tests also point the managed runtimes at their own folders and servers.
    AppServices(SecretStore& secrets, UserPrompts& prompts, HerdRoots herdRoots,
                std::unique_ptr<QSettings> settings, RuntimeRoots runtimeRoots, QObject* parent = nullptr);
    ~AppServices() override;

    // Services, in the order they are created.
    ProcessRunner& runner() { return *m_runner; }
    RuntimeManager& runtime() { return *m_runtime; }
    HerdService& herd() { return *m_herd; }
    const HerdService& herd() const { return *m_herd; }
    const RuntimeManager& runtime() const { return *m_runtime; }
    // What runs for each site (built-in server, dev server, share), and the order they stop in.
    SiteProcesses& processes() { return *m_processes; }
    const SiteProcesses& processes() const { return *m_processes; }
    LocalServer& localServer();
    const LocalServer& localServer() const;
    DevEnvironment& devEnvironment() { return *m_devEnvironment; }
    GitService& git() { return *m_git; }
    SiteStore& store() { return *m_store; }
    AppPreferences& preferences() { return *m_preferences; }
    SiteImporter& importer() { return *m_importer; }
    NotificationService& notifications() { return *m_notifications; }
    CommandCenter& commands() { return *m_commands; }
    SecretStore& secrets() { return m_secrets; }
    SourceControlService& sourceControl() { return *m_sourceControl; }
    UserPrompts& prompts() { return m_prompts; }
    ComposerService& composer() { return *m_composer; }
    PackageUpdateCoordinator& packageUpdates() { return *m_packageUpdates; }
    PackagistClient& packagist() { return *m_packagist; }
    LaravelConfigurationResolver& configuration() { return *m_configuration; }
    ForgeClient& forge() { return *m_forge; }
    HostAccountService& hostAccounts() { return *m_hostAccounts; }
    LaravelCloudClient& cloud() { return *m_cloud; }
    DeployCoordinator& deploys() { return *m_deploys; }
    NetlifyClient& netlify() { return *m_netlify; }
    CloudflarePagesClient& cloudflare() { return *m_cloudflare; }
    StaticSiteBuilder& staticBuilder() { return *m_staticBuilder; }
    StaticPublishCoordinator& staticPublishes() { return *m_staticPublishes; }
    QuillmarAPI& marketplace() { return *m_marketplace; }
    InstallCoordinator& installs() { return *m_installs; }
    SiteCloneCoordinator& clones() { return *m_clones; }
    // Icons and previews as the services drive them; headless until something draws them.
    SiteAppearances& appearances() { return *m_appearance; }
    // The service that draws icons and previews, put in place of the headless one on first use.
    // Defined with the image library (AppServicesImages.cpp), which the window and the commands
    // that draw images link and a plain command does not.
    SiteAppearanceService& appearance();

    // The advice drawn from the last failed installation's log, until the next failure.
    const QList<ConflictAdvice>& lastAdvice() const { return m_lastAdvice; }
    void setLastAdvice(QList<ConflictAdvice> advice);

    // What a start-up prepares: the window needs the whole picture; a command needs the store
    // and the engine, and asks for anything else itself.
    enum class BootstrapScope
    {
        window,
        command
    };
    // Start-up: load the store, warm the secrets, read the engine, seed and list the managed
    // runtimes, ask for notifications. Never stops on a failure.
    QCoro::Task<> bootstrap(BootstrapScope scope = BootstrapScope::window);
    bool isBootstrapped() const { return m_bootstrapped; }
    // Quit: stop whatever Halvik started, then save the store last.
    void shutdown();

    // Re-detects Herd or Valet and asks its global PHP for its version.
    QCoro::Task<> refreshEngine();
    // Every site's static-site flag from its Composer files, then one save.
    QCoro::Task<> refreshStaticSiteFlags();

    // Opening and serving sites.
    using BrowserOpener = std::function<bool(const QUrl&)>;
    // The URL a site is served at: its running built-in server, the engine's URL, or an
    // external APP_URL.
    std::optional<QUrl> siteURL(const Site& site) const;
    // The same, with the site's APP_URL already read (HerdService::envAppURL).
    std::optional<QUrl> siteURL(const Site& site, const std::optional<QUrl>& envURL) const;
    std::optional<QUrl> previewURL(const Site& site) const;
    // Starts or stops the site's built-in server; a failure lands in openSiteErrors.
    void toggleLocalServer(const SitePtr& site);
    // Opens the site (or its control panel) in the browser, starting the built-in server when
    // the engine does not answer. Never throws: a failure lands in openSiteErrors. A second
    // request for a site whose opening runs does nothing.
    QCoro::Task<> openInBrowser(SitePtr site, bool controlPanel = false);
    QSet<QUuid> openingSites() const { return m_openingSites; }
    std::optional<QString> openSiteError(const QUuid& site) const;
    void setBrowserOpener(BrowserOpener opener) { m_openBrowser = std::move(opener); }
    // How long an opening waits for the built-in server to answer.
    void setServerWaitLimit(std::chrono::milliseconds limit);

    // Every site's icon and preview brought up to date (all of them with `force`), the selected
    // site first; a site with no URL gets its icon from its project files only.
    void refreshSiteAppearances(bool force);
    // One site's icon and preview from its preview URL (after an import, an installation, a
    // clone or an opening); never in a headless command.
    void refreshSiteAppearance(const SitePtr& site, bool force);
    // How long the window's start-up waits, once it has painted, before that refresh starts.
    void setAppearanceRefreshDelay(std::chrono::milliseconds delay) { m_appearanceDelay = delay; }

    // Remove a managed runtime (errors reach the caller), then refresh the environment picture.
    void removeManagedNode();
    void removeManagedPHP(const QString& line);

    // The secret keys the store names: every host's, then every source-control account's.
    QStringList requiredSecretAccounts() const;

    // Registers a folder that already holds a site; the screens check store().siteAtPath first.
    QCoro::Task<SitePtr> importExistingSite(QString path, std::optional<QString> name = std::nullopt);

    // Asks whether to remove the sites or also move their folders to the Trash, then does it and
    // tells about folders that could not be moved. One question at a time: asked again while
    // it is open, it refuses at once and changes nothing. Sites removed while the question was
    // open are left out.
    QCoro::Task<> promptDeleteSites(QList<SitePtr> sites);
    bool isAskingToDeleteSites() const { return m_askingToDelete; }
    // Stops what runs for the sites and removes them; returns one line per folder that could not
    // be moved to the Trash (its site stays).
    QStringList deleteSites(const QList<SitePtr>& sites, bool deleteFiles);
    void setTrashFunction(TrashFunction trash) { m_trash = std::move(trash); }

    // Observable state.
    SidebarSection selectedSection() const { return m_selectedSection; }
    void setSelectedSection(SidebarSection section);
    void setOpenSiteError(const QUuid& site, std::optional<QString> error);
    std::optional<QUuid> selectedSiteID() const { return m_selectedSiteID; }
    void setSelectedSiteID(std::optional<QUuid> id);
    QSet<QUuid> selectedSiteIDs() const { return m_selectedSiteIDs; }
    void setSelectedSiteIDs(const QSet<QUuid>& ids);
    std::optional<QString> busyMessage() const { return m_busyMessage; }
    // One sentence while the data folder refuses a save (the store's or the secrets'); the
    // change is kept and written again with the next save.
    std::optional<QString> saveProblem() const { return m_saveProblem; }
    static QString saveProblemText(const QString& reason);
    // Retries a refused secrets write and updates saveProblem (after every store save, too).
    void checkSaves();
    void setBusyMessage(std::optional<QString> message);

    // Jobs stopped at quit register here; what runs for sites stops first, through processes().
    void addQuitHook(std::function<void()> stop) { m_quitHooks.append(std::move(stop)); }
    // Everything that runs for one site and must stop before it is removed.
    void addSiteStopHook(std::function<void(const SitePtr&)> stop)
    {
        m_siteStopHooks.append(std::move(stop));
    }

Q_SIGNALS:
    void openingChanged();
    void selectionChanged();
    void selectedSectionChanged();
    void busyMessageChanged();
    void saveProblemChanged();
    void bootstrapped();
    void lastAdviceChanged();

private:
    SecretStore& m_secrets;
    UserPrompts& m_prompts;
    std::unique_ptr<ProcessRunner> m_runner;
    std::unique_ptr<RuntimeManager> m_runtime;
    std::unique_ptr<HerdService> m_herd;
    std::unique_ptr<SiteProcesses> m_processes;
    std::unique_ptr<LaravelConfigurationResolver> m_configuration;
    std::unique_ptr<DevEnvironment> m_devEnvironment;
    std::unique_ptr<GitService> m_git;
    std::unique_ptr<SiteStore> m_store;
    std::unique_ptr<AppPreferences> m_preferences;
    std::unique_ptr<SiteImporter> m_importer;
    std::unique_ptr<NotificationService> m_notifications;
    std::unique_ptr<CommandCenter> m_commands;
    std::unique_ptr<SourceControlService> m_sourceControl;
    std::unique_ptr<ComposerService> m_composer;
    std::unique_ptr<PackageUpdateCoordinator> m_packageUpdates;
    std::unique_ptr<PackagistClient> m_packagist;
    std::unique_ptr<ForgeClient> m_forge;
    std::unique_ptr<HostAccountService> m_hostAccounts;
    std::unique_ptr<LaravelCloudClient> m_cloud;
    std::unique_ptr<DeployCoordinator> m_deploys;
    std::unique_ptr<NetlifyClient> m_netlify;
    std::unique_ptr<CloudflarePagesClient> m_cloudflare;
    std::unique_ptr<StaticSiteBuilder> m_staticBuilder;
    std::unique_ptr<StaticPublishCoordinator> m_staticPublishes;
    std::unique_ptr<QuillmarAPI> m_marketplace;
    std::unique_ptr<InstallCoordinator> m_installs;
    std::unique_ptr<SiteCloneCoordinator> m_clones;
    std::unique_ptr<SiteAppearances> m_appearance;
    std::chrono::milliseconds m_appearanceDelay{1500};
    // A headless command never refreshes icons or previews on its own.
    bool m_headless = false;
    QList<ConflictAdvice> m_lastAdvice;

    SidebarSection m_selectedSection = SidebarSection::sites;
    std::optional<QUuid> m_selectedSiteID;
    QSet<QUuid> m_selectedSiteIDs;
    std::optional<QString> m_busyMessage;
    std::optional<QString> m_saveProblem;
    bool m_bootstrapped = false;
    TrashFunction m_trash;
    QList<std::function<void()>> m_quitHooks;
    QList<std::function<void(const SitePtr&)>> m_siteStopHooks;
    bool m_askingToDelete = false;
    QSet<QUuid> m_openingSites;
    QHash<QUuid, QString> m_openSiteErrors;
    BrowserOpener m_openBrowser;
    LifeGuard m_life;
};

} // namespace halvik
