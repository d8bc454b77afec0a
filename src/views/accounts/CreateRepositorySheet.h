#pragma once

#include "async/LifeGuard.h"
#include "models/Enums.h"

#include <QCoroTask>
#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace halvik {

class GitWorkspace;
class SourceControlService;

namespace views {

class ToneLabel;

// Creates a repository on the connected provider for the workspace's site, connects it as
// origin and pushes; after a failed push it offers to push again.
class CreateRepositorySheet : public QDialog
{
    Q_OBJECT
public:
    CreateRepositorySheet(GitWorkspace& workspace, SourceControlService& accounts,
                          SourceControlProvider provider, QWidget* parent = nullptr);

    QLineEdit* ownerField() const { return m_owner; }
    QLineEdit* nameField() const { return m_name; }
    QRadioButton* privateButton() const { return m_private; }
    QRadioButton* publicButton() const { return m_public; }
    QPushButton* primaryButton() const { return m_primary; }
    QLabel* validationLabel() const;
    QLabel* noticeLabel() const;
    QLabel* progressLabel() const { return m_progressText; }
    bool offersRetry() const { return m_retry; }

    static bool isValidOwner(const QString& owner);
    static bool isValidName(const QString& name);

private:
    void sync();
    QCoro::Task<> createAndPush();

    GitWorkspace& m_workspace;
    SourceControlService& m_accounts;
    SourceControlProvider m_provider;
    QWidget* m_form;
    QLineEdit* m_owner;
    QLabel* m_ownerTitle;
    QLineEdit* m_name;
    QRadioButton* m_private;
    QRadioButton* m_public;
    ToneLabel* m_explanation;
    ToneLabel* m_validation;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    ToneLabel* m_notice;
    ToneLabel* m_hasRemote;
    QPushButton* m_primary;
    QPushButton* m_cancel;
    bool m_retry = false;
    bool m_running = false;
    LifeGuard m_life;
};

} // namespace views
} // namespace halvik
