#pragma once

#include <QString>

namespace halvik::gitcore {

// The sentence for a Git command that failed, from what Git printed: one line a person can act
// on instead of Git's "fatal:" and "error:" lines. Text that is not Git's passes unchanged.
class GitFailureText
{
public:
    static QString sentence(const QString& gitOutput);

    static QString noRemote();
    static QString remoteUnreachable();
    static QString invalidStash();
};

} // namespace halvik::gitcore
