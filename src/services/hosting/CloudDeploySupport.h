#pragma once

#include "CloudRecords.h"

#include "async/Cancellation.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QMap>

#include <functional>
#include <optional>

namespace halvik {

class ComposerService;

// Copies a site's local database into the Cloud MySQL a deploy just provisioned: the site's
// migrations run against Cloud, then its rows follow. The password reaches PHP only through
// its environment.
class CloudDeploySupport
{
public:
    using Log = std::function<void(const QString&)>;

    // Problems are logged, never thrown (a deploy that got this far is live).
    static QCoro::Task<> importLocalDatabaseIfNeeded(SitePtr site, std::optional<CloudDatabaseSetup> setup,
                                                     ComposerService& composer, Log log,
                                                     CancellationToken cancel = {});

    // What PHP is given to reach the Cloud database.
    static QMap<QString, QString> remoteEnvironment(const CloudDatabaseConnection& connection);
    // "the local SQLite database database/database.sqlite", from the site's .env.
    static QString localDatabaseDescription(const QString& sitePath);
    // The PHP that copies every table of the default connection to the Cloud connection.
    static QString copyScript();
};

} // namespace halvik
