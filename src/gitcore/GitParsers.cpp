#include "gitcore/GitParsers.h"

#include "gitcore/NaturalCompare.h"

#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

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

// The same for the fixed-width status records, without allocating: returns the field count.
using RecordFields = std::array<QStringView, 11>;

qsizetype splitRecord(QStringView text, RecordFields& fields, qsizetype maxFields)
{
    qsizetype count = 0;
    qsizetype start = 0;
    while (count + 1 < maxFields) {
        const qsizetype next = text.indexOf(u' ', start);
        if (next < 0)
            break;
        fields[count++] = text.mid(start, next - start);
        start = next + 1;
    }
    fields[count++] = text.mid(start);
    return count;
}

QDateTime secondsSince1970(QStringView field)
{
    bool ok = false;
    const qint64 seconds = field.toLongLong(&ok);
    // A number beyond the range of dates (its milliseconds overflow) counts as unreadable.
    const QDateTime date = QDateTime::fromSecsSinceEpoch(ok ? seconds : 0, QTimeZone::utc());
    return date.isValid() ? date : QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc());
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

// Display codes repeat endlessly across a status; one shared string per code is enough.
class StatusCodes
{
public:
    const QString& display(QChar index, QChar worktree)
    {
        const quint32 key = (quint32(index.unicode()) << 16) | worktree.unicode();
        auto found = m_codes.constFind(key);
        if (found == m_codes.cend())
            found = m_codes.insert(key, GitChangedFile::displayStatus(index, worktree, false));
        return *found;
    }

private:
    QHash<quint32, QString> m_codes;
};

// The normalised code always has two columns, so the defaults for missing ones never apply.
GitChangedFile trackedFile(QStringView path, QStringView code, StatusCodes& codes)
{
    // normalizedXY without building strings: trim spaces and tabs, "??" when nothing is left,
    // a lone character gets a blank second column.
    while (!code.isEmpty() && (code.front() == u' ' || code.front() == u'\t'))
        code = code.mid(1);
    while (!code.isEmpty() && (code.back() == u' ' || code.back() == u'\t'))
        code.chop(1);
    const QChar first = code.isEmpty() ? QChar(u'?') : code[0];
    const QChar second = code.isEmpty() ? QChar(u'?') : code.size() == 1 ? QChar(u' ') : code[1];
    GitChangedFile file;
    file.path = path.toString();
    file.indexStatus = first;
    file.worktreeStatus = second;
    file.status = codes.display(file.indexStatus, file.worktreeStatus);
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

    // Every record is kept for now; a later record for the same path replaces the earlier one
    // after the sort below, which brings the two together.
    QList<GitChangedFile> files;
    files.reserve(pieces.size());

    StatusCodes codes;
    const QString untrackedCode = QStringLiteral("??");
    RecordFields fields;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QStringView piece = pieces.at(i);
        // Every record starts with its type character and a space.
        const char16_t type = piece.size() >= 2 && piece[1] == u' ' ? piece[0].unicode() : u'\0';
        if (type == u'#') {
            readBranchHeader(piece.mid(2), result);
        } else if (type == u'1') {
            if (splitRecord(piece, fields, 9) > 8 && fields[0] == u"1" && !fields[8].isEmpty())
                files.append(trackedFile(fields[8], fields[1], codes));
        } else if (type == u'2') {
            if (splitRecord(piece, fields, 10) > 9 && fields[0] == u"2" && !fields[9].isEmpty()) {
                GitChangedFile file = trackedFile(fields[9], fields[1], codes);
                file.isRenamed = fields[8].startsWith(u'R');
                file.isCopied = fields[8].startsWith(u'C');
                // The source path is the next piece; the last piece of the output has none.
                if (i + 1 < pieces.size())
                    file.originalPath = pieces.at(++i).toString();
                files.append(std::move(file));
            }
        } else if (type == u'u') {
            if (splitRecord(piece, fields, 11) > 10 && fields[0] == u"u" && !fields[10].isEmpty()) {
                GitChangedFile file = trackedFile(fields[10], fields[1], codes);
                file.isConflicted = true;
                files.append(std::move(file));
            }
        } else if (type == u'?') {
            const QStringView path = piece.mid(2);
            if (!path.isEmpty()) {
                GitChangedFile file;
                file.path = path.toString();
                file.status = untrackedCode;
                file.indexStatus = QLatin1Char('?');
                file.worktreeStatus = QLatin1Char('?');
                file.isUntracked = true;
                files.append(std::move(file));
            }
        }
    }

    // One natural-order key per path, then a sort of positions: far cheaper than comparing
    // paths character by character at every step of the sort. Equal paths end up side by side
    // in record order, and only the last of them is kept.
    struct Entry
    {
        std::string key;
        qsizetype index;
    };
    std::vector<Entry> entries;
    entries.reserve(std::size_t(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i)
        entries.push_back({naturalSortKey(files[i].path), i});
    std::sort(entries.begin(), entries.end(), [&files](const Entry& a, const Entry& b) {
        if (const int byKey = a.key.compare(b.key); byKey != 0)
            return byKey < 0;
        if (const int byPath = QStringView(files[a.index].path).compare(files[b.index].path); byPath != 0)
            return byPath < 0;
        return a.index < b.index;
    });
    result.files.reserve(qsizetype(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const GitChangedFile& file = files[entries[i].index];
        if (i + 1 < entries.size() && entries[i + 1].key == entries[i].key &&
            files[entries[i + 1].index].path == file.path)
            continue;
        result.files.append(std::move(files[entries[i].index]));
    }
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
