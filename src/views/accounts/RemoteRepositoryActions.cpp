#include "views/accounts/RemoteRepositoryActions.h"

#include "views/accounts/ConnectSheet.h"
#include "views/accounts/CreateRepositorySheet.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "services/accounts/SourceControlService.h"

namespace halvik::views {

void openCreateRepository(AppServices& services, const SitePtr& site, QWidget* parent)
{
    if (!site)
        return;
    SourceControlService& accounts = services.sourceControl();
    std::optional<SourceControlProvider> provider;
    for (const SourceControlProvider each : allCases<SourceControlProvider>())
        if (!provider && accounts.isConnected(each))
            provider = each;
    if (!provider) {
        auto* sheet = new ConnectSheet(accounts, SourceControlProvider::github, parent);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
        return;
    }
    auto* workspace = new GitWorkspace(services.git(), services.store(), services.prompts(), site, parent);
    workspace->setRemoteCreator(&accounts.remoteCreator());
    auto* sheet = new CreateRepositorySheet(*workspace, accounts, *provider, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QObject::destroyed, workspace, &QObject::deleteLater);
    fireAndForget(workspace, workspace->refresh(false));
    sheet->open();
}

} // namespace halvik::views
