#pragma once

#include "async/Cancellation.h"
#include "models/Site.h"
#include "services/hosting/CloudRecords.h"

#include <QDialog>
#include <QPointer>
#include <QUrl>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace halvik {
class AppServices;
class CloudDeployJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;
class ToneLabel;

// The three steps of taking a site to Laravel Cloud: account (signing in through the browser
// when there is none) and GitHub repository, application name and region, then the run's
// progress bar, status line and log. Closing the sheet leaves the run going.
class CloudDeploySheet : public QDialog
{
    Q_OBJECT
public:
    enum class Step
    {
        connect,
        target,
        progress
    };

    CloudDeploySheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);
    ~CloudDeploySheet() override;

    Step step() const { return m_step; }
    QLabel* subtitle() const { return m_subtitle; }
    QComboBox* accountPicker() const { return m_account; }
    QPushButton* signInButton() const { return m_signIn; }
    QLabel* signInStatus() const;
    QLineEdit* applicationField() const { return m_application; }
    QComboBox* regionPicker() const { return m_region; }
    QComboBox* existingPicker() const { return m_existing; }
    QProgressBar* progress() const { return m_progress; }
    QLabel* statusLine() const;
    QPushButton* primaryButton() const { return m_primary; }
    QPushButton* signInAgainButton() const { return m_signInAgain; }
    LiveLogView* log() const { return m_log; }

    // "Continue", then "Deploy".
    void advance();
    void signInWithBrowser();
    void loadTarget();

private:
    void showStep(Step step);
    void sync();
    void startRun();
    void fillAccounts();

    AppServices& m_services;
    SitePtr m_site;
    Step m_step = Step::connect;
    QLabel* m_subtitle;
    QStackedWidget* m_pages;
    QComboBox* m_account;
    QPushButton* m_signIn;
    QPushButton* m_otherWay;
    QPushButton* m_copyLink;
    ToneLabel* m_signInStatus;
    ToneLabel* m_repository;
    QCheckBox* m_private;
    QLineEdit* m_application;
    ToneLabel* m_nameRule;
    QComboBox* m_region;
    QComboBox* m_existing;
    QProgressBar* m_progress;
    ToneLabel* m_status;
    QPushButton* m_signInAgain;
    LiveLogView* m_log;
    ToneLabel* m_message;
    QPushButton* m_primary;
    QPushButton* m_close;
    QUrl m_signInURL;
    bool m_busy = false;
    CancellationSource m_signInCancel;
    QPointer<CloudDeployJob> m_job;
};

} // namespace halvik::views
