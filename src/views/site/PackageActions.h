#pragma once

#include "models/Site.h"

class QWidget;

namespace halvik {

class AppServices;

namespace views {

class LocalEnvironmentSheet;
class MainWindow;

// The site sheets that stand on the Composer service, each opened for one site and gone when
// closed: Commands (on its Keffin tab when asked), Local Environment and Create User.
void openConsoleCommands(AppServices& services, const SitePtr& site, QWidget* parent, bool keffin = false);
LocalEnvironmentSheet* openLocalEnvironment(AppServices& services, const SitePtr& site, QWidget* parent);
void openCreateUser(AppServices& services, const SitePtr& site, QWidget* parent);

// Whether the site runs the CMS: the control panel, users and the CMS console exist only then.
bool siteUsesCMS(const Site& site);
// Why those actions are disabled on a site without it.
QString noCMSReason();

// Puts Create User behind the window's menu command, for the selected site.
void installPackageActions(MainWindow& window, AppServices& services);

} // namespace views
} // namespace halvik
