#pragma once

#include <QWidget>

class QLineEdit;
class QListWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The Hosts section: the connected hosting accounts with their search, and the texts that
// explain it. Connecting a host comes with the hosting services; until then the button says so.
class HostsPage : public QWidget
{
    Q_OBJECT
public:
    explicit HostsPage(AppServices& services, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QLineEdit* searchField() const { return m_search; }

private:
    void refresh();

    AppServices& m_services;
    QLineEdit* m_search;
    QListWidget* m_list;
};

} // namespace halvik::views
