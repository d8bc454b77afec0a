#include "gitcore/GitChangedFile.h"

#include <QHashFunctions>

namespace halvik::gitcore {

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

GitChangedFile GitChangedFile::withStatus(const QString& path, const QString& status)
{
    const QString xy = normalizedXY(status);
    GitChangedFile file;
    file.path = path;
    file.status = xy;
    file.indexStatus = xy.isEmpty() ? QLatin1Char('?') : xy.at(0);
    file.worktreeStatus = xy.size() < 2 ? QLatin1Char(' ') : xy.at(1);
    file.isUntracked = xy.contains(QLatin1Char('?'));
    file.isConflicted = conflictCodes().contains(xy);
    file.isRenamed = xy.contains(QLatin1Char('R'));
    file.isCopied = xy.contains(QLatin1Char('C'));
    return file;
}

QString GitChangedFile::statusCode() const
{
    return isUntracked ? QStringLiteral("??") : status;
}

GitFileInclusion GitChangedFile::inclusion() const
{
    if (isConflicted)
        return GitFileInclusion::conflicted;
    if (isUntracked)
        return GitFileInclusion::remaining;
    const bool x = isChanged(indexStatus);
    const bool y = isChanged(worktreeStatus);
    if (x && !y)
        return GitFileInclusion::included;
    if (x && y)
        return GitFileInclusion::mixed;
    return GitFileInclusion::remaining;
}

bool GitChangedFile::isIncluded() const
{
    const auto value = inclusion();
    return value == GitFileInclusion::included || value == GitFileInclusion::mixed;
}

bool GitChangedFile::hasRemaining() const
{
    const auto value = inclusion();
    return value == GitFileInclusion::remaining || value == GitFileInclusion::mixed || isUntracked;
}

bool GitChangedFile::isAdded() const
{
    return isUntracked || indexStatus == QLatin1Char('A') || worktreeStatus == QLatin1Char('A');
}

bool GitChangedFile::isDeleted() const
{
    if (isUntracked || indexStatus == QLatin1Char('A') || worktreeStatus == QLatin1Char('A'))
        return false;
    return indexStatus == QLatin1Char('D') || worktreeStatus == QLatin1Char('D');
}

QString GitChangedFile::kindLabel() const
{
    if (isConflicted)
        return QStringLiteral("Conflicted");
    if (isRenamed)
        return QStringLiteral("Renamed");
    if (isCopied)
        return QStringLiteral("Copied");
    if (isAdded())
        return QStringLiteral("Added");
    if (indexStatus == QLatin1Char('D') || worktreeStatus == QLatin1Char('D'))
        return QStringLiteral("Removed");
    return QStringLiteral("Edited");
}

QString GitChangedFile::basename() const
{
    QStringView view(path);
    while (view.endsWith(QLatin1Char('/')) && view.size() > 1)
        view.chop(1);
    return view.mid(view.lastIndexOf(QLatin1Char('/')) + 1).toString();
}

std::optional<QString> GitChangedFile::parentPath() const
{
    QStringView view(path);
    while (view.endsWith(QLatin1Char('/')) && view.size() > 1)
        view.chop(1);
    const qsizetype slash = view.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return slash == 0 ? std::optional<QString>(QStringLiteral("/")) : std::nullopt;
    return view.left(slash).toString();
}

bool GitChangedFile::isChanged(QChar column)
{
    return column != QLatin1Char(' ') && column != QLatin1Char('.') && column != QLatin1Char('?');
}

const QSet<QString>& GitChangedFile::conflictCodes()
{
    static const QSet<QString> codes{QStringLiteral("DD"), QStringLiteral("AU"), QStringLiteral("UD"),
                                     QStringLiteral("UA"), QStringLiteral("DU"), QStringLiteral("AA"),
                                     QStringLiteral("UU")};
    return codes;
}

QString GitChangedFile::normalizedXY(const QString& code)
{
    qsizetype begin = 0;
    qsizetype end = code.size();
    while (begin < end && isSpaceOrTab(code.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(code.at(end - 1)))
        --end;
    const qsizetype length = end - begin;
    if (length == 0)
        return QStringLiteral("??");
    if (length == 1)
        return code.at(begin) + QLatin1Char(' ');
    return code.mid(begin, 2);
}

QString GitChangedFile::displayStatus(QChar index, QChar worktree, bool untracked)
{
    if (untracked)
        return QStringLiteral("??");
    const auto shown = [](QChar c) { return c == QLatin1Char('.') ? QChar(QLatin1Char(' ')) : c; };
    QString combined = QString(shown(index)) + shown(worktree);
    if (combined.trimmed().isEmpty())
        return QStringLiteral("M");
    combined.remove(QLatin1Char(' '));
    return combined;
}

size_t qHash(const GitChangedFile& file, size_t seed)
{
    return qHashMulti(seed, file.path, file.originalPath.value_or(QString()), file.originalPath.has_value(),
                      file.status, file.indexStatus, file.worktreeStatus, file.isUntracked, file.isConflicted,
                      file.isRenamed, file.isCopied);
}

} // namespace halvik::gitcore
