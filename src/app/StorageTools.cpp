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
