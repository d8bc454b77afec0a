#include "views/site/PackageActions.h"

#include "views/site/ConsoleCommandsSheet.h"
#include "views/site/CreateUserSheet.h"
#include "views/site/LocalEnvironmentSheet.h"
#include "views/window/MainWindow.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"

namespace halvik::views {

void openConsoleCommands(AppServices& services, const SitePtr& site, QWidget* parent)
{
    auto* sheet = new ConsoleCommandsSheet(services.composer(), site, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void openLocalEnvironment(AppServices& services, const SitePtr& site, QWidget* parent)
{
    auto* sheet = new LocalEnvironmentSheet(services.composer(), services.git(), site, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    fireAndForget(sheet, sheet->load());
    sheet->open();
}

void openCreateUser(AppServices& services, const SitePtr& site, QWidget* parent)
{
    auto* sheet = new CreateUserSheet(services.composer(), site, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void installPackageActions(MainWindow& window, AppServices& services)
{
    window.setCommandHandler(MenuCommand::createUser, [&window, &services] {
        const auto id = services.selectedSiteID();
        if (const SitePtr site = id ? services.store().site(*id) : nullptr)
            openCreateUser(services, site, &window);
    });
}

} // namespace halvik::views
