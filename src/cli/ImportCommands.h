#pragma once

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

// Each takes the arguments after its subcommand, prints to standard output and returns the
// exit status; a failure is one line on standard error and status 1.
// `import <path> [--name NAME] [--json]`
int runImportCommand(ImportContext& context, const QStringList& args);
// `import-all <folder> [--json]`
int runImportAllCommand(ImportContext& context, const QStringList& args);
// `engine [--json]`
int runEngineCommand(ImportContext& context, const QStringList& args);

// The same, writing to the given streams.
int runImportCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err);
int runImportAllCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err);
int runEngineCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace cli
} // namespace halvik
