#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace halvik {
class AppServices;
class GitWorkspace;
} // namespace halvik

namespace halvik::views {

// Opens and closes the Git tab's popover and sheets as the workspace asks for them (branch
// picker, new branch, set-aside changes, repository tools, create repository), so the screens
// only flip the workspace's showing* flags.
class GitSheetPresenter : public QObject
{
    Q_OBJECT
public:
    GitSheetPresenter(GitWorkspace& workspace, AppServices& services, QWidget* window);

    // The branch popover opens below this widget (the bar's branch button).
    void setBranchAnchor(QWidget* anchor) { m_branchAnchor = anchor; }

private:
    void sync();

    GitWorkspace& m_workspace;
    AppServices& m_services;
    QWidget* m_window;
    QPointer<QWidget> m_branchAnchor;
};

} // namespace halvik::views
