#pragma once

#include "models/Site.h"

class QWidget;

namespace halvik {

class AppServices;

namespace views {

class MainWindow;

// The site sheets that stand on the Composer service, each opened for one site and gone when
// closed: Commands, Local Environment and Create User.
void openConsoleCommands(AppServices& services, const SitePtr& site, QWidget* parent);
void openLocalEnvironment(AppServices& services, const SitePtr& site, QWidget* parent);
void openCreateUser(AppServices& services, const SitePtr& site, QWidget* parent);

// Puts Create User behind the window's menu command, for the selected site.
void installPackageActions(MainWindow& window, AppServices& services);

} // namespace views
} // namespace halvik
