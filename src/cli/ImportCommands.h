#pragma once

#include "CliCommand.h"

#include <QCoroTask>
#include <QStringList>

class QTextStream;

namespace halvik {

class AppServices;
class HerdService;
class SiteImporter;

namespace cli {

// What the import and engine subcommands work with.
struct ImportContext
{
    AppServices& services;
    HerdService& herd;
    SiteImporter& importer;
};

// Each takes the arguments after its subcommand, prints to `out` and resolves to the exit
// status; a failure is thrown as a CliError.
// `import <path> [--name NAME] [--json]`
QCoro::Task<int> runImportCommand(ImportContext& context, QStringList args, QTextStream& out);
// `import-all <folder> [--json]`
QCoro::Task<int> runImportAllCommand(ImportContext& context, QStringList args, QTextStream& out);
// `engine [--json]`
QCoro::Task<int> runEngineCommand(ImportContext& context, QStringList args, QTextStream& out);

// import, import-all and engine, as the command table lists them.
QList<CliCommand> importCommands();

} // namespace cli
} // namespace halvik
