#include "views/git/GitRepoBar.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace halvik::views {

using namespace gitcore;

GitRepoBar::GitRepoBar(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_branch(new QToolButton(this)), m_status(new QLabel(this)),
      m_busy(new QLabel(this)), m_refresh(new QPushButton(this)), m_tools(new QToolButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_branch->setIcon(QIcon::fromTheme(QStringLiteral("vcs-branch")));
    m_branch->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_branch->setToolTip(QStringLiteral("Switch or create a branch"));
    QFont bold = m_branch->font();
    bold.setBold(true);
    m_branch->setFont(bold);
    m_status->setForegroundRole(QPalette::PlaceholderText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_tools->setIcon(
        QIcon::fromTheme(QStringLiteral("configure"), QIcon::fromTheme(QStringLiteral("settings"))));
    m_tools->setAutoRaise(true);
    m_tools->setToolTip(QStringLiteral("Repository tools"));
    m_tools->setAccessibleName(QStringLiteral("Repository tools"));
    layout->addWidget(m_branch);
    layout->addWidget(m_status, 1);
    m_busy->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_busy);
    layout->addWidget(m_refresh);
    layout->addWidget(m_tools);

    connect(m_branch, &QToolButton::clicked, this, [this] { m_workspace.setShowingBranchPicker(true); });
    connect(m_tools, &QToolButton::clicked, this, [this] { m_workspace.setShowingRepositoryTools(true); });
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_workspace.busyKind() == GitBusyKind::network)
            m_workspace.cancelNetwork();
        else
            fireAndForget(&m_workspace, m_workspace.refresh(true));
    });
    for (auto signal :
         {&GitWorkspace::snapshotChanged, &GitWorkspace::busyChanged, &GitWorkspace::refreshStateChanged})
        connect(&m_workspace, signal, this, &GitRepoBar::sync);
    sync();
}

QString GitRepoBar::statusLine(const GitWorkspace& workspace)
{
    const GitRepositorySnapshot& snapshot = workspace.snapshot();
    const GitStatus& status = snapshot.status;
    if (!status.isRepo)
        return QStringLiteral("Not a repository");
    if (status.inProgressRebase)
        return QStringLiteral("Rebase in progress");
    QStringList parts;
    parts << (snapshot.files.isEmpty() ? QStringLiteral("Clean")
                                       : QString::number(snapshot.files.size()) + QStringLiteral(" changed"));
    if (status.behind >= 1)
        parts << QString::number(status.behind) + QStringLiteral(" behind");
    if (status.ahead >= 1)
        parts << QString::number(status.ahead) + QStringLiteral(" ahead");
    if (!snapshot.stashes.isEmpty())
        parts << QString::number(snapshot.stashes.size()) + QStringLiteral(" set aside");
    return parts.join(QStringLiteral(" \u00B7 "));
}

void GitRepoBar::sync()
{
    const GitStatus& status = m_workspace.snapshot().status;
    const QString branch = status.isDetached || !status.branch ? QStringLiteral("Detached")
                                                               : QStringLiteral("Branch ") + *status.branch;
    m_branch->setText(branch);
    m_branch->setAccessibleName(branch);
    // No switching while a rebase or another operation is under way.
    m_branch->setEnabled(status.isRepo && m_workspace.conflict() == GitConflictKind::none &&
                         !m_workspace.isOperating());
    m_status->setText(statusLine(m_workspace));
    const auto& action = m_workspace.busyAction();
    m_busy->setText(action ? *action + QStringLiteral("\u2026") : QString());
    m_busy->setVisible(action.has_value());
    const bool network = m_workspace.busyKind() == GitBusyKind::network;
    m_refresh->setText(network ? QStringLiteral("Cancel") : QStringLiteral("Refresh"));
    m_refresh->setIcon(
        QIcon::fromTheme(network ? QStringLiteral("process-stop") : QStringLiteral("view-refresh")));
    m_refresh->setToolTip(network ? QStringLiteral("Stop the running pull, push or fetch")
                                  : QStringLiteral("Read the repository again and fetch (F5)"));
}

} // namespace halvik::views
