#pragma once

#include "ProcessRequest.h"
#include "ProcessRunnerError.h"
#include "async/Cancellation.h"

#include <QCoroTask>
#include <QProcessEnvironment>

#include <functional>

namespace halvik {

// The one place that starts child processes. Each run gets its own reader thread that owns
// the child, splits both output streams into lines and hands them to the output callback
// there (never on the main thread; the callback must not block). The awaiting coroutine
// resumes on the main thread once the child has exited and all output has been collected.
class ProcessRunner
{
public:
    using OutputCallback = std::function<void(const ProcessOutput&)>;

    static constexpr auto fallbackPath = "/usr/bin:/bin:/usr/sbin:/sbin";

    // Throws ProcessRunnerError: executableMissing (nothing started), failedToStart, or
    // cancelled once the cancelled child has exited. A non-zero exit status is a normal result.
    QCoro::Task<ProcessResult> run(ProcessRequest request, OutputCallback output = {},
                                   CancellationToken token = {});

    // Blocks until every run's thread has ended, or `milliseconds` have passed; true when none
    // is left. Only for the very end of the program: once the event loop has stopped, a
    // cancelled run still needs its thread to stop the child, and the program must not end first.
    static bool waitForRunsToEnd(int milliseconds);

    // The child's environment: `base` with extraPath in front of PATH, then the explicit entries.
    static QProcessEnvironment composeEnvironment(const ProcessRequest& request,
                                                  const QProcessEnvironment& base);
};

} // namespace halvik
