#pragma once

#include <QTabBar>

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// "Changes" and "History", following the workspace's list tab.
class GitListTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit GitListTabBar(GitWorkspace& workspace, QWidget* parent = nullptr);

private:
    void sync();

    GitWorkspace& m_workspace;
};

} // namespace halvik::views
