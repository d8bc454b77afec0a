#include "gitcore/GitLinePatch.h"

#include <QStringList>

namespace halvik::gitcore {

namespace {

using Kind = GitDiffLine::Kind;

struct Entry
{
    Kind kind;
    QString body; // the line without its leading marker
    bool noNewline = false;
};

QChar marker(Kind kind)
{
    switch (kind) {
    case Kind::addition:
        return QLatin1Char('+');
    case Kind::deletion:
        return QLatin1Char('-');
    default:
        return QLatin1Char(' ');
    }
}

// The part of a hunk header after its ranges ("@@ -1,2 +1,3 @@ section" gives " section").
QString headerSection(const QString& header)
{
    const qsizetype close = header.indexOf(QStringLiteral(" @@"), 2);
    return close < 0 ? QString() : header.mid(close + 3);
}

QString range(int start, int originalCount, int count)
{
    // A side without lines names the line before the hunk, one with lines its first line.
    if (count == 0 && originalCount > 0)
        start = qMax(0, start - 1);
    else if (count > 0 && originalCount == 0)
        start += 1;
    return QString::number(start) + QLatin1Char(',') + QString::number(count);
}

// "b/x" for "a/x" and back, keeping Git's quoting of unusual names.
QString otherSide(const QString& name, QChar from, QChar to)
{
    const QString plain = QString(from) + QLatin1Char('/');
    const QString quoted = QLatin1Char('"') + plain;
    if (name.startsWith(quoted))
        return QLatin1Char('"') + QString(to) + QLatin1Char('/') + name.mid(quoted.size());
    if (name.startsWith(plain))
        return QString(to) + QLatin1Char('/') + name.mid(plain.size());
    return name;
}

// A header that creates or deletes the file, rewritten as a change to a file that stays: what
// a partial creation or deletion leaves behind.
QString asModification(const QString& header)
{
    QString oldName;
    QString newName;
    const QStringList lines = header.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("--- ")))
            oldName = line.mid(4);
        else if (line.startsWith(QStringLiteral("+++ ")))
            newName = line.mid(4);
    }
    const QString devNull = QStringLiteral("/dev/null");
    QStringList kept;
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("new file mode")) ||
            line.startsWith(QStringLiteral("deleted file mode")) || line.startsWith(QStringLiteral("index ")))
            continue;
        if (line == QStringLiteral("--- ") + devNull)
            kept.append(QStringLiteral("--- ") + otherSide(newName, QLatin1Char('b'), QLatin1Char('a')));
        else if (line == QStringLiteral("+++ ") + devNull)
            kept.append(QStringLiteral("+++ ") + otherSide(oldName, QLatin1Char('a'), QLatin1Char('b')));
        else
            kept.append(line);
    }
    return kept.join(QLatin1Char('\n'));
}

} // namespace

GitPatchDirection patchDirection(GitHunkAction action)
{
    return action == GitHunkAction::include ? GitPatchDirection::forward : GitPatchDirection::reverse;
}

std::optional<GitLinePatch> linePatch(const GitFileDiff& diff, const GitDiffHunk& hunk,
                                      const QSet<int>& lineIds, GitPatchDirection direction)
{
    const bool forward = direction == GitPatchDirection::forward;
    // The kind of line that only the result has (forward: additions; reverse: removals).
    const Kind resultOnly = forward ? Kind::addition : Kind::deletion;
    const Kind sourceOnly = forward ? Kind::deletion : Kind::addition;

    QString noNewlineText = QStringLiteral("\\ No newline at end of file");
    QList<Entry> entries;
    int chosen = 0;
    bool skippedLast = false; // the last line read was left out
    for (const GitDiffLine& line : hunk.lines) {
        if (line.kind == Kind::meta) {
            noNewlineText = line.text;
            if (!skippedLast && !entries.isEmpty())
                entries.last().noNewline = true;
            continue;
        }
        skippedLast = false;
        Entry entry{line.kind, line.text.mid(1)};
        const bool change = line.kind == Kind::addition || line.kind == Kind::deletion;
        if (change && lineIds.contains(line.id)) {
            ++chosen;
        } else if (line.kind == resultOnly) {
            skippedLast = true;
            continue;
        } else if (line.kind == sourceOnly) {
            entry.kind = Kind::context;
        }
        entries.append(entry);
    }
    if (chosen == 0)
        return std::nullopt;

    // Only the result's last line may lack its newline.
    int lastResult = -1;
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].kind != sourceOnly)
            lastResult = i;
    QList<Entry> lines;
    for (int i = 0; i < entries.size(); ++i) {
        Entry entry = entries[i];
        if (entry.noNewline && i < lastResult && entry.kind != sourceOnly) {
            if (entry.kind == Kind::context) {
                // Unchanged on the source side, followed by more lines in the result.
                lines.append(Entry{sourceOnly, entry.body, true});
                lines.append(Entry{resultOnly, entry.body, false});
                continue;
            }
            entry.noNewline = false;
        }
        lines.append(entry);
    }

    GitLinePatch result{diff, hunk};
    result.hunk.lines.clear();
    int oldCount = 0;
    int newCount = 0;
    int id = 0;
    for (const Entry& entry : lines) {
        GitDiffLine line;
        line.id = id++;
        line.kind = entry.kind;
        line.text = marker(entry.kind) + entry.body;
        oldCount += entry.kind != Kind::addition ? 1 : 0;
        newCount += entry.kind != Kind::deletion ? 1 : 0;
        result.hunk.lines.append(line);
        if (entry.noNewline) {
            GitDiffLine meta;
            meta.id = id++;
            meta.kind = Kind::meta;
            meta.text = noNewlineText;
            result.hunk.lines.append(meta);
        }
    }
    result.hunk.header = QStringLiteral("@@ -") + range(hunk.oldStart, hunk.oldCount, oldCount) +
                         QStringLiteral(" +") + range(hunk.newStart, hunk.newCount, newCount) +
                         QStringLiteral(" @@") + headerSection(hunk.header);
    result.hunk.oldCount = oldCount;
    result.hunk.newCount = newCount;

    // A creation or deletion applied in part leaves a file behind.
    const bool resultHasLines = forward ? newCount > 0 : oldCount > 0;
    const bool removesFile = forward ? diff.fileHeader.contains(QStringLiteral("\ndeleted file mode"))
                                     : diff.fileHeader.contains(QStringLiteral("\nnew file mode"));
    if (resultHasLines && removesFile)
        result.diff.fileHeader = asModification(diff.fileHeader);
    return result;
}

} // namespace halvik::gitcore
