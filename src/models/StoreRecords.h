#pragma once

#include "SourceControlAccount.h"
#include "StoredText.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik {

// Plain copies of the records, as store.json holds them. The main thread's shared records
// hand these to the thread that writes the file and build themselves from what it read.

struct OperationRecord
{
    QUuid id;
    QString command;
    StoredText log;
    std::optional<int> exitCode;
    QDateTime startedAt;
    std::optional<QDateTime> finishedAt;
    QString kindRaw;
    bool operator==(const OperationRecord&) const = default;
};

struct DeploymentRecord
{
    QUuid id;
    QDateTime startedAt;
    std::optional<QDateTime> finishedAt;
    QString status;
    StoredText log;
    std::optional<qint64> forgeDeploymentId;
    QString serverName;
    QString siteName;
    // The host provider deployed to ("forge", "laravelCloud", …); absent in older stores.
    std::optional<QString> providerRaw;
    // Laravel Cloud's id of the deployment, once Cloud was asked to deploy.
    std::optional<QString> cloudDeploymentId;
    bool operator==(const DeploymentRecord&) const = default;
};

// A site without its histories.
struct SiteFields
{
    QUuid id;
    QString name;
    QString path;
    QDateTime createdAt;
    QString phpSourceRaw;
    std::optional<QString> managedPHPVersion;
    bool herdLinked = false;
    std::optional<int> localPort;
    std::optional<QString> githubRepo;
    std::optional<qint64> forgeServerId;
    std::optional<qint64> forgeSiteId;
    std::optional<QUuid> forgeHostId;
    std::optional<QString> cloudAppId;
    std::optional<QString> cloudEnvId;
    std::optional<QUuid> cloudHostId;
    std::optional<QString> cloudURL;
    bool usesSSG = false;
    std::optional<QString> staticHostKind;
    std::optional<QString> staticHostSiteId;
    std::optional<QString> staticHostURL;
    std::optional<QDateTime> lastStaticBuildAt;
    QString notes;
    bool operator==(const SiteFields&) const = default;
};

struct SiteRecord : SiteFields
{
    QList<OperationRecord> operations;
    QList<DeploymentRecord> deployments;
    bool operator==(const SiteRecord&) const = default;
};

struct HostRecord
{
    QUuid id;
    QString providerRaw;
    QString label;
    QDateTime createdAt;
    std::optional<QDateTime> lastVerifiedAt;
    std::optional<QString> providerAccountID;
    bool operator==(const HostRecord&) const = default;
};

// The whole document, in file order.
struct StoreDocument
{
    QList<SiteRecord> sites;
    QList<HostRecord> hosts;
    QList<SourceControlAccount> sourceControlAccounts;
    bool operator==(const StoreDocument&) const = default;
};

// How much history the store keeps: the newest operations of a site, and of each log its
// head and tail.
namespace StoreLimits {
inline constexpr qsizetype operationsPerSite = 200;
inline constexpr qsizetype logBytes = 256 * 1024;
} // namespace StoreLimits

} // namespace halvik
