#pragma once

#include "models/Site.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class LiveLogView;
class PackagesTab;
class SiteOverviewTab;
class GitWorkspaceView;
class DeployTab;

// One site in the detail column: its name, folder and how it is served, the actions that open
// and serve it, and the tabs Overview, Packages, Git, Deploy and Activity.
class SiteDetailPane : public QWidget
{
    Q_OBJECT
public:
    explicit SiteDetailPane(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);
    SitePtr site() const { return m_site; }
    QTabWidget* tabs() const { return m_tabs; }
    SiteOverviewTab* overview() const { return m_overview; }
    DeployTab* deployTab() const { return m_deploy; }
    GitWorkspaceView* git() const { return m_git; }
    QTreeWidget* operationList() const { return m_operations; }
    LiveLogView* operationLog() const { return m_log; }

    // Re-reads how the site is served and any open failure.
    void refresh();

    // The .env sheet, after which the Overview reads the files again.
    void showLocalEnvironment();
    void showCommands(bool keffin);

private:
    QWidget* buildActivity();
    void showPackages();
    void showStatusChip();
    void showIcon();
    void refreshOperations();
    void showOperation();
    void followLog();

    AppServices& m_services;
    SitePtr m_site;
    QMetaObject::Connection m_siteWatch;
    QLabel* m_icon;
    QLabel* m_chip;
    QLabel* m_title;
    QLabel* m_path;
    QLabel* m_serving;
    QLabel* m_error;
    QPushButton* m_openButton;
    QPushButton* m_serveButton;
    QTabWidget* m_tabs;
    SiteOverviewTab* m_overview;
    GitWorkspaceView* m_git;
    DeployTab* m_deploy;
    QWidget* m_packagesHolder;
    QPointer<PackagesTab> m_packages;
    QStackedWidget* m_activity; // the empty state, or the operations and their log
    QTreeWidget* m_operations;
    LiveLogView* m_log;
    SiteOperationPtr m_shownOperation;
    qsizetype m_shownLength = 0;
    QMetaObject::Connection m_operationWatch;
    QList<QMetaObject::Connection> m_operationWatches;
    QTimer m_operationsChanged;
    QTimer m_runningTick;
    QPushButton* m_copyLog = nullptr;
    QTimer m_logFollow; // gathers a running log's new lines, at most every 50 ms
};

} // namespace halvik::views
