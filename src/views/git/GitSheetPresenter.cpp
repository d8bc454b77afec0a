#include "views/git/GitSheetPresenter.h"

#include "app/GitWorkspace.h"

#include <QWidget>

namespace halvik::views {

GitSheetPresenter::GitSheetPresenter(GitWorkspace& workspace, AppServices& services, QWidget* window)
    : QObject(window), m_workspace(workspace), m_services(services), m_window(window)
{
    connect(&m_workspace, &GitWorkspace::sheetsChanged, this, &GitSheetPresenter::sync);
}

void GitSheetPresenter::sync() {}

} // namespace halvik::views
