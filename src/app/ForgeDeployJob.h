#pragma once

#include "DeployJob.h"
#include "GitHubDeploySource.h"

#include "async/Cancellation.h"
#include "models/HostAccount.h"

#include <QCoroTask>

#include <chrono>
#include <functional>

namespace halvik {

class ForgeClient;
class NotificationService;
class SiteStore;

// What a Forge deployment needs beyond the site. A site already linked to a Forge site
// (server and site ids set) only triggers and follows a new deployment; the rest is for the
// first one.
struct ForgeDeployPlan
{
    HostAccountPtr host;
    QString token;
    qint64 serverID = 0;
    QString serverName;
    QString domain;
    QString repositoryName;
    bool privateRepository = true;
};

// One run to Forge: GitHub repository and push, Forge site, repository, deploy script, .env,
// quick deploy, certificate, trigger, then the deployment followed to its end.
class ForgeDeployJob : public DeployJob
{
    Q_OBJECT
public:
    struct Timing
    {
        std::function<QCoro::Task<>(std::chrono::milliseconds, CancellationToken)> sleep;
        std::chrono::milliseconds interval{3000};
        int maxPolls = 40;
        static Timing real();
    };

    struct Services
    {
        ForgeClient& forge;
        GitHubDeploySource source;
        SiteStore& store;
        NotificationService& notifications;
    };

    ForgeDeployJob(Services services, SitePtr site, ForgeDeployPlan plan, Timing timing,
                   QObject* parent = nullptr);

    // Whether the run only triggers a new deployment of a site already on Forge.
    bool isRedeploy() const { return m_redeploy; }
    QCoro::Task<> run();
    void stop() override;

    // The deploy script Forge runs, for the branch `main`.
    static QString deployScript();

private:
    QCoro::Task<> createForgeSite();
    QCoro::Task<> follow();
    void fail(const QString& sentence);

    Services m_services;
    ForgeDeployPlan m_plan;
    Timing m_timing;
    bool m_redeploy = false;
    CancellationSource m_cancel;
};

} // namespace halvik
