#pragma once

#include "models/Site.h"

class QWidget;

namespace halvik {

class AppServices;

namespace views {

// Opens the create-repository sheet for a site with the first connected provider, or the
// connect sheet when no account is connected yet. The sheet's Git workspace lives as long as it.
void openCreateRepository(AppServices& services, const SitePtr& site, QWidget* parent);

} // namespace views
} // namespace halvik
