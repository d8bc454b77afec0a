#include "gitcore/GitParsers.h"

#include "gitcore/NaturalCompare.h"

#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace halvik::gitcore {

namespace {

constexpr QChar kUnitSeparator(u'\x1f');

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Splits on `separator` into at most `maxFields` fields, the last keeping any further separators.
// Empty fields are kept.
QList<QStringView> splitFields(QStringView text, QChar separator, qsizetype maxFields = -1)
{
    QList<QStringView> fields;
    qsizetype start = 0;
    while (maxFields < 0 || fields.size() + 1 < maxFields) {
        const qsizetype next = text.indexOf(separator, start);
        if (next < 0)
            break;
        fields.append(text.mid(start, next - start));
        start = next + 1;
    }
    fields.append(text.mid(start));
    return fields;
}

QDateTime secondsSince1970(QStringView field)
{
    bool ok = false;
    const qint64 seconds = field.toLongLong(&ok);
    return QDateTime::fromSecsSinceEpoch(ok ? seconds : 0, QTimeZone::utc());
}

int intOr(QStringView text, int fallback)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : fallback;
}

void readBranchHeader(QStringView header, GitStatusParseResult& result)
{
    if (header.startsWith(u"branch.oid ")) {
        const QStringView value = header.mid(11);
        result.oid = value.toString();
        result.isUnborn = value == u"(initial)";
    } else if (header.startsWith(u"branch.head ")) {
        const QStringView value = header.mid(12);
        if (value == u"(detached)") {
            result.isDetached = true;
            result.branch.reset();
        } else if (!value.isEmpty()) {
            result.branch = value.toString();
        }
    } else if (header.startsWith(u"branch.upstream ")) {
        const QStringView value = header.mid(16);
        result.upstream = value.isEmpty() ? std::nullopt : std::optional<QString>(value.toString());
    } else if (header.startsWith(u"branch.ab ")) {
        static const QRegularExpression aheadBehind(QStringLiteral("\\+(\\d+) -(\\d+)"));
        const auto match = aheadBehind.match(header.mid(10));
        if (match.hasMatch()) {
            result.ahead = intOr(match.capturedView(1), 0);
            result.behind = intOr(match.capturedView(2), 0);
        }
    }
}

GitChangedFile trackedFile(QStringView path, QStringView code, QChar defaultIndex, QChar defaultWorktree)
{
    const QString xy = GitChangedFile::normalizedXY(code.toString());
    GitChangedFile file;
    file.path = path.toString();
    file.indexStatus = xy.size() > 0 ? xy.at(0) : defaultIndex;
    file.worktreeStatus = xy.size() > 1 ? xy.at(1) : defaultWorktree;
    file.status = GitChangedFile::displayStatus(file.indexStatus, file.worktreeStatus, false);
    return file;
}

} // namespace

QList<QStringView> GitParsers::splitLines(QStringView text)
{
    QList<QStringView> lines;
    const char16_t* data = text.utf16();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isLineBreak(data[i])) {
            if (i > start)
                lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

GitStatusParseResult GitParsers::parseStatusPorcelainV2(const QString& text)
{
    GitStatusParseResult result;
    QList<QStringView> pieces;
    for (QStringView piece : QStringView(text).tokenize(QChar(u'\0'), Qt::SkipEmptyParts))
        pieces.append(piece);

    // Keys view the paths inside `text`, which outlives the walk.
    QHash<QStringView, qsizetype> indexByPath;
    QList<GitChangedFile> files;
    const auto record = [&](QStringView path, GitChangedFile file) {
        const auto found = indexByPath.constFind(path);
        if (found != indexByPath.cend()) {
            files[*found] = std::move(file);
            return;
        }
        indexByPath.insert(path, files.size());
        files.append(std::move(file));
    };
    files.reserve(pieces.size());
    indexByPath.reserve(pieces.size());

    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QStringView piece = pieces.at(i);
        if (piece.startsWith(u"# ")) {
            readBranchHeader(piece.mid(2), result);
        } else if (piece.startsWith(u"1 ")) {
            const auto fields = splitFields(piece, QLatin1Char(' '), 9);
            if (fields.size() > 8 && fields[0] == u"1" && !fields[8].isEmpty())
                record(fields[8], trackedFile(fields[8], fields[1], QLatin1Char('.'), QLatin1Char('.')));
        } else if (piece.startsWith(u"2 ")) {
            const auto fields = splitFields(piece, QLatin1Char(' '), 10);
            if (fields.size() > 9 && fields[0] == u"2" && !fields[9].isEmpty()) {
                GitChangedFile file = trackedFile(fields[9], fields[1], QLatin1Char('R'), QLatin1Char('.'));
                file.isRenamed = fields[8].startsWith(u'R');
                file.isCopied = fields[8].startsWith(u'C');
                // The source path is the next piece; the last piece of the output has none.
                if (i + 1 < pieces.size())
                    file.originalPath = pieces.at(++i).toString();
                record(fields[9], std::move(file));
            }
        } else if (piece.startsWith(u"u ")) {
            const auto fields = splitFields(piece, QLatin1Char(' '), 11);
            if (fields.size() > 10 && fields[0] == u"u" && !fields[10].isEmpty()) {
                GitChangedFile file = trackedFile(fields[10], fields[1], QLatin1Char('U'), QLatin1Char('U'));
                file.isConflicted = true;
                record(fields[10], std::move(file));
            }
        } else if (piece.startsWith(u"? ")) {
            const QStringView path = piece.mid(2);
            if (!path.isEmpty()) {
                GitChangedFile file;
                file.path = path.toString();
                file.status = QStringLiteral("??");
                file.indexStatus = QLatin1Char('?');
                file.worktreeStatus = QLatin1Char('?');
                file.isUntracked = true;
                record(path, std::move(file));
            }
        }
    }

    std::sort(files.begin(), files.end(),
              [](const GitChangedFile& a, const GitChangedFile& b) { return naturalLess(a.path, b.path); });
    result.files = std::move(files);
    return result;
}

QList<GitCommit> GitParsers::parseLog(const QString& text)
{
    QList<GitCommit> commits;
    std::optional<GitCommit> current;
    const auto complete = [&] {
        if (current)
            commits.append(std::move(*current));
        current.reset();
    };
    for (QStringView line : QStringView(text).tokenize(QLatin1Char('\n'))) {
        if (line.contains(kUnitSeparator)) {
            complete();
            const auto fields = splitFields(line, kUnitSeparator);
            if (fields.size() < 4)
                continue;
            current = GitCommit{fields[0].toString(),
                                fields[1].toString(),
                                secondsSince1970(fields[2]),
                                fields[3].toString(),
                                {}};
        } else if (!line.isEmpty() && current) {
            current->files.append(line.toString());
        }
    }
    complete();
    return commits;
}

QList<GitChangedFile> GitParsers::parseNameStatus(const QString& text)
{
    QList<GitChangedFile> files;
    for (QStringView line : splitLines(text)) {
        const auto fields = splitFields(line, QLatin1Char('\t'));
        if (fields.size() < 2)
            continue;
        const QStringView code = fields[0];
        const QString xy = GitChangedFile::normalizedXY(code.toString());
        GitChangedFile file;
        file.path = fields.last().toString();
        if (fields.size() >= 3)
            file.originalPath = fields[1].toString();
        file.indexStatus = xy.isEmpty() ? QChar(QLatin1Char('M')) : xy.at(0);
        file.worktreeStatus = QLatin1Char('.');
        file.status = GitChangedFile::displayStatus(file.indexStatus, file.worktreeStatus, false);
        file.isRenamed = code.startsWith(u'R');
        file.isCopied = code.startsWith(u'C');
        files.append(std::move(file));
    }
    return files;
}

QList<GitBranch> GitParsers::parseForEachRef(const QString& text)
{
    QList<GitBranch> branches;
    for (QStringView line : splitLines(text)) {
        const auto fields = splitFields(line, kUnitSeparator);
        if (fields.size() < 4 || fields[1].isEmpty() || fields[1].endsWith(u"/HEAD"))
            continue;
        GitBranch branch;
        branch.name = fields[1].toString();
        branch.isRemote = fields[0].startsWith(u"refs/remotes/");
        QStringView head = fields[2];
        while (head.startsWith(u' '))
            head = head.mid(1);
        while (head.endsWith(u' '))
            head.chop(1);
        branch.isCurrent = head == u"*";
        if (!fields[3].isEmpty())
            branch.upstream = fields[3].toString();
        branches.append(std::move(branch));
    }
    return branches;
}

QList<GitStash> GitParsers::parseStashList(const QString& text)
{
    QList<GitStash> stashes;
    const auto lines = splitLines(text);
    for (qsizetype position = 0; position < lines.size(); ++position) {
        const auto fields = splitFields(lines[position], kUnitSeparator);
        if (fields.size() < 3)
            continue;
        GitStash stash;
        stash.ref = fields[0].toString();
        stash.date = secondsSince1970(fields[1]);
        stash.message = fields[2].toString();
        stash.index = int(position);
        const qsizetype open = fields[0].indexOf(u'{');
        const qsizetype close = fields[0].indexOf(u'}');
        if (open >= 0 && close > open) {
            bool ok = false;
            const int index = fields[0].mid(open + 1, close - open - 1).toInt(&ok);
            if (ok)
                stash.index = index;
        }
        stashes.append(std::move(stash));
    }
    return stashes;
}

} // namespace halvik::gitcore
