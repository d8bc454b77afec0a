#include "CommandLine.h"

#include "CliContext.h"
#include "ImportCommands.h"
#include "ProbeCommand.h"
#include "SitesCommands.h"

#include "GitCli.h"
#include "async/WaitFor.h"

#include <QCoreApplication>
#include <QLoggingCategory>

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
    "\n"
    "<site> is a site id, its folder path, or a display name that matches exactly one site;\n"
    "the git commands also take any folder.\n";

} // namespace

int run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Halvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    const QStringList rest = args.mid(1);

    if (command == QStringLiteral("--version") || command == QStringLiteral("version")) {
        out() << "halvik " << HALVIK_VERSION << Qt::endl;
        return 0;
    }
    if (command == QStringLiteral("help") || command == QStringLiteral("--help") || command == QStringLiteral("-h")) {
        out() << kHelp;
        out().flush();
        return 0;
    }

    // Commands that need no registry.
    if (command == QStringLiteral("probe"))
        return runProbeCommand(rest);

    CliPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    try {
        halvik::waitFor(services.bootstrap());
        if (command == QStringLiteral("sites"))
            return runSitesCommand(services, rest);
        if (command == QStringLiteral("remove"))
            return runRemoveCommand(services, prompts, rest);
        if (command == QStringLiteral("import") || command == QStringLiteral("import-all")
            || command == QStringLiteral("engine")) {
            ImportContext context{services, services.herd(), services.importer()};
            if (command == QStringLiteral("import"))
                return runImportCommand(context, rest);
            if (command == QStringLiteral("import-all"))
                return runImportAllCommand(context, rest);
            return runEngineCommand(context, rest);
        }
        if (command == QStringLiteral("git"))
            return runGitCommand(services.store(), rest);
        throw CliError(QStringLiteral("Unknown command “%1”. Run “halvik help” for the list.").arg(command));
    } catch (const HalvikError& error) {
        QTextStream(stderr) << "halvik: " << error.description() << Qt::endl;
        return 1;
    }
}

} // namespace halvik::cli
