#pragma once

#include "async/LifeGuard.h"
#include "gitcore/GitDiff.h"

#include <QCoroTask>

#include <QWidget>

#include <optional>

class QAbstractButton;
class QLabel;
class QStackedWidget;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class GitDiffScroll;
class GitImagePreview;

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

    // What the pane shows instead of a diff ("Select a file to see its diff.", "No changes in
    // this scope.", …); empty while it shows lines or a picture.
    QString message() const;
    GitDiffScroll* scroll() const { return m_scroll; }
    GitImagePreview* imagePreview() const { return m_image; }
    QAbstractButton* scopeButton(gitcore::GitDiffScope scope) const;

    static QString kindText(gitcore::GitDiffKind kind);

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const gitcore::GitFileDiff* shownDiff() const;
    bool hasSelection() const;
    void showDiff();
    void showMessage(const QString& text, const QString& icon);
    static QString iconName(gitcore::GitDiffKind kind);
    QString countsText(const gitcore::GitFileDiff& diff) const;
    void syncScope();
    void fitBar();
    void refreshActions();
    void runAction(int hunk, gitcore::GitHunkAction action);
    QCoro::Task<> showStoredImage(QString path, gitcore::GitDiffScope scope, QString key);

    GitWorkspace& m_workspace;
    Mode m_mode;
    QWidget* m_bar;
    QWidget* m_divider = nullptr;
    QLabel* m_name;
    QLabel* m_folder;
    QLabel* m_counts;
    QWidget* m_scopeBox;
    QAbstractButton* m_included;
    QAbstractButton* m_remaining;
    QStackedWidget* m_stack;
    QWidget* m_messagePage = nullptr;
    QLabel* m_messageIcon;
    QLabel* m_message;
    GitImagePreview* m_image;
    GitDiffScroll* m_scroll;
    LifeGuard m_life;
};

} // namespace halvik::views
