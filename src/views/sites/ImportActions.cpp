#include "views/sites/ImportActions.h"

#include "views/sites/ImportAllSheet.h"
#include "views/sites/ImportSheet.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "app/ImportAllModel.h"
#include "app/ImportSiteModel.h"
#include "app/SiteImporter.h"

namespace halvik::views {

void installImportActions(MainWindow& window, AppServices& services)
{
    // Each sheet owns its model and goes away when closed.
    window.setCommandHandler(MenuCommand::importSite, [&window, &services] {
        auto* model = new ImportSiteModel(services, services.importer(), services.git());
        auto* sheet = new ImportSheet(*model, &window);
        model->setParent(sheet);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
    window.setCommandHandler(MenuCommand::importAllSites, [&window, &services] {
        auto* model = new ImportAllModel(services, services.importer());
        auto* sheet = new ImportAllSheet(*model, services.prompts(), &window);
        model->setParent(sheet);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
}

} // namespace halvik::views
