#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"

#include <limits>

namespace halvik::gitcore {

namespace {

qsizetype utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    const char16_t* data = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i];
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(data[i + 1])) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3; // other BMP characters, and lone surrogates written as U+FFFD
        }
    }
    return bytes;
}

bool isHeaderLine(QStringView line)
{
    // Most lines of a diff are hunk lines: settle those by their first character.
    if (line.isEmpty())
        return false;
    switch (line.front().unicode()) {
    case u' ':
    case u'@':
    case u'\\':
        return false;
    case u'+':
        return line.startsWith(u"+++ ");
    case u'-':
        return line.startsWith(u"--- ");
    default:
        break;
    }
    static constexpr QStringView prefixes[] = {
        u"diff --git ", u"index ",     u"new file", u"deleted file", u"old mode",
        u"new mode",    u"similarity", u"rename ",  u"copy ",        u"dissimilarity"};
    for (QStringView prefix : prefixes) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

// The current line number, then a step forward; a header near the top of the integer range
// must not overflow.
int advance(int& counter)
{
    const int current = counter;
    if (counter < std::numeric_limits<int>::max())
        ++counter;
    return current;
}

} // namespace

GitHunkRange GitParsers::parseHunkHeader(QStringView line)
{
    // Hand-written form of the pattern "@@ -(\\d+)(?:,(\\d+))? \\+(\\d+)(?:,(\\d+))? @@", searched
    // anywhere in the line: the first "@@ -" where the whole pattern fits wins. The pattern has
    // no ambiguity, so reading greedily at each candidate gives the same match.
    const auto digits = [&line](qsizetype& at) {
        const qsizetype start = at;
        while (at < line.size() && line[at].unicode() >= u'0' && line[at].unicode() <= u'9')
            ++at;
        return line.mid(start, at - start);
    };
    const auto number = [](QStringView text, int fallback) {
        bool ok = false;
        const int value = text.toInt(&ok);
        return ok ? value : fallback;
    };
    for (qsizetype from = line.indexOf(u"@@ -"); from >= 0; from = line.indexOf(u"@@ -", from + 1)) {
        qsizetype at = from + 4;
        const QStringView oldStart = digits(at);
        if (oldStart.isEmpty())
            continue;
        QStringView oldCount;
        if (at < line.size() && line[at] == u',') {
            qsizetype after = at + 1;
            oldCount = digits(after);
            if (!oldCount.isEmpty())
                at = after;
        }
        if (!line.mid(at).startsWith(u" +"))
            continue;
        at += 2;
        const QStringView newStart = digits(at);
        if (newStart.isEmpty())
            continue;
        QStringView newCount;
        if (at < line.size() && line[at] == u',') {
            qsizetype after = at + 1;
            newCount = digits(after);
            if (!newCount.isEmpty())
                at = after;
        }
        if (!line.mid(at).startsWith(u" @@"))
            continue;
        return {number(oldStart, 0), oldCount.isEmpty() ? 1 : number(oldCount, 1), number(newStart, 0),
                newCount.isEmpty() ? 1 : number(newCount, 1)};
    }
    return {};
}

std::optional<GitDiffPaths> GitParsers::parseDiffPaths(QStringView line)
{
    if (!line.startsWith(u"diff --git "))
        return std::nullopt;
    QList<QStringView> pieces;
    for (QStringView piece : line.mid(11).tokenize(u' ', Qt::SkipEmptyParts)) {
        pieces.append(piece);
        if (pieces.size() == 2)
            break;
    }
    if (pieces.size() < 2)
        return std::nullopt;
    QStringView a = pieces[0];
    QStringView b = pieces[1];
    if (a.startsWith(u"a/"))
        a = a.mid(2);
    if (b.startsWith(u"b/"))
        b = b.mid(2);
    GitDiffPaths paths;
    paths.path = b.toString();
    if (a != b)
        paths.original = a.toString();
    return paths;
}

GitFileDiff GitParsers::parseUnifiedDiff(const QString& text, const QString& path, GitDiffScope scope,
                                         bool canApply)
{
    GitFileDiff diff = GitFileDiff::empty(path, scope, GitDiffKind::empty);
    const QStringView trimmed = QStringView(text).trimmed();
    if (trimmed.isEmpty())
        return diff;
    if (utf8Length(trimmed) > GitCommands::maxDiffBytes) {
        diff.kind = GitDiffKind::tooLarge;
        return diff;
    }
    if (trimmed.contains(QLatin1String("binary files "), Qt::CaseInsensitive) ||
        trimmed.contains(QLatin1String("git binary patch"), Qt::CaseInsensitive)) {
        diff.kind = GitCommands::isImagePath(path) ? GitDiffKind::image : GitDiffKind::binary;
        diff.raw = trimmed.toString();
        for (QStringView line : trimmed.tokenize(u'\n')) {
            if (line.startsWith(u"diff --git ")) {
                if (const auto paths = parseDiffPaths(line))
                    diff.originalPath = paths->original;
                break;
            }
        }
        return diff;
    }

    // The newline that ends Git's output terminates the last line; it does not start another.
    // Read as an empty context line it would end the last hunk with a line that is not in the
    // file, and `git apply` would reject that hunk's patch.
    QStringView body(text);
    if (body.endsWith(u'\n'))
        body.chop(1);
    const qsizetype lineTotal = body.count(u'\n') + 1;
    if (lineTotal > GitCommands::maxDiffLines) {
        diff.kind = GitDiffKind::tooLarge;
        diff.lineCount = int(lineTotal);
        return diff;
    }

    diff.kind = GitDiffKind::text;
    diff.raw = text;
    diff.lineCount = int(lineTotal);

    QStringList headerLines;
    std::optional<GitDiffHunk> hunk;
    int lineId = 0;
    int oldLine = 0;
    int newLine = 0;
    const auto closeHunk = [&] {
        if (!hunk)
            return;
        hunk->id = path + QLatin1Char(':') + QString::number(hunk->oldStart) + QLatin1Char(':') +
                   QString::number(hunk->newStart) + QLatin1Char(':') + QString::number(diff.hunks.size());
        hunk->canApply = canApply;
        diff.hunks.append(std::move(*hunk));
        hunk.reset();
    };

    // Lines the open hunk still has to come, by its header: until they have, a removed line
    // "-- x" or an added line "++ y" is content, not a file header.
    int oldLeft = 0;
    int newLeft = 0;
    for (QStringView line : body.tokenize(u'\n')) {
        const bool inHunkBody = hunk && (oldLeft > 0 || newLeft > 0) && !line.startsWith(u"@@ ");
        if (inHunkBody) {
            const QChar first = line.isEmpty() ? QLatin1Char(' ') : line.front();
            if (first == QLatin1Char('-'))
                --oldLeft;
            else if (first == QLatin1Char('+'))
                --newLeft;
            else if (first != QLatin1Char('\\')) {
                --oldLeft;
                --newLeft;
            }
        } else if (isHeaderLine(line)) {
            closeHunk();
            headerLines.append(line.toString());
            if (line.startsWith(u"diff --git ")) {
                if (const auto paths = parseDiffPaths(line))
                    diff.originalPath = paths->original;
            }
            continue;
        }
        if (line.startsWith(u"@@ ")) {
            closeHunk();
            const GitHunkRange range = parseHunkHeader(line);
            hunk = GitDiffHunk{
                {}, line.toString(), range.oldStart, range.oldCount, range.newStart, range.newCount,
                {}, canApply};
            oldLine = range.oldStart;
            newLine = range.newStart;
            oldLeft = range.oldCount;
            newLeft = range.newCount;
            continue;
        }
        if (!hunk) {
            if (!line.isEmpty())
                headerLines.append(line.toString());
            continue;
        }
        GitDiffLine diffLine;
        diffLine.id = lineId++;
        if (line.startsWith(u'+')) {
            diffLine.kind = GitDiffLine::Kind::addition;
            diffLine.newNumber = advance(newLine);
            diffLine.text = line.toString();
        } else if (line.startsWith(u'-')) {
            diffLine.kind = GitDiffLine::Kind::deletion;
            diffLine.oldNumber = advance(oldLine);
            diffLine.text = line.toString();
        } else if (line.startsWith(u'\\')) {
            diffLine.kind = GitDiffLine::Kind::meta;
            diffLine.text = line.toString();
        } else {
            diffLine.kind = GitDiffLine::Kind::context;
            diffLine.oldNumber = advance(oldLine);
            diffLine.newNumber = advance(newLine);
            diffLine.text = line.startsWith(u' ') ? line.toString() : QLatin1Char(' ') + line.toString();
        }
        hunk->lines.append(std::move(diffLine));
    }
    closeHunk();
    diff.fileHeader = headerLines.join(QLatin1Char('\n'));
    return diff;
}

} // namespace halvik::gitcore
