#pragma once

#include "gitcore/GitRecords.h"

#include <QFrame>

class QLabel;
class QLineEdit;
class QPushButton;
class QListWidget;
class QListWidgetItem;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// The branch picker that drops down from the bar's branch button: a search field, the local and
// remote branches with a check mark on the current one, and "New Branch…". Choosing a branch
// switches to it; the popover closes on any choice, on Escape or on a click elsewhere.
class GitBranchPopover : public QFrame
{
    Q_OBJECT
public:
    GitBranchPopover(GitWorkspace& workspace, QWidget* parent);

    QLineEdit* searchField() const { return m_search; }
    QListWidget* list() const { return m_list; }
    QPushButton* newBranchButton() const { return m_newBranch; }
    QLabel* emptyLabel() const { return m_empty; }
    QLabel* rebaseNote() const { return m_rebaseNote; }

    // Opens below `anchor` (its left edges aligned), or in the middle of the parent without one.
    void popUp(QWidget* anchor);
    // Switches to the branch of `item` (a branch row); the current branch only closes the popover.
    void choose(QListWidgetItem* item);

Q_SIGNALS:
    void closed();
    void newBranchRequested();

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void syncEnabled();
    void fitHeight();
    QListWidgetItem* firstBranchItem() const;
    bool isCurrent(const gitcore::GitBranch& branch) const;

    GitWorkspace& m_workspace;
    QLineEdit* m_search = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_empty = nullptr;
    QPushButton* m_newBranch = nullptr;
    QLabel* m_rebaseNote = nullptr;
    bool m_chosen = false;
    bool m_built = false;
    bool m_sized = false;
};

} // namespace halvik::views
