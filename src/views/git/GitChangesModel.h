#pragma once

#include "gitcore/GitChangedFile.h"

#include <QAbstractListModel>
#include <QList>
#include <QSet>

namespace halvik::views {

// The changed files the list shows (already filtered), one row each.
class GitChangesModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        KindRole = Qt::UserRole + 1, // "Edited", "Added", …
        ParentRole,                  // the parent folder, empty at the top
        PathRole,
        BusyRole, // an operation works on this file
    };

    explicit GitChangesModel(QObject* parent = nullptr);

    void setFiles(QList<gitcore::GitChangedFile> files);
    void setBusyPaths(const QSet<QString>& paths);
    const QList<gitcore::GitChangedFile>& files() const { return m_files; }
    const gitcore::GitChangedFile& fileAt(int row) const { return m_files.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<gitcore::GitChangedFile> m_files;
    QSet<QString> m_busy;
};

} // namespace halvik::views
