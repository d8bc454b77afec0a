#include "AssetsCommands.h"

#include "CliContext.h"
#include "CliJson.h"
#include "ForegroundWait.h"

#include "services/frontend/FrontendProject.h"
#include "services/frontend/ViteDevServer.h"
#include "services/frontend/ViteDevServerError.h"
#include "services/serving/SiteProcesses.h"

#include "platform/ProcessProbe.h"

namespace halvik::cli {

namespace {

struct Arguments
{
    SitePtr site;
    bool json = false;
};

Arguments parse(AppServices& services, QStringList args, const QString& usage, bool jsonAllowed)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if ((json && !jsonAllowed) || args.size() != 1 || args.first().startsWith(QStringLiteral("--")))
        throw CliError::usage(QStringLiteral("Usage: halvik ") + usage);
    return {resolveSite(services.store(), args.first()), json};
}

Json optionalUrl(const std::optional<QUrl>& url)
{
    return url ? Json(utf8(url->toString())) : Json(nullptr);
}

QCoro::Task<int> status(AppServices& services, Arguments args)
{
    ViteDevServer& dev = services.processes().devServer();
    dev.refresh();
    const ViteDevSession session = dev.session(args.site->id());
    const auto info = FrontendProject::inspect(args.site->path());
    if (args.json) {
        printJson(out(), Json{{"site", utf8(args.site->displayName())},
                              {"bundler", info ? Json(utf8(toRaw(info->bundler))) : Json(nullptr)},
                              {"devScript", optionalJson(info ? info->devScriptName : std::nullopt)},
                              {"buildScript", optionalJson(info ? info->buildScriptName : std::nullopt)},
                              {"nodeModulesPresent", info && info->nodeModulesPresent},
                              {"phase", utf8(toRaw(session.phase))},
                              {"url", optionalUrl(session.url)},
                              {"pid", session.pid > 0 ? Json(session.pid) : Json(nullptr)}});
        co_return 0;
    }
    if (!info) {
        out() << "No package.json in this site.\n";
    } else {
        out() << "Bundler       " << title(info->bundler) << '\n'
              << "Dev script    " << info->devScriptName.value_or(QStringLiteral("none")) << '\n'
              << "Build script  " << info->buildScriptName.value_or(QStringLiteral("none")) << '\n'
              << "node_modules  " << (info->nodeModulesPresent ? "present" : "missing") << '\n';
    }
    out() << "Dev server    " << title(session.phase);
    if (session.phase == ViteDevServerPhase::failed)
        out() << ": " << session.failure;
    if (session.url)
        out() << "  " << session.url->toString();
    out() << '\n';
    co_return 0;
}

QCoro::Task<int> start(AppServices& services, Arguments args)
{
    ViteDevServer& dev = services.processes().devServer();
    const QUuid id = args.site->id();
    ForegroundWait wait([&dev, id] { dev.stop(id); });
    bool printed = false;
    bool ended = false;
    QObject context;
    QObject::connect(&dev, &ViteDevServer::logAppended, &context,
                     [id](const QUuid& site, const QString& lines) {
                         if (site == id) {
                             err() << lines << '\n';
                             err().flush();
                         }
                     });
    QObject::connect(&dev, &ViteDevServer::sessionChanged, &context, [&, id](const QUuid& site) {
        if (site != id)
            return;
        const ViteDevSession session = dev.session(id);
        if (session.phase == ViteDevServerPhase::running && session.url && !printed) {
            printed = true;
            if (args.json)
                out() << QString::fromStdString(Json{{"site", utf8(args.site->displayName())},
                                                     {"phase", "running"},
                                                     {"url", utf8(session.url->toString())}}
                                                    .dump())
                      << '\n';
            else
                out() << session.url->toString() << '\n';
            out().flush();
        }
        if (!session.isActive()) {
            ended = true;
            wait.finish();
        }
    });
    try {
        co_await dev.start(args.site);
    } catch (const ViteDevServerError& error) {
        throw CliError(error.description());
    }
    if (!wait.interrupted() && !ended)
        co_await wait.wait();
    const ViteDevSession session = dev.session(id);
    if (wait.interrupted() || session.phase != ViteDevServerPhase::failed) {
        dev.stopAll();
        co_return 0;
    }
    throw CliError(session.failure);
}

QCoro::Task<int> stop(AppServices& services, Arguments args)
{
    ViteDevServer& dev = services.processes().devServer();
    dev.refresh();
    const ViteDevSession session = dev.session(args.site->id());
    if (!session.isActive()) {
        out() << "No dev server is running for " << args.site->displayName() << ".\n";
        co_return 0;
    }
    dev.stop(args.site->id());
    dev.stopAll();
    out() << "Stopped the dev server of " << args.site->displayName() << ".\n";
    co_return 0;
}

QCoro::Task<int> install(AppServices& services, Arguments args)
{
    ViteDevServer& dev = services.processes().devServer();
    QObject context;
    QObject::connect(&dev, &ViteDevServer::logAppended, &context, [](const QUuid&, const QString& lines) {
        err() << lines << '\n';
        err().flush();
    });
    try {
        co_await dev.installDependenciesOnly(args.site);
    } catch (const ViteDevServerError& error) {
        throw CliError(error.description());
    }
    co_return 0;
}

} // namespace

QCoro::Task<int> runAssetsCommand(AppServices& services, QStringList args)
{
    const QString verb = args.isEmpty() ? QString() : args.takeFirst();
    const bool withJson = verb == QStringLiteral("status") || verb == QStringLiteral("start");
    const QString usage =
        QStringLiteral("assets %1 <site>%2").arg(verb, withJson ? QStringLiteral(" [--json]") : QString());
    if (verb != QStringLiteral("status") && verb != QStringLiteral("start") &&
        verb != QStringLiteral("stop") && verb != QStringLiteral("install"))
        throw CliError::usage(QStringLiteral("Usage: halvik assets status|start|stop|install <site>"));
    const Arguments parsed = parse(services, args, usage, withJson);
    if (verb == QStringLiteral("status"))
        co_return co_await status(services, parsed);
    if (verb == QStringLiteral("start"))
        co_return co_await start(services, parsed);
    if (verb == QStringLiteral("stop"))
        co_return co_await stop(services, parsed);
    co_return co_await install(services, parsed);
}

QList<CliCommand> assetsCommands()
{
    return {
        {.verb = QStringLiteral("assets"),
         .summary = QStringLiteral("a site’s frontend dev server"),
         .run = [](CliCall& call) { return runAssetsCommand(call.app(), call.args); },
         .forms = {{.subverb = QStringLiteral("status"),
                    .arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral("bundler, dev and build scripts, node_modules, phase, URL"),
                    .options = {jsonOption()}},
                   {.subverb = QStringLiteral("start"),
                    .arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral(
                        "install missing dependencies and run the dev server in the foreground; "
                        "Ctrl-C stops it"),
                    .options = {jsonOption()}},
                   {.subverb = QStringLiteral("stop"),
                    .arguments = QStringLiteral("<site>"),
                    .help = QStringLiteral("stop the site’s dev server, whichever Halvik process runs it")},
                   {.subverb = QStringLiteral("install"),
                    .arguments = QStringLiteral("<site>"),
                    .help = QStringLiteral("npm ci or npm install only")}}},
        {.verb = QStringLiteral("share"),
         .summary = QStringLiteral("share a site at a public link"),
         .run = [](CliCall& call) { return runShareCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral(
                        "a public https link to the site until Ctrl-C; progress on standard error, "
                        "the address on standard output"),
                    .options = {jsonOption()}}}},
    };
}

} // namespace halvik::cli
