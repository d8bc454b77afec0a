#include "views/git/GitListTabBar.h"

#include "app/GitWorkspace.h"

namespace halvik::views {

using namespace gitcore;

GitListTabBar::GitListTabBar(GitWorkspace& workspace, QWidget* parent)
    : QTabBar(parent), m_workspace(workspace)
{
    setDocumentMode(true);
    setExpanding(false);
    setDrawBase(false);
    addTab(title(GitListTab::changes));
    addTab(title(GitListTab::history));
    connect(this, &QTabBar::currentChanged, this, [this](int index) {
        m_workspace.setListTab(index == 1 ? GitListTab::history : GitListTab::changes);
    });
    connect(&m_workspace, &GitWorkspace::displayChanged, this, &GitListTabBar::sync);
    sync();
}

void GitListTabBar::sync()
{
    const int index = m_workspace.listTab() == GitListTab::history ? 1 : 0;
    if (currentIndex() != index)
        setCurrentIndex(index);
}

} // namespace halvik::views
