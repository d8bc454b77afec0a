#pragma once

#include "CloudRecords.h"
#include "CloudTransport.h"

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace halvik {

class ProcessRunner;

// The Laravel Cloud REST API (JSON:API) under HALVIK_CLOUD_URL + "/api/": sign-in sessions,
// the organization, regions, applications, environments and their variables, deployments and
// their logs, MySQL clusters. Every call throws LaravelCloudClientError with the sentence a
// person reads, or CancelledError.
class LaravelCloudClient
{
public:
    struct Timing
    {
        std::function<QCoro::Task<>(std::chrono::milliseconds, CancellationToken)> sleep;
        std::chrono::milliseconds deploymentInterval{4000};
        int deploymentPolls = 80;
        std::chrono::milliseconds clusterInterval{4000};
        int clusterPolls = 90;
        static Timing real();
    };
    using DeploymentUpdate = std::function<void(const CloudDeployment&)>;

    explicit LaravelCloudClient(ProcessRunner* runner = nullptr);

    CloudTransport& transport() { return m_transport; }
    void setTiming(Timing timing) { m_timing = std::move(timing); }

    // Sign-in (no token).
    QCoro::Task<QString> createAuthSession(int port, CancellationToken cancel = {});
    QCoro::Task<QList<CloudSignIn>> exchangeAuthCode(QString code, CancellationToken cancel = {});

    // The organization's name, else its slug, else "Laravel Cloud".
    QCoro::Task<QString> verify(QString token);
    QCoro::Task<QList<CloudRegion>> regions(QString token, CancellationToken cancel = {});

    QCoro::Task<QList<CloudApplication>> applications(QString token, CancellationToken cancel = {});
    QCoro::Task<std::optional<CloudApplication>> findApplication(QString name, QString token,
                                                                 CancellationToken cancel = {});
    QCoro::Task<CloudApplication> application(QString id, QString token, CancellationToken cancel = {});
    // A name already taken gives that application back; a repository Cloud can't see, or an
    // answer without the application, fail with their own sentences.
    QCoro::Task<CloudApplication> createApplication(QString name, QString repository, QString region,
                                                    QString token, CancellationToken cancel = {});

    QCoro::Task<QList<CloudEnvironment>> environments(QString applicationID, QString token,
                                                      CancellationToken cancel = {});
    QCoro::Task<CloudEnvironment> environment(QString id, QString token, CancellationToken cancel = {});
    QCoro::Task<> updateEnvironment(QString id, QString token, std::optional<QString> buildCommand,
                                    std::optional<QString> deployCommand = std::nullopt,
                                    std::optional<QString> databaseSchemaID = std::nullopt,
                                    CancellationToken cancel = {});
    QCoro::Task<> addEnvironmentVariables(QString environmentID, QList<CloudEnvironmentVariable> variables,
                                          QString token, CancellationToken cancel = {});
    QCoro::Task<> deleteEnvironmentVariables(QString environmentID, QStringList keys, QString token,
                                             CancellationToken cancel = {});

    QCoro::Task<CloudDeployment> initiateDeployment(QString environmentID, QString token,
                                                    CancellationToken cancel = {});
    QCoro::Task<CloudDeployment> deployment(QString id, QString token, CancellationToken cancel = {});
    QCoro::Task<QString> deploymentLogs(QString id, QString token, CancellationToken cancel = {});
    // Polls until the deployment succeeds (returned) or fails (thrown with Cloud's reason).
    QCoro::Task<CloudDeployment> waitForDeployment(QString id, QString token, DeploymentUpdate onUpdate,
                                                   CancellationToken cancel = {});

    QCoro::Task<QList<CloudDatabaseCluster>> databaseClusters(std::optional<QString> region, QString token,
                                                              CancellationToken cancel = {});
    QCoro::Task<CloudDatabaseCluster> databaseCluster(QString id, QString token,
                                                      CancellationToken cancel = {});
    QCoro::Task<CloudDatabaseCluster> createDatabaseCluster(QString name, QString region, QString token,
                                                            CancellationToken cancel = {});
    QCoro::Task<CloudDatabaseCluster> waitForDatabaseCluster(QString id, QString token,
                                                             CancellationToken cancel = {});
    QCoro::Task<std::optional<CloudDatabaseCluster>>
    findDatabaseCluster(QString name, QString region, QString token, CancellationToken cancel = {});
    QCoro::Task<std::optional<CloudDatabaseCluster>>
    databaseClusterOwning(QString schemaID, QString region, QString token, CancellationToken cancel = {});
    // The environment's MySQL: the cluster of the schema it already uses, or a cluster named
    // after the application, created when needed and attached with a migrating deploy command.
    QCoro::Task<CloudDatabaseSetup> attachMySQLIfNeeded(QString environmentID, QString region,
                                                        QString appName, QString token,
                                                        CancellationToken cancel = {});
    // Brings the environment's build command up to date for a Quillmar build; whether it changed.
    QCoro::Task<bool> prepareBuildCommand(QString environmentID, QString siteFolder, QString token,
                                          CancellationToken cancel = {});

    // Readers of the JSON:API answers.
    static CloudApplication parseApplication(const nlohmann::json& resource, const nlohmann::json& included);
    static CloudEnvironment parseEnvironment(const nlohmann::json& resource);
    static CloudDeployment parseDeployment(const nlohmann::json& resource);
    static CloudDatabaseCluster parseCluster(const nlohmann::json& resource, const nlohmann::json& included);

private:
    QCoro::Task<nlohmann::json> call(CloudRequest request, CancellationToken cancel);

    CloudTransport m_transport;
    Timing m_timing = Timing::real();
};

} // namespace halvik
