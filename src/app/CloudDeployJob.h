#pragma once

#include "DeployJob.h"
#include "GitHubDeploySource.h"

#include "async/Cancellation.h"
#include "models/HostAccount.h"
#include "services/hosting/CloudRecords.h"

#include <QCoroTask>

#include <functional>
#include <optional>

namespace halvik {

class ComposerService;
class HostAccountService;
class LaravelCloudClient;
class NotificationService;
class SiteStore;

// What a Cloud run needs beyond the site. A site already on Cloud (application and environment
// stored) with `redeploy` set only starts and follows a new deployment.
struct CloudDeployPlan
{
    HostAccountPtr host;
    QString token;
    QString applicationName;
    QString region = QStringLiteral("us-east-1");
    // An application chosen instead of creating one.
    std::optional<QString> existingApplicationID;
    QString repositoryName;
    bool privateRepository = true;
    bool redeploy = false;
};

// Gives a fresh token for the account after Cloud rejected the one the run had (the browser
// sign-in), or nothing when the person declines.
using CloudTokenRenewer =
    std::function<QCoro::Task<std::optional<QString>>(HostAccountPtr host, CancellationToken cancel)>;

// One run to Laravel Cloud: GitHub, the application, the environment a Quillmar site needs
// (build and deploy commands, variables, MySQL in database mode), Cloud's first build, a
// deployment followed to its end, the local database copied over, the live address.
class CloudDeployJob : public DeployJob
{
    Q_OBJECT
public:
    struct Services
    {
        LaravelCloudClient& cloud;
        GitHubDeploySource source;
        SiteStore& store;
        NotificationService& notifications;
        HostAccountService& hosts;
        ComposerService* composer = nullptr;
        CloudTokenRenewer renew;
    };

    CloudDeployJob(Services services, SitePtr site, CloudDeployPlan plan, QObject* parent = nullptr);

    bool isRedeploy() const { return m_plan.redeploy; }
    // The status line ("Starting", "Setting environment", "Building", …).
    QString status() const { return m_status; }
    // 0 to 1, never lowered.
    double fraction() const { return m_fraction; }
    // The application's live address once known.
    QString url() const { return m_url; }
    // Whether the run is paused on a rejected token, waiting for a sign-in.
    bool isWaitingForSignIn() const { return m_waitingForSignIn; }

    QCoro::Task<> run();
    void stop() override;

    // The status line for a Cloud deployment status.
    static QString applyCloudStatus(const QString& status);

Q_SIGNALS:
    void statusChanged(const QString& status);
    void fractionChanged(double fraction);
    void waitingForSignInChanged(bool waiting);

private:
    template <typename T> QCoro::Task<T> authorized(std::function<QCoro::Task<T>(QString)> call);
    QCoro::Task<> renewToken();
    QCoro::Task<CloudApplication> resolveApplication();
    QCoro::Task<std::optional<CloudDatabaseSetup>> configureEnvironment(const CloudApplication& application);
    QCoro::Task<> waitForFirstBuild(const CloudApplication& application);
    QCoro::Task<> deployAndFollow();
    QCoro::Task<> finishLive(std::optional<CloudDatabaseSetup> setup);
    QCoro::Task<bool> patchLocalDatabaseConfig();
    void setStatus(const QString& status);
    void raise(double fraction);
    void onCloudUpdate(const CloudDeployment& deployment);
    void fail(const QString& sentence);

    Services m_services;
    CloudDeployPlan m_plan;
    CancellationSource m_cancel;
    QString m_status = QStringLiteral("Starting");
    double m_fraction = 0;
    QString m_url;
    QString m_region;
    bool m_renewed = false;
    bool m_waitingForSignIn = false;
};

} // namespace halvik
