#pragma once

#include "models/Enums.h"

#include <QObject>
#include <QPointer>

class QDialog;
class QWidget;

namespace halvik {
class AppServices;
class GitWorkspace;
} // namespace halvik

namespace halvik::views {

class ConnectSheet;
class CreateRepositorySheet;
class GitBranchPopover;
class GitNewBranchSheet;
class GitRepositorySheet;
class GitStashSheet;

// Opens and closes the Git tab's popover and sheets as the workspace asks for them (branch
// picker, new branch, set-aside changes, repository tools, create repository), so the screens
// only flip the workspace's showing* flags. Closing a sheet clears its flag again. Sheets are
// window-modal and never run their own event loop.
class GitSheetPresenter : public QObject
{
    Q_OBJECT
public:
    GitSheetPresenter(GitWorkspace& workspace, AppServices& services, QWidget* window);
    ~GitSheetPresenter() override;

    // The branch popover opens below this widget (the bar's branch button).
    void setBranchAnchor(QWidget* anchor) { m_branchAnchor = anchor; }

    // What is open now (null when closed).
    GitBranchPopover* branchPopover() const;
    GitNewBranchSheet* newBranchSheet() const;
    GitStashSheet* stashSheet() const;
    GitRepositorySheet* repositorySheet() const;
    CreateRepositorySheet* createRepositorySheet() const;
    ConnectSheet* connectSheet() const;

    // A repository on `provider` for the site; without an account there, connecting comes
    // first and the create sheet follows once it succeeded.
    void openCreateRepository(SourceControlProvider provider);

private:
    void sync();
    void openPopover();
    void openCreateFromFlag();
    void openConnect(SourceControlProvider provider);
    // The sheet a new one stacks on: the repository tools when open, else the window.
    QWidget* sheetParent() const;
    // Opens `sheet` in `slot`; `reset` clears the workspace's flag once it closes.
    template <typename Sheet, typename Reset> void show(QPointer<Sheet>& slot, Sheet* sheet, Reset reset);
    void closeAll();

    GitWorkspace* m_workspace;
    AppServices& m_services;
    QWidget* m_window;
    QPointer<QWidget> m_branchAnchor;
    QPointer<GitBranchPopover> m_popover;
    QPointer<GitNewBranchSheet> m_newBranch;
    QPointer<GitStashSheet> m_stash;
    QPointer<GitRepositorySheet> m_repository;
    QPointer<CreateRepositorySheet> m_create;
    QPointer<ConnectSheet> m_connect;
    // The create sheet (or the connect sheet before it) answers the workspace's flag rather
    // than a button of the repository tools.
    bool m_createForFlag = false;
};

} // namespace halvik::views
