#include "gitcore/GitEnums.h"

namespace halvik::gitcore {

QString title(GitDiffScope scope)
{
    switch (scope) {
    case GitDiffScope::included:
        return QStringLiteral("Included");
    case GitDiffScope::remaining:
        return QStringLiteral("Remaining");
    case GitDiffScope::commit:
        return QStringLiteral("Commit");
    }
    return {};
}

QString title(GitListTab tab)
{
    switch (tab) {
    case GitListTab::changes:
        return QStringLiteral("Changes");
    case GitListTab::history:
        return QStringLiteral("History");
    }
    return {};
}

} // namespace halvik::gitcore
