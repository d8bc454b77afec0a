#include "gitcore/GitDiff.h"

namespace halvik::gitcore {

GitFileDiff GitFileDiff::empty(const QString& path, GitDiffScope scope, GitDiffKind kind)
{
    GitFileDiff diff;
    diff.path = path;
    diff.scope = scope;
    diff.kind = kind;
    return diff;
}

QString GitFileDiff::patch(const GitDiffHunk& hunk) const
{
    QString text;
    const QString header = fileHeader.trimmed();
    if (!header.isEmpty()) {
        text += header;
        text += QLatin1Char('\n');
    }
    text += hunk.header;
    for (const GitDiffLine& line : hunk.lines) {
        text += QLatin1Char('\n');
        text += line.text;
    }
    text += QLatin1Char('\n');
    return text;
}

QByteArray GitFileDiff::patchBytes(const GitDiffHunk& hunk) const
{
    const QString text = patch(hunk);
    return isLatin1 ? text.toLatin1() : text.toUtf8();
}

} // namespace halvik::gitcore
