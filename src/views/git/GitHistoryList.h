#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QStackedLayout;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class GitHistoryModel;

// The History list: "Filter history", one row per commit, "Load more" while older commits
// remain, and each row's menu ("Copy SHA", "Open on Remote", undo).
class GitHistoryList : public QWidget
{
    Q_OBJECT
public:
    explicit GitHistoryList(GitWorkspace& workspace, QWidget* parent = nullptr);

    QLineEdit* filterField() const { return m_filter; }
    QListView* view() const { return m_view; }
    GitHistoryModel* model() const { return m_model; }
    QPushButton* loadMoreButton() const { return m_loadMore; }
    QLabel* emptyLabel() const { return m_empty; }
    QMenu* contextMenu(int row);

private:
    void syncCommits();
    void syncSelection();

    GitWorkspace& m_workspace;
    QLineEdit* m_filter;
    QListView* m_view;
    GitHistoryModel* m_model;
    QLabel* m_empty;
    QStackedLayout* m_stack;
    QPushButton* m_loadMore;
    QString m_appliedFilter;
    bool m_syncing = false;
};

} // namespace halvik::views
