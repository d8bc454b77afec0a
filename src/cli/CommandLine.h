#pragma once

#include <QCoroTask>
#include <QStringList>

#include <exception>
#include <memory>

class QCoreApplication;

namespace halvik::cli {

struct CliCommand;

// The application object a command runs under; `command` is null for an unknown word.
using ApplicationMaker = std::unique_ptr<QCoreApplication> (*)(int& argc, char** argv,
                                                               const CliCommand* command);
// A plain QCoreApplication: what every command that draws nothing needs.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, const CliCommand* command);

// Runs one headless subcommand and returns the process exit status. The command runs as a
// coroutine inside the application's own event loop, which ends with its status.
int run(int argc, char** argv, ApplicationMaker make = makeApplication);

// The subcommand named by `args` (the words after "halvik"); resolves to its exit status. Every
// failure is printed here, the one way: "halvik: <sentence>" on standard error, status 1, or 2
// when the command line itself was wrong.
QCoro::Task<int> runCommand(QStringList args);

// Prints the failure `error` and returns its exit status.
int reportFailure(std::exception_ptr error);

} // namespace halvik::cli
