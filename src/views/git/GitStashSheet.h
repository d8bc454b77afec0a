#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDialog>
#include <QList>

#include <functional>

class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class ToneLabel;

// The change sets set aside in the repository: set the current work aside, restore an entry
// (with what was included still included) or drop it after a question.
class GitStashSheet : public QDialog
{
    Q_OBJECT
public:
    explicit GitStashSheet(GitWorkspace& workspace, QWidget* parent = nullptr);

    QPushButton* setAsideButton() const { return m_setAside; }
    QLabel* emptyLabel() const;
    QLabel* outcomeLabel() const;
    // One per listed entry, newest first.
    QList<QPushButton*> restoreButtons() const { return m_restoreButtons; }
    QList<QToolButton*> dropButtons() const { return m_dropButtons; }
    QStringList entryTexts() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void rebuild();
    void syncEnabled();
    QCoro::Task<> runFromSheet(std::function<QCoro::Task<>()> operation);

    GitWorkspace& m_workspace;
    QPushButton* m_setAside = nullptr;
    ToneLabel* m_empty = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_entries = nullptr;
    QVBoxLayout* m_entriesLayout = nullptr;
    ToneLabel* m_outcome = nullptr;
    QList<QPushButton*> m_restoreButtons;
    QList<QToolButton*> m_dropButtons;
    QList<QLabel*> m_entryLabels;
    bool m_running = false;
    bool m_ran = false;
    bool m_built = false;
    LifeGuard m_life;
};

} // namespace halvik::views
