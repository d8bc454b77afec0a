#include "gitcore/GitRepositorySnapshot.h"

#include "gitcore/GitParsers.h"

#include <QStringList>

namespace halvik::gitcore {

namespace {

template <typename Predicate>
QList<GitChangedFile> filtered(const QList<GitChangedFile>& files, Predicate keep)
{
    QList<GitChangedFile> result;
    for (const GitChangedFile& file : files) {
        if (keep(file))
            result.append(file);
    }
    return result;
}

} // namespace

GitRepositorySnapshot GitRepositorySnapshot::unavailable(const GitRepositoryProblem& problem,
                                                         bool hasGitMetadata)
{
    GitRepositorySnapshot snapshot;
    snapshot.status.isRepo = hasGitMetadata;
    snapshot.status.problem = problem;
    return snapshot;
}

QList<GitChangedFile> GitRepositorySnapshot::includedFiles() const
{
    return filtered(files, [](const GitChangedFile& file) { return file.isIncluded(); });
}

QList<GitChangedFile> GitRepositorySnapshot::remainingFiles() const
{
    return filtered(files, [](const GitChangedFile& file) { return file.hasRemaining(); });
}

QList<GitChangedFile> GitRepositorySnapshot::unmergedFiles() const
{
    return filtered(files, [](const GitChangedFile& file) { return file.isConflicted; });
}

GitRepositoryInspection GitRepositoryInspection::repository(const GitStatusParseResult& status)
{
    GitRepositoryInspection inspection;
    inspection.kind = Kind::repository;
    inspection.status = status;
    return inspection;
}

GitRepositoryInspection GitRepositoryInspection::unavailable(const GitRepositoryProblem& problem)
{
    GitRepositoryInspection inspection;
    inspection.kind = Kind::unavailable;
    inspection.problem = problem;
    return inspection;
}

GitRepositoryInspection GitRepositoryInspection::notRepository()
{
    return {};
}

GitRepositoryInspection GitRepositoryInspection::result(int exitCode, const QString& stdoutText,
                                                        const QString& stderrText, bool hasGitMetadata)
{
    if (exitCode == 0)
        return repository(GitParsers::parseStatusPorcelainV2(stdoutText));
    if (!hasGitMetadata && stderrText.contains(QLatin1String("fatal: not a git repository")))
        return notRepository();
    QStringList parts;
    for (const QString& part : {stdoutText, stderrText}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    const QString details = parts.isEmpty() ? QStringLiteral("Git exited with status %1.").arg(exitCode)
                                            : parts.join(QLatin1Char('\n'));
    return unavailable(GitRepositoryProblem(details));
}

} // namespace halvik::gitcore
