#include "views/git/GitSheetPresenter.h"

#include "views/accounts/ConnectSheet.h"
#include "views/accounts/CreateRepositorySheet.h"
#include "views/git/GitBranchPopover.h"
#include "views/git/GitNewBranchSheet.h"
#include "views/git/GitRepositorySheet.h"
#include "views/git/GitStashSheet.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "services/accounts/SourceControlService.h"

#include <QWidget>

namespace halvik::views {

GitSheetPresenter::GitSheetPresenter(GitWorkspace& workspace, AppServices& services, QWidget* window)
    : QObject(window), m_workspace(&workspace), m_services(services), m_window(window)
{
    connect(m_workspace, &GitWorkspace::sheetsChanged, this, &GitSheetPresenter::sync);
    // Sheets hold the workspace: they go with it.
    connect(m_workspace, &QObject::destroyed, this, [this] {
        m_workspace = nullptr;
        closeAll();
    });
    sync();
}

GitBranchPopover* GitSheetPresenter::branchPopover() const
{
    return m_popover;
}

GitNewBranchSheet* GitSheetPresenter::newBranchSheet() const
{
    return m_newBranch;
}

GitStashSheet* GitSheetPresenter::stashSheet() const
{
    return m_stash;
}

GitRepositorySheet* GitSheetPresenter::repositorySheet() const
{
    return m_repository;
}

CreateRepositorySheet* GitSheetPresenter::createRepositorySheet() const
{
    return m_create;
}

ConnectSheet* GitSheetPresenter::connectSheet() const
{
    return m_connect;
}

GitSheetPresenter::~GitSheetPresenter()
{
    closeAll();
}

void GitSheetPresenter::closeAll()
{
    // Gone without a word to the workspace: whoever ends the presenter ends the tab's sheets.
    QList<QWidget*> open{m_popover, m_connect, m_create, m_newBranch, m_stash, m_repository};
    for (QWidget* widget : open)
        if (widget) {
            widget->disconnect(this);
            delete widget;
        }
}

template <typename Sheet, typename Reset>
void GitSheetPresenter::show(QPointer<Sheet>& slot, Sheet* sheet, Reset reset)
{
    slot = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Sheet>* target = &slot;
    connect(sheet, &QDialog::finished, this, [this, target, reset] {
        // Closed is closed: the flag may ask for a fresh sheet before this one is deleted.
        *target = nullptr;
        if (m_workspace)
            reset(*m_workspace);
    });
    sheet->open();
}

void GitSheetPresenter::sync()
{
    if (!m_workspace)
        return;
    GitWorkspace& workspace = *m_workspace;

    if (workspace.showingBranchPicker() && !m_popover)
        openPopover();
    else if (!workspace.showingBranchPicker() && m_popover)
        m_popover->close();

    if (workspace.showingNewBranch() && !m_newBranch)
        show(m_newBranch, new GitNewBranchSheet(workspace, m_window),
             [](GitWorkspace& w) { w.setShowingNewBranch(false); });
    else if (!workspace.showingNewBranch() && m_newBranch)
        m_newBranch->close();

    if (workspace.showingStashManager() && !m_stash)
        show(m_stash, new GitStashSheet(workspace, m_window),
             [](GitWorkspace& w) { w.setShowingStashManager(false); });
    else if (!workspace.showingStashManager() && m_stash)
        m_stash->close();

    if (workspace.showingRepositoryTools() && !m_repository) {
        auto* sheet = new GitRepositorySheet(workspace, m_services.sourceControl(), m_window);
        connect(sheet, &GitRepositorySheet::connectRequested, this, &GitSheetPresenter::openConnect);
        connect(sheet, &GitRepositorySheet::createRequested, this, &GitSheetPresenter::openCreateRepository);
        show(m_repository, sheet, [](GitWorkspace& w) { w.setShowingRepositoryTools(false); });
    } else if (!workspace.showingRepositoryTools() && m_repository) {
        m_repository->close();
    }

    if (workspace.showingCreateGitHubRepo() && !m_createForFlag)
        openCreateFromFlag();
    else if (!workspace.showingCreateGitHubRepo() && m_createForFlag) {
        m_createForFlag = false;
        if (m_create)
            m_create->close();
        if (m_connect)
            m_connect->close();
    }
}

void GitSheetPresenter::openPopover()
{
    auto* popover = new GitBranchPopover(*m_workspace, m_window);
    m_popover = popover;
    connect(popover, &GitBranchPopover::closed, this, [this] {
        m_popover = nullptr;
        if (m_workspace)
            m_workspace->setShowingBranchPicker(false);
    });
    connect(popover, &GitBranchPopover::newBranchRequested, this, [this] {
        if (m_workspace)
            m_workspace->setShowingNewBranch(true);
    });
    popover->popUp(m_branchAnchor);
}

QWidget* GitSheetPresenter::sheetParent() const
{
    return m_repository ? static_cast<QWidget*>(m_repository) : m_window;
}

void GitSheetPresenter::openCreateFromFlag()
{
    // The connected provider, GitHub first; with none, connecting comes first.
    SourceControlService& accounts = m_services.sourceControl();
    SourceControlProvider provider = SourceControlProvider::github;
    for (const SourceControlProvider each : allCases<SourceControlProvider>())
        if (accounts.isConnected(each)) {
            provider = each;
            break;
        }
    m_createForFlag = true;
    openCreateRepository(provider);
}

void GitSheetPresenter::openCreateRepository(SourceControlProvider provider)
{
    if (!m_workspace)
        return;
    SourceControlService& accounts = m_services.sourceControl();
    if (!accounts.isConnected(provider)) {
        openConnect(provider);
        return;
    }
    if (m_create)
        return;
    auto* sheet = new CreateRepositorySheet(*m_workspace, accounts, provider, sheetParent());
    m_create = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this] {
        m_create = nullptr;
        if (m_createForFlag && m_workspace) {
            m_createForFlag = false;
            m_workspace->setShowingCreateGitHubRepo(false);
        }
    });
    sheet->open();
}

void GitSheetPresenter::openConnect(SourceControlProvider provider)
{
    if (m_connect)
        return;
    SourceControlService& accounts = m_services.sourceControl();
    auto* sheet = new ConnectSheet(accounts, provider, sheetParent());
    m_connect = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    // The picker may land on another provider: the one connected when the sheet closes counts.
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        const SourceControlProvider chosen = sheet->model().provider();
        m_connect = nullptr;
        if (!m_workspace)
            return;
        const bool connected = m_services.sourceControl().isConnected(chosen);
        if (m_createForFlag) {
            if (connected) {
                openCreateRepository(chosen);
            } else {
                m_createForFlag = false;
                m_workspace->setShowingCreateGitHubRepo(false);
            }
        }
    });
    sheet->open();
}

} // namespace halvik::views
