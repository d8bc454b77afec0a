#pragma once

#include "services/hosting/CloudStorageSession.h"

namespace halvik {

class AppServices;

// The tools a site's storage setup runs with: the site's PHP and Composer, the secret store,
// the Cloud client with the token of the site's Cloud account, the worker shipped with Halvik
// and the setups folder in the application folder.
CloudStorageSession::Tools storageTools(AppServices& services, const Site& site);

} // namespace halvik
