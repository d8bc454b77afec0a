#include "LoggedOperation.h"

#include "OperationLogSink.h"

namespace halvik {

QCoro::Task<LoggedOperationResult> runLoggedOperation(ProcessRunner& runner, SitePtr site,
                                                      LoggedOperationRequest request,
                                                      std::function<void()> save)
{
    auto operation = std::make_shared<SiteOperation>(request.command, request.kind);
    site->appendOperation(operation);
    if (request.setActive)
        request.setActive(operation);

    auto sink = OperationLogSink::forOperation(operation);
    const auto redact = request.redact;
    ProcessRunner::OutputCallback forward = [sink, redact,
                                             lines = std::move(request.lines)](const ProcessOutput& out) {
        if (!redact) {
            sink->append(out.line);
            if (lines)
                lines(out);
            return;
        }
        const ProcessOutput clean{out.stream, redact(out.line)};
        sink->append(clean.line);
        if (lines)
            lines(clean);
    };

    const auto finishOperation = [&](std::optional<int> exitCode) {
        sink->flush();
        operation->setExitCode(exitCode);
        operation->setFinishedAt(QDateTime::currentDateTimeUtc());
        if (request.setActive)
            request.setActive(nullptr);
    };

    ProcessResult result;
    try {
        result = co_await runner.run(std::move(request.process), std::move(forward), request.token);
    } catch (...) {
        finishOperation(std::nullopt);
        if (save)
            save();
        throw;
    }
    finishOperation(result.exitCode);
    if (operation->log().isEmpty()) {
        const QString combined = redact ? redact(result.combined()) : result.combined();
        if (!combined.isEmpty())
            operation->setLog(combined);
    }
    if (save)
        save();
    co_return LoggedOperationResult{operation, std::move(result)};
}

} // namespace halvik
