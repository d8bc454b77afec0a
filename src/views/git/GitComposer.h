#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// Below the Changes list: the commit message (the suggestion as its placeholder), how many
// files are included, Commit, Pull, Push and "More actions".
class GitComposer : public QWidget
{
    Q_OBJECT
public:
    explicit GitComposer(GitWorkspace& workspace, QWidget* parent = nullptr);

    QLineEdit* messageField() const { return m_message; }
    QLabel* countLabel() const { return m_count; }
    QPushButton* commitButton() const { return m_commit; }
    QPushButton* pullButton() const { return m_pull; }
    QPushButton* pushButton() const { return m_push; }
    QToolButton* moreButton() const { return m_more; }

    // Commits when the workspace allows it (Return in the message, Ctrl+Enter in the tab).
    void commitIfAllowed();

private:
    void sync();

    GitWorkspace& m_workspace;
    QLineEdit* m_message;
    QLabel* m_count;
    QPushButton* m_commit;
    QPushButton* m_pull;
    QPushButton* m_push;
    QToolButton* m_more;
};

} // namespace halvik::views
