#include "CommandLine.h"

#include "CliContext.h"
#include "ProbeCommand.h"
#include "SitesCommands.h"

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
    "\n"
    "<site> is a site id, its folder path, or a display name that matches exactly one site.\n";

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
    AppServices services(KeychainStore::shared(), prompts);
    try {
        halvik::waitFor(services.bootstrap());
        if (command == QStringLiteral("sites"))
            return runSitesCommand(services, rest);
        if (command == QStringLiteral("remove"))
            return runRemoveCommand(services, prompts, rest);
        throw CliError(QStringLiteral("Unknown command “%1”. Run “halvik help” for the list.").arg(command));
    } catch (const HalvikError& error) {
        QTextStream(stderr) << "halvik: " << error.description() << Qt::endl;
        return 1;
    }
}

} // namespace halvik::cli
