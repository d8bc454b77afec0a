#include "ServeCommands.h"

#include "CliJson.h"

#include "app/DevEnvironment.h"
#include "services/HerdService.h"
#include "services/ReachabilityProbe.h"
#include "services/composer/ComposerService.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"

#include "async/Sleep.h"
#include "platform/Browser.h"
#include "platform/QuitSignals.h"

namespace halvik::cli {

namespace {

struct SiteArguments
{
    SitePtr site;
    QStringList flags;
};

SiteArguments siteAndFlags(AppServices& services, const QStringList& args, const char* usage)
{
    QStringList positional;
    QStringList flags;
    for (const QString& arg : args)
        (arg.startsWith(QStringLiteral("--")) ? flags : positional) << arg;
    if (positional.size() != 1)
        throw CliError::usage(QStringLiteral("Usage: halvik %1").arg(QLatin1String(usage)));
    return {resolveSite(services.store(), positional.first()), flags};
}

// Keeps the command in the foreground while the site's server runs; Ctrl-C (or SIGTERM, SIGHUP)
// stops it. Returns the server's exit text when it ended on its own.
QCoro::Task<std::optional<QString>> serveUntilInterrupted(AppServices& services, QUuid site)
{
    LocalServer& server = services.localServer();
    CancellationSource done;
    QuitSignals signals;
    bool interrupted = false;
    QObject::connect(&signals, &QuitSignals::received, &signals, [&] {
        interrupted = true;
        done.cancel();
    });
    QObject::connect(&server, &LocalServer::changed, &signals, [&] {
        if (!server.isRunning(site))
            done.cancel();
    });
    try {
        co_await sleepFor(std::chrono::hours(24 * 365), done.token());
    } catch (const CancelledError&) {
    }
    if (interrupted) {
        services.processes().stopServer(site);
        co_return std::nullopt;
    }
    co_return server.lastExit(site);
}

Json mappingJson(const SiteMapping& mapping, const std::optional<QString>& notice)
{
    return Json{{"id", utf8(mapping.id.toString(QUuid::WithoutBraces).toUpper())},
                {"name", utf8(mapping.name)},
                {"path", utf8(mapping.path)},
                {"url", mapping.url ? Json(utf8(mapping.url->toString())) : Json(nullptr)},
                {"servedBy", utf8(mapping.mode.servedBy())},
                {"port", mapping.mode.server ? Json(mapping.mode.server->port) : Json(nullptr)},
                {"answering", mapping.reachability.isServing()},
                {"status", utf8(mapping.reachability.summary())},
                {"note", optionalJson(notice)}};
}

} // namespace

QCoro::Task<int> runOpenCommand(AppServices& services, QStringList args)
{
    const auto [site, flags] = siteAndFlags(services, args, "open <site> [--control-panel]");
    for (const QString& flag : flags)
        if (flag != QStringLiteral("--control-panel"))
            throw CliError::usage(QStringLiteral("Unknown option %1 for open.").arg(flag));
    const bool controlPanel = flags.contains(QStringLiteral("--control-panel"));
    const bool servedBefore = services.localServer().isRunning(site->id());
    QUrl opened;
    services.setBrowserOpener([&opened](const QUrl& url) {
        opened = url;
        return Browser::open(url);
    });
    co_await services.openInBrowser(site, controlPanel);
    services.store().flush();
    if (const auto error = services.openSiteError(site->id()))
        throw CliError(*error);
    out() << "Opened " << opened.toString() << '\n';
    const auto server = services.localServer().running(site->id());
    if (!server || !server->startedHere || servedBefore) {
        out().flush();
        co_return 0;
    }
    if (const auto notice = services.devEnvironment().serveFallbackNotices().value(site->id());
        !notice.isEmpty())
        out() << notice << '\n';
    out() << "Serving " << site->displayName() << " at " << server->url().toString()
          << " — press Ctrl-C to stop.\n";
    out().flush();
    if (const auto ended = co_await serveUntilInterrupted(services, site->id()))
        throw CliError(*ended);
    co_return 0;
}

QCoro::Task<int> runServeCommand(AppServices& services, QStringList args)
{
    std::optional<int> port;
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--port")) {
            bool ok = false;
            port = args.value(i + 1).toInt(&ok);
            if (!ok || *port < 1 || *port > 65535)
                throw CliError::usage(QStringLiteral("--port takes a port number between 1 and 65535."));
            ++i;
        } else {
            rest << args[i];
        }
    }
    const auto [site, flags] = siteAndFlags(services, rest, "serve <site> [--port N]");
    if (!flags.isEmpty())
        throw CliError::usage(QStringLiteral("Unknown option %1 for serve.").arg(flags.first()));
    LocalServer& server = services.localServer();
    if (const auto running = server.running(site->id())) {
        out() << running->url().toString() << '\n'
              << site->displayName() << " is already served by another Halvik process.\n";
        co_return 0;
    }
    if (port)
        site->setLocalPort(*port);
    // The same start, wait and sentence as Open Site.
    SiteProcesses& processes = services.processes();
    if (const auto error = processes.startServer(site))
        throw CliError(*error);
    services.store().flush();
    const QUrl url = *server.url(site->id());
    if (port && url.port() != *port)
        out() << "Port " << *port << " is in use; serving on port " << url.port() << " instead.\n";
    out() << url.toString() << '\n';
    out().flush();
    if (const auto error = co_await processes.waitForServer(site->id()))
        throw CliError(*error);
    out() << "Serving " << site->displayName() << " — press Ctrl-C to stop.\n";
    out().flush();
    if (const auto ended = co_await serveUntilInterrupted(services, site->id()))
        throw CliError(*ended);
    co_return 0;
}

QCoro::Task<int> runDoctorCommand(AppServices& services, QStringList args)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (!args.isEmpty())
        throw CliError::usage(QStringLiteral("Unknown option %1 for doctor.").arg(args.first()));
    co_await services.runtime().refreshVersions();
    DevEnvironment& environment = services.devEnvironment();
    co_await environment.refresh();
    if (!json) {
        out() << environment.howSitesOpen() << "\n\n" << environment.diagnosticsReport();
        co_return 0;
    }
    const HerdService& herd = services.herd();
    Json sites = Json::array();
    for (const SiteMapping& mapping : environment.siteMappings())
        sites.push_back(mappingJson(mapping, environment.serveFallbackNotices().value(mapping.id)));
    const auto port80 = environment.port80();
    printJson(out(), Json{{"howSitesOpen", utf8(environment.howSitesOpen())},
                          {"engine", herd.engine() ? Json(utf8(toRaw(*herd.engine()))) : Json(nullptr)},
                          {"tld", herd.engine() ? Json(utf8(herd.tld())) : Json(nullptr)},
                          {"port80", port80 ? Json(utf8(port80->description())) : Json(nullptr)},
                          {"node", environment.node() ? Json(utf8(environment.node()->node)) : Json(nullptr)},
                          {"nodeVersion", optionalJson(environment.nodeVersion())},
                          {"githubCLI", optionalJson(environment.githubCLIPath())},
                          {"nginxErrors",
                           [&environment] {
                               Json lines = Json::array();
                               for (const QString& line : environment.nginxErrors())
                                   lines.push_back(utf8(line));
                               return lines;
                           }()},
                          {"sites", sites},
                          {"report", utf8(environment.diagnosticsReport())}});
    co_return 0;
}

QCoro::Task<int> runStatusCommand(AppServices& services, QStringList args)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (!args.isEmpty())
        throw CliError::usage(QStringLiteral("Unknown option %1 for status.").arg(args.first()));
    DevEnvironment& environment = services.devEnvironment();
    co_await environment.refreshSiteMappings();
    const QList<SiteMapping> mappings = environment.siteMappings();
    if (json) {
        Json list = Json::array();
        for (const SiteMapping& mapping : mappings)
            list.push_back(mappingJson(mapping, std::nullopt));
        printJson(out(), list);
        co_return 0;
    }
    if (mappings.isEmpty())
        out() << "No sites yet.\n";
    int width = 0;
    for (const SiteMapping& mapping : mappings)
        width = std::max(width, int(mapping.name.size()));
    for (const SiteMapping& mapping : mappings)
        out() << mapping.name.leftJustified(width + 2)
              << (mapping.url ? mapping.url->toString() : QStringLiteral("no URL yet")) << "  "
              << mapping.mode.servedBy() << "  " << mapping.reachability.summary() << '\n';
    co_return 0;
}

QList<CliCommand> serveCommands()
{
    return {
        {.verb = QStringLiteral("open"),
         .summary = QStringLiteral("open a site in the browser"),
         .run = [](CliCall& call) { return runOpenCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("<site> [--control-panel]"),
                    .help =
                        QStringLiteral("open the site in the browser; when that needs Halvik’s own server, "
                                       "serve in the foreground until Ctrl-C"),
                    .options = {{QStringLiteral("--control-panel"),
                                 {},
                                 QStringLiteral("open the CMS control panel")}}}}},
        {.verb = QStringLiteral("serve"),
         .summary = QStringLiteral("serve a site in the foreground"),
         .run = [](CliCall& call) { return runServeCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("<site> [--port N]"),
                    .help = QStringLiteral("serve the site with php artisan serve until Ctrl-C"),
                    .options = {{QStringLiteral("--port"), QStringLiteral("N"),
                                 QStringLiteral("the port to serve on")}}}}},
        {.verb = QStringLiteral("status"),
         .summary = QStringLiteral("how every site is served"),
         .run = [](CliCall& call) { return runStatusCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("every site’s URL, how it is served and whether it answers"),
                    .options = {jsonOption()}}}},
        {.verb = QStringLiteral("doctor"),
         .summary = QStringLiteral("check the environment"),
         .run = [](CliCall& call) { return runDoctorCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("check the environment and print the diagnostics report"),
                    .options = {jsonOption()}}}},
    };
}

} // namespace halvik::cli
