#include "views/site/PackageActions.h"

#include "views/site/ConsoleCommandsSheet.h"
#include "views/site/CreateUserSheet.h"
#include "views/site/LocalEnvironmentSheet.h"
#include "views/window/MainWindow.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"
#include "services/composer/ComposerService.h"

#include <QTabWidget>

namespace halvik::views {

void openConsoleCommands(AppServices& services, const SitePtr& site, QWidget* parent, bool keffin)
{
    auto* sheet = new ConsoleCommandsSheet(services.composer(), site, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    if (keffin)
        sheet->tabs()->setCurrentIndex(1);
    sheet->open();
}

LocalEnvironmentSheet* openLocalEnvironment(AppServices& services, const SitePtr& site, QWidget* parent)
{
    auto* sheet = new LocalEnvironmentSheet(services.composer(), services.git(), site, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    fireAndForget(sheet, sheet->load());
    sheet->open();
    return sheet;
}

bool siteUsesCMS(const Site& site)
{
    return ComposerService::usesCMS(site);
}

QString noCMSReason()
{
    return QStringLiteral("This site doesn’t use Quillmar.");
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
