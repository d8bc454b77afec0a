#include "views/sites/ImportActions.h"

#include "views/sites/ImportAllSheet.h"
#include "views/sites/ImportSheet.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include "app/ImportAllModel.h"
#include "app/ImportSiteModel.h"
#include "app/SiteImporter.h"

#include <QAction>
#include <QToolBar>

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

    QToolBar* toolbar = window.sitesPage()->toolbar();
    QAction* end = window.sitesPage()->toolbarEnd();
    auto* importExisting = new QAction(QStringLiteral("Import Existing"), toolbar);
    toolbar->insertAction(end, importExisting);
    importExisting->setObjectName(QStringLiteral("toolbarImportExisting"));
    QObject::connect(importExisting, &QAction::triggered, &window,
                     [&services] { services.commands().post(MenuCommand::importSite); });
    auto* importAll = new QAction(QStringLiteral("Import All"), toolbar);
    toolbar->insertAction(end, importAll);
    importAll->setObjectName(QStringLiteral("toolbarImportAll"));
    QObject::connect(importAll, &QAction::triggered, &window,
                     [&services] { services.commands().post(MenuCommand::importAllSites); });
}

} // namespace halvik::views
