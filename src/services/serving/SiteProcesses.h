#pragma once

#include "LocalServer.h"

#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class HerdService;
class ProcessRunner;
class RuntimeManager;
class SiteTunnelService;
class ViteDevServer;

// Everything Halvik runs for a site, in one place: its built-in server, its frontend dev server
// and its public share. The window, Open Site and every command start and stop them through
// here, so the order between them (a share before its server, tunnels before servers at quit)
// is written once. Main thread.
class SiteProcesses : public QObject
{
    Q_OBJECT
public:
    using SaveFunction = std::function<void()>;

    SiteProcesses(ProcessRunner& runner, RuntimeManager& runtime, const HerdService& herd, SaveFunction save,
                  QObject* parent = nullptr);
    ~SiteProcesses() override;

    LocalServer& localServer() { return *m_localServer; }
    const LocalServer& localServer() const { return *m_localServer; }
    ViteDevServer& devServer() { return *m_devServer; }
    const ViteDevServer& devServer() const { return *m_devServer; }
    SiteTunnelService& tunnels() { return *m_tunnels; }
    const SiteTunnelService& tunnels() const { return *m_tunnels; }
    // Servers and dev servers other processes start or end are noticed as they happen.
    void watchOtherProcesses();

    // Starts the site's built-in server with its own PHP and saves the port it got. Returns the
    // sentence to show when it could not start.
    std::optional<QString> startServer(const SitePtr& site);
    // Waits until the started server answers. When it does not within the limit (or ends first),
    // stops it and returns "Halvik’s local server didn’t start." with its last words.
    QCoro::Task<std::optional<QString>> waitForServer(QUuid site);
    // Both of the above.
    QCoro::Task<std::optional<QString>> serve(SitePtr site);
    // Stops the site's share, then its built-in server.
    void stopServer(const QUuid& site);
    // Starts the server when it is stopped, stops it (and its share) when it runs.
    std::optional<QString> toggleServer(const SitePtr& site);

    // Before a site is removed: its share, its dev server and its built-in server.
    void stopSite(const QUuid& site);
    // At quit: every tunnel, then every built-in server, then every dev server.
    void stopAll();

    // How long a started server has to answer.
    void setServerWaitLimit(std::chrono::milliseconds limit) { m_serverWait = limit; }

private:
    RuntimeManager& m_runtime;
    const HerdService& m_herd;
    SaveFunction m_save;
    std::unique_ptr<LocalServer> m_localServer;
    std::unique_ptr<ViteDevServer> m_devServer;
    std::unique_ptr<SiteTunnelService> m_tunnels;
    std::chrono::milliseconds m_serverWait{8000};
    LifeGuard m_life;
};

} // namespace halvik
