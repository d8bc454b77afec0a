#include "GitLinesCli.h"

#include "CliContext.h"

#include "gitcore/EnumTable.h"
#include "services/git/GitService.h"

namespace halvik {

using namespace gitcore;
using cli::CliError;

namespace {

struct Wanted
{
    QSet<int> added;   // new-file numbers
    QSet<int> removed; // old-file numbers
};

Wanted parseLines(const QString& spec)
{
    Wanted wanted;
    const QString bad =
        QStringLiteral("Name lines as +N for added and -N for removed ones, such as +3,+4-6,-2.");
    for (const QString& token : spec.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString item = token.trimmed();
        if (item.size() < 2 || (item[0] != QLatin1Char('+') && item[0] != QLatin1Char('-')))
            throw CliError::usage(bad);
        const QStringList bounds = item.mid(1).split(QLatin1Char('-'));
        bool okFirst = false;
        bool okLast = true;
        const int first = bounds.value(0).toInt(&okFirst);
        const int last = bounds.size() > 1 ? bounds.value(1).toInt(&okLast) : first;
        if (!okFirst || !okLast || bounds.size() > 2 || first < 1 || last < first || last - first > 100000)
            throw CliError::usage(bad);
        QSet<int>& side = item[0] == QLatin1Char('+') ? wanted.added : wanted.removed;
        for (int n = first; n <= last; ++n)
            side.insert(n);
    }
    if (wanted.added.isEmpty() && wanted.removed.isEmpty())
        throw CliError::usage(bad);
    return wanted;
}

} // namespace

QCoro::Task<int> runGitLines(GitService& git, SitePtr site, QStringList rest)
{
    const bool yes = rest.removeAll(QStringLiteral("--yes")) > 0;
    if (rest.size() != 3)
        throw CliError::usage(
            QStringLiteral("git lines needs a path, include, exclude or discard, and the lines: +N,-N…"));
    const QString path = rest[0];
    const auto action = fromRaw<GitHunkAction>(rest[1]);
    if (!action)
        throw CliError::usage(QStringLiteral("git lines takes include, exclude or discard."));
    const Wanted wanted = parseLines(rest[2]);
    if (*action == GitHunkAction::discard && !yes)
        throw CliError(QStringLiteral("Discarding lines can\u2019t be undone: add --yes to go ahead."));

    const GitDiffScope scope =
        *action == GitHunkAction::exclude ? GitDiffScope::included : GitDiffScope::remaining;
    const GitFileDiff diff = co_await git.diff(site, path, scope);
    if (diff.kind != GitDiffKind::text || diff.hunks.isEmpty())
        throw CliError(QStringLiteral("%1 has no changed lines to %2.").arg(path, rest[1]));

    // Every named line must be a changed line, and all of them in one hunk.
    int hunkIndex = -1;
    QSet<int> ids;
    qsizetype found = 0;
    for (int h = 0; h < diff.hunks.size(); ++h) {
        for (const GitDiffLine& line : diff.hunks[h].lines) {
            const bool named = (line.kind == GitDiffLine::Kind::addition &&
                                wanted.added.contains(line.newNumber.value_or(-1))) ||
                               (line.kind == GitDiffLine::Kind::deletion &&
                                wanted.removed.contains(line.oldNumber.value_or(-1)));
            if (!named)
                continue;
            if (hunkIndex >= 0 && hunkIndex != h)
                throw CliError(
                    QStringLiteral("Those lines are in more than one hunk: name the lines of one hunk."));
            hunkIndex = h;
            ids.insert(line.id);
            ++found;
        }
    }
    if (found != wanted.added.size() + wanted.removed.size())
        throw CliError(QStringLiteral("Not every line named is an added or removed line of %1.").arg(path));
    co_await git.applyLines(site, diff, diff.hunks[hunkIndex], ids, *action);
    cli::out() << title(*action) << " lines finished\n";
    co_return 0;
}

} // namespace halvik
