#include "CommandLine.h"

#include "CliContext.h"
#include "ImportCommands.h"
#include "ProbeCommand.h"
#include "SitesCommands.h"

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
    "  git status <site> [--json]       the repository's branch and changed files\n"
    "  git log <site> [-n N] [--json]   recent commits\n"
    "  git diff <site> <path> [--scope included|remaining]\n"
    "  git commit <site> -m MESSAGE [--all | PATH…]\n"
    "  git include|exclude <site> PATH…   git discard <site> PATH… --yes\n"
    "  git branch <site> [--json]         git switch <site> BRANCH [--create] [--set-aside]\n"
    "  git stash <site> [list|push|apply N|drop N --yes] [--json]\n"
    "  git fetch|pull|push|init <site>    git undo <site> --yes\n"
    "  git identity <site> [--name N --email E [--global]]\n"
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

    static const QStringList withServices{QStringLiteral("sites"),  QStringLiteral("remove"),
                                          QStringLiteral("import"), QStringLiteral("import-all"),
                                          QStringLiteral("engine"), QStringLiteral("git")};
    if (!withServices.contains(command))
        throw CliError::usage(QStringLiteral("Unknown command “%1”.").arg(command));

    CliPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    co_await services.bootstrap();
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
    else if (command == QStringLiteral("engine"))
        code = co_await runEngineCommand(context, rest, out());
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
