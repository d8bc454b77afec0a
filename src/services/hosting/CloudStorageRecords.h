#pragma once

#include "async/HalvikError.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

namespace halvik {

// One sentence a person reads, from any step of a content-storage setup.
class CloudStorageError : public HalvikError
{
public:
    using HalvikError::HalvikError;
};

// Where a site's content, users and assets go: a database and a bucket.
struct CloudStoragePlan
{
    struct Database
    {
        QString driver = QStringLiteral("pgsql"); // "pgsql" or "mysql"
        QString host;
        int port = 5432;
        QString name;
        QString username;
        QString password;
        QString sslmode = QStringLiteral("require");

        bool isValid() const;
        bool operator==(const Database&) const = default;
    };
    struct Bucket
    {
        QString endpoint;
        QString region = QStringLiteral("auto");
        QString name;
        QString key;
        QString secret;
        QString url; // the public address of the bucket, not its S3 endpoint

        // Every field filled, and the endpoint and public address on https (or http on a
        // loopback host, for a local S3-compatible server).
        bool isValid() const;
        bool operator==(const Bucket&) const = default;
    };

    std::optional<Database> database;
    std::optional<Bucket> bucket;
    QStringList repositories;
    bool users = false;
    bool assets = false;
    QStringList containers;

    bool isValid() const;
    bool operator==(const CloudStoragePlan&) const = default;

    enum class Secrets
    {
        included, // for the worker, on its standard input only
        left,     // for the checkpoint: the secret store keeps them
        masked,   // for anything shown: "••••••"
    };
    nlohmann::json toJson(Secrets secrets) const;
    static CloudStoragePlan fromJson(const nlohmann::json& json);
};

struct CloudStorageContainer
{
    QString id;
    QString title;
    QString disk;
    int files = 0;
    bool operator==(const CloudStorageContainer&) const = default;
};

// What "inspect" found in the site.
struct CloudStorageInventory
{
    QList<CloudStorageContainer> containers;
    int users = 0;
    QString userRepository = QStringLiteral("file");
    QString databaseDriver = QStringLiteral("sqlite");
    QStringList configuredRepositories;
    int entries = 0;
    int terms = 0;
    int assets = 0;

    nlohmann::json toJson() const;
    static CloudStorageInventory fromJson(const nlohmann::json& json);
    bool operator==(const CloudStorageInventory&) const = default;
};

struct CloudStorageResult
{
    QMap<QString, qint64> tables;
    qint64 files = 0;

    nlohmann::json toJson() const;
    static CloudStorageResult fromJson(const nlohmann::json& json);
};

// The content repositories this setup knows how to move, as a plan names them (the worker maps
// globals, global_variables, navs and nav_trees to the driver's own keys).
const QStringList& movableRepositories();

// Why a plan cannot leave the site's local database as it is, if it cannot. A repository the
// site already keeps in its local database has to move with the rest, or the site would lose
// it on Cloud. When the setup knows how to move it, the person only has to include it; when it
// does not, no choice in this setup helps and its migration has to be set up by hand.
std::optional<QString> configuredRepositoriesProblem(const QStringList& configured,
                                                     const QStringList& planned);

// The setup's steps, in the only order they run.
enum class CloudStorageStage
{
    inspect,
    check,
    prepare,
    copyAndConfigure,
    complete,
};
QString stageName(CloudStorageStage stage);
std::optional<CloudStorageStage> stageFromName(const QString& name);

// A file the apply replaced or added, relative to the site; "before/" keeps the earlier copy
// of every one that existed.
struct BackupChange
{
    QString path;
    bool existed = false;
    bool operator==(const BackupChange&) const = default;
};

// `session.json`: everything a later run needs to continue, never a password or secret.
struct CloudStorageCheckpoint
{
    CloudStoragePlan plan;
    std::optional<CloudStorageInventory> inventory;
    QString sitePath;
    QString hostID;
    QString environmentID;
    CloudStorageStage stage = CloudStorageStage::inspect;
    QString workspace;
    QMap<QString, QString> baseline; // path relative to the site -> SHA-256
    QString runID;
    int sourceUsers = 0;
    QMap<QString, int> sourceContent; // "entries", "terms", "assets"
    CloudStorageResult result;
    QStringList completed;
    bool copiedDatabase = false;
    bool copiedAssets = false;
    bool applied = false;
    bool applying = false;
    bool remoteStarted = false;

    nlohmann::json toJson() const;
    static CloudStorageCheckpoint fromJson(const nlohmann::json& json);
};

} // namespace halvik
