#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// The line above a repository: the branch button, what the working copy holds, Refresh (or
// Cancel while a network operation runs) and the repository tools.
class GitRepoBar : public QWidget
{
    Q_OBJECT
public:
    explicit GitRepoBar(GitWorkspace& workspace, QWidget* parent = nullptr);

    QToolButton* branchButton() const { return m_branch; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* refreshButton() const { return m_refresh; }
    // What is running, while something is ("Pull…").
    QLabel* busyLabel() const { return m_busy; }
    QToolButton* toolsButton() const { return m_tools; }

    // "3 changed · 1 behind · 2 ahead · 1 set aside", or what stands in for it.
    static QString statusLine(const GitWorkspace& workspace);

private:
    void sync();

    GitWorkspace& m_workspace;
    QToolButton* m_branch;
    QLabel* m_status;
    QLabel* m_busy;
    QPushButton* m_refresh;
    QToolButton* m_tools;
};

} // namespace halvik::views
