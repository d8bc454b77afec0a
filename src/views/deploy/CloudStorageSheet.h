#pragma once

#include "models/Site.h"
#include "services/hosting/CloudStorageSession.h"

#include <QDialog>
#include <QMap>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace halvik::views {

class ToneLabel;

// "Cloud storage": moves a flat-file site's content, users and assets to a database and a bucket
// for Laravel Cloud, one step per "Continue", resumable from the setup's checkpoint.
class CloudStorageSheet : public QDialog
{
    Q_OBJECT
public:
    // `connected` is false for a site not on Laravel Cloud: the sheet then only says so. The
    // session outlives the sheet: a step that runs when the sheet closes goes on.
    CloudStorageSheet(CloudStorageSession& session, bool connected, QWidget* parent = nullptr);
    ~CloudStorageSheet() override;

    CloudStorageSession& session() { return *m_session; }
    QPushButton* continueButton() const { return m_continue; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* cancelButton() const { return m_cancel; }
    QCheckBox* repositoryBox(const QString& repository) const { return m_repositories.value(repository); }
    QPushButton* startOverButton() const { return m_startOver; }
    ToneLabel* statusLabel() const { return m_statusLabel; }
    ToneLabel* errorLabel() const { return m_error; }
    QLabel* stepLabel(int index) const { return m_steps.value(index); }
    QLineEdit* field(const QString& name) const { return m_fields.value(name); }
    QSpinBox* portBox() const { return m_port; }
    bool isBusy() const { return m_busy || m_session->isRunning(); }

    // The plan as the form shows it, secrets included.
    CloudStoragePlan formPlan() const;
    // Runs the next step of the setup.
    void continueSetup();
    void restore();
    // Stops the running step; "Continue" then runs it again from the checkpoint.
    void cancelStep();
    void startOver();

    static QString repositoryDescription(const QString& repository);
    static QString usersDescription();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QCoro::Task<> runNext();
    void sync();
    void fillFromSession();
    void rebuildChoices();

    CloudStorageSession* m_session;
    bool m_connected;
    bool m_busy = false;
    std::optional<QString> m_localError;
    QList<QLabel*> m_steps;
    QMap<QString, QLineEdit*> m_fields;
    QComboBox* m_driver;
    QSpinBox* m_port;
    QGroupBox* m_databaseGroup;
    QGroupBox* m_bucketGroup;
    QWidget* m_contentBox;
    QVBoxLayout* m_contentLayout;
    QWidget* m_containersBox;
    QVBoxLayout* m_containersLayout;
    QCheckBox* m_users = nullptr;
    QMap<QString, QCheckBox*> m_repositories;
    QMap<QString, QCheckBox*> m_containers;
    ToneLabel* m_statusLabel;
    QPlainTextEdit* m_log;
    ToneLabel* m_error;
    QPushButton* m_copyErrors;
    QPushButton* m_continue;
    QPushButton* m_cancel;
    QPushButton* m_startOver;
    QPushButton* m_showBackup;
    QPushButton* m_showFiles;
    QPushButton* m_restore;
};

} // namespace halvik::views
