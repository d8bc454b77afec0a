// The Git workspace's operations: each one a body handed to the common runner, which shows
// progress, reports the outcome in the notice, saves the store and refreshes.
#include "GitWorkspace.h"

#include "services/git/GitFolderMonitor.h"

#include "app/UserPrompts.h"
#include "models/SiteStore.h"
#include "services/ProcessRunnerError.h"

namespace halvik {

using namespace gitcore;

namespace {

QString ldquo(const QString& text)
{
    return QStringLiteral("\u201C") + text + QStringLiteral("\u201D");
}

bool isIncludedOrMixed(const GitChangedFile& file)
{
    if (file.isUntracked)
        return false;
    const auto inclusion = file.inclusion();
    return inclusion == GitFileInclusion::included || inclusion == GitFileInclusion::mixed;
}

// The paths Git must be given to include or exclude the files: a rename is both its names
// (on the side where Git sees it as a rename), or the old name would stay behind as deleted.
QStringList pathList(const QList<GitChangedFile>& files, bool include)
{
    QStringList paths;
    for (const auto& file : files) {
        paths.append(file.path);
        if (!file.originalPath || file.isCopied)
            continue;
        const QChar side = include ? file.worktreeStatus : file.indexStatus;
        if (side == QLatin1Char('R'))
            paths.append(*file.originalPath);
    }
    return paths;
}

} // namespace

// --- The runner ------------------------------------------------------------------------------

QCoro::Task<bool> GitWorkspace::run(QString action, GitBusyKind kind, QSet<QString> paths, Body body)
{
    if (isOperating())
        co_return false;
    const LifeToken alive = m_life.token();
    const QUuid siteId = m_site->id();
    assign(m_busyAction, action, &GitWorkspace::busyChanged);
    assign(m_busyKind, kind, &GitWorkspace::busyChanged);
    assign(m_busyPaths, std::move(paths), &GitWorkspace::busyChanged);
    assign(m_notice, std::nullopt, &GitWorkspace::noticeChanged);
    assign(m_noticeFailed, false, &GitWorkspace::noticeChanged);
    assign(m_rawError, std::nullopt, &GitWorkspace::noticeChanged);
    m_successNotice.reset();
    // Git's own writes below the folder must not trigger refreshes of their own.
    if (m_monitor)
        m_monitor->setPaused(true);

    CancellationToken token;
    if (kind == GitBusyKind::network) {
        m_networkCancel.emplace();
        token = m_networkCancel->token();
    }

    bool cancelled = false;
    std::optional<QString> failure;
    std::optional<QString> raw;
    bool dirty = false;
    try {
        co_await body(token);
    } catch (const CancelledError&) {
        cancelled = true;
    } catch (const ProcessRunnerError& error) {
        cancelled = error.isCancelled();
        if (!cancelled)
            failure = error.description();
    } catch (const GitServiceError& error) {
        failure = error.description();
        const bool carriesOutput = error.kind() == GitServiceError::Case::failed ||
                                   error.kind() == GitServiceError::Case::rebaseConflict ||
                                   error.kind() == GitServiceError::Case::conflicted;
        raw = carriesOutput ? error.rawText() : error.description();
        dirty = error.kind() == GitServiceError::Case::dirtyWorktree;
    } catch (const HalvikError& error) {
        failure = error.description();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return true;
    if (kind == GitBusyKind::network)
        m_networkCancel.reset();

    if (cancelled) {
        assign(m_notice, QStringLiteral("Cancelled"), &GitWorkspace::noticeChanged);
    } else if (failure && siteId == m_site->id()) {
        assign(m_noticeFailed, true, &GitWorkspace::noticeChanged);
        assign(m_notice,
               dirty ? QStringLiteral("Uncommitted changes would be overwritten. Set them aside to switch.")
                     : *failure,
               &GitWorkspace::noticeChanged);
        assign(m_rawError, raw.value_or(*failure), &GitWorkspace::noticeChanged);
    } else if (!failure) {
        assign(m_notice, m_successNotice.value_or(action + QStringLiteral(" finished")),
               &GitWorkspace::noticeChanged);
    }

    m_store.save();
    co_await refresh(false);
    if (!alive)
        co_return true;

    assign(m_busyAction, std::nullopt, &GitWorkspace::busyChanged);
    assign(m_busyKind, GitBusyKind::none, &GitWorkspace::busyChanged);
    assign(m_busyPaths, QSet<QString>(), &GitWorkspace::busyChanged);
    if (m_monitor)
        m_monitor->setPaused(false);
    co_return true;
}

void GitWorkspace::cancelNetwork()
{
    if (m_networkCancel)
        m_networkCancel->cancel();
}

QCoro::Task<bool> GitWorkspace::confirm(QString title, QString text, QString button, bool destructive)
{
    if (isOperating())
        co_return false;
    const LifeToken alive = m_life.token();
    UserPrompts& prompts = m_prompts;
    PromptDialog dialog;
    dialog.title = title;
    dialog.text = text;
    dialog.buttons = QStringList{button, QStringLiteral("Cancel")};
    dialog.cancelIndex = 1;
    dialog.warning = destructive;
    m_confirming = true;
    const int answer = co_await prompts.ask(dialog);
    if (!alive)
        co_return false;
    m_confirming = false;
    co_return answer == 0;
}

// --- Including and excluding -----------------------------------------------------------------

// Stages (`include`) or unstages the chosen files as one labelled operation.
QCoro::Task<> GitWorkspace::runStaging(QString label, Files chosen, bool include)
{
    if (chosen.isEmpty())
        co_return;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QStringList paths = pathList(chosen, include);
    const Body body = [&service, site, paths, include](CancellationToken) -> QCoro::Task<> {
        if (include)
            co_await service.stage(site, paths);
        else
            co_await service.unstage(site, paths);
    };
    const QSet<QString> busy = pathsOf(chosen);
    co_await run(label, GitBusyKind::local, busy, body);
}

QCoro::Task<> GitWorkspace::toggleIncluded(File file)
{
    if (file.isConflicted || m_snapshot.status.inProgressRebase)
        co_return;
    const bool exclude = isIncludedOrMixed(file);
    const QString label = exclude ? QStringLiteral("Exclude") : QStringLiteral("Include");
    const Files chosen{file};
    co_await runStaging(label, chosen, !exclude);
}

QCoro::Task<> GitWorkspace::includeFiles(Files files)
{
    Files chosen;
    for (const File& file : files)
        if (!file.isConflicted)
            chosen.append(file);
    const QString label = countedLabel(QStringLiteral("Include"), chosen.size());
    co_await runStaging(label, chosen, true);
}

QCoro::Task<> GitWorkspace::excludeFiles(Files files)
{
    Files chosen;
    for (const File& file : files)
        if (isIncludedOrMixed(file))
            chosen.append(file);
    const QString label = countedLabel(QStringLiteral("Exclude"), chosen.size());
    co_await runStaging(label, chosen, false);
}

QCoro::Task<> GitWorkspace::includeAll()
{
    Files chosen;
    for (const File& file : m_snapshot.files)
        if (!file.isConflicted && !isIncludedOrMixed(file))
            chosen.append(file);
    const QString label = QStringLiteral("Include all");
    co_await runStaging(label, chosen, true);
}

QCoro::Task<> GitWorkspace::excludeAll()
{
    Files chosen;
    for (const File& file : m_snapshot.files)
        if (isIncludedOrMixed(file))
            chosen.append(file);
    const QString label = QStringLiteral("Exclude all");
    co_await runStaging(label, chosen, false);
}

QCoro::Task<> GitWorkspace::markResolved(File file)
{
    const QString label = QStringLiteral("Mark resolved");
    const Files chosen{file};
    co_await runStaging(label, chosen, true);
}

QCoro::Task<> GitWorkspace::applyHunk(GitFileDiff diff, GitDiffHunk hunk, GitHunkAction action)
{
    if (action == GitHunkAction::discard) {
        const QString question = QStringLiteral("Discard this hunk?");
        const QString text = QStringLiteral("The selected lines go back to HEAD. This can\u2019t be undone.");
        const QString button = QStringLiteral("Discard");
        const bool confirmed = co_await confirm(question, text, button, true);
        if (!confirmed)
            co_return;
    }
    const QString label = title(action) + QStringLiteral(" hunk");
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QSet<QString> busy{diff.path};
    const Body body = [&service, site, diff, hunk, action](CancellationToken) -> QCoro::Task<> {
        co_await service.applyHunk(site, diff, hunk, action);
    };
    co_await run(label, GitBusyKind::local, busy, body);
}

QCoro::Task<> GitWorkspace::applyLines(GitFileDiff diff, GitDiffHunk hunk, QSet<int> lineIds,
                                       GitHunkAction action)
{
    if (lineIds.isEmpty())
        co_return;
    if (action == GitHunkAction::discard) {
        const QString question = QStringLiteral("Discard the selected lines?");
        const QString text = QStringLiteral("The selected lines go back to HEAD. This can\u2019t be undone.");
        const QString button = QStringLiteral("Discard");
        const bool confirmed = co_await confirm(question, text, button, true);
        if (!confirmed)
            co_return;
    }
    const QString label = title(action) + QStringLiteral(" lines");
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QSet<QString> busy{diff.path};
    const Body body = [&service, site, diff, hunk, lineIds, action](CancellationToken) -> QCoro::Task<> {
        co_await service.applyLines(site, diff, hunk, lineIds, action);
    };
    co_await run(label, GitBusyKind::local, busy, body);
}

// --- Throwing changes away -------------------------------------------------------------------

QCoro::Task<> GitWorkspace::discardFiles(Files files)
{
    if (files.isEmpty())
        co_return;
    const bool single = files.size() == 1;
    const QString title = single ? QStringLiteral("Discard this change?")
                                 : QStringLiteral("Discard %1 changes?").arg(files.size());
    const QString text = single
                             ? ldquo(files.first().basename()) +
                                   QStringLiteral(" will be thrown away. This can\u2019t be undone.")
                             : QStringLiteral("These files will be thrown away. This can\u2019t be undone.");
    const QString discard = QStringLiteral("Discard");
    const bool confirmed = co_await confirm(title, text, discard, true);
    if (!confirmed)
        co_return;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site, files](CancellationToken) -> QCoro::Task<> {
        co_await service.discard(site, files);
    };
    const QString label = countedLabel(QStringLiteral("Discard"), files.size());
    const QSet<QString> busy = pathsOf(files);
    co_await run(label, GitBusyKind::local, busy, body);
}

QCoro::Task<> GitWorkspace::discardAll()
{
    const Files files = m_snapshot.files;
    if (files.isEmpty())
        co_return;
    const QString title = QStringLiteral("Discard all changes?");
    const QString text =
        QStringLiteral("Every uncommitted file will be thrown away. This can\u2019t be undone.");
    const QString button = QStringLiteral("Discard All");
    const bool confirmed = co_await confirm(title, text, button, true);
    if (!confirmed)
        co_return;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const Body body = [&service, site, files](CancellationToken) -> QCoro::Task<> {
        co_await service.discard(site, files);
    };
    const QString label = QStringLiteral("Discard all");
    const QSet<QString> busy = pathsOf(files);
    co_await run(label, GitBusyKind::local, busy, body);
}

QCoro::Task<> GitWorkspace::revert(GitCommit commit)
{
    const QString title = QStringLiteral("Undo this commit?");
    const QString text = QStringLiteral("This adds a new commit that reverses ") + ldquo(commit.subject) +
                         QStringLiteral(". Nothing is deleted.");
    const QString button = QStringLiteral("Undo");
    const bool confirmed = co_await confirm(title, text, button, false);
    if (!confirmed)
        co_return;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString sha = commit.sha;
    const Body body = [&service, site, sha](CancellationToken) -> QCoro::Task<> {
        co_await service.revert(site, sha);
    };
    const QString label = QStringLiteral("Undo");
    const QSet<QString> none;
    co_await run(label, GitBusyKind::local, none, body);
}

QCoro::Task<> GitWorkspace::dropStash(GitStash stash)
{
    const QString title = QStringLiteral("Drop set-aside changes?");
    const QString text =
        ldquo(stash.message) + QStringLiteral(" will be deleted. This can\u2019t be undone.");
    const QString button = QStringLiteral("Drop");
    const bool confirmed = co_await confirm(title, text, button, true);
    if (!confirmed)
        co_return;
    GitService& service = m_service;
    const SitePtr site = m_site;
    const QString ref = stash.ref;
    const Body body = [&service, site, ref](CancellationToken) -> QCoro::Task<> {
        co_await service.stashDrop(site, ref);
    };
    const QString label = QStringLiteral("Drop set-aside");
    const QSet<QString> none;
    co_await run(label, GitBusyKind::local, none, body);
}

} // namespace halvik
