#pragma once

#include "services/hosting/CloudStorageSession.h"

#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

class AppServices;

// The tools a site's storage setup runs with: the site's PHP and Composer, the secret store,
// the Cloud client with the token of the site's Cloud account, the worker shipped with Halvik
// and the setups folder in the application folder.
CloudStorageSession::Tools storageTools(AppServices& services, const Site& site);

// One storage session per site for the life of the application services (their child object),
// so a setup keeps running, and is shown again, when its sheet is closed and reopened.
class StorageSessions : public QObject
{
    Q_OBJECT
public:
    explicit StorageSessions(AppServices& services);
    ~StorageSessions() override;

    CloudStorageSession& session(const SitePtr& site);

private:
    AppServices& m_services;
    QHash<QUuid, std::shared_ptr<CloudStorageSession>> m_sessions;
};

// The application's storage sessions, made on first use.
StorageSessions& storageSessions(AppServices& services);

} // namespace halvik
