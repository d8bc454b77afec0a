#pragma once

#include "async/Cancellation.h"
#include "models/Deployment.h"
#include "models/HostAccount.h"
#include "models/Site.h"
#include "services/hosting/NetlifyPublisher.h"
#include "services/staticsite/StaticSiteBuilder.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class CloudflarePagesClient;
class HerdService;
class HostAccountService;
class NetlifyClient;
class NotificationService;
class ProcessRunner;
class RuntimeManager;
class SiteStore;
class SleepInhibitor;
class StaticSiteBuilder;

// Where and how a publish goes.
struct StaticPublishRequest
{
    HostAccountPtr host;
    // A new Netlify site or Cloudflare project named `siteName`, else `existingSiteID` (a
    // Netlify site id or a Cloudflare project name).
    bool createNewSite = false;
    std::optional<QString> existingSiteID;
    QString siteName;
    bool regenerate = true;
    // Netlify: send one zip instead of the changed files.
    bool forceZip = false;
};

// One generate-only or publish run of a site. Main thread.
class StaticPublishJob : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        StaticSiteBuilder& builder;
        NetlifyClient& netlify;
        CloudflarePagesClient& cloudflare;
        HostAccountService& hosts;
        RuntimeManager& runtime;
        const HerdService* herd;
        ProcessRunner& runner;
        SiteStore& store;
        NotificationService& notifications;
        NetlifyPublisher::Timing netlifyTiming;
    };

    // A generate-only job without a request.
    StaticPublishJob(Services services, SitePtr site, std::optional<StaticPublishRequest> request,
                     QObject* parent = nullptr);
    ~StaticPublishJob() override;

    QUuid siteID() const { return m_site->id(); }
    const SitePtr& site() const { return m_site; }
    bool isPublish() const { return m_request.has_value(); }
    QString status() const { return m_status; }
    const QStringList& log() const { return m_log; }
    bool isFinished() const { return m_finished; }
    bool succeeded() const { return m_succeeded; }
    bool wasCancelled() const { return m_cancelled; }
    std::optional<QString> errorMessage() const { return m_error; }
    QDateTime startedAt() const { return m_startedAt; }
    std::optional<QDateTime> finishedAt() const { return m_finishedAt; }
    double fractionComplete() const { return m_fraction; }

    // What the run produced, as far as it got.
    std::optional<StaticBuild> build() const { return m_build; }
    DeploymentPtr deployment() const { return m_deployment; }
    QString targetID() const { return m_targetID; }
    QString publicURL() const { return m_publicURL; }
    int uploaded() const { return m_uploaded; }
    int unchanged() const { return m_unchanged; }

    QCoro::Task<> run();
    void cancel();

Q_SIGNALS:
    void lineAdded(const QString& line);
    void statusChanged(const QString& status);
    void progressChanged(double fraction);
    void finished();

private:
    QCoro::Task<> generateOnly();
    QCoro::Task<> publish();
    QCoro::Task<> chooseNetlifyTarget(const QString& token);
    QCoro::Task<> chooseCloudflareTarget(const QString& token, const QString& accountID);
    QCoro::Task<QString> prepareOutput();
    QCoro::Task<> uploadNetlify(const QString& output, const QString& token);
    QCoro::Task<> uploadCloudflare(const QString& output, const QString& token, const QString& accountID);
    // Adds a line from any thread; it reaches the log in order on the main thread.
    void post(const QString& line);
    void addLine(const QString& line);
    void setStatus(const QString& status);
    void advance(double fraction);
    void end(bool succeeded, const QString& status, std::optional<QString> error);
    QString hostTitle() const;

    Services m_services;
    SitePtr m_site;
    std::optional<StaticPublishRequest> m_request;
    QString m_token;
    QString m_status = QStringLiteral("Starting");
    QStringList m_log;
    bool m_finished = false;
    bool m_succeeded = false;
    bool m_cancelled = false;
    std::optional<QString> m_error;
    QDateTime m_startedAt;
    std::optional<QDateTime> m_finishedAt;
    double m_fraction = 0;
    std::optional<StaticBuild> m_build;
    DeploymentPtr m_deployment;
    QString m_targetID;
    QString m_publicURL;
    int m_uploaded = 0;
    int m_unchanged = 0;
    CancellationSource m_cancel;
    std::unique_ptr<SleepInhibitor> m_awake;
};

} // namespace halvik
