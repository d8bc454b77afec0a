#pragma once

#include "services/LocalDevEngine.h"
#include "services/Reachability.h"
#include "services/runtime/NodeRuntime.h"
#include "services/serving/LocalServer.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

namespace halvik {

class AppServices;
class Site;

// Who listens on a TCP port.
struct PortListener
{
    std::optional<QString> command;
    std::optional<qint64> pid;

    QString description() const;
    bool operator==(const PortListener&) const = default;

    // The first process in `lsof -Fpc` field output.
    static std::optional<PortListener> fromLsof(const QString& output);
    // The first listener in `ss -ltnpH` output.
    static std::optional<PortListener> fromSs(const QString& output);
};

// How a site is served.
struct ServeMode
{
    enum class Kind
    {
        none,
        engine,
        halvikServer,
        external
    };
    Kind kind = Kind::none;
    std::optional<LocalDevEngine> engine;
    std::optional<LocalServer::RunningServer> server;
    QUrl url; // external only

    // "Herd", "Valet", "External", "Halvik server", or "Not served".
    QString servedBy() const;
    bool operator==(const ServeMode&) const = default;
};

struct SiteMapping
{
    QUuid id;
    QString name;
    QString path;
    std::optional<QUrl> url;
    ServeMode mode;
    Reachability reachability;

    bool operator==(const SiteMapping&) const = default;
};

// The picture of the local development environment: engine, port 80, Node, the GitHub
// command-line tool, and how every site is served and whether it answers. Main thread.
class DevEnvironment : public QObject
{
    Q_OBJECT
public:
    explicit DevEnvironment(AppServices& services, QObject* parent = nullptr);
    ~DevEnvironment() override;

    // Refreshes everything. Asked for while one runs, it returns at once and the running one
    // makes one more pass. Never throws.
    QCoro::Task<> refresh();
    // Only the site rows (after a server started or stopped). Asked for while a pass runs, one
    // more pass follows it (however many ask meanwhile), and the caller resumes after that one.
    QCoro::Task<> refreshSiteMappings();

    // From now on the picture follows what changes under it: the site rows every built-in server
    // that starts, answers or ends, here or in another Halvik process; the whole picture every
    // managed runtime installed or removed, here or by a command. The window wants this; a
    // command refreshes when it needs to.
    void keepCurrent();

    ServeMode mode(const Site& site) const;
    // The same, with the site's APP_URL already read (HerdService::envAppURL).
    ServeMode mode(const Site& site, const std::optional<QUrl>& envURL) const;
    QString howSitesOpen() const;
    QString diagnosticsReport() const;
    static bool isExternalURL(const QUrl& url, const Site& site);

    bool isRefreshing() const { return m_isRefreshing; }
    std::optional<QDateTime> lastRefreshed() const { return m_lastRefreshed; }
    bool port80InUse() const { return m_port80.has_value(); }
    std::optional<PortListener> port80() const { return m_port80; }
    Reachability engineGateway() const { return m_engineGateway; }
    QStringList nginxErrors() const { return m_nginxErrors; }
    std::optional<NodeRuntime::Toolchain> node() const { return m_node; }
    std::optional<QString> nodeVersion() const { return m_nodeVersion; }
    std::optional<QString> githubCLIPath() const { return m_githubCLIPath; }
    // By reference: the list is walked for every painted row, and a loop over a copy would copy
    // every row each time.
    const QList<SiteMapping>& siteMappings() const { return m_siteMappings; }
    // The row of one site, or null before the first pass has mapped it.
    const SiteMapping* siteMapping(const QUuid& site) const;
    QHash<QUuid, QString> serveFallbackNotices() const { return m_notices; }
    void setServeFallbackNotice(const QUuid& site, std::optional<QString> notice);

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> refreshPort80();
    QCoro::Task<std::optional<QString>> firstLine(QString program, QStringList arguments);
    QCoro::Task<> mapSitesOnce();
    QCoro::Task<> refreshOnce();

    AppServices& m_services;
    bool m_isRefreshing = false;
    bool m_isRefreshingSites = false;
    bool m_sitesAgain = false;
    bool m_refreshAgain = false;
    bool m_keepsCurrent = false;
    // Made by keepCurrent(): a watcher is an inotify instance, whose closing waits on the kernel.
    std::unique_ptr<QFileSystemWatcher> m_runtimeFolders;
    QTimer m_runtimeSettle;
    // Passes over the site rows begun and completed so far.
    quint64 m_sitePassesStarted = 0;
    quint64 m_sitePassesDone = 0;
    std::optional<QDateTime> m_lastRefreshed;
    std::optional<PortListener> m_port80;
    Reachability m_engineGateway;
    QStringList m_nginxErrors;
    std::optional<NodeRuntime::Toolchain> m_node;
    std::optional<QString> m_nodeVersion;
    std::optional<QString> m_githubCLIPath;
    QList<SiteMapping> m_siteMappings;
    QHash<QUuid, qsizetype> m_siteMappingRows; // site → its index in m_siteMappings
    QHash<QUuid, QString> m_notices;
    LifeGuard m_life;
    // Stops the site probes still out when this object goes.
    CancellationSource m_probes;
};

} // namespace halvik
