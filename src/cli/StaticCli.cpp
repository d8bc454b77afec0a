#include "StaticCli.h"

#include "CliContext.h"
#include "CliJson.h"
#include "ForegroundWait.h"

#include "app/StaticPublishCoordinator.h"
#include "async/Sleep.h"
#include "services/HerdService.h"
#include "services/hosting/HostAccountService.h"
#include "services/runtime/RuntimeManager.h"
#include "services/staticsite/StaticSiteBuilder.h"
#include "services/staticsite/StaticSiteSupport.h"

#include <QCoroSignal>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kStaticUsage = "Usage: halvik static build <site> [--json] | host-config <site>";
const char* kPublishUsage = "Usage: halvik publish <site> --netlify|--cloudflare [--host <host>] "
                            "[--new [--name NAME] | --target ID] [--skip-build] [--zip] [--json]";

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

bool takeFlag(QStringList& args, const QString& name)
{
    return args.removeAll(name) > 0;
}

// Runs the job in the foreground, its lines on `progress`, Ctrl-C cancelling it.
QCoro::Task<> follow(AppServices& services, StaticPublishJob* job, QTextStream& progress)
{
    QObject context;
    QObject::connect(job, &StaticPublishJob::lineAdded, &context,
                     [&progress](const QString& line) { progress << line << Qt::endl; });
    StaticPublishCoordinator& coordinator = services.staticPublishes();
    const QUuid id = job->siteID();
    cli::ForegroundWait wait([&coordinator, id] { coordinator.cancel(id); });
    QObject::connect(job, &StaticPublishJob::finished, &context, [&wait] { wait.finish(); });
    if (!job->isFinished())
        co_await wait.wait();
    // A cancel asked for by Ctrl-C still has to stop the child and end the job.
    if (!job->isFinished())
        co_await qCoro(job, &StaticPublishJob::finished);
    // The job is still inside its signal: let it return before anything goes away.
    co_await sleepFor(std::chrono::milliseconds(0));
    services.store().flush();
    if (job->wasCancelled())
        throw CliError(QStringLiteral("Cancelled."));
    if (!job->succeeded())
        throw CliError(job->errorMessage().value_or(QStringLiteral("Failed.")));
}

QCoro::Task<int> build(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    if (args.size() != 1)
        throw CliError::usage(QString::fromUtf8(kStaticUsage));
    const SitePtr site = cli::resolveSite(services.store(), args.first());
    StaticPublishJob* job = services.staticPublishes().generateOnly(site);
    co_await follow(services, job, json ? cli::err() : cli::out());
    const auto made = job->build();
    if (json && made)
        cli::printJson(cli::out(), Json{{"output", utf8(made->output)},
                                        {"files", made->files},
                                        {"rewritten", made->rewritten},
                                        {"builtAt", utf8(made->builtAt.toUTC().toString(Qt::ISODate))}});
    co_return 0;
}

QCoro::Task<int> hostConfig(AppServices& services, QStringList args)
{
    if (args.size() != 1)
        throw CliError::usage(QString::fromUtf8(kStaticUsage));
    const SitePtr site = cli::resolveSite(services.store(), args.first());
    const QString output = co_await services.staticBuilder().outputDirectory(site);
    QString project;
    if (site->staticHostKind() == QLatin1String("cloudflarePages"))
        project = site->staticHostSiteId().value_or(QString());
    StaticSiteSupport::writeNetlifyToml(site->path(), output);
    StaticSiteSupport::writeCloudflarePagesConfig(site->path(), output, project);
    cli::out() << "Wrote netlify.toml and wrangler.toml for optional Git-based deploys.\n";
    co_return 0;
}

HostAccountPtr chooseHost(HostAccountService& hosts, HostProviderKind provider,
                          const std::optional<QString>& word)
{
    if (word) {
        const HostAccountPtr host = hosts.resolve(*word);
        if (host->provider() != provider)
            throw CliError::usage(QStringLiteral("“%1” is not a %2 account.")
                                      .arg(*word, HostAccountService::providerTitle(provider)));
        return host;
    }
    const QList<HostAccountPtr> accounts = hosts.accounts(provider);
    if (accounts.isEmpty())
        throw CliError(QStringLiteral("Connect a Netlify or Cloudflare Pages account first."));
    if (accounts.size() > 1) {
        QStringList names;
        for (const HostAccountPtr& host : accounts)
            names << host->label() + QStringLiteral(" (") + uuidString(host->id()).left(8) + QLatin1Char(')');
        throw CliError::usage(
            QStringLiteral("Several %1 accounts are connected: choose one with --host: %2.")
                .arg(HostAccountService::providerTitle(provider), names.join(QStringLiteral(", "))));
    }
    return accounts.first();
}

} // namespace

QCoro::Task<int> runStaticCommand(AppServices& services, QStringList args)
{
    const QString verb = args.value(0);
    if (verb == QLatin1String("build"))
        co_return co_await build(services, args.mid(1));
    if (verb == QLatin1String("host-config"))
        co_return co_await hostConfig(services, args.mid(1));
    throw CliError::usage(QString::fromUtf8(kStaticUsage));
}

QCoro::Task<int> runPublishCommand(AppServices& services, QStringList args)
{
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--")))
        throw CliError::usage(QString::fromUtf8(kPublishUsage));
    const QString reference = args.takeFirst();
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const bool netlify = takeFlag(args, QStringLiteral("--netlify"));
    const bool cloudflare = takeFlag(args, QStringLiteral("--cloudflare"));
    const bool createNew = takeFlag(args, QStringLiteral("--new"));
    const bool skipBuild = takeFlag(args, QStringLiteral("--skip-build"));
    const bool zip = takeFlag(args, QStringLiteral("--zip"));
    const auto hostWord = takeOption(args, QStringLiteral("--host"));
    const auto name = takeOption(args, QStringLiteral("--name"));
    const auto target = takeOption(args, QStringLiteral("--target"));
    if (!args.isEmpty() || netlify == cloudflare || (createNew && target) || (name && !createNew) ||
        (zip && cloudflare))
        throw CliError::usage(QString::fromUtf8(kPublishUsage));
    const SitePtr site = cli::resolveSite(services.store(), reference);
    const HostProviderKind provider = netlify ? HostProviderKind::netlify : HostProviderKind::cloudflarePages;

    StaticPublishRequest request;
    request.host = chooseHost(services.hostAccounts(), provider, hostWord);
    request.createNewSite = createNew;
    request.existingSiteID = target;
    request.siteName = name.value_or(site->displayName());
    request.regenerate = !skipBuild;
    request.forceZip = zip;
    StaticPublishJob* job = services.staticPublishes().publish(site, request);
    co_await follow(services, job, json ? cli::err() : cli::out());
    if (json) {
        const DeploymentPtr deployment = job->deployment();
        cli::printJson(cli::out(), Json{{"host", utf8(uuidString(request.host->id()))},
                                        {"target", utf8(job->targetID())},
                                        {"url", utf8(job->publicURL())},
                                        {"deployment", deployment ? Json(utf8(uuidString(deployment->id())))
                                                                  : Json(nullptr)},
                                        {"uploaded", job->uploaded()},
                                        {"unchanged", job->unchanged()}});
    }
    co_return 0;
}

QList<cli::CliCommand> staticCommands()
{
    return {
        {.verb = QStringLiteral("static"),
         .summary = QStringLiteral("generate a site as static files"),
         .run = [](cli::CliCall& call) { return runStaticCommand(call.app(), call.args); },
         .forms = {{.subverb = QStringLiteral("build"),
                    .arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral("generate the static site; Ctrl-C cancels"),
                    .options = {cli::jsonOption()}},
                   {.subverb = QStringLiteral("host-config"),
                    .arguments = QStringLiteral("<site>"),
                    .help = QStringLiteral("write netlify.toml and wrangler.toml for Git-based builds")}}},
        {.verb = QStringLiteral("publish"),
         .summary = QStringLiteral("publish a static site to Netlify or Cloudflare Pages"),
         .run = [](cli::CliCall& call) { return runPublishCommand(call.app(), call.args); },
         .forms = {{.arguments =
                        QStringLiteral("<site> --netlify|--cloudflare [--host HOST] [--new [--name NAME] | "
                                       "--target ID] [--skip-build] [--zip] [--json]"),
                    .help = QStringLiteral(
                        "generate and publish the site; a site published before goes to the same "
                        "target"),
                    .options =
                        {{QStringLiteral("--netlify"), {}, QStringLiteral("publish to Netlify")},
                         {QStringLiteral("--cloudflare"), {}, QStringLiteral("publish to Cloudflare Pages")},
                         {QStringLiteral("--host"), QStringLiteral("HOST"),
                          QStringLiteral("the hosting account, when there are several")},
                         {QStringLiteral("--new"), {}, QStringLiteral("create a new site or project")},
                         {QStringLiteral("--name"), QStringLiteral("NAME"),
                          QStringLiteral("the new site’s or project’s name")},
                         {QStringLiteral("--target"), QStringLiteral("ID"),
                          QStringLiteral("an existing Netlify site id or Cloudflare project")},
                         {QStringLiteral("--skip-build"),
                          {},
                          QStringLiteral("publish the last output instead of generating again")},
                         {QStringLiteral("--zip"), {}, QStringLiteral("send one zip to Netlify")},
                         cli::jsonOption()}}}},
    };
}

} // namespace halvik
