// Selection, tab and scope rules of the Git workspace, and loading the diff on screen.
#include "GitWorkspace.h"

#include "async/FireAndForget.h"

#include "gitcore/GitRemoteURL.h"
#include "platform/Log.h"

namespace halvik {

using namespace gitcore;

void GitWorkspace::reconcileSelection()
{
    // One pass that looks up each file in the (small) selection: putting every path of a large
    // status into a set instead would hold up the main thread for tens of milliseconds.
    QSet<QString> kept;
    bool selectedPathExists = false;
    if (!m_selectedPaths.isEmpty() || m_selectedPath) {
        for (const File& file : m_snapshot.files) {
            if (m_selectedPaths.contains(file.path))
                kept.insert(file.path);
            if (m_selectedPath && file.path == *m_selectedPath)
                selectedPathExists = true;
        }
    }
    std::optional<QString> primary;
    if (selectedPathExists) {
        primary = m_selectedPath;
        kept.insert(*primary);
    } else if (!m_snapshot.files.isEmpty()) {
        primary = m_snapshot.files.first().path;
        if (kept.isEmpty())
            kept.insert(*primary);
    }
    assign(m_selectedPaths, std::move(kept), &GitWorkspace::selectionChanged);
    assign(m_selectedPath, primary, &GitWorkspace::selectionChanged);

    std::optional<QString> commit;
    for (const GitCommit& listed : m_snapshot.commits) {
        if (m_selectedCommitSHA && listed.sha == *m_selectedCommitSHA) {
            commit = listed.sha;
            break;
        }
    }
    if (!commit && !m_snapshot.commits.isEmpty())
        commit = m_snapshot.commits.first().sha;
    assign(m_selectedCommitSHA, commit, &GitWorkspace::selectionChanged);

    if (m_selectedPath) {
        const auto scopes = allowedScopes(*m_selectedPath);
        if (!scopes.isEmpty() && !scopes.contains(m_diffScope))
            assign(m_diffScope, scopes.first(), &GitWorkspace::displayChanged);
    }
}

QList<GitDiffScope> GitWorkspace::allowedScopes(const QString& path) const
{
    for (const File& file : m_snapshot.files) {
        if (file.path != path)
            continue;
        if (file.isUntracked)
            return {GitDiffScope::remaining};
        switch (file.inclusion()) {
        case GitFileInclusion::included:
            return {GitDiffScope::included};
        case GitFileInclusion::mixed:
            return {GitDiffScope::included, GitDiffScope::remaining};
        case GitFileInclusion::remaining:
        case GitFileInclusion::conflicted:
            return {GitDiffScope::remaining};
        }
    }
    return {};
}

void GitWorkspace::setListTab(GitListTab tab)
{
    assign(m_listTab, tab, &GitWorkspace::displayChanged);
    assign(m_compactShowsDetail, false, &GitWorkspace::displayChanged);
    loadCurrentDiff();
}

void GitWorkspace::setDiffScope(GitDiffScope scope)
{
    if (assign(m_diffScope, scope, &GitWorkspace::displayChanged))
        loadCurrentDiff();
}

void GitWorkspace::selectFiles(const QSet<QString>& paths)
{
    assign(m_selectedPaths, paths, &GitWorkspace::selectionChanged);
    std::optional<QString> primary;
    for (const File& file : filteredFiles()) {
        if (paths.contains(file.path)) {
            primary = file.path;
            break;
        }
    }
    if (!primary && m_selectedPath && paths.contains(*m_selectedPath))
        primary = m_selectedPath;
    if (!primary && !paths.isEmpty())
        primary = *paths.cbegin();
    applyPrimaryPath(primary);
}

void GitWorkspace::applyPrimaryPath(const std::optional<QString>& path)
{
    assign(m_selectedPath, path, &GitWorkspace::selectionChanged);
    assign(m_compactShowsDetail, path.has_value(), &GitWorkspace::displayChanged);
    if (path) {
        const auto scopes = allowedScopes(*path);
        if (!scopes.isEmpty() && !scopes.contains(m_diffScope))
            assign(m_diffScope, scopes.first(), &GitWorkspace::displayChanged);
    }
    loadCurrentDiff();
}

void GitWorkspace::selectCommit(const std::optional<QString>& sha)
{
    const bool changed = assign(m_selectedCommitSHA, sha, &GitWorkspace::selectionChanged);
    if (changed)
        assign(m_selectedHistoryPath, std::nullopt, &GitWorkspace::selectionChanged);
    assign(m_compactShowsDetail, sha.has_value(), &GitWorkspace::displayChanged);
    loadCurrentDiff();
}

void GitWorkspace::selectHistoryPath(const std::optional<QString>& path)
{
    if (assign(m_selectedHistoryPath, path, &GitWorkspace::selectionChanged))
        loadCurrentDiff();
}

void GitWorkspace::openRemote()
{
    if (!m_snapshot.status.remoteURL || !openURL)
        return;
    if (const auto url = GitRemoteURL::webURL(*m_snapshot.status.remoteURL))
        openURL(*url);
}

void GitWorkspace::openCommit(const GitCommit& commit)
{
    if (!m_snapshot.status.remoteURL || !openURL)
        return;
    if (const auto url = GitRemoteURL::commitURL(*m_snapshot.status.remoteURL, commit.sha))
        openURL(*url);
}

void GitWorkspace::copyPaths(const Files& files)
{
    QStringList paths;
    for (const File& file : files)
        paths.append(file.path);
    if (copyText)
        copyText(paths.join(QLatin1Char('\n')));
}

void GitWorkspace::setLoadingDiff(bool loading)
{
    assign(m_isLoadingDiff, loading, &GitWorkspace::diffChanged);
}

void GitWorkspace::loadCurrentDiff()
{
    // A new generation supersedes whatever load is still running.
    const quint64 generation = ++m_diffGeneration;
    if (m_listTab == GitListTab::history) {
        if (!m_selectedCommitSHA) {
            setLoadingDiff(false);
            assign(m_loadedDiff, std::nullopt, &GitWorkspace::diffChanged);
            assign(m_commitDetail, std::nullopt, &GitWorkspace::diffChanged);
            return;
        }
    } else {
        assign(m_commitDetail, std::nullopt, &GitWorkspace::diffChanged);
        if (!m_selectedPath) {
            setLoadingDiff(false);
            assign(m_loadedDiff, std::nullopt, &GitWorkspace::diffChanged);
            return;
        }
    }
    setLoadingDiff(true);
    fireAndForget(this, loadDiff(generation, m_listTab, m_selectedPath, m_diffScope, m_selectedCommitSHA,
                                 m_selectedHistoryPath));
}

QCoro::Task<> GitWorkspace::loadDiff(quint64 generation, GitListTab tab, std::optional<QString> path,
                                     GitDiffScope scope, std::optional<QString> sha,
                                     std::optional<QString> historyPath)
{
    const LoadInFlight counted(m_loadsInFlight);
    const LifeToken alive = m_life.token();
    GitService& service = m_service;
    const SitePtr site = m_site;
    const auto superseded = [&] { return !alive || generation != m_diffGeneration; };
    try {
        if (tab == GitListTab::history) {
            const auto detail = co_await service.commitDetail(site, *sha);
            if (superseded())
                co_return;
            assign(m_commitDetail, detail, &GitWorkspace::diffChanged);
            std::optional<QString> shown = historyPath;
            if (!shown && detail && !detail->files.isEmpty())
                shown = detail->files.first().path;
            if (shown) {
                std::optional<QString> source;
                if (detail) {
                    for (const auto& file : detail->files)
                        if (file.path == *shown && file.isRenamed)
                            source = file.originalPath;
                }
                const auto diff = co_await service.diff(site, *shown, GitDiffScope::commit, sha, source);
                if (superseded())
                    co_return;
                assign(m_loadedDiff, diff, &GitWorkspace::diffChanged);
            } else {
                assign(m_loadedDiff, std::nullopt, &GitWorkspace::diffChanged);
            }
        } else {
            // A rename is shown as one: Git is given both of its names.
            std::optional<QString> source;
            for (const auto& file : m_snapshot.files)
                if (file.path == *path && file.isRenamed)
                    source = file.originalPath;
            const std::optional<QString> noCommit;
            const auto diff = co_await service.diff(site, *path, scope, noCommit, source);
            if (superseded())
                co_return;
            assign(m_loadedDiff, diff, &GitWorkspace::diffChanged);
        }
    } catch (const std::exception& error) {
        if (superseded())
            co_return;
        qCWarning(halvikLog).noquote() << "Halvik git diff failed:" << QString::fromUtf8(error.what());
        assign(m_loadedDiff, std::nullopt, &GitWorkspace::diffChanged);
    }
    setLoadingDiff(false);
}

QCoro::Task<QByteArray> GitWorkspace::storedFile(QString path, gitcore::GitDiffScope scope)
{
    QString spec;
    if (scope == gitcore::GitDiffScope::included)
        spec = QStringLiteral(":") + path;
    else if (scope == gitcore::GitDiffScope::commit && m_selectedCommitSHA)
        spec = *m_selectedCommitSHA + QStringLiteral(":") + path;
    if (spec.isEmpty())
        co_return QByteArray();
    GitService& service = m_service;
    const SitePtr site = m_site;
    co_return co_await service.storedFile(site, spec);
}

} // namespace halvik
