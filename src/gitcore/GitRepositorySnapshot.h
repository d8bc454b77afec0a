#pragma once

#include "gitcore/GitRecords.h"
#include "gitcore/GitStatus.h"

#include <QList>

namespace halvik::gitcore {

struct GitRepositorySnapshot
{
    GitStatus status;
    QList<GitChangedFile> files;
    QList<GitBranch> branches;
    QList<GitCommit> commits;
    GitIdentity identity;
    QList<GitStash> stashes;

    bool operator==(const GitRepositorySnapshot&) const = default;

    static GitRepositorySnapshot empty() { return {}; }
    static GitRepositorySnapshot unavailable(const GitRepositoryProblem& problem, bool hasGitMetadata);

    // Each keeps the order of `files`.
    QList<GitChangedFile> includedFiles() const;
    QList<GitChangedFile> remainingFiles() const;
    QList<GitChangedFile> unmergedFiles() const;
};

// The verdict on one status run.
struct GitRepositoryInspection
{
    enum class Kind
    {
        repository,
        unavailable,
        notRepository
    };

    Kind kind = Kind::notRepository;
    GitStatusParseResult status;                 // for `repository`
    std::optional<GitRepositoryProblem> problem; // for `unavailable`

    bool operator==(const GitRepositoryInspection&) const = default;

    static GitRepositoryInspection repository(const GitStatusParseResult& status);
    static GitRepositoryInspection unavailable(const GitRepositoryProblem& problem);
    static GitRepositoryInspection notRepository();

    static GitRepositoryInspection result(int exitCode, const QString& stdoutText, const QString& stderrText,
                                          bool hasGitMetadata);
};

} // namespace halvik::gitcore
