#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class ToneLabel;

// Names a new branch that starts from the current commit and switches to it. The name is the
// workspace's draft, so it survives closing and reopening the sheet until a branch is made.
class GitNewBranchSheet : public QDialog
{
    Q_OBJECT
public:
    explicit GitNewBranchSheet(GitWorkspace& workspace, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLabel* explanationLabel() const;
    QLabel* outcomeLabel() const;
    QPushButton* createButton() const { return m_create; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void sync();
    QCoro::Task<> create();

    GitWorkspace& m_workspace;
    QLineEdit* m_name = nullptr;
    ToneLabel* m_explanation = nullptr;
    ToneLabel* m_outcome = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_running = false;
    bool m_ran = false;
    bool m_built = false;
    LifeGuard m_life;
};

} // namespace halvik::views
