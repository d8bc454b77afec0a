#include "views/sharing/ShareActions.h"

#include "views/sharing/ShareSheet.h"

#include "app/AppServices.h"
#include "services/frontend/FrontendProject.h"
#include "services/frontend/ViteDevServer.h"
#include "services/frontend/ViteDevServerError.h"
#include "services/serving/SiteProcesses.h"

#include "async/FireAndForget.h"

#include <QMenu>

namespace halvik::views {

namespace {

QCoro::Task<> startQuietly(ViteDevServer& dev, SitePtr site)
{
    try {
        co_await dev.start(std::move(site));
    } catch (const ViteDevServerError&) {
        // The sentence is in the session, where the Overview shows it.
    }
}

} // namespace

void addAssetsAction(QMenu* menu, AppServices& services, const SitePtr& site)
{
    if (!site)
        return;
    const auto info = FrontendProject::inspect(site->path());
    const bool mix = info && info->bundler == FrontendProject::BundlerKind::webpack;
    ViteDevServer& dev = services.processes().devServer();
    QAction* assets = menu->addAction(mix ? QStringLiteral("Webpack") : QStringLiteral("Assets"));
    assets->setCheckable(true);
    assets->setChecked(dev.isActive(site->id()));
    assets->setEnabled(dev.isActive(site->id()) || (info && info->devScriptName));
    QObject::connect(assets, &QAction::triggered, menu, [&services, site] {
        ViteDevServer& server = services.processes().devServer();
        if (server.isActive(site->id()))
            server.stop(site->id());
        else
            fireAndForget(&server, startQuietly(server, site));
    });
}

void addShareAction(QMenu* menu, AppServices& services, const SitePtr& site, QWidget* window)
{
    if (!site)
        return;
    menu->addAction(QStringLiteral("Share…"), menu,
                    [&services, site, window] { ShareSheet::open(services, site, window); });
}

} // namespace halvik::views
