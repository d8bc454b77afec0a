#pragma once

#include <QWidget>

class QLabel;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// The diff of the file selected in the Changes list (with its Scope picker and the hunk and line
// actions) or, read-only, of a file of the commit selected in History.
class GitDiffPane : public QWidget
{
    Q_OBJECT
public:
    enum class Mode
    {
        changes,
        commit
    };

    GitDiffPane(GitWorkspace& workspace, Mode mode, QWidget* parent = nullptr);

private:
    void showDiff();

    GitWorkspace& m_workspace;
    Mode m_mode;
    QLabel* m_placeholder;
};

} // namespace halvik::views
