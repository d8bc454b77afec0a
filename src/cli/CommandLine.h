#pragma once

#include <QCoroTask>
#include <QStringList>

#include <exception>

namespace halvik::cli {

// Runs one headless subcommand and returns the process exit status. The command runs as a
// coroutine inside the application's own event loop, which ends with its status.
int run(int argc, char** argv);

// The subcommand named by `args` (the words after "halvik"); resolves to its exit status. Every
// failure is printed here, the one way: "halvik: <sentence>" on standard error, status 1, or 2
// when the command line itself was wrong.
QCoro::Task<int> runCommand(QStringList args);

// Prints the failure `error` and returns its exit status.
int reportFailure(std::exception_ptr error);

} // namespace halvik::cli
