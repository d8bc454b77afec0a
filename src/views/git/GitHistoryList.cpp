#include "views/git/GitHistoryList.h"

#include "views/git/GitHistoryModel.h"
#include "views/git/GitHistoryRow.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace halvik::views {

using namespace gitcore;

GitHistoryList::GitHistoryList(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_filter(new QLineEdit(this)), m_view(new QListView(this)),
      m_model(new GitHistoryModel(this)), m_empty(new QLabel(this)), m_stack(new QStackedLayout),
      m_loadMore(new QPushButton(QStringLiteral("Load more"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_filter->setPlaceholderText(QStringLiteral("Filter history"));
    m_filter->setAccessibleName(QStringLiteral("Filter history"));
    m_filter->setClearButtonEnabled(true);
    m_filter->addAction(QIcon::fromTheme(QStringLiteral("search")), QLineEdit::LeadingPosition);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new GitHistoryRow(m_view));
    m_view->setUniformItemSizes(true);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setAccessibleName(QStringLiteral("History"));
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    m_stack->addWidget(m_view);
    m_stack->addWidget(m_empty);
    m_loadMore->setFlat(true);
    layout->addWidget(m_filter);
    layout->addLayout(m_stack, 1);
    layout->addWidget(m_loadMore);

    connect(m_filter, &QLineEdit::textChanged, &m_workspace, &GitWorkspace::setHistoryFilter);
    connect(m_loadMore, &QPushButton::clicked, this,
            [this] { fireAndForget(&m_workspace, m_workspace.loadMoreHistory()); });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (!m_syncing && index.isValid())
                    m_workspace.selectCommit(m_model->commits().at(index.row()).sha);
            });
    connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = m_view->indexAt(at);
        if (!index.isValid())
            return;
        QMenu* menu = contextMenu(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_view->viewport()->mapToGlobal(at));
    });
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitHistoryList::syncCommits);
    connect(&m_workspace, &GitWorkspace::filtersChanged, this, [this] {
        if (m_workspace.historyFilter() != m_appliedFilter)
            syncCommits();
    });
    connect(&m_workspace, &GitWorkspace::refreshStateChanged, this, &GitHistoryList::syncCommits);
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitHistoryList::syncSelection);
    connect(&m_workspace, &GitWorkspace::busyChanged, this,
            [this] { m_loadMore->setEnabled(!m_workspace.isRefreshing()); });
    syncCommits();
}

void GitHistoryList::syncCommits()
{
    if (m_filter->text() != m_workspace.historyFilter())
        m_filter->setText(m_workspace.historyFilter());
    m_syncing = true;
    m_appliedFilter = m_workspace.historyFilter();
    m_model->setCommits(m_workspace.filteredCommits());
    m_syncing = false;
    m_empty->setText(m_workspace.snapshot().commits.isEmpty() ? QStringLiteral("No commits yet.")
                                                              : QStringLiteral("No commits"));
    m_stack->setCurrentWidget(m_model->rowCount() == 0 ? static_cast<QWidget*>(m_empty) : m_view);
    m_loadMore->setVisible(m_workspace.historyHasMore());
    m_loadMore->setEnabled(!m_workspace.isRefreshing());
    syncSelection();
}

void GitHistoryList::syncSelection()
{
    const std::optional<QString>& sha = m_workspace.selectedCommitSHA();
    QModelIndex wanted;
    if (sha)
        for (int row = 0; row < m_model->commits().size(); ++row)
            if (m_model->commits().at(row).sha == *sha) {
                wanted = m_model->index(row);
                break;
            }
    m_syncing = true;
    if (wanted.isValid() && m_view->currentIndex() != wanted)
        m_view->selectionModel()->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect);
    else if (!wanted.isValid())
        m_view->selectionModel()->clear();
    m_syncing = false;
}

QMenu* GitHistoryList::contextMenu(int row)
{
    auto* menu = new QMenu(this);
    const GitCommit commit = m_model->commits().at(row);
    menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy SHA"), this,
                    [this, commit] {
                        if (m_workspace.copyText)
                            m_workspace.copyText(commit.sha);
                    });
    menu->addAction(QIcon::fromTheme(QStringLiteral("applications-internet")),
                    QStringLiteral("Open on Remote"), this,
                    [this, commit] { m_workspace.openCommit(commit); })
        ->setEnabled(m_workspace.snapshot().status.remoteURL.has_value());
    menu->addSeparator();
    menu->addAction(QIcon::fromTheme(QStringLiteral("edit-undo")), QStringLiteral("Undo This Commit\u2026"),
                    this, [this, commit] { fireAndForget(&m_workspace, m_workspace.revert(commit)); })
        ->setEnabled(!m_workspace.isOperating() && m_workspace.conflict() == GitConflictKind::none);
    return menu;
}

} // namespace halvik::views
