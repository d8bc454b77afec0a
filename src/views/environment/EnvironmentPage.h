#pragma once

#include "views/common/PageCommands.h"

#include <QWidget>

class QFormLayout;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The Environment section: how sites open, the engine and tools, port 80, recent nginx errors,
// and one row per site with how it is served and whether it answers.
class EnvironmentPage : public QWidget, public PageCommands
{
    Q_OBJECT
public:
    explicit EnvironmentPage(AppServices& services, QWidget* parent = nullptr);

    // F5 looks at the tools and sites again, as Refresh does.
    bool handlePageCommand(Command command) override;

    QTreeWidget* sites() const { return m_sites; }

private:
    void refreshView();

    AppServices& m_services;
    QLabel* m_howSitesOpen;
    QLabel* m_checked;
    QFormLayout* m_form;
    QLabel* m_server;
    QLabel* m_engine;
    QLabel* m_php;
    QLabel* m_composer;
    QLabel* m_node;
    QLabel* m_gh;
    QLabel* m_tld;
    QLabel* m_parked;
    QLabel* m_port80;
    QLabel* m_conflicts;
    QPlainTextEdit* m_nginx;
    QTreeWidget* m_sites;
    QPushButton* m_refresh;
};

} // namespace halvik::views
