#include "gitcore/GitRecords.h"

#include <QHashFunctions>

namespace halvik::gitcore {

size_t qHash(const GitCommit& commit, size_t seed)
{
    return qHashMulti(seed, commit.sha, commit.author, commit.date, commit.subject, commit.files);
}

size_t qHash(const GitBranch& branch, size_t seed)
{
    return qHashMulti(seed, branch.name, branch.isRemote, branch.isCurrent,
                      branch.upstream.value_or(QString()), branch.upstream.has_value());
}

size_t qHash(const GitStash& stash, size_t seed)
{
    return qHashMulti(seed, stash.index, stash.ref, stash.message, stash.date);
}

size_t qHash(const GitIdentity& identity, size_t seed)
{
    return qHashMulti(seed, identity.name, identity.email, int(identity.scope));
}

} // namespace halvik::gitcore
