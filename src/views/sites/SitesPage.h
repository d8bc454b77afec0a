#pragma once

#include "models/AppPreferences.h"

#include "app/AppServices.h"
#include "views/sites/SiteListModel.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QMenu;
class QAction;
class QLineEdit;
class QListView;
class QSortFilterProxyModel;
class QStackedWidget;
class QToolBar;

namespace halvik::views {

class SiteDetailPane;

// The Sites section: a searchable list of sites beside the selected site's detail.
class SitesPage : public QWidget
{
    Q_OBJECT
public:
    explicit SitesPage(AppServices& services, QWidget* parent = nullptr);

    QListView* list() const { return m_list; }
    QLineEdit* searchField() const { return m_search; }
    QToolBar* toolbar() const { return m_toolbar; }
    // The "Sort By" menu: Name, Newest, Oldest.
    QMenu* sortMenu() const { return m_sortMenu; }
    // Actions that belong to the toolbar's left group are inserted before this one.
    QAction* toolbarEnd() const { return m_toolbarEnd; }
    // "New Site", "Import Existing" and "Import All", in the toolbar and the empty state; each
    // posts its window command, and the window enables them as it does its menu items.
    QAction* commandAction(const QString& commandName) const { return m_commandActions.value(commandName); }
    // The sites selected in the list, in list order.
    QList<SitePtr> selectedSites() const;
    void selectSite(const QUuid& id);
    // What a job of the site shows on its row, if anything.
    std::optional<SiteListModel::JobState> jobState(const QUuid& id) const;

Q_SIGNALS:
    void contextMenuRequested(const QPoint& globalPosition);

private:
    void syncSelectionToServices();
    void syncSelectionFromServices();
    void showDetail();
    SiteDetailPane* sitePane();
    void applySort(ListSortOrder order);
    QWidget* buildNoSites();
    QWidget* buildMultiple();

    AppServices& m_services;
    SiteListModel* m_model;
    QSortFilterProxyModel* m_filter;
    QLineEdit* m_search;
    QToolBar* m_toolbar;
    QMenu* m_sortMenu;
    QAction* m_toolbarEnd;
    QListView* m_list;
    QStackedWidget* m_detail;
    SiteDetailPane* m_sitePane = nullptr;
    QLabel* m_multiTitle;
    QHash<QString, QAction*> m_commandActions;
    bool m_syncing = false;
};

} // namespace halvik::views
