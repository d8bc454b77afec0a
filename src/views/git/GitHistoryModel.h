#pragma once

#include "gitcore/GitRecords.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>

namespace halvik::views {

// The commits the History list shows (already filtered), newest first.
class GitHistoryModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        AuthorRole = Qt::UserRole + 1,
        DateRole,     // "3 hours ago"
        ShortSHARole, // the first seven characters
        SHARole,
    };

    explicit GitHistoryModel(QObject* parent = nullptr);

    void setCommits(QList<gitcore::GitCommit> commits);
    const QList<gitcore::GitCommit>& commits() const { return m_commits; }
    // Relative dates are measured from this moment (tests and benchmarks fix it).
    void setNow(const QDateTime& now) { m_now = now; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    static QString relativeDate(const QDateTime& date, const QDateTime& now);

private:
    QList<gitcore::GitCommit> m_commits;
    QDateTime m_now;
};

} // namespace halvik::views
