#include "CommandLine.h"

#include "AssetsCommands.h"
#include "CliContext.h"
#include "ComposerCommands.h"
#include "ImportCommands.h"
#include "ProbeCommand.h"
#include "RuntimeCommands.h"
#include "ServeCommands.h"
#include "SitesCommands.h"

#include "AccountsCli.h"
#include "GitCli.h"
#include "async/FireAndForget.h"

#include <QCoreApplication>
#include <QTimer>

namespace halvik::cli {

namespace {

const char* const kHelp =
    "Usage: halvik [command]\n"
    "\n"
    "Without a command, Halvik opens its window.\n"
    "\n"
    "Commands:\n"
    "  --version                        print the version\n"
    "  help                             show this help\n"
    "  sites [--json]                   list the registered sites, newest first\n"
    "  remove <site> [--delete-files]   remove a site from Halvik; --delete-files also moves\n"
    "                                   its folder to the Trash\n"
    "  probe <url>                      tell whether a URL answers, and how\n"
    "  import <path> [--name NAME] [--json]\n"
    "                                   add a folder that already holds a site\n"
    "  import-all <folder> [--json]     add every Quillmar site directly inside a folder\n"
    "  engine [--json]                  show the Herd or Valet set-up: TLD, parked folders, PHP\n"
    "  runtime [--json]                 Halvik's own PHP, Composer and Node, and the Node in use\n"
    "  runtime install-php LINE         download the latest static PHP of a line (8.2 to 8.5)\n"
    "  runtime remove-php LINE          remove a downloaded PHP line\n"
    "  runtime install-node             download Node 22 LTS for Halvik's own use\n"
    "  runtime remove-node              remove Halvik's Node\n"
    "  runtime php <site> [--json]      the PHP a site runs with: path, version, source\n"
    "  open <site> [--control-panel]    open the site in the browser; when that needs Halvik's own\n"
    "                                   server, serve in the foreground until Ctrl-C\n"
    "  serve <site> [--port N]          serve the site with php artisan serve until Ctrl-C\n"
    "  status [--json]                  every site's URL, how it is served and whether it answers\n"
    "  assets status <site> [--json]    bundler, dev and build scripts, node_modules, phase, URL\n"
    "  assets start <site> [--json]     install missing dependencies, start the frontend dev server\n"
    "                                   and stay in the foreground; prints the URL once running\n"
    "                                   (--json: one line {\"site\",\"phase\",\"url\"}); Ctrl-C stops it\n"
    "  assets stop <site>               stop the site's dev server, whichever Halvik process runs it\n"
    "  assets install <site>            npm ci / npm install only\n"
    "  share <site> [--json]            share the site at a public https link until Ctrl-C: progress\n"
    "                                   on stderr, then the URL on stdout (--json: one line\n"
    "                                   {\"site\",\"url\",\"origin\"} once connected)\n"
    "  doctor [--json]                  check the environment and print the diagnostics report\n"
    "  git status <site> [--json]       the repository's branch and changed files\n"
    "  git log <site> [-n N] [--json]   recent commits\n"
    "  git diff <site> <path> [--scope included|remaining]\n"
    "  git commit <site> -m MESSAGE [--all | PATH…]\n"
    "  git include|exclude <site> PATH…   git discard <site> PATH… --yes\n"
    "  git branch <site> [--json]         git switch <site> BRANCH [--create] [--set-aside]\n"
    "  git stash <site> [list|push|apply N|drop N --yes] [--json]\n"
    "  git fetch|pull|push|init <site>    git undo <site> --yes\n"
    "  git identity <site> [--name N --email E [--global]]\n"
    "  git lines <site> <path> include|exclude|discard +N,-N… [--yes]\n"
    "                                   stage, unstage or discard chosen lines of one hunk\n"
    "                                   (+N: line N of the new file, -N: of the old one)\n"
    "  git create-remote <site> --provider PROVIDER --name NAME [--owner OWNER] [--public]\n"
    "                                   create the repository on the provider, set it as\n"
    "                                   origin and push\n"
    "  accounts [--json]                the connected source-control accounts\n"
    "  accounts connect github|gitlab|bitbucket|origin [--token-stdin] [--username NAME]\n"
    "                                   connect an account; the token is read as one line\n"
    "                                   from standard input\n"
    "  accounts disconnect PROVIDER     forget an account and its token\n"
    "  packages <site> [--json]         installed packages, PHP constraint, Laravel and CMS versions\n"
    "  outdated <site> [--json] [--force]\n"
    "                                   outdated direct dependencies with their bump kind\n"
    "  update <site>                    update every package, with a progress bar; Ctrl-C cancels\n"
    "  require <site> PACKAGE[:CONSTRAINT]\n"
    "                                   add a package with Composer\n"
    "  composer <site> ARGS…            any Composer command, logged on the site\n"
    "  artisan <site> ARGS…             php artisan ARGS… in the site, logged\n"
    "  keffin <site> ARGS…              the CMS console (keffin, or artisan quillmar:…), logged\n"
    "  commands <site> [--json]         the site's artisan and keffin commands\n"
    "  env <site> [--get KEY]           print the site's .env, or one value from it\n"
    "\n"
    "<site> is a site id, its folder path, or a display name that matches exactly one site;\n"
    "the git commands also take any folder.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed, with \"halvik: <reason>\" on standard\n"
    "error; 2 when the command line was not understood (unknown command, missing argument,\n"
    "bad option).\n";

QCoro::Task<int> dispatch(QStringList args)
{
    const QString command = args.value(0);
    const QStringList rest = args.mid(1);

    if (command.isEmpty())
        throw CliError::usage(QStringLiteral("Name a command."));
    if (command == QStringLiteral("--version") || command == QStringLiteral("version")) {
        out() << "halvik " << HALVIK_VERSION << Qt::endl;
        co_return 0;
    }
    if (command == QStringLiteral("help") || command == QStringLiteral("--help") ||
        command == QStringLiteral("-h")) {
        out() << kHelp;
        out().flush();
        co_return 0;
    }

    // Commands that need no registry.
    if (command == QStringLiteral("probe"))
        co_return co_await runProbeCommand(rest, out());

    static const QStringList withServices{
        QStringLiteral("sites"),      QStringLiteral("remove"), QStringLiteral("import"),
        QStringLiteral("import-all"), QStringLiteral("engine"), QStringLiteral("git"),
        QStringLiteral("runtime"),    QStringLiteral("open"),   QStringLiteral("serve"),
        QStringLiteral("status"),     QStringLiteral("doctor"), QStringLiteral("accounts"),
        QStringLiteral("assets"),     QStringLiteral("share")};
    if (!withServices.contains(command) && !isComposerCommand(command))
        throw CliError::usage(QStringLiteral("Unknown command “%1”.").arg(command));

    CliPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    co_await services.bootstrap(AppServices::BootstrapScope::command);
    ImportContext context{services, services.herd(), services.importer()};
    int code = 0;
    if (command == QStringLiteral("sites"))
        code = co_await runSitesCommand(services, rest);
    else if (command == QStringLiteral("remove"))
        code = co_await runRemoveCommand(services, rest);
    else if (command == QStringLiteral("import"))
        code = co_await runImportCommand(context, rest, out());
    else if (command == QStringLiteral("import-all"))
        code = co_await runImportAllCommand(context, rest, out());
    else if (command == QStringLiteral("open"))
        code = co_await runOpenCommand(services, rest);
    else if (command == QStringLiteral("serve"))
        code = co_await runServeCommand(services, rest);
    else if (command == QStringLiteral("status"))
        code = co_await runStatusCommand(services, rest);
    else if (command == QStringLiteral("assets"))
        code = co_await runAssetsCommand(services, rest);
    else if (command == QStringLiteral("share"))
        code = co_await runShareCommand(services, rest);
    else if (command == QStringLiteral("doctor"))
        code = co_await runDoctorCommand(services, rest);
    else if (command == QStringLiteral("runtime"))
        code = co_await runRuntimeCommand(services, rest);
    else if (isComposerCommand(command))
        code = co_await runComposerCommand(services, command, rest);
    else if (command == QStringLiteral("engine"))
        code = co_await runEngineCommand(context, rest, out());
    else if (command == QStringLiteral("accounts"))
        code = co_await runAccountsCommand(services, rest);
    else if (rest.value(0) == QStringLiteral("create-remote"))
        code = co_await runCreateRemoteCommand(services, rest.mid(1));
    else
        code = co_await runGitCommand(services.store(), rest);
    // Whatever the command could not ask a person about is its failure.
    if (!prompts.alerts.isEmpty())
        throw CliError(prompts.alerts.join(QLatin1Char(' ')));
    co_return code;
}

QCoro::Task<> runAndQuit(QStringList args)
{
    const int code = co_await runCommand(std::move(args));
    QCoreApplication::exit(code);
}

} // namespace

int reportFailure(std::exception_ptr error)
{
    out().flush();
    QString sentence;
    int code = 1;
    bool usage = false;
    try {
        std::rethrow_exception(error);
    } catch (const CliError& failure) {
        sentence = failure.description();
        code = failure.exitCode();
        usage = failure.kind() == CliError::Kind::usage;
    } catch (const HalvikError& failure) {
        sentence = failure.description();
    } catch (const std::exception& failure) {
        sentence = QString::fromUtf8(failure.what());
    } catch (...) {
        sentence = QStringLiteral("Something went wrong.");
    }
    QTextStream err(stderr);
    err << "halvik: " << sentence.simplified() << '\n';
    if (usage)
        err << "Run “halvik help” for the commands and their options.\n";
    err.flush();
    return code;
}

QCoro::Task<int> runCommand(QStringList args)
{
    std::exception_ptr failure;
    try {
        const int code = co_await dispatch(std::move(args));
        out().flush();
        co_return code;
    } catch (...) {
        failure = std::current_exception();
    }
    co_return reportFailure(failure);
}

int run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Halvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));
    const QStringList args = app.arguments().mid(1);
    // Started once the loop runs, so the command's own exit() ends it.
    QTimer::singleShot(0, &app, [args] { fireAndForget(QCoreApplication::instance(), runAndQuit(args)); });
    return app.exec();
}

} // namespace halvik::cli
