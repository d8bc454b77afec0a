#include "HostsCli.h"

#include "CliContext.h"
#include "CliJson.h"
#include "CloudCli.h"

#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"

#include <QTextStream>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kUsage = "Usage: halvik hosts [--json] | connect forge --token-stdin | connect cloud "
                     "[--token-stdin] | disconnect <host> | show <host> [--json]";

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
    const QString provider = args.value(0).toLower();
    if (provider == QLatin1String("cloud"))
        co_return co_await runCloudLogin(services, args.mid(1), input);
    if (provider != QLatin1String("forge") || args.size() != 2 ||
        args.at(1) != QLatin1String("--token-stdin"))
        throw CliError::usage(QString::fromUtf8(kUsage));
    QTextStream stream(input);
    const QString token = stream.readLine().trimmed();
    if (token.isEmpty())
        throw CliError::usage(QStringLiteral("No token on standard input."));
    const HostAccountPtr host = co_await hosts.connect(HostProviderKind::forge, token);
    services.store().flush();
    cli::out() << "Connected to Laravel Forge as " << host->label() << '\n';
    co_return 0;
}

QCoro::Task<int> show(AppServices& services, const QString& reference, bool json)
{
    HostAccountService& hosts = services.hostAccounts();
    const HostAccountPtr host = hosts.resolve(reference);
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
                    .arguments = QStringLiteral("forge --token-stdin"),
                    .help = QStringLiteral(
                        "connect a hosting account; the token is read as one line from standard input"),
                    .options = {{QStringLiteral("--token-stdin"),
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
                    .help = QStringLiteral("the account and its Forge servers or Cloud applications"),
                    .options = {cli::jsonOption()}}}},
    };
}

} // namespace halvik
