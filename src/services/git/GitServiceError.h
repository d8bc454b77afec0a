#pragma once

#include "async/HalvikError.h"

namespace halvik {

// A Git operation that failed, with the sentence the screens show. `failed` and
// `rebaseConflict` also carry Git's own (redacted) output for a details view.
class GitServiceError : public HalvikError
{
public:
    enum class Case
    {
        failed,
        rebaseConflict,
        dirtyWorktree,
        gitMissing,
        identityMissing,
        needsPull,
        rebaseInProgress,
        nothingStaged,
        // An undo or a restore stopped with files to resolve.
        conflicted
    };

    static GitServiceError failed(const QString& message);
    static GitServiceError rebaseConflict(const QString& details);
    static GitServiceError dirtyWorktree();
    static GitServiceError gitMissing();
    static GitServiceError identityMissing();
    static GitServiceError needsPull();
    static GitServiceError rebaseInProgress();
    static GitServiceError nothingStaged();
    static GitServiceError conflicted(const QString& sentence, const QString& details);

    Case kind() const { return m_case; }
    // Git's output for `failed`, `rebaseConflict` and `conflicted`; empty for the other cases.
    const QString& rawText() const { return m_raw; }

private:
    GitServiceError(Case kind, QString description, QString raw = {})
        : HalvikError(std::move(description)), m_case(kind), m_raw(std::move(raw))
    {
    }
    Case m_case;
    QString m_raw;
};

} // namespace halvik
