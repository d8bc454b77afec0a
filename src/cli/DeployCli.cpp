#include "DeployCli.h"

#include "CliContext.h"
#include "CliJson.h"
#include "CloudCli.h"

#include "app/DeployCoordinator.h"
#include "async/Sleep.h"
#include "platform/QuitSignals.h"
#include "services/HerdService.h"
#include "services/hosting/CloudCommands.h"
#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QCoroSignal>

#include <algorithm>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kDeployUsage = "Usage: halvik deploy <site> [--target forge|cloud] [--host <host>] "
                           "[--server <id|name>] [--domain DOMAIN] [--repo NAME] [--app NAME | --app-id ID] "
                           "[--region CODE] [--no-sign-in] [--json]";
const char* kDeploymentsUsage = "Usage: halvik deployments <site> [--json] [--log [ID]]";

std::optional<QString> takeOption(QStringList& args, const QString& name)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= args.size())
        throw CliError::usage(name + QStringLiteral(" needs a value."));
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

Json dateJson(const std::optional<QDateTime>& date)
{
    return date ? Json(utf8(date->toUTC().toString(Qt::ISODate))) : Json(nullptr);
}

Json deploymentJson(const Deployment& deployment)
{
    return Json{{"id", utf8(uuidString(deployment.id()))},
                {"target", utf8(deployment.providerRaw().value_or(QStringLiteral("forge")))},
                {"status", utf8(deployment.status())},
                {"serverName", utf8(deployment.serverName())},
                {"siteName", utf8(deployment.siteName())},
                {"startedAt", dateJson(deployment.startedAt())},
                {"finishedAt", dateJson(deployment.finishedAt())},
                {"forgeDeploymentId",
                 deployment.forgeDeploymentId() ? Json(*deployment.forgeDeploymentId()) : Json(nullptr)},
                {"cloudDeploymentId", cli::optionalJson(deployment.cloudDeploymentId())}};
}

HostProviderKind chooseTarget(const Site& site, const std::optional<QString>& target)
{
    if (target) {
        if (target->compare(QLatin1String("forge"), Qt::CaseInsensitive) == 0)
            return HostProviderKind::forge;
        if (target->compare(QLatin1String("cloud"), Qt::CaseInsensitive) == 0)
            return HostProviderKind::laravelCloud;
        throw CliError::usage(QStringLiteral("Unknown target “%1”: forge or cloud.").arg(*target));
    }
    const QList<HostProviderKind> linked = site.linkedDeployProviders();
    if (linked.size() == 1 &&
        (linked.first() == HostProviderKind::forge || linked.first() == HostProviderKind::laravelCloud))
        return linked.first();
    if (linked.isEmpty())
        throw CliError::usage(
            QStringLiteral("This site isn’t deployed yet: choose --target forge or --target cloud."));
    QStringList names;
    for (const HostProviderKind kind : linked)
        names << (kind == HostProviderKind::laravelCloud ? QStringLiteral("cloud") : toRaw(kind));
    throw CliError::usage(QStringLiteral("This site deploys to several hosts: choose --target %1.")
                              .arg(names.join(QStringLiteral(" or --target "))));
}

HostAccountPtr chooseCloudHost(HostAccountService& hosts, const Site& site,
                               const std::optional<QString>& reference)
{
    if (reference)
        return hosts.resolve(*reference);
    if (site.cloudHostId()) {
        if (HostAccountPtr host = hosts.account(*site.cloudHostId()))
            return host;
        throw CliError(QStringLiteral("Connect a Laravel Cloud account first."));
    }
    const QList<HostAccountPtr> cloud = hosts.accounts(HostProviderKind::laravelCloud);
    if (cloud.isEmpty())
        throw CliError(QStringLiteral("Connect Laravel Cloud first."));
    if (cloud.size() > 1)
        throw CliError::usage(
            QStringLiteral("Several Laravel Cloud accounts are connected: choose one with --host."));
    return cloud.first();
}

struct CloudOptions
{
    std::optional<QString> host;
    std::optional<QString> app;
    std::optional<QString> appID;
    std::optional<QString> region;
    std::optional<QString> repo;
    bool noSignIn = false;
    bool json = false;
};

QCoro::Task<int> runCloudDeploy(AppServices& services, SitePtr site, QString reference, CloudOptions options)
{
    HostAccountService& hosts = services.hostAccounts();
    CloudDeployPlan plan;
    plan.host = chooseCloudHost(hosts, *site, options.host);
    const auto token = hosts.token(*plan.host);
    if (!token)
        throw CliError(QStringLiteral("Connect Laravel Cloud first."));
    if (options.app && options.appID)
        throw CliError::usage(QStringLiteral("Choose --app or --app-id, not both."));
    plan.redeploy = site->cloudAppId() && site->cloudEnvId() && !options.app && !options.appID;
    if (!plan.redeploy) {
        const QString slug = HerdService::slug(site->name());
        plan.applicationName =
            options.app.value_or(CloudCommands::defaultApplicationName(slug, site->displayName()));
        if (!CloudCommands::isValidApplicationName(plan.applicationName))
            throw CliError::usage(QStringLiteral("An application name takes 3 to 40 characters."));
        plan.existingApplicationID = options.appID;
        plan.repositoryName = options.repo.value_or(slug);
        if (options.region) {
            const QList<CloudRegion> regions = co_await services.cloud().regions(*token);
            QStringList codes;
            for (const CloudRegion& region : regions)
                codes << region.code;
            if (!codes.contains(*options.region))
                throw CliError::usage(QStringLiteral("Unknown region “%1”: %2.")
                                          .arg(*options.region, codes.join(QStringLiteral(", "))));
            plan.region = *options.region;
        }
    }

    DeployCoordinator& deploys = services.deploys();
    CancellationSource signIn;
    deploys.setCloudRenewer(options.noSignIn ? CloudTokenRenewer()
                                             : terminalCloudRenewer(services, signIn.token()));
    QTextStream err(stderr);
    QTextStream& progress = options.json ? err : cli::out();
    CloudDeployJob* job = deploys.startCloud(site, plan);
    const DeploymentPtr deployment = job->deployment();
    QObject context;
    QObject::connect(job, &DeployJob::lineAdded, &context,
                     [&progress](const QString& line) { progress << line << Qt::endl; });
    QObject::connect(job, &CloudDeployJob::statusChanged, &context, [&progress, job](const QString& status) {
        progress << QStringLiteral("Laravel Cloud: %1 (%2%)").arg(status).arg(qRound(job->fraction() * 100))
                 << Qt::endl;
    });
    QuitSignals interrupt;
    const QUuid id = site->id();
    QObject::connect(&interrupt, &QuitSignals::received, &context, [&deploys, &signIn, id](int) {
        signIn.cancel();
        deploys.stop(id);
    });
    if (!job->isFinished())
        co_await qCoro(job, &DeployJob::finished);
    co_await sleepFor(std::chrono::milliseconds(0));
    deploys.setCloudRenewer({});
    services.store().flush();
    if (options.json) {
        Json object = deploymentJson(*deployment);
        object["url"] = utf8(site->cloudURL().value_or(QString()));
        cli::printJson(cli::out(), object);
    }
    switch (job->outcome()) {
    case DeployJob::Outcome::finished:
        co_return 0;
    case DeployJob::Outcome::watchStopped:
        throw CliError(
            QStringLiteral("Stopped watching; Laravel Cloud goes on deploying. `halvik deployments %1` "
                           "shows how it ends.")
                .arg(reference));
    case DeployJob::Outcome::failed:
    case DeployJob::Outcome::running:
        break;
    }
    throw CliError(job->errorMessage().value_or(QStringLiteral("Laravel Cloud deployment failed.")));
}

HostAccountPtr chooseForgeHost(HostAccountService& hosts, const Site& site,
                               const std::optional<QString>& reference)
{
    if (reference)
        return hosts.resolve(*reference);
    if (site.forgeHostId()) {
        if (HostAccountPtr host = hosts.account(*site.forgeHostId()))
            return host;
        throw CliError(QStringLiteral("Connect Forge first."));
    }
    const QList<HostAccountPtr> forge = hosts.accounts(HostProviderKind::forge);
    if (forge.isEmpty())
        throw CliError(QStringLiteral("Connect Forge first."));
    if (forge.size() > 1)
        throw CliError::usage(
            QStringLiteral("Several Forge accounts are connected: choose one with --host."));
    return forge.first();
}

ForgeServer chooseServer(const QList<ForgeServer>& servers, const std::optional<QString>& reference)
{
    if (servers.isEmpty())
        throw CliError(QStringLiteral("No servers on this account."));
    if (!reference) {
        if (servers.size() == 1)
            return servers.first();
        QStringList names;
        for (const ForgeServer& server : servers)
            names << server.name;
        throw CliError::usage(
            QStringLiteral("Choose a server with --server: %1.").arg(names.join(QStringLiteral(", "))));
    }
    for (const ForgeServer& server : servers)
        if (QString::number(server.id) == *reference ||
            server.name.compare(*reference, Qt::CaseInsensitive) == 0)
            return server;
    throw CliError(QStringLiteral("No server “%1” on this account.").arg(*reference));
}

} // namespace

QCoro::Task<int> runDeployCommand(AppServices& services, QStringList args)
{
    if (args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kDeployUsage));
    const QString reference = args.takeFirst();
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    const auto target = takeOption(args, QStringLiteral("--target"));
    const auto hostWord = takeOption(args, QStringLiteral("--host"));
    const auto serverWord = takeOption(args, QStringLiteral("--server"));
    const auto domain = takeOption(args, QStringLiteral("--domain"));
    const auto repo = takeOption(args, QStringLiteral("--repo"));
    CloudOptions cloud;
    cloud.app = takeOption(args, QStringLiteral("--app"));
    cloud.appID = takeOption(args, QStringLiteral("--app-id"));
    cloud.region = takeOption(args, QStringLiteral("--region"));
    cloud.noSignIn = args.removeAll(QStringLiteral("--no-sign-in")) > 0;
    if (!args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kDeployUsage));
    const SitePtr site = cli::resolveSite(services.store(), reference);
    if (chooseTarget(*site, target) == HostProviderKind::laravelCloud) {
        cloud.host = hostWord;
        cloud.repo = repo;
        cloud.json = json;
        co_return co_await runCloudDeploy(services, site, reference, cloud);
    }

    HostAccountService& hosts = services.hostAccounts();
    ForgeDeployPlan plan;
    plan.host = chooseForgeHost(hosts, *site, hostWord);
    const auto token = hosts.token(*plan.host);
    if (!token)
        throw CliError(QStringLiteral("Connect Forge first."));
    if (!site->forgeServerId() || !site->forgeSiteId()) {
        const QList<ForgeServer> servers = co_await services.forge().servers(*token);
        const ForgeServer server = chooseServer(servers, serverWord);
        plan.serverID = server.id;
        plan.serverName = server.name;
        const QString slug = HerdService::slug(site->name());
        plan.domain = domain.value_or(slug + QStringLiteral(".com"));
        plan.repositoryName = repo.value_or(slug);
    }

    DeployCoordinator& deploys = services.deploys();
    QTextStream err(stderr);
    QTextStream& progress = json ? err : cli::out();
    ForgeDeployJob* job = deploys.startForge(site, plan);
    const DeploymentPtr deployment = job->deployment();
    QObject context;
    QObject::connect(job, &DeployJob::lineAdded, &context,
                     [&progress](const QString& line) { progress << line << Qt::endl; });
    QObject::connect(job, &DeployJob::providerStatusChanged, &context,
                     [&progress](const QString& status) { progress << "Forge: " << status << Qt::endl; });
    QuitSignals interrupt;
    const QUuid id = site->id();
    QObject::connect(&interrupt, &QuitSignals::received, &context, [&deploys, id](int) { deploys.stop(id); });
    if (!job->isFinished())
        co_await qCoro(job, &DeployJob::finished);
    // The job is still inside its signal: let it return before anything goes away.
    co_await sleepFor(std::chrono::milliseconds(0));
    services.store().flush();
    if (json)
        cli::printJson(cli::out(), deploymentJson(*deployment));
    switch (job->outcome()) {
    case DeployJob::Outcome::finished:
        if (!json)
            cli::out() << "Deployed " << site->displayName() << " to " << deployment->serverName() << '\n';
        co_return 0;
    case DeployJob::Outcome::watchStopped:
        throw CliError(
            QStringLiteral("Stopped watching; Forge goes on deploying. `halvik deployments %1` shows how "
                           "it ends.")
                .arg(reference));
    case DeployJob::Outcome::failed:
    case DeployJob::Outcome::running:
        break;
    }
    throw CliError(job->errorMessage().value_or(QStringLiteral("Forge deployment failed.")));
}

QCoro::Task<int> runDeploymentsCommand(AppServices& services, QStringList args)
{
    if (args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kDeploymentsUsage));
    const QString reference = args.takeFirst();
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    std::optional<QString> logOf;
    if (const qsizetype at = args.indexOf(QStringLiteral("--log")); at >= 0) {
        logOf = args.value(at + 1);
        args.remove(at, at + 1 < args.size() ? 2 : 1);
    }
    if (!args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kDeploymentsUsage));
    const SitePtr site = cli::resolveSite(services.store(), reference);
    co_await services.deploys().completeUnfinished(site);
    services.store().flush();
    // Newest first: the site keeps them in the order they started.
    QList<DeploymentPtr> history = site->deployments();
    std::reverse(history.begin(), history.end());

    if (logOf) {
        const QString prefix = logOf->toUpper();
        for (const DeploymentPtr& deployment : history)
            if (uuidString(deployment->id()).startsWith(prefix)) {
                cli::out() << deployment->log() << '\n';
                co_return 0;
            }
        throw CliError(history.isEmpty() ? QStringLiteral("This site has no deployments.")
                                         : QStringLiteral("No deployment “%1”.").arg(*logOf));
    }
    if (json) {
        Json list = Json::array();
        for (const DeploymentPtr& deployment : history)
            list.push_back(deploymentJson(*deployment));
        cli::printJson(cli::out(), list);
        co_return 0;
    }
    if (history.isEmpty())
        cli::out() << "No deployments yet.\n";
    for (const DeploymentPtr& deployment : history)
        cli::out() << QStringLiteral("%1  %2  %3  %4  %5\n")
                          .arg(uuidString(deployment->id()).left(8),
                               deployment->startedAt().toLocalTime().toString(
                                   QStringLiteral("yyyy-MM-dd HH:mm")),
                               deployment->status(), deployment->serverName(), deployment->siteName());
    co_return 0;
}

QList<cli::CliCommand> deployCommands()
{
    return {
        {.verb = QStringLiteral("deploy"),
         .summary = QStringLiteral("deploy a site"),
         .run = [](cli::CliCall& call) { return runDeployCommand(call.app(), call.args); },
         .forms =
             {{.arguments = QStringLiteral("<site> [--target forge|cloud] [--host HOST] [--server SERVER] "
                                           "[--domain DOMAIN] [--repo NAME] [--app NAME | --app-id ID] "
                                           "[--region CODE] [--no-sign-in] [--json]"),
               .help = QStringLiteral("deploy the site and follow the deployment to its end"),
               .options = {{QStringLiteral("--target"), QStringLiteral("forge|cloud"),
                            QStringLiteral("where to deploy, when the site has several")},
                           {QStringLiteral("--host"), QStringLiteral("HOST"),
                            QStringLiteral("the hosting account, when there are several")},
                           {QStringLiteral("--server"), QStringLiteral("SERVER"),
                            QStringLiteral("the Forge server’s id or name, when the account has several")},
                           {QStringLiteral("--domain"), QStringLiteral("DOMAIN"),
                            QStringLiteral("the new Forge site’s domain")},
                           {QStringLiteral("--repo"), QStringLiteral("NAME"),
                            QStringLiteral("the GitHub repository to create")},
                           {QStringLiteral("--app"), QStringLiteral("NAME"),
                            QStringLiteral("the Cloud application to create (3 to 40 characters)")},
                           {QStringLiteral("--app-id"), QStringLiteral("ID"),
                            QStringLiteral("an existing Cloud application to deploy to")},
                           {QStringLiteral("--region"), QStringLiteral("CODE"),
                            QStringLiteral("the new Cloud application’s region (us-east-1 by default)")},
                           {QStringLiteral("--no-sign-in"),
                            {},
                            QStringLiteral("end instead of signing in again when Cloud rejects the token")},
                           cli::jsonOption()}}}},
        {.verb = QStringLiteral("deployments"),
         .summary = QStringLiteral("a site’s deployments"),
         .run = [](cli::CliCall& call) { return runDeploymentsCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("<site> [--json] [--log [ID]]"),
                    .help = QStringLiteral("the site’s deployments, newest first, or one log"),
                    .options = {cli::jsonOption(),
                                {QStringLiteral("--log"), QStringLiteral("ID"),
                                 QStringLiteral("print a deployment’s log, the newest by default")}}}}},
    };
}

} // namespace halvik
