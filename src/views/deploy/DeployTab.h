#pragma once

#include "models/Site.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace halvik {
class AppServices;
class DeployJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;
class StaticDeployPage;
class ToneLabel;

// A site's Deploy tab: "Not deployed yet" with the way to deploy, or the Forge target with
// "Deploy now", the running deployment's status and live log, and the history with each log.
// The run belongs to the deploy coordinator: the tab only follows it.
class DeployTab : public QWidget
{
    Q_OBJECT
public:
    explicit DeployTab(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);

    QPushButton* deployToForgeButton() const { return m_deployToForge; }
    QPushButton* deployNowButton() const { return m_deployNow; }
    QTreeWidget* history() const { return m_history; }
    LiveLogView* liveLog() const { return m_live; }
    LiveLogView* selectedLog() const { return m_selectedLog; }
    QLabel* runStatus() const;
    StaticDeployPage* staticPage() const { return m_static; }
    // Which page shows: 0 "Not deployed yet", 1 Forge, 2 a static site.
    int page() const;

    void deployNow();
    void openDeploySheet();

private:
    void refresh();
    void refreshHistory();
    void follow(DeployJob* job);
    void showSelectedLog();
    void showOutput(const QString& output);

    AppServices& m_services;
    SitePtr m_site;
    QPointer<DeployJob> m_job;
    QComboBox* m_target;
    QStackedWidget* m_stack;
    QPushButton* m_deployToForge;
    QLabel* m_serverId;
    QLabel* m_siteId;
    QPushButton* m_deployNow;
    ToneLabel* m_status;
    LiveLogView* m_live;
    QString m_shownOutput;
    QTreeWidget* m_history;
    LiveLogView* m_selectedLog;
    QPushButton* m_copyLog;
    StaticDeployPage* m_static;
};

} // namespace halvik::views
