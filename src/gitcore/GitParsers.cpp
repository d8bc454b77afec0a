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

// One file record of the status output, still pointing into the text: the records are sorted
// first and become GitChangedFile values only once, in their final place. Kept small, because
// a large status has a hundred thousand of them.
struct StatusRecord
{
    const QChar* pathStart = nullptr;
    const QChar* originalStart = nullptr;
    quint32 pathLength = 0;
    quint32 originalLength = 0; // 0: the record has no original path
    QChar indexStatus = u'?';
    QChar worktreeStatus = u'?';
    bool isUntracked = false;
    bool isConflicted = false;
    bool isRenamed = false;
    bool isCopied = false;

    QStringView path() const { return {pathStart, qsizetype(pathLength)}; }
    QStringView originalPath() const { return {originalStart, qsizetype(originalLength)}; }
    void setPath(QStringView view)
    {
        pathStart = view.data();
        pathLength = quint32(view.size());
    }
    void setOriginalPath(QStringView view)
    {
        originalStart = view.data();
        originalLength = quint32(view.size());
    }
};

// A tracked record with its two-column code, normalised without building strings: spaces and
// tabs trimmed, "??" when nothing is left, a lone character gets a blank second column. The
// normalised code always has two columns, so the defaults for missing ones never apply.
StatusRecord trackedRecord(QStringView path, QStringView code)
{
    while (!code.isEmpty() && (code.front() == u' ' || code.front() == u'\t'))
        code = code.mid(1);
    while (!code.isEmpty() && (code.back() == u' ' || code.back() == u'\t'))
        code.chop(1);
    StatusRecord record;
    record.setPath(path);
    if (!code.isEmpty()) {
        record.indexStatus = code[0];
        record.worktreeStatus = code.size() == 1 ? QChar(u' ') : code[1];
    }
    return record;
}

// The non-empty pieces of NUL-separated output, one at a time; an empty view at the end.
class NulPieces
{
public:
    explicit NulPieces(QStringView text) : m_rest(text) {}

    QStringView next()
    {
        while (!m_rest.isEmpty()) {
            const qsizetype end = m_rest.indexOf(QChar(u'\0'));
            const QStringView piece = end < 0 ? m_rest : m_rest.first(end);
            m_rest = end < 0 ? QStringView() : m_rest.sliced(end + 1);
            if (!piece.isEmpty())
                return piece;
        }
        return {};
    }

private:
    QStringView m_rest;
};

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
    // Every record is kept for now; a later record for the same path replaces the earlier one
    // after the sort below, which brings the two together.
    // Reserved first: the result is the largest allocation, and taking it before the
    // temporaries lets it reuse the memory a previous result gave back.
    const qsizetype pieceCount = text.count(QChar(u'\0')) + 1;
    result.files.reserve(pieceCount);
    std::vector<StatusRecord> records;
    records.reserve(std::size_t(pieceCount));

    RecordFields fields;
    NulPieces pieces(text);
    for (QStringView piece = pieces.next(); !piece.isEmpty(); piece = pieces.next()) {
        // Every record starts with its type character and a space.
        const char16_t type = piece.size() >= 2 && piece[1] == u' ' ? piece[0].unicode() : u'\0';
        if (type == u'#') {
            readBranchHeader(piece.mid(2), result);
        } else if (type == u'1') {
            if (splitRecord(piece, fields, 9) > 8 && fields[0] == u"1" && !fields[8].isEmpty())
                records.push_back(trackedRecord(fields[8], fields[1]));
        } else if (type == u'2') {
            if (splitRecord(piece, fields, 10) > 9 && fields[0] == u"2" && !fields[9].isEmpty()) {
                StatusRecord record = trackedRecord(fields[9], fields[1]);
                record.isRenamed = fields[8].startsWith(u'R');
                record.isCopied = fields[8].startsWith(u'C');
                // The source path is the next piece; the last piece of the output has none.
                record.setOriginalPath(pieces.next());
                records.push_back(record);
            }
        } else if (type == u'u') {
            if (splitRecord(piece, fields, 11) > 10 && fields[0] == u"u" && !fields[10].isEmpty()) {
                StatusRecord record = trackedRecord(fields[10], fields[1]);
                record.isConflicted = true;
                records.push_back(record);
            }
        } else if (type == u'?') {
            if (piece.size() > 2) {
                StatusRecord record;
                record.setPath(piece.mid(2));
                record.isUntracked = true;
                records.push_back(record);
            }
        }
    }

    // One natural-order key per path, all in one buffer, then a sort of small entries: far
    // cheaper than comparing paths character by character at every step of the sort. The first
    // sixteen bytes of each key ride along as two numbers, which settle most comparisons
    // without touching the buffer. Equal paths end up side by side in record order, and only
    // the last of them is kept.
    struct Entry
    {
        quint64 head[2];
        quint32 keyStart;
        quint32 keyLength;
        quint32 record;
    };
    std::string keys;
    keys.reserve(std::size_t(text.size() / 2));
    std::vector<Entry> entries;
    entries.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::size_t start = keys.size();
        appendNaturalSortKey(records[i].path(), keys);
        entries.push_back({{0, 0}, quint32(start), quint32(keys.size() - start), quint32(i)});
    }
    for (Entry& entry : entries) {
        // Big-endian, so that comparing the numbers compares the bytes in order; a shorter key
        // is padded with zeros, which is why equal heads still need the full comparison.
        for (quint32 b = 0; b < 16; ++b) {
            const auto byte = b < entry.keyLength ? quint8(keys[entry.keyStart + b]) : quint8(0);
            entry.head[b / 8] = (entry.head[b / 8] << 8) | byte;
        }
    }
    const auto keyOf = [&keys](const Entry& entry) {
        return std::string_view(keys.data() + entry.keyStart, entry.keyLength);
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        if (const int byKey = keyOf(a).compare(keyOf(b)); byKey != 0)
            return byKey < 0;
        if (const int byPath = records[a.record].path().compare(records[b.record].path()); byPath != 0)
            return byPath < 0;
        return a.record < b.record;
    });

    StatusCodes codes;
    const QString untrackedCode = QStringLiteral("??");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StatusRecord& record = records[entries[i].record];
        if (i + 1 < entries.size() && keyOf(entries[i + 1]) == keyOf(entries[i]) &&
            records[entries[i + 1].record].path() == record.path())
            continue;
        GitChangedFile& file = result.files.emplace_back();
        file.path = record.path().toString();
        if (record.originalLength > 0)
            file.originalPath = record.originalPath().toString();
        file.indexStatus = record.indexStatus;
        file.worktreeStatus = record.worktreeStatus;
        file.status =
            record.isUntracked ? untrackedCode : codes.display(record.indexStatus, record.worktreeStatus);
        file.isUntracked = record.isUntracked;
        file.isConflicted = record.isConflicted;
        file.isRenamed = record.isRenamed;
        file.isCopied = record.isCopied;
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
            // A quoted name can still be empty or hold a line break ("" or "\n"): not a file.
            QString file = unquotePath(line);
            if (!file.isEmpty() && !file.contains(QLatin1Char('\n')))
                current->files.append(std::move(file));
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
        file.path = unquotePath(fields.last());
        if (fields.size() >= 3)
            file.originalPath = unquotePath(fields[1]);
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

QString GitParsers::unquotePath(QStringView printed)
{
    if (printed.size() < 2 || printed.front() != u'"' || printed.back() != u'"')
        return printed.toString();
    // Octal escapes are bytes of the name's UTF-8: collect bytes, decode once at the end.
    QByteArray bytes;
    const QStringView body = printed.sliced(1, printed.size() - 2);
    for (qsizetype i = 0; i < body.size(); ++i) {
        const qsizetype escape = body.indexOf(u'\\', i);
        if (escape < 0 || escape + 1 == body.size()) {
            bytes += body.sliced(i).toUtf8();
            break;
        }
        bytes += body.sliced(i, escape - i).toUtf8();
        i = escape + 1;
        const char16_t next = body.at(i).unicode();
        switch (next) {
        case u'a':
            bytes += '\a';
            break;
        case u'b':
            bytes += '\b';
            break;
        case u't':
            bytes += '\t';
            break;
        case u'n':
            bytes += '\n';
            break;
        case u'v':
            bytes += '\v';
            break;
        case u'f':
            bytes += '\f';
            break;
        case u'r':
            bytes += '\r';
            break;
        default:
            if (next >= u'0' && next <= u'3' && i + 2 < body.size() && body.at(i + 1).isDigit() &&
                body.at(i + 2).isDigit()) {
                bytes += char(((next - u'0') << 6) | ((body.at(i + 1).unicode() - u'0') << 3) |
                              (body.at(i + 2).unicode() - u'0'));
                i += 2;
            } else {
                bytes += char(next); // \" and \\ (and anything unexpected) stand for themselves
            }
        }
    }
    return QString::fromUtf8(bytes);
}

} // namespace halvik::gitcore
