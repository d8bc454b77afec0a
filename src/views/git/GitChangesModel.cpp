#include "views/git/GitChangesModel.h"

namespace halvik::views {

using namespace gitcore;

GitChangesModel::GitChangesModel(QObject* parent) : QAbstractListModel(parent) {}

void GitChangesModel::setFiles(QList<GitChangedFile> files)
{
    // Same rows in the same order: only their contents may have changed, and the view keeps
    // its place. One pass tells both apart (the list can hold 100,000 files).
    bool sameRows = files.size() == m_files.size();
    bool sameFiles = sameRows;
    for (qsizetype i = 0; sameRows && i < files.size(); ++i) {
        const GitChangedFile& now = files.at(i);
        const GitChangedFile& before = m_files.at(i);
        sameRows = now.path == before.path;
        sameFiles = sameFiles && sameRows && now == before;
    }
    if (sameFiles)
        return;
    if (sameRows) {
        m_files = std::move(files);
        Q_EMIT dataChanged(index(0), index(int(m_files.size()) - 1));
        return;
    }
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
}

void GitChangesModel::setBusyPaths(const QSet<QString>& paths)
{
    if (paths == m_busy)
        return;
    const QSet<QString> touched = paths + m_busy;
    m_busy = paths;
    for (int row = 0; row < m_files.size(); ++row)
        if (touched.contains(m_files.at(row).path))
            Q_EMIT dataChanged(index(row), index(row), {BusyRole});
}

int GitChangesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant GitChangesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_files.size())
        return {};
    const GitChangedFile& file = m_files.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return file.basename();
    case Qt::ToolTipRole:
        // What the checkbox runs.
        return QStringLiteral("git add -- ") + file.path;
    case Qt::AccessibleTextRole:
        return file.kindLabel() + QStringLiteral(": ") + file.path;
    case Qt::CheckStateRole:
        switch (file.inclusion()) {
        case GitFileInclusion::included:
            return file.isUntracked ? Qt::Unchecked : Qt::Checked;
        case GitFileInclusion::mixed:
            return Qt::PartiallyChecked;
        case GitFileInclusion::remaining:
        case GitFileInclusion::conflicted:
            return Qt::Unchecked;
        }
        return Qt::Unchecked;
    case KindRole:
        return file.kindLabel();
    case ParentRole:
        return file.parentPath().value_or(QString());
    case PathRole:
        return file.path;
    case BusyRole:
        return m_busy.contains(file.path);
    default:
        return {};
    }
}

} // namespace halvik::views
