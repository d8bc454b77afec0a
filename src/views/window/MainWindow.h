#pragma once

#include "app/AppServices.h"

#include <QHash>
#include <QMainWindow>
#include <QSet>

#include <functional>

class QAction;
class QLabel;
class QStackedWidget;
class QTreeWidget;

namespace halvik::views {

class SitesPage;

// The one main window: a sidebar of sections, the Sites list and its detail, the menus.
// Menu items post named commands; the window handles those whose feature exists.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The size a first start opens at: everything fits it.
    static constexpr QSize defaultSize{1180, 760};

    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);

    SitesPage* sitesPage() const { return m_sitesPage; }
    QTreeWidget* sidebar() const { return m_sidebar; }
    QAction* action(const QString& commandName) const { return m_actions.value(commandName); }
    // Features that land later register what their command does; until then its menu item
    // stays disabled.
    void setCommandHandler(const QString& commandName, std::function<void()> handler);

private:
    void buildMenus();
    void buildSidebar();
    QAction* addCommand(QMenu* menu, const QString& title, const QString& commandName,
                        const QKeySequence& shortcut = {});
    void handleCommand(const QString& name, const QString& argument);
    void showSection(SidebarSection section);
    QWidget* buildSection(SidebarSection section);
    void updateActions();
    void showSiteContextMenu(const QPoint& globalPosition);
    QList<SitePtr> selectedSites() const;

    AppServices& m_services;
    QTreeWidget* m_sidebar;
    QStackedWidget* m_pages;
    QSet<int> m_builtSections; // by SidebarSection
    SitesPage* m_sitesPage;
    QLabel* m_status;
    QHash<QString, QAction*> m_actions;
    QHash<QString, std::function<void()>> m_handlers;
};

} // namespace halvik::views
