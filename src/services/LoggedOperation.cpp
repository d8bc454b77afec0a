#include "LoggedOperation.h"

#include "OperationLogSink.h"

#include "gitcore/Redactor.h"

namespace halvik {

QCoro::Task<LoggedOperationResult> runLoggedOperation(ProcessRunner& runner, SitePtr site,
                                                      LoggedOperationRequest request,
                                                      std::function<void()> save)
{
    using gitcore::Redactor;
    auto operation =
        std::make_shared<SiteOperation>(Redactor::redact(request.command, request.secrets), request.kind);
    site->appendOperation(operation);
    if (request.setActive)
        request.setActive(operation);

    auto sink = OperationLogSink::forOperation(operation);
    const QStringList secrets = request.secrets;
    ProcessRunner::OutputCallback forward = [sink, secrets, tidy = request.tidy,
                                             lines = std::move(request.lines)](const ProcessOutput& out) {
        const QString redacted = Redactor::redact(out.line, secrets);
        const ProcessOutput clean{out.stream, tidy ? tidy(redacted) : redacted};
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
    QString combined = Redactor::redact(result.combined(), secrets);
    if (request.tidy)
        combined = request.tidy(combined);
    if (operation->log().isEmpty() && !combined.isEmpty())
        operation->setLog(combined);
    if (save)
        save();
    co_return LoggedOperationResult{operation, std::move(result), combined.trimmed()};
}

} // namespace halvik
