#include "views/git/GitHistoryModel.h"

namespace halvik::views {

using namespace gitcore;

GitHistoryModel::GitHistoryModel(QObject* parent) : QAbstractListModel(parent) {}

void GitHistoryModel::setCommits(QList<GitCommit> commits)
{
    if (commits == m_commits)
        return;
    // "Load more" only adds older commits at the end: the rows already shown stay put.
    const qsizetype old = m_commits.size();
    bool appended = commits.size() > old;
    for (qsizetype i = 0; appended && i < old; ++i)
        appended = commits.at(i).sha == m_commits.at(i).sha;
    if (appended) {
        beginInsertRows({}, int(old), int(commits.size()) - 1);
        m_commits = std::move(commits);
        endInsertRows();
        return;
    }
    beginResetModel();
    m_commits = std::move(commits);
    endResetModel();
}

int GitHistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_commits.size());
}

QString GitHistoryModel::relativeDate(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid())
        return {};
    const qint64 seconds = std::max<qint64>(0, date.secsTo(now));
    const auto unit = [](qint64 count, const char* name) {
        return QString::number(count) + QLatin1Char(' ') + QLatin1String(name) + (count == 1 ? "" : "s") +
               QStringLiteral(" ago");
    };
    if (seconds < 60)
        return QStringLiteral("just now");
    if (seconds < 3600)
        return unit(seconds / 60, "minute");
    if (seconds < 86400)
        return unit(seconds / 3600, "hour");
    if (seconds < 86400 * 30)
        return unit(seconds / 86400, "day");
    if (seconds < 86400 * 365)
        return unit(seconds / (86400 * 30), "month");
    return unit(seconds / (86400 * 365), "year");
}

QVariant GitHistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_commits.size())
        return {};
    const GitCommit& commit = m_commits.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return commit.subject;
    case Qt::ToolTipRole:
        return commit.sha + QLatin1Char('\n') + commit.date.toLocalTime().toString(Qt::TextDate);
    case Qt::AccessibleTextRole:
        return commit.subject + QStringLiteral(", ") + commit.author + QStringLiteral(", ") +
               relativeDate(commit.date, m_now.isValid() ? m_now : QDateTime::currentDateTimeUtc());
    case AuthorRole:
        return commit.author;
    case DateRole:
        return relativeDate(commit.date, m_now.isValid() ? m_now : QDateTime::currentDateTimeUtc());
    case ShortSHARole:
        return commit.shortSHA();
    case SHARole:
        return commit.sha;
    default:
        return {};
    }
}

} // namespace halvik::views
