#include "views/git/GitWorkspaceView.h"

#include "views/common/SemanticColors.h"
#include "views/git/GitBannerStack.h"
#include "views/git/GitChangesList.h"
#include "views/git/GitCompactStack.h"
#include "views/git/GitComposer.h"
#include "views/git/GitDiffPane.h"
#include "views/git/GitHistoryDetail.h"
#include "views/git/GitHistoryList.h"
#include "views/git/GitListTabBar.h"
#include "views/git/GitRegularSplit.h"
#include "views/git/GitRepoBar.h"
#include "views/git/GitSheetPresenter.h"
#include "views/git/GitUnavailableView.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "platform/Browser.h"
#include "services/accounts/SourceControlService.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

using namespace gitcore;

namespace {

QLabel* centredLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace

GitWorkspaceView::GitWorkspaceView(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services), m_outer(new QStackedLayout(this)),
      m_noSite(centredLabel(QStringLiteral("Select a site to see its repository."), this))
{
    m_noSite->setForegroundRole(QPalette::PlaceholderText);
    m_outer->addWidget(m_noSite);
}

GitWorkspaceView::~GitWorkspaceView()
{
    teardown();
}

void GitWorkspaceView::setSite(SitePtr site)
{
    if (site == m_site)
        return;
    teardown();
    m_site = std::move(site);
    // The screens are built when the tab is first on screen for this site.
    if (m_site && isVisible()) {
        build();
        m_workspace->start();
    }
}

GitWorkspaceView::State GitWorkspaceView::state() const
{
    if (!m_workspace || !m_workspace->hasRefreshed())
        return State::checking;
    const GitStatus& status = m_workspace->snapshot().status;
    if (status.problem)
        return State::problem;
    return status.isRepo ? State::repository : State::notRepository;
}

bool GitWorkspaceView::isCompact() const
{
    return m_layouts && m_layouts->currentWidget() == m_compact;
}

void GitWorkspaceView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_site && !m_workspace)
        build();
    if (m_workspace)
        m_workspace->start();
}

void GitWorkspaceView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_workspace)
        m_workspace->stop();
}

void GitWorkspaceView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyLayout();
}

void GitWorkspaceView::teardown()
{
    if (m_workspace)
        m_workspace->stop();
    // The screens go before the model they read.
    delete m_body;
    m_pages = nullptr;
    m_checkingPage = nullptr;
    m_checking = nullptr;
    m_unavailable = nullptr;
    m_notRepoPage = nullptr;
    m_notRepoText = nullptr;
    m_notRepoNotice = nullptr;
    m_initialize = nullptr;
    m_repoPage = nullptr;
    m_bar = nullptr;
    m_banners = nullptr;
    m_tabs = nullptr;
    m_layouts = nullptr;
    m_split = nullptr;
    m_compact = nullptr;
    m_master = nullptr;
    m_detail = nullptr;
    m_masterPages = nullptr;
    m_detailPages = nullptr;
    m_changes = nullptr;
    m_composer = nullptr;
    m_history = nullptr;
    m_historyDetail = nullptr;
    m_diff = nullptr;
    m_sheets = nullptr;
    m_workspace.reset();
    m_outer->setCurrentWidget(m_noSite);
}

void GitWorkspaceView::build()
{
    m_workspace =
        std::make_unique<GitWorkspace>(m_services.git(), m_services.store(), m_services.prompts(), m_site);
    GitWorkspace& ws = *m_workspace;
    ws.setRemoteCreator(&m_services.sourceControl().remoteCreator());
    ws.openURL = [](const QUrl& url) { Browser::open(url); };
    ws.copyText = [](const QString& text) { QApplication::clipboard()->setText(text); };

    m_body = new QWidget(this);
    m_pages = new QStackedLayout(m_body);

    m_checkingPage = new QWidget(m_body);
    auto* checkingLayout = new QVBoxLayout(m_checkingPage);
    m_checking = centredLabel(QStringLiteral("Checking Git\u2026"), m_checkingPage);
    m_checking->setForegroundRole(QPalette::PlaceholderText);
    auto* progress = new QProgressBar(m_checkingPage);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setMaximumWidth(200);
    progress->setMaximumHeight(6);
    checkingLayout->addStretch();
    checkingLayout->addWidget(m_checking);
    checkingLayout->addWidget(progress, 0, Qt::AlignHCenter);
    checkingLayout->addStretch();

    m_unavailable = new GitUnavailableView(m_body);
    m_unavailable->copyText = ws.copyText;
    connect(m_unavailable, &GitUnavailableView::retryRequested, this,
            [this] { fireAndForget(m_workspace.get(), m_workspace->refresh(false)); });

    m_notRepoPage = new QWidget(m_body);
    auto* notRepo = new QVBoxLayout(m_notRepoPage);
    auto* icon = new QLabel(m_notRepoPage);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("vcs-branch")).pixmap(64, 64, QIcon::Disabled));
    icon->setAlignment(Qt::AlignCenter);
    m_notRepoText =
        centredLabel(QStringLiteral("Git tracks every change to every file in your site."), m_notRepoPage);
    QFont bold = m_notRepoText->font();
    bold.setBold(true);
    m_notRepoText->setFont(bold);
    m_notRepoNotice = centredLabel(QString(), m_notRepoPage);
    m_initialize = new QPushButton(QStringLiteral("Initialize Git"), m_notRepoPage);
    m_initialize->setDefault(true);
    connect(m_initialize, &QPushButton::clicked, this,
            [this] { fireAndForget(m_workspace.get(), m_workspace->initializeRepo()); });
    notRepo->addStretch(2);
    notRepo->addWidget(icon);
    notRepo->addWidget(m_notRepoText);
    notRepo->addWidget(m_notRepoNotice);
    notRepo->addWidget(m_initialize, 0, Qt::AlignHCenter);
    notRepo->addStretch(3);

    m_repoPage = buildRepositoryPage(m_body);
    m_pages->addWidget(m_checkingPage);
    m_pages->addWidget(m_unavailable);
    m_pages->addWidget(m_notRepoPage);
    m_pages->addWidget(m_repoPage);

    m_sheets = new GitSheetPresenter(ws, m_services, m_body);
    m_sheets->setBranchAnchor(m_bar->branchButton());

    addShortcuts();
    for (auto signal : {&GitWorkspace::snapshotChanged, &GitWorkspace::refreshStateChanged})
        connect(&ws, signal, this, &GitWorkspaceView::showState);
    connect(&ws, &GitWorkspace::displayChanged, this, &GitWorkspaceView::showTab);
    for (auto signal : {&GitWorkspace::noticeChanged, &GitWorkspace::busyChanged})
        connect(&ws, signal, this, &GitWorkspaceView::syncNotRepository);

    m_outer->addWidget(m_body);
    m_outer->setCurrentWidget(m_body);
    showState();
    showTab();
    syncNotRepository();
    applyLayout();
}

QWidget* GitWorkspaceView::buildRepositoryPage(QWidget* parent)
{
    GitWorkspace& ws = *m_workspace;
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    m_bar = new GitRepoBar(ws, page);
    SourceControlService& accounts = m_services.sourceControl();
    m_banners = new GitBannerStack(
        ws, m_services.prompts(),
        [&accounts] {
            for (SourceControlProvider provider :
                 {SourceControlProvider::github, SourceControlProvider::gitlab,
                  SourceControlProvider::bitbucket, SourceControlProvider::origin})
                if (accounts.isConnected(provider))
                    return provider;
            return SourceControlProvider::github;
        },
        page);
    // Connecting or disconnecting an account elsewhere changes which provider the banner offers.
    connect(&m_services.store(), &SiteStore::sourceControlAccountsChanged, m_banners, &GitBannerStack::sync);

    // The list side: the tab bar over the Changes list and composer, or over History.
    m_master = new QWidget(page);
    auto* master = new QVBoxLayout(m_master);
    master->setContentsMargins(0, 0, 6, 0);
    m_tabs = new GitListTabBar(ws, m_master);
    m_masterPages = new QStackedWidget(m_master);
    auto* changesPage = new QWidget(m_masterPages);
    auto* changes = new QVBoxLayout(changesPage);
    changes->setContentsMargins(0, 0, 0, 0);
    m_changes = new GitChangesList(ws, m_services.preferences(), changesPage);
    m_composer = new GitComposer(ws, changesPage);
    changes->addWidget(m_changes, 1);
    changes->addWidget(m_composer);
    m_history = new GitHistoryList(ws, m_masterPages);
    m_masterPages->addWidget(changesPage);
    m_masterPages->addWidget(m_history);
    master->addWidget(m_tabs);
    master->addWidget(m_masterPages, 1);

    // The detail side: the file's diff, or the commit.
    m_detail = new QWidget(page);
    auto* detail = new QVBoxLayout(m_detail);
    detail->setContentsMargins(6, 0, 0, 0);
    m_detailPages = new QStackedWidget(m_detail);
    m_diff = new GitDiffPane(ws, GitDiffPane::Mode::changes, m_detailPages);
    m_historyDetail = new GitHistoryDetail(ws, m_detailPages);
    m_detailPages->addWidget(m_diff);
    m_detailPages->addWidget(m_historyDetail);
    detail->addWidget(m_detailPages);

    m_layouts = new QStackedWidget(page);
    m_split = new GitRegularSplit(m_services.preferences(), m_layouts);
    m_compact = new GitCompactStack(ws, m_layouts);
    m_layouts->addWidget(m_split);
    m_layouts->addWidget(m_compact);
    m_split->setPanes(m_master, m_detail);

    layout->addWidget(m_bar);
    layout->addWidget(m_banners);
    layout->addWidget(m_layouts, 1);
    return page;
}

void GitWorkspaceView::addShortcuts()
{
    // Ctrl+Enter commits from anywhere in the tab. F5 and Ctrl+F come from the window, which
    // routes them here while the focus is inside (handlePageCommand).
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* commit = new QShortcut(keys, m_body);
        commit->setContext(Qt::WidgetWithChildrenShortcut);
        connect(commit, &QShortcut::activated, m_composer, &GitComposer::commitIfAllowed);
    }
}

bool GitWorkspaceView::handlePageCommand(Command command)
{
    if (!m_workspace || !m_body || !m_body->isVisible())
        return false;
    if (command == Command::refresh) {
        fireAndForget(m_workspace.get(), m_workspace->refresh(true));
        return true;
    }
    QLineEdit* field =
        m_workspace->listTab() == GitListTab::history ? m_history->filterField() : m_changes->filterField();
    if (isCompact())
        m_workspace->setCompactShowsDetail(false);
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
    return true;
}

void GitWorkspaceView::showState()
{
    if (!m_pages)
        return;
    switch (state()) {
    case State::checking:
        m_pages->setCurrentWidget(m_checkingPage);
        break;
    case State::problem:
        m_unavailable->setProblem(*m_workspace->snapshot().status.problem);
        m_pages->setCurrentWidget(m_unavailable);
        break;
    case State::notRepository:
        m_pages->setCurrentWidget(m_notRepoPage);
        break;
    case State::repository:
        m_pages->setCurrentWidget(m_repoPage);
        break;
    }
}

void GitWorkspaceView::showTab()
{
    const bool history = m_workspace->listTab() == GitListTab::history;
    m_masterPages->setCurrentIndex(history ? 1 : 0);
    m_detailPages->setCurrentIndex(history ? 1 : 0);
}

void GitWorkspaceView::applyLayout()
{
    if (!m_layouts)
        return;
    const bool compact = width() < compactWidth;
    if (compact == isCompact())
        return;
    if (compact) {
        m_compact->setPanes(m_master, m_detail);
        m_layouts->setCurrentWidget(m_compact);
    } else {
        m_split->setPanes(m_master, m_detail);
        m_layouts->setCurrentWidget(m_split);
    }
}

void GitWorkspaceView::syncNotRepository()
{
    const auto& notice = m_workspace->notice();
    const bool failed = notice && m_workspace->noticeFailed();
    m_notRepoNotice->setText(failed ? *notice : QString());
    m_notRepoNotice->setVisible(failed);
    QPalette palette = m_notRepoNotice->palette();
    palette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, this->palette()));
    m_notRepoNotice->setPalette(palette);
    m_initialize->setEnabled(!m_workspace->isOperating());
}

} // namespace halvik::views
