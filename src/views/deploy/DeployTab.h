#pragma once

#include "models/Site.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
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

// A site's Deploy tab: "Not deployed yet" with the ways to deploy, or the chosen target (Cloud
// first when the site has both) with "Deploy now", the running deployment's status and live
// log, and the history with each log. Cloud shows the live URL and repository, the progress of
// a run, "Sign in again" when Cloud rejected the token, the environment editor and
// "Disconnect". The run belongs to the deploy coordinator: the tab only follows it.
class DeployTab : public QWidget
{
    Q_OBJECT
public:
    explicit DeployTab(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);

    QPushButton* deployToForgeButton() const { return m_deployToForge; }
    QPushButton* deployToCloudButton() const { return m_deployToCloud; }
    QPushButton* disconnectCloudButton() const { return m_disconnectCloud; }
    QPushButton* editCloudEnvironmentButton() const { return m_editEnvironment; }
    QPushButton* signInAgainButton() const { return m_signInAgain; }
    QLabel* liveURL() const { return m_liveURL; }
    QLabel* noDeploys() const { return m_noDeploys; }
    QProgressBar* progress() const { return m_progress; }
    QPushButton* deployNowButton() const { return m_deployNow; }
    QTreeWidget* history() const { return m_history; }
    LiveLogView* liveLog() const { return m_live; }
    LiveLogView* selectedLog() const { return m_selectedLog; }
    QLabel* runStatus() const;
    StaticDeployPage* staticPage() const { return m_static; }
    // Which page shows: 0 "Not deployed yet", 1 Forge, 2 Laravel Cloud, 3 a static site.
    int page() const;

    void deployNow();
    void openDeploySheet();
    void openCloudDeploySheet();
    void openCloudEnvironment();
    // Asks, then forgets the site's Cloud application; nothing is deleted on Cloud.
    void disconnectCloud();

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void refreshHistory();
    void follow(DeployJob* job);
    void showSelectedLog();
    void showOutput(const QString& output);
    bool showsCloud() const;

    AppServices& m_services;
    SitePtr m_site;
    QPointer<DeployJob> m_job;
    QComboBox* m_target;
    QStackedWidget* m_stack;
    QPushButton* m_deployToForge;
    QPushButton* m_deployToCloud;
    QStackedWidget* m_details;
    QLabel* m_liveURL;
    QLabel* m_repo;
    QPushButton* m_editEnvironment;
    QPushButton* m_disconnectCloud;
    QPushButton* m_signInAgain;
    QProgressBar* m_progress;
    QLabel* m_noDeploys;
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
