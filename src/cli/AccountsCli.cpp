#include "AccountsCli.h"

#include "CliContext.h"
#include "CliJson.h"

#include "services/accounts/SourceControlService.h"
#include "services/git/GitService.h"

#include <QFileInfo>
#include <QTextStream>

namespace halvik {

using cli::CliError;
using cli::Json;
using cli::utf8;

namespace {

const char* kAccountsUsage = "Usage: halvik accounts [--json] | connect github|gitlab|bitbucket|origin "
                             "[--token-stdin] [--username NAME] | disconnect PROVIDER";
const char* kCreateUsage =
    "Usage: halvik git create-remote <site> --provider PROVIDER --name NAME [--owner OWNER] [--public]";

SourceControlProvider parseProvider(const QString& word)
{
    const auto provider = fromRaw<SourceControlProvider>(word.toLower());
    if (!provider)
        throw CliError::usage(
            QStringLiteral("Unknown provider “%1”: github, gitlab, bitbucket or origin.").arg(word));
    return *provider;
}

// Takes "--name VALUE" out of `args`.
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

QString readTokenLine(FILE* input)
{
    QTextStream stream(input);
    const QString token = stream.readLine().trimmed();
    if (token.isEmpty())
        throw CliError::usage(QStringLiteral("No token on standard input."));
    return token;
}

QCoro::Task<int> list(AppServices& services, bool json)
{
    const SiteStore& store = services.store();
    Json accounts = Json::array();
    for (const SourceControlProvider provider : allCases<SourceControlProvider>()) {
        const auto account = store.sourceControlAccount(provider);
        if (json) {
            accounts.push_back(
                Json{{"provider", utf8(toRaw(provider))},
                     {"name", utf8(title(provider))},
                     {"connected", account.has_value()},
                     {"login", account ? Json(utf8(account->login)) : Json(nullptr)},
                     {"connectedAt", account ? Json(utf8(account->connectedAt.toUTC().toString(Qt::ISODate)))
                                             : Json(nullptr)}});
            continue;
        }
        cli::out() << QStringLiteral("%1  %2\n")
                          .arg(title(provider), -13)
                          .arg(account ? QStringLiteral("Connected as @") + account->login
                                       : QStringLiteral("Not connected"));
    }
    if (json)
        cli::printJson(cli::out(), accounts);
    co_return 0;
}

QCoro::Task<int> connect(AppServices& services, QStringList args, FILE* input)
{
    if (args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kAccountsUsage));
    const SourceControlProvider provider = parseProvider(args.takeFirst());
    const std::optional<QString> username = takeOption(args, QStringLiteral("--username"));
    const bool tokenFromInput = args.removeAll(QStringLiteral("--token-stdin")) > 0;
    if (!args.isEmpty())
        throw CliError::usage(QStringLiteral("Unknown option %1 for accounts connect.").arg(args.first()));
    SourceControlService& accounts = services.sourceControl();
    const auto progress = [](const QString& line) {
        cli::out() << line << '\n';
        cli::out().flush();
    };

    if (provider == SourceControlProvider::origin) {
        co_await accounts.connectOrigin(progress);
    } else if (tokenFromInput) {
        const QString token = readTokenLine(input);
        co_await accounts.connect(provider, token, username);
    } else if (provider != SourceControlProvider::github) {
        throw CliError::usage(
            QStringLiteral("%1 needs a token: pipe it in with --token-stdin.").arg(title(provider)));
    } else if (const QString clientID = GitHubOAuth::clientID(); !clientID.isEmpty()) {
        const auto showCode = [](const GitHubDeviceCode& code) {
            cli::out() << "Open " << code.verificationURI << " and enter the code " << code.userCode << '\n';
            cli::out().flush();
        };
        co_await accounts.connectGitHubViaDevice(clientID, showCode, progress);
    } else {
        co_await accounts.connectGitHubViaCLI(progress);
    }
    services.store().flush();
    const auto account = services.store().sourceControlAccount(provider);
    cli::out() << "Connected to " << title(provider) << " as @" << (account ? account->login : QString())
               << '\n';
    co_return 0;
}

} // namespace

QCoro::Task<int> runAccountsCommand(AppServices& services, QStringList args, FILE* input)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    const QString verb = args.value(0);
    if (verb.isEmpty())
        co_return co_await list(services, json);
    if (verb == QLatin1String("connect"))
        co_return co_await connect(services, args.mid(1), input);
    if (verb == QLatin1String("disconnect")) {
        if (args.size() != 2)
            throw CliError::usage(QString::fromUtf8(kAccountsUsage));
        const SourceControlProvider provider = parseProvider(args.at(1));
        services.sourceControl().disconnect(provider);
        services.store().flush();
        cli::out() << "Disconnected " << title(provider) << ".\n";
        co_return 0;
    }
    throw CliError::usage(QString::fromUtf8(kAccountsUsage));
}

QCoro::Task<int> runCreateRemoteCommand(AppServices& services, QStringList args)
{
    if (args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kCreateUsage));
    const QString reference = args.takeFirst();
    const std::optional<QString> providerWord = takeOption(args, QStringLiteral("--provider"));
    const std::optional<QString> name = takeOption(args, QStringLiteral("--name"));
    const std::optional<QString> owner = takeOption(args, QStringLiteral("--owner"));
    const bool isPublic = args.removeAll(QStringLiteral("--public")) > 0;
    if (!providerWord || !name || !args.isEmpty())
        throw CliError::usage(QString::fromUtf8(kCreateUsage));
    const SourceControlProvider provider = parseProvider(*providerWord);

    SitePtr site;
    try {
        site = cli::resolveSite(services.store(), reference);
    } catch (const CliError&) {
        const QFileInfo folder(reference);
        if (!folder.isDir())
            throw;
        site = std::make_shared<Site>(folder.fileName(), folder.canonicalFilePath());
    }
    GitService& git = services.git();
    if (!GitService::isRepository(site->path()))
        throw CliError(QStringLiteral("%1 is not a Git repository.").arg(site->path()));
    if (co_await git.currentRemote(site))
        throw CliError(QStringLiteral("This site already has a remote."));

    const GitRemoteRepository repo =
        co_await services.sourceControl().createRepository(provider, *name, !isPublic, owner);
    cli::out() << "Created " << repo.fullName << "  " << repo.htmlURL << '\n';
    cli::out().flush();
    co_await git.addOrigin(site, repo.cloneURL);
    co_await git.push(site);
    services.store().flush();
    cli::out() << "Pushed to " << repo.cloneURL << '\n';
    co_return 0;
}

QList<cli::CliCommand> accountsCommands()
{
    return {
        {.verb = QStringLiteral("accounts"),
         .summary = QStringLiteral("the connected source-control accounts"),
         .run = [](cli::CliCall& call) { return runAccountsCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("the connected source-control accounts"),
                    .options = {cli::jsonOption()}},
                   {.subverb = QStringLiteral("connect"),
                    .arguments =
                        QStringLiteral("github|gitlab|bitbucket|origin [--token-stdin] [--username NAME]"),
                    .help = QStringLiteral(
                        "connect an account; the token is read as one line from standard input"),
                    .options = {{QStringLiteral("--token-stdin"),
                                 {},
                                 QStringLiteral("read the token from standard input")},
                                {QStringLiteral("--username"), QStringLiteral("NAME"),
                                 QStringLiteral("the account’s user name, where the provider needs one")}}},
                   {.subverb = QStringLiteral("disconnect"),
                    .arguments = QStringLiteral("PROVIDER"),
                    .help = QStringLiteral("forget an account and its token")}}},
    };
}

} // namespace halvik
