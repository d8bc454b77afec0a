#pragma once

#include "async/LifeGuard.h"
#include "models/Enums.h"

#include <QCoroTask>
#include <QDialog>
#include <QMap>

#include <functional>

class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace halvik {
class GitWorkspace;
class SourceControlService;
} // namespace halvik

namespace halvik::views {

class ToneLabel;

// The repository's tools: where it is pushed (origin, or a new repository on a connected
// provider), whose name goes on every commit, and the ways back (set changes aside, undo the
// last commit, discard everything), each behind the workspace's own questions.
class GitRepositorySheet : public QDialog
{
    Q_OBJECT
public:
    GitRepositorySheet(GitWorkspace& workspace, SourceControlService& accounts, QWidget* parent = nullptr);

    QLabel* remoteLabel() const { return m_remote; }
    QLineEdit* remoteField() const { return m_remoteField; }
    QPushButton* originButton() const { return m_origin; }
    QPushButton* openRemoteButton() const { return m_openRemote; }
    QPushButton* providerButton(SourceControlProvider provider) const { return m_providers.value(provider); }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* emailField() const { return m_email; }
    QRadioButton* computerScope() const { return m_global; }
    QRadioButton* repositoryScope() const { return m_local; }
    QPushButton* saveIdentityButton() const { return m_saveIdentity; }
    QPushButton* setAsideButton() const { return m_setAside; }
    QPushButton* undoButton() const { return m_undo; }
    QPushButton* discardButton() const { return m_discard; }
    QLabel* outcomeLabel() const;

Q_SIGNALS:
    // A provider button was pressed: connect an account first, or create the repository there.
    void connectRequested(SourceControlProvider provider);
    void createRequested(SourceControlProvider provider);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildRepository();
    QWidget* buildIdentity();
    QWidget* buildRecovery();
    void sync();
    void syncDrafts();
    QCoro::Task<> runFromSheet(std::function<QCoro::Task<>()> operation, QString success);

    GitWorkspace& m_workspace;
    SourceControlService& m_accounts;
    QLabel* m_remote = nullptr;
    QLabel* m_remoteTitle = nullptr;
    QLineEdit* m_remoteField = nullptr;
    QPushButton* m_origin = nullptr;
    QPushButton* m_openRemote = nullptr;
    QFormLayout* m_repositoryForm = nullptr;
    QFormLayout* m_identityForm = nullptr;
    QHBoxLayout* m_openRow = nullptr;
    QWidget* m_providerBox = nullptr;
    QMap<SourceControlProvider, QPushButton*> m_providers;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QRadioButton* m_global = nullptr;
    QRadioButton* m_local = nullptr;
    QPushButton* m_saveIdentity = nullptr;
    QPushButton* m_setAside = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_discard = nullptr;
    ToneLabel* m_outcome = nullptr;
    bool m_scopeChosen = false;
    bool m_running = false;
    bool m_ran = false;
    bool m_built = false;
    LifeGuard m_life;
};

} // namespace halvik::views
