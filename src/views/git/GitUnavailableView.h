#pragma once

#include "gitcore/GitRepositoryProblem.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace halvik::views {

// Why Git cannot be used for this folder, the command that fixes it, Git's own words behind
// "Error details", and "Retry".
class GitUnavailableView : public QWidget
{
    Q_OBJECT
public:
    explicit GitUnavailableView(QWidget* parent = nullptr);

    void setProblem(const gitcore::GitRepositoryProblem& problem);
    // How the recovery command reaches the clipboard.
    std::function<void(const QString&)> copyText;

    QLabel* titleLabel() const { return m_title; }
    QLabel* messageLabel() const { return m_message; }
    QLineEdit* commandField() const { return m_command; }
    QToolButton* detailsToggle() const { return m_detailsToggle; }
    QPlainTextEdit* detailsText() const { return m_details; }
    QPushButton* retryButton() const { return m_retry; }

Q_SIGNALS:
    void retryRequested();

private:
    QLabel* m_icon;
    QLabel* m_title;
    QLabel* m_message;
    QWidget* m_commandRow;
    QLineEdit* m_command;
    QToolButton* m_detailsToggle;
    QPlainTextEdit* m_details;
    QPushButton* m_retry;
};

} // namespace halvik::views
