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

// Length of the C-quoted name that opens `text` ("…" with backslash escapes), quotes
// included; -1 when it never closes.
qsizetype quotedLength(QStringView text)
{
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text.at(i) == u'\\')
            ++i;
        else if (text.at(i) == u'"')
            return i + 1;
    }
    return -1;
}

// The name after "rename from " and the like: quoted when Git had to, otherwise as it stands.
QString headerName(QStringView line, QStringView prefix)
{
    return GitParsers::unquotePath(line.sliced(prefix.size()));
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
    const QStringView rest = line.mid(11);
    QStringView first;
    QStringView second;
    if (rest.startsWith(u'"')) {
        // A quoted first name ends at its closing quote; the second follows one space later.
        const qsizetype length = quotedLength(rest);
        if (length < 0 || length + 1 >= rest.size() || rest.at(length) != u' ')
            return std::nullopt;
        first = rest.first(length);
        second = rest.sliced(length + 1);
    } else if (const qsizetype quoted = rest.indexOf(u" \"b/"); quoted > 0 && rest.endsWith(u'"')) {
        first = rest.first(quoted);
        second = rest.sliced(quoted + 1);
    } else {
        // Both names plain, so spaces are ambiguous. The same name twice ("a/X b/X") is
        // settled by length; two different names split where " b/" starts the second.
        const qsizetype half = (rest.size() - 1) / 2;
        if (rest.size() % 2 == 1 && rest.at(half) == u' ' && rest.startsWith(u"a/") &&
            rest.sliced(half + 1).startsWith(u"b/") && rest.sliced(2, half - 2) == rest.sliced(half + 3)) {
            first = rest.first(half);
            second = rest.sliced(half + 1);
        } else if (const qsizetype split = rest.indexOf(u" b/"); split > 0) {
            first = rest.first(split);
            second = rest.sliced(split + 1);
        } else {
            const qsizetype space = rest.indexOf(u' ');
            if (space <= 0 || space + 1 >= rest.size())
                return std::nullopt;
            first = rest.first(space);
            second = rest.sliced(space + 1);
        }
    }
    QString a = unquotePath(first);
    QString b = unquotePath(second);
    if (a.startsWith(QLatin1String("a/")))
        a.remove(0, 2);
    if (b.startsWith(QLatin1String("b/")))
        b.remove(0, 2);
    if (a.isEmpty() || b.isEmpty())
        return std::nullopt;
    GitDiffPaths paths;
    if (a != b)
        paths.original = a;
    paths.path = std::move(b);
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
            } else if (line.startsWith(u"rename from ")) {
                diff.originalPath = headerName(line, u"rename from ");
            } else if (line.startsWith(u"copy from ")) {
                diff.originalPath = headerName(line, u"copy from ");
            } else if (line.startsWith(u"Binary files ") || line.startsWith(u"GIT binary patch")) {
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
    bool movedFrom = false;
    const auto closeHunk = [&] {
        if (!hunk)
            return;
        hunk->id = path + QLatin1Char(':') + QString::number(hunk->oldStart) + QLatin1Char(':') +
                   QString::number(hunk->newStart) + QLatin1Char(':') + QString::number(diff.hunks.size());
        // The patch of a renamed or copied file's hunk would carry the rename with it.
        hunk->canApply = canApply && !movedFrom;
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
            // "rename from" names the source exactly, where the first line can be ambiguous.
            if (line.startsWith(u"diff --git ")) {
                if (const auto paths = parseDiffPaths(line))
                    diff.originalPath = paths->original;
            } else if (line.startsWith(u"rename from ")) {
                diff.originalPath = headerName(line, u"rename from ");
                movedFrom = true;
            } else if (line.startsWith(u"copy from ")) {
                diff.originalPath = headerName(line, u"copy from ");
                movedFrom = true;
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
