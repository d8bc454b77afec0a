#pragma once

#include "models/Site.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace halvik {
class AppServices;
class StaticPublishJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;
class ToneLabel;

// The Deploy tab of a static site: "Build" (generate, last build, output folder), "Publish"
// (the publish sheet, the live address), "Progress" of the site's running or last job, and the
// "History" of its publishes. Jobs belong to the coordinator: the page only follows them.
class StaticDeployPage : public QWidget
{
    Q_OBJECT
public:
    explicit StaticDeployPage(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);

    void generate();
    void openPublishSheet();
    void cancel();

    QPushButton* generateButton() const { return m_generate; }
    QPushButton* publishButton() const { return m_publish; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* lastBuild() const { return m_lastBuild; }
    QLabel* output() const { return m_output; }
    QLabel* liveURL() const { return m_liveURL; }
    QLabel* status() const;
    QProgressBar* progress() const { return m_progress; }
    LiveLogView* liveLog() const { return m_live; }
    QTreeWidget* history() const { return m_history; }
    LiveLogView* selectedLog() const { return m_selectedLog; }
    QLabel* emptyHistory() const { return m_noHistory; }

private:
    void refresh();
    void refreshOutput();
    void refreshHistory();
    void follow(StaticPublishJob* job);
    void showJobState();
    void showSelectedLog();

    AppServices& m_services;
    SitePtr m_site;
    QPointer<StaticPublishJob> m_job;
    QString m_outputPath;
    quint64 m_outputGeneration = 0;
    QPushButton* m_generate;
    QLabel* m_lastBuild;
    QLabel* m_output;
    QPushButton* m_showOutput;
    QPushButton* m_publish;
    QLabel* m_liveURL;
    QWidget* m_progressBox;
    ToneLabel* m_status;
    QProgressBar* m_progress;
    LiveLogView* m_live;
    QPushButton* m_cancel;
    QPushButton* m_copyLog;
    QTreeWidget* m_history;
    QLabel* m_noHistory;
    LiveLogView* m_selectedLog;
};

} // namespace halvik::views
