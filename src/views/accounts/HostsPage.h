#pragma once

#include "models/HostAccount.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QStackedWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The Hosts section: the connected hosting accounts with their search and "Sort By", and the
// selected account (its name, provider, dates and Disconnect). Connecting a host comes with
// the hosting services; until then the button says so.
class HostsPage : public QWidget
{
    Q_OBJECT
public:
    explicit HostsPage(AppServices& services, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QLineEdit* searchField() const { return m_search; }
    QMenu* sortMenu() const { return m_sortMenu; }
    // The selected account's values, in order: name, provider, connected, last checked.
    QStringList detailValues() const;
    QPushButton* disconnectButton() const { return m_disconnect; }

private:
    void refresh();
    void showSelected();
    HostAccountPtr selectedHost() const;

    AppServices& m_services;
    QLineEdit* m_search;
    QMenu* m_sortMenu;
    QListWidget* m_list;
    QStackedWidget* m_detail;
    QList<QLabel*> m_values; // name, provider, connected, last checked
    QPushButton* m_disconnect;
};

} // namespace halvik::views
