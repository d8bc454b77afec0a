#include "CloudCli.h"

#include "CliContext.h"
#include "CliJson.h"

#include "app/AppServices.h"
#include "models/SiteStore.h"
#include "platform/Browser.h"
#include "platform/QuitSignals.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QTextStream>

#include <algorithm>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kEnvUsage = "Usage: halvik cloud env <site> [--json] [--set KEY=VALUE…] [--unset KEY…]";
const char* kUsage = "Usage: halvik cloud login [--token-stdin] | env <site> [--json] [--set KEY=VALUE…] "
                     "[--unset KEY…] | unlink <site>";

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

// The sign-in as the terminal shows it: the address first, for a desktop without a browser.
CloudBrowserAuth::Options terminalOptions(QTextStream& stream)
{
    CloudBrowserAuth::Options options;
    options.openBrowser = [](const QUrl& url) { return Browser::open(url); };
    options.onURL = [&stream](const QUrl& url) {
        stream << "Open this address if no browser opens: " << url.toString() << Qt::endl;
    };
    options.onStatus = [&stream](const QString& line) { stream << line << Qt::endl; };
    return options;
}

QCoro::Task<QList<CloudSignIn>> signInFromTerminal(AppServices& services, QTextStream& stream,
                                                   CancellationToken cancel)
{
    const CloudBrowserAuth::Options options = terminalOptions(stream);
    try {
        co_return co_await CloudBrowserAuth::signIn(services.cloud(), options, cancel);
    } catch (const CancelledError&) {
    }
    throw CliError(s("Sign-in cancelled."));
}

SitePtr cloudSite(AppServices& services, const QString& reference)
{
    const SitePtr site = cli::resolveSite(services.store(), reference);
    if (!site->cloudEnvId() || !site->cloudHostId())
        throw CliError(s("This site isn’t on Laravel Cloud."));
    return site;
}

QString cloudToken(AppServices& services, const Site& site)
{
    HostAccountService& hosts = services.hostAccounts();
    const HostAccountPtr host = site.cloudHostId() ? hosts.account(*site.cloudHostId()) : nullptr;
    const auto token = host ? hosts.token(*host) : std::nullopt;
    if (!token)
        throw CliError(s("Connect a Laravel Cloud account first."));
    return *token;
}

QCoro::Task<int> runCloudEnv(AppServices& services, QStringList args)
{
    if (args.isEmpty())
        throw CliError::usage(s(kEnvUsage));
    const QString reference = args.takeFirst();
    const bool json = args.removeAll(s("--json")) > 0;
    QList<CloudEnvironmentVariable> set;
    QStringList unset;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option != QLatin1String("--set") && option != QLatin1String("--unset"))
            throw CliError::usage(s(kEnvUsage));
        bool any = false;
        while (!args.isEmpty() && !args.first().startsWith(s("--"))) {
            const QString value = args.takeFirst();
            any = true;
            if (option == QLatin1String("--unset")) {
                unset << value;
                continue;
            }
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            if (equals <= 0)
                throw CliError::usage(s("--set takes KEY=VALUE, not “%1”.").arg(value));
            set << CloudEnvironmentVariable{value.left(equals), value.mid(equals + 1)};
        }
        if (!any)
            throw CliError::usage(option + s(" needs a value."));
    }
    const SitePtr site = cloudSite(services, reference);
    const QString token = cloudToken(services, *site);
    LaravelCloudClient& cloud = services.cloud();
    const QString envID = *site->cloudEnvId();
    if (!set.isEmpty())
        co_await cloud.addEnvironmentVariables(envID, set, token);
    if (!unset.isEmpty())
        co_await cloud.deleteEnvironmentVariables(envID, unset, token);
    const CloudEnvironment environment = co_await cloud.environment(envID, token);
    if (json) {
        Json variables = Json::array();
        for (const CloudEnvironmentVariable& variable : environment.environmentVariables)
            variables.push_back(Json{{"key", utf8(variable.key)}, {"value", utf8(variable.value)}});
        cli::printJson(cli::out(), Json{{"environmentId", utf8(environment.id)},
                                        {"name", utf8(environment.name)},
                                        {"url", utf8(environment.vanityURL())},
                                        {"variables", variables}});
        co_return 0;
    }
    if (environment.environmentVariables.isEmpty())
        cli::out() << "No environment variables.\n";
    for (const CloudEnvironmentVariable& variable : environment.environmentVariables)
        cli::out() << variable.key << '=' << variable.value << '\n';
    co_return 0;
}

int runCloudUnlink(AppServices& services, const QStringList& args)
{
    if (args.size() != 1)
        throw CliError::usage(s("Usage: halvik cloud unlink <site>"));
    const SitePtr site = cli::resolveSite(services.store(), args.first());
    if (!site->isLinkedToCloud())
        throw CliError(s("This site isn’t on Laravel Cloud."));
    site->setCloudAppId(std::nullopt);
    site->setCloudEnvId(std::nullopt);
    site->setCloudHostId(std::nullopt);
    site->setCloudURL(std::nullopt);
    services.store().save();
    services.store().flush();
    cli::out() << "Unlinked " << site->displayName()
               << " from Laravel Cloud; the application on Cloud stays as it is.\n";
    return 0;
}

QCoro::Task<int> runCloudCommand(AppServices& services, QStringList args)
{
    const QString verb = args.value(0);
    if (verb == QLatin1String("login"))
        co_return co_await runCloudLogin(services, args.mid(1));
    if (verb == QLatin1String("env"))
        co_return co_await runCloudEnv(services, args.mid(1));
    if (verb == QLatin1String("unlink"))
        co_return runCloudUnlink(services, args.mid(1));
    throw CliError::usage(s(kUsage));
}

} // namespace

QCoro::Task<int> runCloudLogin(AppServices& services, QStringList args, FILE* input)
{
    HostAccountService& hosts = services.hostAccounts();
    if (args == QStringList{s("--token-stdin")}) {
        QTextStream stream(input);
        const QString token = stream.readLine().trimmed();
        if (token.isEmpty())
            throw CliError::usage(s("No token on standard input."));
        const HostAccountPtr host = co_await hosts.connect(HostProviderKind::laravelCloud, token);
        services.store().flush();
        cli::out() << "Signed in to " << host->label() << '\n';
        co_return 0;
    }
    if (!args.isEmpty())
        throw CliError::usage(s("Usage: halvik cloud login [--token-stdin]"));
    CancellationSource cancel;
    QuitSignals interrupt;
    QObject::connect(&interrupt, &QuitSignals::received, &interrupt, [&cancel](int) { cancel.cancel(); });
    const QList<CloudSignIn> signIns = co_await signInFromTerminal(services, cli::out(), cancel.token());
    hosts.persistCloudSignIns(signIns);
    services.store().flush();
    co_return 0;
}

CloudTokenRenewer terminalCloudRenewer(AppServices& services, CancellationToken cancel)
{
    return
        [&services, cancel](HostAccountPtr host, CancellationToken) -> QCoro::Task<std::optional<QString>> {
            QTextStream err(stderr);
            err << "Signing in to Laravel Cloud again…" << Qt::endl;
            const QList<CloudSignIn> signIns = co_await signInFromTerminal(services, err, cancel);
            // The token of the account's own organization, else the first one.
            for (const CloudSignIn& signIn : signIns)
                if (signIn.organization.compare(host->label(), Qt::CaseInsensitive) == 0)
                    co_return signIn.token;
            co_return signIns.first().token;
        };
}

QCoro::Task<int> showCloudHost(AppServices& services, HostAccountPtr host, bool json)
{
    HostAccountService& hosts = services.hostAccounts();
    const auto token = hosts.token(*host);
    if (!token)
        throw CliError(s("Connect Laravel Cloud first."));
    const QList<CloudApplication> applications = co_await services.cloud().applications(*token);
    const QList<SitePtr> linked = hosts.sitesUsing(*host);
    Json list = Json::array();
    for (const CloudApplication& application : applications) {
        Json siteIds = Json::array();
        QStringList names;
        for (const SitePtr& site : linked)
            if (site->cloudAppId() == application.id) {
                siteIds.push_back(utf8(uuidString(site->id())));
                names << site->displayName();
            }
        if (json) {
            list.push_back(Json{{"id", utf8(application.id)},
                                {"name", utf8(application.name)},
                                {"region", utf8(application.region)},
                                {"environmentId", utf8(application.environmentID)},
                                {"url", utf8(application.vanityURL)},
                                {"sites", siteIds}});
            continue;
        }
        cli::out() << QStringLiteral("%1  %2  %3  %4%5\n")
                          .arg(application.id, application.name, application.region, application.vanityURL,
                               names.isEmpty() ? QString()
                                               : QStringLiteral("  ") + names.join(QStringLiteral(", ")));
    }
    if (json) {
        const Json hostObject{{"id", utf8(uuidString(host->id()))},
                              {"provider", utf8(host->providerRaw())},
                              {"label", utf8(host->label())}};
        cli::printJson(cli::out(), Json{{"host", hostObject}, {"applications", list}});
    } else if (applications.isEmpty()) {
        cli::out() << "No applications on this account.\n";
    }
    co_return 0;
}

QList<cli::CliCommand> cloudCommands()
{
    return {
        {.verb = s("cloud"),
         .summary = s("Laravel Cloud: sign-in, a site’s environment, unlinking"),
         .run = [](cli::CliCall& call) { return runCloudCommand(call.app(), call.args); },
         .forms =
             {{.subverb = s("login"),
               .arguments = s("[--token-stdin]"),
               .help = s("sign in to Laravel Cloud through the browser, or with a token from standard input"),
               .options = {{s("--token-stdin"), {}, s("read an API token from standard input instead")}}},
              {.subverb = s("env"),
               .arguments = s("<site> [--json] [--set KEY=VALUE…] [--unset KEY…]"),
               .help = s("the site’s Cloud environment variables, after setting or deleting some"),
               .options = {cli::jsonOption(),
                           {s("--set"), s("KEY=VALUE…"), s("set variables on the Cloud environment")},
                           {s("--unset"), s("KEY…"), s("delete variables from the Cloud environment")}}},
              {.subverb = s("unlink"),
               .arguments = s("<site>"),
               .help = s("forget the site’s Cloud application, deleting nothing on Cloud")}}},
    };
}

} // namespace halvik
