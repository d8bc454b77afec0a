#include "HostsCli.h"

#include "CliContext.h"
#include "CliJson.h"
#include "CloudCli.h"

#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/NetlifyClient.h"

#include <QTextStream>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kUsage =
    "Usage: halvik hosts [--json] | connect forge|netlify --token-stdin | connect cloudflare "
    "--account-id ID --token-stdin | connect cloud [--token-stdin] | disconnect <host> | show <host> "
    "[--json]";

Json dateJson(const std::optional<QDateTime>& date)
{
    return date ? Json(utf8(date->toUTC().toString(Qt::ISODate))) : Json(nullptr);
}

Json hostJson(const HostAccount& host)
{
    return Json{{"id", utf8(uuidString(host.id()))},
                {"provider", utf8(host.providerRaw())},
                {"label", utf8(host.label())},
                {"createdAt", dateJson(host.createdAt())},
                {"lastVerifiedAt", dateJson(host.lastVerifiedAt())}};
}

QString providerName(const HostAccount& host)
{
    return HostAccountService::providerTitle(host.provider().value_or(HostProviderKind::forge));
}

int list(HostAccountService& hosts, bool json)
{
    Json array = Json::array();
    for (const HostAccountPtr& host : hosts.accounts()) {
        if (json) {
            array.push_back(hostJson(*host));
            continue;
        }
        cli::out()
            << QStringLiteral("%1  %2  %3\n").arg(uuidString(host->id()), providerName(*host), host->label());
    }
    if (json)
        cli::printJson(cli::out(), array);
    else if (hosts.accounts().isEmpty())
        cli::out() << "No hosts connected.\n";
    return 0;
}

QCoro::Task<int> connectHost(AppServices& services, QStringList args, FILE* input)
{
    HostAccountService& hosts = services.hostAccounts();
    const QString word = args.value(0).toLower();
    if (word == QLatin1String("cloud"))
        co_return co_await runCloudLogin(services, args.mid(1), input);
    args = args.mid(1);
    std::optional<QString> accountID;
    if (const qsizetype at = args.indexOf(QStringLiteral("--account-id")); at >= 0) {
        if (at + 1 >= args.size())
            throw CliError::usage(QStringLiteral("--account-id needs a value."));
        accountID = args.at(at + 1);
        args.remove(at, 2);
    }
    std::optional<HostProviderKind> provider;
    if (word == QLatin1String("forge"))
        provider = HostProviderKind::forge;
    else if (word == QLatin1String("netlify"))
        provider = HostProviderKind::netlify;
    else if (word == QLatin1String("cloudflare"))
        provider = HostProviderKind::cloudflarePages;
    if (!provider || args != QStringList{QStringLiteral("--token-stdin")} ||
        (accountID.has_value() != HostAccountService::needsAccountID(*provider)))
        throw CliError::usage(QString::fromUtf8(kUsage));
    QTextStream stream(input);
    const QString token = stream.readLine().trimmed();
    if (token.isEmpty())
        throw CliError::usage(QStringLiteral("No token on standard input."));
    const HostAccountPtr host = co_await hosts.connect(*provider, token, accountID);
    services.store().flush();
    cli::out() << "Connected to " << HostAccountService::providerTitle(*provider) << " as " << host->label()
               << '\n';
    co_return 0;
}

// A static host's sites or projects.
QCoro::Task<int> showStatic(AppServices& services, HostAccountPtr host, bool json)
{
    const auto token = services.hostAccounts().token(*host);
    if (!token)
        throw CliError(QStringLiteral("Connect a Netlify or Cloudflare Pages account first."));
    Json list = Json::array();
    QStringList lines;
    if (host->provider() == HostProviderKind::netlify) {
        const QList<NetlifySite> sites = co_await services.netlify().sites(*token);
        for (const NetlifySite& site : sites) {
            list.push_back(
                Json{{"id", utf8(site.id)}, {"name", utf8(site.name)}, {"url", utf8(site.publicURL())}});
            lines << QStringLiteral("%1  %2  %3").arg(site.id, site.name, site.publicURL());
        }
    } else {
        const QString account = host->providerAccountID().value_or(QString());
        if (account.isEmpty())
            throw CliError(QStringLiteral("Missing Cloudflare account ID."));
        const QList<CloudflareProject> projects = co_await services.cloudflare().projects(*token, account);
        for (const CloudflareProject& project : projects) {
            list.push_back(Json{{"name", utf8(project.name)}, {"url", utf8(project.url())}});
            lines << QStringLiteral("%1  %2").arg(project.name, project.url());
        }
    }
    const bool netlify = host->provider() == HostProviderKind::netlify;
    if (json) {
        cli::printJson(cli::out(), Json{{"host", hostJson(*host)}, {netlify ? "sites" : "projects", list}});
        co_return 0;
    }
    for (const QString& line : std::as_const(lines))
        cli::out() << line << '\n';
    if (lines.isEmpty())
        cli::out() << (netlify ? "No sites on this account.\n" : "No projects on this account.\n");
    co_return 0;
}

QCoro::Task<int> show(AppServices& services, const QString& reference, bool json)
{
    HostAccountService& hosts = services.hostAccounts();
    const HostAccountPtr host = hosts.resolve(reference);
    if (host->provider() == HostProviderKind::netlify ||
        host->provider() == HostProviderKind::cloudflarePages)
        co_return co_await showStatic(services, host, json);
    if (host->provider() == HostProviderKind::laravelCloud)
        co_return co_await showCloudHost(services, host, json);
    if (host->provider() != HostProviderKind::forge) {
        if (json)
            cli::printJson(cli::out(), Json{{"host", hostJson(*host)}});
        else
            cli::out() << host->label() << "  " << providerName(*host) << '\n';
        co_return 0;
    }
    const auto token = hosts.token(*host);
    if (!token)
        throw CliError(QStringLiteral("Connect Forge first."));
    const QList<ForgeServer> servers = co_await services.forge().servers(*token);
    const QList<SitePtr> linked = hosts.sitesUsing(*host);
    Json serverList = Json::array();
    for (const ForgeServer& server : servers) {
        Json siteIds = Json::array();
        QStringList names;
        for (const SitePtr& site : linked)
            if (site->forgeServerId() == server.id) {
                siteIds.push_back(utf8(uuidString(site->id())));
                names << site->displayName();
            }
        if (json) {
            serverList.push_back(Json{{"id", server.id},
                                      {"name", utf8(server.name)},
                                      {"ipAddress", utf8(server.ipAddress)},
                                      {"region", utf8(server.region)},
                                      {"phpVersion", utf8(server.phpVersion)},
                                      {"isReady", server.isReady},
                                      {"sites", siteIds}});
            continue;
        }
        cli::out() << QStringLiteral("%1  %2  %3  %4  PHP %5  %6%7\n")
                          .arg(server.id)
                          .arg(server.name, server.ipAddress, server.region, server.phpVersion,
                               server.isReady ? QStringLiteral("ready") : QStringLiteral("not ready"),
                               names.isEmpty() ? QString()
                                               : QStringLiteral("  ") + names.join(QStringLiteral(", ")));
    }
    if (json) {
        cli::printJson(cli::out(), Json{{"host", hostJson(*host)}, {"servers", serverList}});
    } else if (servers.isEmpty()) {
        cli::out() << "No servers on this account.\n";
    }
    co_return 0;
}

} // namespace

QCoro::Task<int> runHostsCommand(AppServices& services, QStringList args, FILE* input)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    HostAccountService& hosts = services.hostAccounts();
    const QString verb = args.value(0);
    if (verb.isEmpty())
        co_return list(hosts, json);
    if (verb == QLatin1String("connect") && !json)
        co_return co_await connectHost(services, args.mid(1), input);
    if (verb == QLatin1String("disconnect") && args.size() == 2 && !json) {
        const HostAccountPtr host = hosts.resolve(args.at(1));
        hosts.disconnect(host);
        services.store().flush();
        cli::out() << "Disconnected " << host->label() << '\n';
        co_return 0;
    }
    if (verb == QLatin1String("show") && args.size() == 2)
        co_return co_await show(services, args.at(1), json);
    throw CliError::usage(QString::fromUtf8(kUsage));
}

QList<cli::CliCommand> hostsCommands()
{
    return {
        {.verb = QStringLiteral("hosts"),
         .summary = QStringLiteral("the connected hosting accounts"),
         .run = [](cli::CliCall& call) { return runHostsCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("the connected hosting accounts"),
                    .options = {cli::jsonOption()}},
                   {.subverb = QStringLiteral("connect"),
                    .arguments = QStringLiteral("forge|netlify --token-stdin"),
                    .help = QStringLiteral(
                        "connect a hosting account; the token is read as one line from standard input"),
                    .options = {{QStringLiteral("--token-stdin"),
                                 {},
                                 QStringLiteral("read the token from standard input")}}},
                   {.subverb = QStringLiteral("connect"),
                    .arguments = QStringLiteral("cloudflare --account-id ID --token-stdin"),
                    .help = QStringLiteral("connect a Cloudflare Pages account; the API token is read from "
                                           "standard input"),
                    .options = {{QStringLiteral("--account-id"), QStringLiteral("ID"),
                                 QStringLiteral("the Cloudflare account the token works in")},
                                {QStringLiteral("--token-stdin"),
                                 {},
                                 QStringLiteral("read the token from standard input")}}},
                   {.subverb = QStringLiteral("connect"),
                    .arguments = QStringLiteral("cloud [--token-stdin]"),
                    .help = QStringLiteral("sign in to Laravel Cloud through the browser (as `cloud login`)"),
                    .options = {{QStringLiteral("--token-stdin"),
                                 {},
                                 QStringLiteral("read an API token from standard input instead")}}},
                   {.subverb = QStringLiteral("disconnect"),
                    .arguments = QStringLiteral("<host>"),
                    .help = QStringLiteral("forget a hosting account and its token")},
                   {.subverb = QStringLiteral("show"),
                    .arguments = QStringLiteral("<host> [--json]"),
                    .help = QStringLiteral("the account and its servers, applications, sites or projects"),
                    .options = {cli::jsonOption()}}}},
    };
}

} // namespace halvik
