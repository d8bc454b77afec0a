// Properties, derived values, lifecycle and refresh of the Git workspace. Selection and diff
// loading live in GitWorkspaceSelection.cpp, the operations in GitWorkspaceOperations.cpp.
#include "GitWorkspace.h"

#include "services/git/GitFolderMonitor.h"

#include "async/FireAndForget.h"
#include "gitcore/GitChangeSummarizer.h"
#include "gitcore/GitRemoteURL.h"
#include "platform/Log.h"

#include <QTimer>

namespace halvik {

using namespace gitcore;

GitWorkspace::LoadInFlight::LoadInFlight(std::shared_ptr<int> count) : m_count(std::move(count))
{
    ++*m_count;
}
GitWorkspace::LoadInFlight::~LoadInFlight()
{
    --*m_count;
}

GitWorkspace::GitWorkspace(GitService& service, SiteStore& store, UserPrompts& prompts, SitePtr site,
                           QObject* parent)
    : QObject(parent), m_service(service), m_store(store), m_prompts(prompts), m_site(std::move(site))
{
}

GitWorkspace::~GitWorkspace()
{
    m_life.end();
    stop();
}

// --- Drafts and sheets -----------------------------------------------------------------------

void GitWorkspace::setMessage(const QString& value)
{
    assign(m_message, value, &GitWorkspace::draftsChanged);
}
void GitWorkspace::setNewBranchName(const QString& value)
{
    assign(m_newBranchName, value, &GitWorkspace::draftsChanged);
}
void GitWorkspace::setIdentityName(const QString& value)
{
    assign(m_identityName, value, &GitWorkspace::draftsChanged);
}
void GitWorkspace::setIdentityEmail(const QString& value)
{
    assign(m_identityEmail, value, &GitWorkspace::draftsChanged);
}
void GitWorkspace::setRemoteDraft(const QString& value)
{
    assign(m_remoteDraft, value, &GitWorkspace::draftsChanged);
}
void GitWorkspace::setFileFilter(const QString& value)
{
    assign(m_fileFilter, value, &GitWorkspace::filtersChanged);
}
void GitWorkspace::setHistoryFilter(const QString& value)
{
    assign(m_historyFilter, value, &GitWorkspace::filtersChanged);
}
void GitWorkspace::setShowingRepositoryTools(bool value)
{
    assign(m_showingRepositoryTools, value, &GitWorkspace::sheetsChanged);
}
void GitWorkspace::setShowingCreateGitHubRepo(bool value)
{
    assign(m_showingCreateGitHubRepo, value, &GitWorkspace::sheetsChanged);
}
void GitWorkspace::setShowingBranchPicker(bool value)
{
    assign(m_showingBranchPicker, value, &GitWorkspace::sheetsChanged);
}
void GitWorkspace::setShowingStashManager(bool value)
{
    assign(m_showingStashManager, value, &GitWorkspace::sheetsChanged);
}
void GitWorkspace::setShowingNewBranch(bool value)
{
    assign(m_showingNewBranch, value, &GitWorkspace::sheetsChanged);
}
void GitWorkspace::setCompactShowsDetail(bool value)
{
    assign(m_compactShowsDetail, value, &GitWorkspace::displayChanged);
}

void GitWorkspace::dismissNotice()
{
    assign(m_notice, std::nullopt, &GitWorkspace::noticeChanged);
    assign(m_noticeFailed, false, &GitWorkspace::noticeChanged);
    assign(m_rawError, std::nullopt, &GitWorkspace::noticeChanged);
    assign(m_pendingDirtySwitch, std::nullopt, &GitWorkspace::pendingDirtySwitchChanged);
}

// --- Derived values --------------------------------------------------------------------------

GitWorkspace::Files GitWorkspace::filteredFiles() const
{
    const QString filter = m_fileFilter.toLower();
    if (filter.isEmpty())
        return m_snapshot.files;
    Files result;
    for (const File& file : m_snapshot.files) {
        if (file.path.toLower().contains(filter) || file.basename().toLower().contains(filter))
            result.append(file);
    }
    return result;
}

QList<GitCommit> GitWorkspace::filteredCommits() const
{
    const QString filter = m_historyFilter.toLower();
    if (filter.isEmpty())
        return m_snapshot.commits;
    QList<GitCommit> result;
    for (const GitCommit& commit : m_snapshot.commits) {
        if (commit.subject.toLower().contains(filter) || commit.author.toLower().contains(filter) ||
            commit.shortSHA().toLower().contains(filter))
            result.append(commit);
    }
    return result;
}

GitWorkspace::Files GitWorkspace::selectedChangeFiles() const
{
    Files result;
    for (const File& file : filteredFiles()) {
        if (m_selectedPaths.contains(file.path))
            result.append(file);
    }
    return result;
}

int GitWorkspace::includedCount() const
{
    int count = 0;
    for (const File& file : m_snapshot.files)
        count += !file.isConflicted && file.isIncluded() ? 1 : 0;
    return count;
}

bool GitWorkspace::someIncluded() const
{
    return includedCount() > 0;
}

bool GitWorkspace::allIncluded() const
{
    int candidates = 0;
    for (const File& file : m_snapshot.files)
        candidates += file.isConflicted ? 0 : 1;
    return candidates > 0 && includedCount() == candidates;
}

bool GitWorkspace::canCommit() const
{
    return !m_busyAction && m_snapshot.identity.isComplete() && someIncluded() &&
           !m_snapshot.status.inProgressRebase;
}

bool GitWorkspace::canPull() const
{
    return !m_busyAction && m_snapshot.status.remoteURL && !m_snapshot.status.inProgressRebase;
}

bool GitWorkspace::canPush() const
{
    const GitStatus& status = m_snapshot.status;
    return canPull() && (status.ahead > 0 || !status.upstream);
}

GitConflictKind GitWorkspace::conflict() const
{
    const GitStatus& status = m_snapshot.status;
    if (status.inProgressRebase)
        return GitConflictKind::rebase;
    if (status.inProgressRevert)
        return GitConflictKind::revert;
    if (status.hasUnmerged)
        return m_unmergedSource;
    return GitConflictKind::none;
}

GitConflictTexts GitWorkspace::conflictTexts() const
{
    switch (conflict()) {
    case GitConflictKind::none:
        break;
    case GitConflictKind::rebase:
        return {
            QStringLiteral("Interrupted rebase"),
            QStringLiteral("A pull stopped mid-rebase. Mark files resolved and Continue, or Abort to return "
                           "to the previous branch state."),
            {QStringLiteral("Continue Rebase"), QStringLiteral("Abort Rebase")}};
    case GitConflictKind::revert:
        return {QStringLiteral("Interrupted undo"),
                QStringLiteral("Undoing this commit clashes with later changes to the same lines. Mark files "
                               "resolved and Continue, or Abort to leave the history as it was."),
                {QStringLiteral("Continue Undo"), QStringLiteral("Abort Undo")}};
    case GitConflictKind::restore:
        return {QStringLiteral("Restored with conflicts"),
                QStringLiteral("Some set-aside changes clash with your files. Resolve each file and Mark "
                               "Resolved; the set-aside copy stays until you drop it."),
                {QStringLiteral("Mark Resolved")}};
    case GitConflictKind::autostash:
        return {
            QStringLiteral("Your changes clash with the pull"),
            QStringLiteral("The pull finished, but your uncommitted changes touch the same lines. Resolve "
                           "each file and Mark Resolved; a copy of your changes stays set aside."),
            {QStringLiteral("Mark Resolved")}};
    }
    return {};
}

// --- Lifecycle -------------------------------------------------------------------------------

void GitWorkspace::start()
{
    if (m_started)
        return;
    m_started = true;
    fireAndForget(this, firstRefresh());
    m_monitor = new GitFolderMonitor(this);
    const LifeToken alive = m_life.token();
    m_monitor->onChangedPaths = [this, alive](const QStringList& paths) {
        if (alive)
            fireAndForget(this, refreshAfterChange(paths));
    };
    m_monitor->start(m_site->path());
}

void GitWorkspace::stop()
{
    if (m_monitor) {
        m_monitor->stop();
        m_monitor->onChange = nullptr;
        m_monitor->deleteLater();
        m_monitor = nullptr;
    }
    ++m_diffGeneration;
    if (m_networkCancel)
        m_networkCancel->cancel();
    if (m_fetchCancel)
        m_fetchCancel->cancel();
    m_started = false;
}

QCoro::Task<> GitWorkspace::refresh(bool fetchRemote)
{
    const LoadInFlight counted(m_loadsInFlight);
    const LifeToken alive = m_life.token();
    const quint64 generation = ++m_refreshGeneration;
    assign(m_isRefreshing, true, &GitWorkspace::refreshStateChanged);
    GitService& service = m_service;
    const SitePtr site = m_site;

    std::optional<Snapshot> result;
    try {
        if (fetchRemote)
            co_await service.fetch(site, false);
        if (!alive)
            co_return;
        const int limit = m_historyLimit;
        result = co_await service.snapshot(site, limit, 0);
    } catch (const std::exception& error) {
        // Reads report Git's failures inside the snapshot; this is a runner failure.
        qCWarning(halvikLog).noquote() << "Halvik git refresh failed:" << QString::fromUtf8(error.what());
    }
    if (!alive || generation != m_refreshGeneration)
        co_return;
    if (result)
        applySnapshot(std::move(*result));
    assign(m_isRefreshing, false, &GitWorkspace::refreshStateChanged);
}

QCoro::Task<> GitWorkspace::firstRefresh()
{
    const LoadInFlight counted(m_loadsInFlight);
    const LifeToken alive = m_life.token();
    // What is on disk first; the remote's news follow when they come, or not at all.
    co_await refresh(false);
    if (!alive || !m_started)
        co_return;
    // Stopping the workspace or the timeout ends the fetch. A later start has its own source.
    const auto source = std::make_shared<CancellationSource>();
    m_fetchCancel = source;
    const CancellationToken token = source->token();
    QTimer::singleShot(m_initialFetchTimeout, this, [source] { source->cancel(); });
    GitService& service = m_service;
    const SitePtr site = m_site;
    co_await service.fetch(site, false, token);
    if (!alive)
        co_return;
    if (m_fetchCancel == source)
        m_fetchCancel.reset();
    if (!token.isCancelled() && m_started)
        co_await refresh(false);
}

QCoro::Task<> GitWorkspace::refreshAfterChange(QStringList paths)
{
    const LoadInFlight counted(m_loadsInFlight);
    const LifeToken alive = m_life.token();
    GitService& service = m_service;
    const SitePtr site = m_site;
    // A served site writes caches and sessions below ignored folders on every request.
    if (co_await service.allIgnored(site, paths))
        co_return;
    if (alive)
        co_await refresh(false);
}

QCoro::Task<> GitWorkspace::loadMoreHistory()
{
    m_historyLimit += historyPageSize;
    co_await refresh(false);
}

void GitWorkspace::applySnapshot(Snapshot snapshot)
{
    if (m_snapshot.status.isRepo && !snapshot.status.isRepo) {
        assign(m_message, QString(), &GitWorkspace::draftsChanged);
        assign(m_notice, std::nullopt, &GitWorkspace::noticeChanged);
        assign(m_noticeFailed, false, &GitWorkspace::noticeChanged);
        assign(m_rawError, std::nullopt, &GitWorkspace::noticeChanged);
    }
    assign(m_snapshot, std::move(snapshot), &GitWorkspace::snapshotChanged);
    // Once resolved, the next unresolved files have a cause of their own.
    if (!m_snapshot.status.hasUnmerged)
        m_unmergedSource = GitConflictKind::restore;
    assign(m_hasRefreshed, true, &GitWorkspace::refreshStateChanged);
    assign(m_historyHasMore, m_snapshot.commits.size() >= m_historyLimit, &GitWorkspace::refreshStateChanged);
    if (m_identityName.isEmpty())
        assign(m_identityName, m_snapshot.identity.name, &GitWorkspace::draftsChanged);
    if (m_identityEmail.isEmpty())
        assign(m_identityEmail, m_snapshot.identity.email, &GitWorkspace::draftsChanged);
    if (m_remoteDraft.isEmpty() && m_snapshot.status.remoteURL)
        assign(m_remoteDraft, GitRemoteURL::sanitize(*m_snapshot.status.remoteURL),
               &GitWorkspace::draftsChanged);
    reconcileSelection();
    updateSuggestedMessage();
    loadCurrentDiff();
}

void GitWorkspace::updateSuggestedMessage()
{
    assign(m_suggestedMessage, GitChangeSummarizer::suggestedMessage(m_snapshot.includedFiles()),
           &GitWorkspace::suggestedMessageChanged);
}

QString GitWorkspace::countedLabel(const QString& verb, qsizetype count)
{
    return count == 1 ? verb : verb + QLatin1Char(' ') + QString::number(count) + QStringLiteral(" files");
}

QSet<QString> GitWorkspace::pathsOf(const Files& files)
{
    QSet<QString> paths;
    for (const File& file : files)
        paths.insert(file.path);
    return paths;
}

} // namespace halvik
