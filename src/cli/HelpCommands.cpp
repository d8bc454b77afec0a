#include "HelpCommands.h"

#include "CliContext.h"
#include "CommandTable.h"
#include "CompletionScripts.h"
#include "HelpText.h"
#include "ManPage.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"

namespace halvik::cli {

namespace {

QCoro::Task<int> printVersion(CliCall& call)
{
    out() << "halvik " << HALVIK_VERSION << Qt::endl;
    co_return 0;
}

QCoro::Task<int> printHelp(CliCall& call)
{
    const CliCommand* command = call.args.size() == 1 ? findCommand(call.args.first()) : nullptr;
    if (call.args.isEmpty()) {
        out() << generalHelp(commandTable());
    } else if (call.args == QStringList{QStringLiteral("--man")}) {
        out() << manPage(commandTable(), QStringLiteral(HALVIK_VERSION));
    } else if (command) {
        out() << verbHelp(*command);
    } else if (call.args.size() == 1 && !call.args.first().startsWith(QLatin1Char('-'))) {
        throw CliError::usage(QStringLiteral("Unknown command “%1”.").arg(call.args.first()));
    } else {
        throw CliError::usage(QStringLiteral("Usage: halvik help [<verb>] | help --man"));
    }
    out().flush();
    co_return 0;
}

// The names a completion offers for <site>: every registered site's display name, read from
// the store file alone, so completing never waits for anything else.
QCoro::Task<int> printCompletion(CliCall& call)
{
    const QString what = call.args.value(0);
    if (call.args.size() != 1 || (what != QLatin1String("sites") && !completionShells().contains(what)))
        throw CliError::usage(QStringLiteral("Usage: halvik completion bash|zsh|fish|sites"));
    if (what == QLatin1String("sites")) {
        SecretStore secrets;
        SiteStore store(secrets);
        store.load();
        for (const SitePtr& site : store.sites())
            out() << site->displayName() << '\n';
    } else {
        out() << completionScript(what, commandTable());
    }
    out().flush();
    co_return 0;
}

} // namespace

QList<CliCommand> helpCommands()
{
    return {
        {.verb = QStringLiteral("--version"),
         .aliases = {QStringLiteral("version")},
         .summary = QStringLiteral("print Halvik’s version"),
         .needs = CliCommand::Needs::nothing,
         .run = printVersion,
         .forms = {{.help = QStringLiteral("print the version")}}},
        {.verb = QStringLiteral("help"),
         .aliases = {QStringLiteral("--help"), QStringLiteral("-h")},
         .summary = QStringLiteral("describe the commands"),
         .needs = CliCommand::Needs::nothing,
         .run = printHelp,
         .forms = {{.arguments = QStringLiteral("[<verb>]"),
                    .help = QStringLiteral("show this help, or one command’s forms and options")},
                   {.arguments = QStringLiteral("--man"),
                    .help = QStringLiteral("print the manual page, in roff"),
                    .options = {{QStringLiteral("--man"),
                                 {},
                                 QStringLiteral("the manual page instead of the help")}}}}},
    };
}

QList<CliCommand> completionCommands()
{
    return {
        {.verb = QStringLiteral("completion"),
         .summary = QStringLiteral("print a shell completion script"),
         .needs = CliCommand::Needs::nothing,
         .run = printCompletion,
         .forms = {{.arguments = QStringLiteral("bash|zsh|fish"),
                    .help = QStringLiteral("a script that completes commands, options and site names")},
                   {.subverb = QStringLiteral("sites"),
                    .help =
                        QStringLiteral("the registered sites’ names, one a line (the scripts call this)")}}},
    };
}

} // namespace halvik::cli
