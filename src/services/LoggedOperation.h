#pragma once

#include "ProcessRunner.h"
#include "models/Site.h"

#include <functional>

namespace halvik {

// One command run against a site and recorded in its operation history.
struct LoggedOperationRequest
{
    ProcessRequest process;
    // The command line as shown to the user; it is redacted before it is recorded.
    QString command;
    OperationKind kind = OperationKind::shell;
    // Optional: also receives every line, on the runner's thread.
    ProcessRunner::OutputCallback lines;
    CancellationToken token;
    // Exact values masked besides the shapes the redactor knows (a password the person typed).
    // The command, every line (on the runner's thread, before `lines` hears it) and the
    // fallback log are redacted, so nothing secret is ever shown or saved.
    QStringList secrets;
    // Optional: tidies each line after redaction (a dev server's colour codes, say), for the log
    // and for `lines` alike.
    std::function<QString(const QString&)> tidy;
    // Optional: marks the service's active operation, and clears it (nullptr) at the end.
    std::function<void(const SiteOperationPtr&)> setActive;
};

struct LoggedOperationResult
{
    SiteOperationPtr operation;
    ProcessResult result;
    // The combined output, redacted like the log, trimmed: for the caller's error text.
    QString redactedOutput;
};

// Appends a new operation to the site, streams the child's output into its log, records the
// exit code and finish time, and saves. Success is for the caller to judge from the exit code.
// When the run throws (cancelled, failed to start), the operation is still finished and saved
// before the error goes on.
QCoro::Task<LoggedOperationResult> runLoggedOperation(ProcessRunner& runner, SitePtr site,
                                                      LoggedOperationRequest request,
                                                      std::function<void()> save);

} // namespace halvik
