#pragma once

#include "models/HostAccount.h"
#include "models/Site.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace halvik {
class AppServices;
class StaticPublishJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;
class ToneLabel;

// The publish sheet of a static site: "Host" (account, a new site or project, or an existing
// one), "Build" (regenerate or not), then "Progress". Closing it leaves the job going; the
// Deploy tab follows it.
class StaticPublishSheet : public QDialog
{
    Q_OBJECT
public:
    enum class Step
    {
        host,
        build,
        progress
    };

    StaticPublishSheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);

    Step step() const { return m_step; }
    QLabel* steps() const { return m_steps; }
    QComboBox* accountPicker() const { return m_account; }
    QRadioButton* createNewButton() const { return m_createNew; }
    QLineEdit* nameField() const { return m_name; }
    QRadioButton* existingButton() const { return m_existing; }
    QComboBox* targetPicker() const { return m_target; }
    QCheckBox* regenerateBox() const { return m_regenerate; }
    QPushButton* primaryButton() const { return m_primary; }
    QPushButton* openSiteButton() const { return m_openSite; }
    QLabel* message() const;
    QLabel* noAccount() const;
    LiveLogView* log() const { return m_log; }
    QProgressBar* progress() const { return m_progress; }

    // "Continue", "Publish", then "Retry" after a failure.
    void advance();
    void loadTargets();

private:
    void showStep(Step step);
    void sync();
    void startRun();
    void showJobState();
    HostAccountPtr chosenHost() const;

    AppServices& m_services;
    SitePtr m_site;
    Step m_step = Step::host;
    QLabel* m_steps;
    QStackedWidget* m_pages;
    ToneLabel* m_noAccount;
    QWidget* m_hostForm;
    QComboBox* m_account;
    QRadioButton* m_createNew;
    QLineEdit* m_name;
    QRadioButton* m_existing;
    QComboBox* m_target;
    QCheckBox* m_regenerate;
    QLabel* m_lastBuild;
    ToneLabel* m_status;
    QProgressBar* m_progress;
    LiveLogView* m_log;
    ToneLabel* m_message;
    QPushButton* m_openSite;
    QPushButton* m_primary;
    QPushButton* m_close;
    bool m_loading = false;
    quint64 m_generation = 0;
    QPointer<StaticPublishJob> m_job;
};

} // namespace halvik::views
