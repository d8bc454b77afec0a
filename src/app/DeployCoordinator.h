#pragma once

#include "CloudDeployJob.h"
#include "ForgeDeployJob.h"

#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <memory>

namespace halvik {

class ComposerService;
class ForgeClient;
class LaravelCloudClient;
class GitService;
class HostAccountService;
class NotificationService;
class SiteStore;
class SourceControlService;

// Deploy runs, at most one per site whatever the target. A run belongs to the coordinator,
// not to the screen or command that started it, and stays in `job` after it ends until the
// site's next run replaces it. Main thread.
class DeployCoordinator : public QObject
{
    Q_OBJECT
public:
    DeployCoordinator(ForgeClient& forge, HostAccountService& hosts, GitService& git,
                      SourceControlService& sourceControl, SiteStore& store,
                      NotificationService& notifications, QObject* parent = nullptr);
    ~DeployCoordinator() override;

    // Starts a Forge run. Throws a sentence without the account's token ("Connect Forge
    // first.") or while the site's run goes on. A site already on Forge only redeploys and
    // needs no server or domain.
    ForgeDeployJob* startForge(const SitePtr& site, ForgeDeployPlan plan);
    // Laravel Cloud, once a client is attached. Throws "Connect Laravel Cloud first." without
    // the account's token, or while the site's run goes on.
    void attachCloud(LaravelCloudClient& cloud, ComposerService* composer);
    // How a run gets a new token after Cloud rejected its own (a browser sign-in).
    void setCloudRenewer(CloudTokenRenewer renew) { m_cloudRenew = std::move(renew); }
    // The window's renewal: the run waits for the person's answer (answerCloudSignIn), then
    // signs in through the browser opened by `open`.
    CloudTokenRenewer interactiveCloudRenewer(std::function<bool(const QUrl&)> open);
    // "Sign in again" (true) or giving up (false) for a run paused on a rejected token.
    void answerCloudSignIn(bool signIn) { Q_EMIT cloudSignInAnswered(signIn); }
    CloudDeployJob* startCloud(const SitePtr& site, CloudDeployPlan plan);
    DeployJob* job(const QUuid& siteID) const;
    bool isDeploying(const QUuid& siteID) const;
    // Cancels the run before the host was asked to deploy; stops watching after.
    void stop(const QUuid& siteID);
    void stopAll();

    // Asks the host how each deployment the site left open (watching stopped, the process
    // ended) ended, and records it. Deployments of a running job are left alone.
    QCoro::Task<> completeUnfinished(SitePtr site);

    void setForgeTiming(ForgeDeployJob::Timing timing) { m_forgeTiming = std::move(timing); }

Q_SIGNALS:
    void jobStarted(const QUuid& siteID);
    void jobFinished(const QUuid& siteID);
    void cloudSignInAnswered(bool signIn);

private:
    QCoro::Task<> completeForge(SitePtr site, DeploymentPtr deployment);
    QCoro::Task<> completeCloud(SitePtr site, DeploymentPtr deployment);

    ForgeClient& m_forge;
    HostAccountService& m_hosts;
    GitService& m_git;
    SourceControlService& m_sourceControl;
    SiteStore& m_store;
    NotificationService& m_notifications;
    LaravelCloudClient* m_cloud = nullptr;
    ComposerService* m_composer = nullptr;
    CloudTokenRenewer m_cloudRenew;
    ForgeDeployJob::Timing m_forgeTiming = ForgeDeployJob::Timing::real();
    QHash<QUuid, std::shared_ptr<DeployJob>> m_jobs;
    LifeGuard m_life;
};

} // namespace halvik
