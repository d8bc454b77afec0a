#pragma once

#include <QUuid>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QMenu;
class QStackedWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class HostDetailView;

// The Hosts section: the connected hosting accounts with their search (which also matches the
// names and addresses of servers already loaded), "Connect a New Host", and the selected
// account's detail.
class HostsPage : public QWidget
{
    Q_OBJECT
public:
    explicit HostsPage(AppServices& services, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QLineEdit* searchField() const { return m_search; }
    QMenu* sortMenu() const { return m_sortMenu; }
    HostDetailView* hostDetail() const { return m_hostDetail; }
    void selectHost(const QUuid& id);
    void openConnectSheet();

private:
    void refresh();
    void showSelected();

    AppServices& m_services;
    QLineEdit* m_search;
    QMenu* m_sortMenu;
    QListWidget* m_list;
    QStackedWidget* m_detailStack;
    HostDetailView* m_hostDetail;
};

} // namespace halvik::views
