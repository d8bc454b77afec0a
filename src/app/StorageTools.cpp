#include "StorageTools.h"

#include "AppServices.h"

#include "platform/AppDataDir.h"
#include "services/hosting/HostAccountService.h"
#include "services/runtime/RuntimeManager.h"

#include <QFileInfo>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString workerScript(const AppServices& services)
{
    for (const QString& folder : services.runtime().roots().resourceFolders) {
        const QString path = folder + s("/storage-worker.php");
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

} // namespace

CloudStorageSession::Tools storageTools(AppServices& services, const Site& site)
{
    CloudStorageSession::Tools tools;
    tools.runner = &services.runner();
    tools.secrets = &services.secrets();
    tools.cloud = &services.cloud();
    const std::optional<QUuid> hostID = site.cloudHostId();
    tools.cloudToken = [&services, hostID]() -> std::optional<QString> {
        const HostAccountPtr host = hostID ? services.hostAccounts().account(*hostID) : nullptr;
        return host ? services.hostAccounts().token(*host) : std::nullopt;
    };
    try {
        const RuntimeManager::ComposerLaunch launch =
            services.runtime().composerLaunch(site, &services.herd());
        tools.php = launch.php;
        tools.composer = launch.composer;
    } catch (const HalvikError&) {
        // Without PHP the first worker call says so.
    }
    tools.setupsFolder = AppDataDir::directory() + s("/Storage Setups");
    tools.workerScript = workerScript(services);
    return tools;
}

} // namespace halvik

namespace halvik {

StorageSessions::StorageSessions(AppServices& services) : QObject(&services), m_services(services)
{
    setObjectName(QStringLiteral("storageSessions"));
}

StorageSessions::~StorageSessions() = default;

CloudStorageSession& StorageSessions::session(const SitePtr& site)
{
    std::shared_ptr<CloudStorageSession>& slot = m_sessions[site->id()];
    // A site moved or relinked since gets a session with its new tools, unless one is running.
    if (!slot || (!slot->isRunning() && slot->site() != site))
        slot = std::make_shared<CloudStorageSession>(site, storageTools(m_services, *site));
    return *slot;
}

StorageSessions& storageSessions(AppServices& services)
{
    if (auto* existing = services.findChild<StorageSessions*>(QStringLiteral("storageSessions"),
                                                              Qt::FindDirectChildrenOnly))
        return *existing;
    return *new StorageSessions(services);
}

} // namespace halvik
