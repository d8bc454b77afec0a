#include "views/git/GitComposer.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

GitComposer::GitComposer(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_message(new QLineEdit(this)), m_count(new QLabel(this)),
      m_commit(new QPushButton(QStringLiteral("Commit"), this)),
      m_pull(new QPushButton(QStringLiteral("Pull"), this)),
      m_push(new QPushButton(QStringLiteral("Push"), this)), m_more(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_message->setAccessibleName(QStringLiteral("Commit message"));
    m_message->setToolTip(QStringLiteral("Commit message (Return commits)"));
    m_count->setForegroundRole(QPalette::PlaceholderText);
    m_commit->setIcon(
        QIcon::fromTheme(QStringLiteral("vcs-commit"), QIcon::fromTheme(QStringLiteral("dialog-ok"))));
    m_commit->setToolTip(QStringLiteral("Commit the included files (Ctrl+Enter)"));
    m_pull->setIcon(
        QIcon::fromTheme(QStringLiteral("vcs-pull"), QIcon::fromTheme(QStringLiteral("go-down"))));
    m_push->setIcon(QIcon::fromTheme(QStringLiteral("vcs-push"), QIcon::fromTheme(QStringLiteral("go-up"))));
    m_more->setIcon(QIcon::fromTheme(QStringLiteral("view-more-symbolic"),
                                     QIcon::fromTheme(QStringLiteral("application-menu"))));
    m_more->setToolTip(QStringLiteral("More actions"));
    m_more->setAccessibleName(QStringLiteral("More actions"));
    m_more->setPopupMode(QToolButton::InstantPopup);
    m_more->setAutoRaise(true);
    auto* menu = new QMenu(m_more);
    menu->addAction(QStringLiteral("Set aside"), this,
                    [this] { fireAndForget(&m_workspace, m_workspace.stashChanges()); });
    m_more->setMenu(menu);

    auto* countRow = new QHBoxLayout;
    countRow->addWidget(m_count, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_commit, 1);
    buttons->addWidget(m_pull);
    buttons->addWidget(m_push);
    buttons->addWidget(m_more);
    layout->addWidget(m_message);
    layout->addLayout(countRow);
    layout->addLayout(buttons);

    connect(m_message, &QLineEdit::textEdited, &m_workspace, &GitWorkspace::setMessage);
    connect(m_message, &QLineEdit::returnPressed, this, &GitComposer::commitIfAllowed);
    connect(m_commit, &QPushButton::clicked, this, &GitComposer::commitIfAllowed);
    connect(m_pull, &QPushButton::clicked, this, [this] { fireAndForget(&m_workspace, m_workspace.pull()); });
    connect(m_push, &QPushButton::clicked, this, [this] { fireAndForget(&m_workspace, m_workspace.push()); });
    for (auto signal : {&GitWorkspace::snapshotChanged, &GitWorkspace::busyChanged,
                        &GitWorkspace::draftsChanged, &GitWorkspace::suggestedMessageChanged})
        connect(&m_workspace, signal, this, &GitComposer::sync);
    sync();
}

void GitComposer::commitIfAllowed()
{
    if (m_workspace.canCommit())
        fireAndForget(&m_workspace, m_workspace.commit());
}

void GitComposer::sync()
{
    if (m_message->text() != m_workspace.message())
        m_message->setText(m_workspace.message());
    m_message->setPlaceholderText(m_workspace.suggestedMessage());
    const int included = m_workspace.includedCount();
    m_count->setText(included == 0 ? QStringLiteral("Nothing included")
                                   : QString::number(included) + QStringLiteral(" included"));
    m_commit->setEnabled(m_workspace.canCommit());
    m_pull->setEnabled(m_workspace.canPull());
    m_push->setEnabled(m_workspace.canPush());
    const bool safe = !m_workspace.isOperating() && m_workspace.conflict() == gitcore::GitConflictKind::none;
    m_more->setEnabled(safe && !m_workspace.snapshot().files.isEmpty());
}

} // namespace halvik::views
