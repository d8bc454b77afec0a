#pragma once

#include "models/Site.h"

class QMenu;
class QWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The site's frontend dev server ("Assets", or "Webpack" for Laravel Mix, checked while it
// runs) and "Share…", for the Site Actions menu and a site row's menu.
void addAssetsAction(QMenu* menu, AppServices& services, const SitePtr& site);
void addShareAction(QMenu* menu, AppServices& services, const SitePtr& site, QWidget* window);

} // namespace halvik::views
