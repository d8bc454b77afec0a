#include "SiteGitProbe.h"

#include "gitcore/GitParsers.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace halvik {

namespace {
// Built outside the coroutines: GCC 12 cannot keep a braced list of literals across co_await.
QStringList statusArguments()
{
    return {QStringLiteral("status"), QStringLiteral("--porcelain=v2"), QStringLiteral("-z"), QStringLiteral("--branch")};
}
QStringList originArguments()
{
    return {QStringLiteral("remote"), QStringLiteral("get-url"), QStringLiteral("origin")};
}
} // namespace

bool SiteGitProbe::isRepository(const QString& path)
{
    return QFileInfo::exists(path + QStringLiteral("/.git"));
}

QCoro::Task<std::optional<ProcessResult>> SiteGitProbe::git(QString path, QStringList arguments)
{
    const QString executable = QStandardPaths::findExecutable(QStringLiteral("git"));
    if (executable.isEmpty())
        co_return std::nullopt;
    ProcessRequest request;
    request.executable = executable;
    request.arguments = arguments;
    request.arguments.prepend(path);
    request.arguments.prepend(QStringLiteral("-C"));
    request.workingDirectory = path;
    request.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    request.environment.insert(QStringLiteral("GIT_OPTIONAL_LOCKS"), QStringLiteral("0"));
    std::optional<ProcessResult> result;
    try {
        ProcessResult finished = co_await m_runner.run(std::move(request));
        result = std::move(finished);
    } catch (const ProcessRunnerError& error) {
        if (error.isCancelled())
            throw;
    }
    co_return result;
}

QCoro::Task<gitcore::GitStatus> SiteGitProbe::snapshot(QString path)
{
    gitcore::GitStatus status;
    const auto result = co_await git(path, statusArguments());
    if (!result || result->exitCode != 0)
        co_return status;
    const auto parsed = gitcore::GitParsers::parseStatusPorcelainV2(result->stdout);
    status.isRepo = true;
    status.branch = parsed.branch;
    status.isUnborn = parsed.isUnborn;
    status.isDetached = parsed.isDetached;
    status.upstream = parsed.upstream;
    status.ahead = parsed.ahead;
    status.behind = parsed.behind;
    status.dirtyCount = int(parsed.files.size());
    const auto remote = co_await git(path, originArguments());
    if (remote && remote->exitCode == 0 && !remote->stdout.trimmed().isEmpty())
        status.remoteURL = remote->stdout.trimmed();
    co_return status;
}

} // namespace halvik
