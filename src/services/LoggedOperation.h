#pragma once

#include "ProcessRunner.h"
#include "models/Site.h"

#include <functional>

namespace halvik {

// One command run against a site and recorded in its operation history.
struct LoggedOperationRequest
{
    ProcessRequest process;
    // The command line as shown to the user, already free of secrets.
    QString command;
    OperationKind kind = OperationKind::shell;
    // Optional: also receives every line, on the runner's thread.
    ProcessRunner::OutputCallback lines;
    CancellationToken token;
    // Optional: applied to every line (on the runner's thread) and to the fallback log before
    // either reaches the operation, so nothing unredacted is ever shown or saved.
    std::function<QString(const QString&)> redact;
    // Optional: marks the service's active operation, and clears it (nullptr) at the end.
    std::function<void(const SiteOperationPtr&)> setActive;
};

struct LoggedOperationResult
{
    SiteOperationPtr operation;
    ProcessResult result;
};

// Appends a new operation to the site, streams the child's output into its log, records the
// exit code and finish time, and saves. Success is for the caller to judge from the exit code.
// When the run throws (cancelled, failed to start), the operation is still finished and saved
// before the error goes on.
QCoro::Task<LoggedOperationResult> runLoggedOperation(ProcessRunner& runner, SitePtr site,
                                                      LoggedOperationRequest request,
                                                      std::function<void()> save);

} // namespace halvik
