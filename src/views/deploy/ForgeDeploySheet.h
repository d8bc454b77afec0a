#pragma once

#include "models/Site.h"
#include "services/hosting/ForgeClient.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace halvik {
class AppServices;
class DeployJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;
class ToneLabel;

// The three steps of a first Forge deployment: account and repository, server and domain,
// then the run's progress. Closing the sheet leaves the run going; the Deploy tab follows it.
class ForgeDeploySheet : public QDialog
{
    Q_OBJECT
public:
    enum class Step
    {
        connect,
        target,
        progress
    };

    ForgeDeploySheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);

    Step step() const { return m_step; }
    QLabel* subtitle() const { return m_subtitle; }
    QComboBox* accountPicker() const { return m_account; }
    QLineEdit* repositoryField() const { return m_repository; }
    QComboBox* serverPicker() const { return m_server; }
    QLineEdit* domainField() const { return m_domain; }
    QPushButton* primaryButton() const { return m_primary; }
    QLabel* message() const;
    LiveLogView* log() const { return m_log; }

    // "Continue", then "Deploy".
    void advance();
    void loadServers();

private:
    void showStep(Step step);
    void sync();
    void startRun();

    AppServices& m_services;
    SitePtr m_site;
    Step m_step = Step::connect;
    QLabel* m_subtitle;
    QStackedWidget* m_pages;
    QComboBox* m_account;
    QLineEdit* m_repository;
    QCheckBox* m_private;
    ToneLabel* m_github;
    QPushButton* m_openSourceControl;
    QComboBox* m_server;
    QLineEdit* m_domain;
    QPushButton* m_retry;
    LiveLogView* m_log;
    ToneLabel* m_message;
    QPushButton* m_primary;
    QPushButton* m_close;
    QList<ForgeServer> m_servers;
    bool m_loading = false;
    QPointer<DeployJob> m_job;
};

} // namespace halvik::views
