#pragma once

#include "SharingPreparation.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QRegularExpression>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace halvik {

class HerdService;
class ProcessRunner;
class RuntimeManager;
class SharingServer;
class SleepInhibitor;
class ViteDevServer;

// Shares a local site at a temporary public https address: builds its assets, serves it with a
// private PHP server and exposes that through a Cloudflare quick tunnel run by `cloudflared`.
// One session per site. Main thread.
class SiteTunnelService : public QObject
{
    Q_OBJECT
public:
    struct Session
    {
        std::optional<QString> status;
        std::optional<QUrl> url;
        std::optional<QUrl> assignedURL;
        std::optional<QString> error;
        QString log;
        // The sharing server's last error lines, when it stopped on its own.
        QStringList serverErrors;
        // The origin the tunnel forwards to.
        std::optional<QUrl> origin;
        bool active = false;

        bool isActive() const { return active; }
    };

    static constexpr std::chrono::milliseconds defaultConnectLimit{60000};
    static constexpr std::chrono::milliseconds originWait{8000};

    SiteTunnelService(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                      ViteDevServer& devServer, QObject* parent = nullptr);
    ~SiteTunnelService() override;

    // Starts sharing (stopping an earlier run of the site first) and returns once the site is
    // shared or has failed; the outcome is in the session. Never throws.
    QCoro::Task<> start(SitePtr site);
    void stop(const QUuid& site);
    void stopAll();
    bool isStopping(const QUuid& site) const { return m_stopping.contains(site); }
    Session session(const QUuid& site) const { return m_sessions.value(site); }
    QHash<QUuid, Session> sessions() const { return m_sessions; }
    bool isActive(const QUuid& site) const { return m_sessions.value(site).active; }

    // Halvik's runtime resources, then PATH, then ~/.local/bin.
    std::optional<QString> findExecutable() const;
    // The first quick-tunnel address in the text.
    static std::optional<QUrl> findPublicAddress(const QString& output);
    void setConnectLimit(std::chrono::milliseconds limit) { m_connectLimit = limit; }

Q_SIGNALS:
    void sessionChanged(const QUuid& site);

private:
    struct Share;

    void launchTunnel(const QUuid& site, int generation, const QString& executable, const QUrl& origin);
    QCoro::Task<> followTunnel(QUuid site, int generation, ProcessRequest request,
                               std::shared_ptr<CancellationSource> stop);
    void toolOutput(const QUuid& site, int generation, const QString& lines);
    void fail(const QUuid& site, int generation, const QString& message);
    void setStatus(const QUuid& site, int generation, std::optional<QString> status);
    void appendLog(const QUuid& site, const QString& lines);
    void release(const QUuid& site);
    bool isCurrent(const QUuid& site, int generation) const;

    ProcessRunner& m_runner;
    RuntimeManager& m_runtime;
    const HerdService* m_herd;
    SharingPreparation m_preparation;
    QHash<QUuid, Session> m_sessions;
    QHash<QUuid, std::shared_ptr<Share>> m_shares;
    QSet<QUuid> m_stopping;
    int m_generation = 0;
    std::chrono::milliseconds m_connectLimit = defaultConnectLimit;
    LifeGuard m_life;
};

} // namespace halvik
