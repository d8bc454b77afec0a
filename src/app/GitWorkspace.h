#pragma once

#include "services/git/GitService.h"
#include "services/git/RemoteRepositoryCreator.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "gitcore/GitDiff.h"
#include "gitcore/GitRepositorySnapshot.h"

#include <QObject>
#include <QSet>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class GitFolderMonitor;
class SiteStore;
class UserPrompts;

// The banner of an unresolved state: what happened and what to do about it.
struct GitConflictTexts
{
    QString title;
    QString text;
    // The buttons, in order (for example "Continue Undo", "Abort Undo").
    QStringList actions;
};

// A branch switch refused because of uncommitted changes, kept until the user sets the
// changes aside, switches elsewhere or dismisses the notice.
struct PendingDirtySwitch
{
    QString branch;
    bool isRemote = false;
    QString localName;

    bool operator==(const PendingDirtySwitch&) const = default;
};

// The model behind one site's Git screens: the latest snapshot, selection and drafts, the diff
// on screen and the one operation that may be running. Screens read its properties and call
// its operations; every operation reports through `notice` and never throws. Main thread only.
//
// Refreshes may overlap: only the newest writes its result. Likewise only the newest diff load
// stores what it loaded. Operations do not overlap: one requested while another runs or waits
// for its confirmation is refused, returning at once without changing anything.
class GitWorkspace : public QObject
{
    Q_OBJECT
public:
    using Snapshot = gitcore::GitRepositorySnapshot;
    using File = gitcore::GitChangedFile;
    using Files = QList<gitcore::GitChangedFile>;
    // The work of one operation; network operations are handed the token cancelNetwork() cancels.
    using Body = std::function<QCoro::Task<>(CancellationToken)>;

    static constexpr int historyPageSize = 50;

    GitWorkspace(GitService& service, SiteStore& store, UserPrompts& prompts, SitePtr site,
                 QObject* parent = nullptr);
    ~GitWorkspace() override;

    // Source-control accounts for createRemote(); without one, creating a remote reports that
    // no account is connected.
    void setRemoteCreator(RemoteRepositoryCreator* creator) { m_remoteCreator = creator; }
    // How a link is opened and text reaches the clipboard belongs to the window.
    std::function<void(const QUrl&)> openURL;
    std::function<void(const QString&)> copyText;

    // --- Properties --------------------------------------------------------------------------
    const SitePtr& site() const { return m_site; }
    const Snapshot& snapshot() const { return m_snapshot; }
    gitcore::GitListTab listTab() const { return m_listTab; }
    const std::optional<QString>& selectedPath() const { return m_selectedPath; }
    const QSet<QString>& selectedPaths() const { return m_selectedPaths; }
    const std::optional<QString>& selectedCommitSHA() const { return m_selectedCommitSHA; }
    const std::optional<QString>& selectedHistoryPath() const { return m_selectedHistoryPath; }
    gitcore::GitDiffScope diffScope() const { return m_diffScope; }
    const std::optional<gitcore::GitFileDiff>& loadedDiff() const { return m_loadedDiff; }
    const std::optional<gitcore::GitCommitDetail>& commitDetail() const { return m_commitDetail; }
    bool isLoadingDiff() const { return m_isLoadingDiff; }
    const QString& message() const { return m_message; }
    const QString& suggestedMessage() const { return m_suggestedMessage; }
    const QString& fileFilter() const { return m_fileFilter; }
    const QString& historyFilter() const { return m_historyFilter; }
    const std::optional<QString>& busyAction() const { return m_busyAction; }
    gitcore::GitBusyKind busyKind() const { return m_busyKind; }
    const QSet<QString>& busyPaths() const { return m_busyPaths; }
    const std::optional<QString>& notice() const { return m_notice; }
    bool noticeFailed() const { return m_noticeFailed; }
    const std::optional<QString>& rawError() const { return m_rawError; }
    bool showingRepositoryTools() const { return m_showingRepositoryTools; }
    bool showingCreateGitHubRepo() const { return m_showingCreateGitHubRepo; }
    bool showingBranchPicker() const { return m_showingBranchPicker; }
    bool showingStashManager() const { return m_showingStashManager; }
    bool showingNewBranch() const { return m_showingNewBranch; }
    const QString& newBranchName() const { return m_newBranchName; }
    bool compactShowsDetail() const { return m_compactShowsDetail; }
    bool historyHasMore() const { return m_historyHasMore; }
    bool isRefreshing() const { return m_isRefreshing; }
    bool hasRefreshed() const { return m_hasRefreshed; }
    const std::optional<PendingDirtySwitch>& pendingDirtySwitch() const { return m_pendingDirtySwitch; }
    const QString& identityName() const { return m_identityName; }
    const QString& identityEmail() const { return m_identityEmail; }
    const QString& remoteDraft() const { return m_remoteDraft; }
    int historyLimit() const { return m_historyLimit; }
    // The folder monitor while started (tests look at whether it is paused).
    const GitFolderMonitor* monitor() const { return m_monitor; }
    // Refreshes and diff loads still running, counting those that outlive the workspace: their
    // last steps run inside the Git service, so whoever owns the service waits for zero first.
    int loadsInFlight() const { return *m_loadsInFlight; }

    // Drafts and sheets the screens edit directly.
    void setMessage(const QString& value);
    void setFileFilter(const QString& value);
    void setHistoryFilter(const QString& value);
    void setNewBranchName(const QString& value);
    void setIdentityName(const QString& value);
    void setIdentityEmail(const QString& value);
    void setRemoteDraft(const QString& value);
    void setShowingRepositoryTools(bool value);
    void setShowingCreateGitHubRepo(bool value);
    void setShowingBranchPicker(bool value);
    void setShowingStashManager(bool value);
    void setShowingNewBranch(bool value);
    void setCompactShowsDetail(bool value);
    // Dismissing the notice also forgets a refused branch switch.
    void dismissNotice();

    // --- Derived values ----------------------------------------------------------------------
    Files filteredFiles() const;
    QList<gitcore::GitCommit> filteredCommits() const;
    Files selectedChangeFiles() const;
    int includedCount() const;
    bool someIncluded() const;
    bool allIncluded() const;
    bool canCommit() const;
    bool canPull() const;
    bool canPush() const;
    // Which unresolved state the repository is in; the banner shows conflictTexts().
    gitcore::GitConflictKind conflict() const;
    GitConflictTexts conflictTexts() const;

    // --- Lifecycle ---------------------------------------------------------------------------
    void start();
    void stop();
    bool isStarted() const { return m_started; }
    QCoro::Task<> refresh(bool fetchRemote);
    QCoro::Task<> loadMoreHistory();
    // How long the fetch after the first refresh may take before it is given up.
    void setInitialFetchTimeout(int milliseconds) { m_initialFetchTimeout = milliseconds; }

    // --- Selection and display ---------------------------------------------------------------
    void setListTab(gitcore::GitListTab tab);
    void setDiffScope(gitcore::GitDiffScope scope);
    void selectFiles(const QSet<QString>& paths);
    void applyPrimaryPath(const std::optional<QString>& path);
    void selectCommit(const std::optional<QString>& sha);
    void selectHistoryPath(const std::optional<QString>& path);
    void openRemote();
    void openCommit(const gitcore::GitCommit& commit);
    void copyPaths(const Files& files);
    // The bytes of a file the diff shows, as stored for `scope`: the index for Included, the
    // selected commit for a commit's file. Empty for Remaining (the file on disk is that) and
    // when Git has no such file.
    QCoro::Task<QByteArray> storedFile(QString path, gitcore::GitDiffScope scope);

    // --- Operations --------------------------------------------------------------------------
    QCoro::Task<> toggleIncluded(File file);
    QCoro::Task<> includeFiles(Files files);
    QCoro::Task<> excludeFiles(Files files);
    QCoro::Task<> includeAll();
    QCoro::Task<> excludeAll();
    QCoro::Task<> discardFiles(Files files);
    QCoro::Task<> discardAll();
    QCoro::Task<> applyHunk(gitcore::GitFileDiff diff, gitcore::GitDiffHunk hunk,
                            gitcore::GitHunkAction action);
    // Includes, excludes or discards only the chosen added and removed lines of a hunk (by
    // GitDiffLine id). Discarding, of a hunk or of lines, asks first.
    QCoro::Task<> applyLines(gitcore::GitFileDiff diff, gitcore::GitDiffHunk hunk, QSet<int> lineIds,
                             gitcore::GitHunkAction action);
    QCoro::Task<> markResolved(File file);
    QCoro::Task<> commit();
    QCoro::Task<> pull();
    QCoro::Task<> push();
    QCoro::Task<> continueRebase();
    QCoro::Task<> abortRebase();
    QCoro::Task<> continueRevert();
    QCoro::Task<> abortRevert();
    QCoro::Task<> checkout(gitcore::GitBranch branch);
    QCoro::Task<> setAsideAndSwitch();
    QCoro::Task<> createBranch();
    QCoro::Task<> revert(gitcore::GitCommit commit);
    QCoro::Task<> restoreStash(gitcore::GitStash stash);
    QCoro::Task<> dropStash(gitcore::GitStash stash);
    QCoro::Task<> saveIdentity(bool global);
    QCoro::Task<> initializeRepo();
    QCoro::Task<> stopTrackingEnv();
    QCoro::Task<> createRemote(SourceControlProvider provider, QString name, std::optional<QString> owner,
                               bool isPrivate);
    QCoro::Task<> setOrigin();
    QCoro::Task<> stashChanges();
    void cancelNetwork();

    // True from the moment an operation starts (or asks to) until it has finished.
    bool isOperating() const { return m_busyAction.has_value() || m_confirming; }

    // The common runner every operation goes through; false when it was refused.
    QCoro::Task<bool> run(QString action, gitcore::GitBusyKind kind, QSet<QString> paths, Body body);

Q_SIGNALS:
    void snapshotChanged();
    void displayChanged();   // listTab, diffScope, compactShowsDetail
    void selectionChanged(); // selectedPath(s), selectedCommitSHA, selectedHistoryPath
    void diffChanged();      // loadedDiff, commitDetail, isLoadingDiff
    void draftsChanged();    // message, newBranchName, identity and remote drafts
    void filtersChanged();   // fileFilter, historyFilter
    void suggestedMessageChanged();
    void busyChanged();         // busyAction, busyKind, busyPaths
    void noticeChanged();       // notice, noticeFailed, rawError
    void sheetsChanged();       // the showing* flags
    void refreshStateChanged(); // isRefreshing, hasRefreshed, historyHasMore
    void pendingDirtySwitchChanged();

private:
    // Counts one refresh or diff load for as long as its coroutine runs.
    class LoadInFlight
    {
    public:
        explicit LoadInFlight(std::shared_ptr<int> count);
        ~LoadInFlight();
        LoadInFlight(const LoadInFlight&) = delete;
        LoadInFlight& operator=(const LoadInFlight&) = delete;

    private:
        std::shared_ptr<int> m_count;
    };

    template <typename T, typename U> bool assign(T& field, U&& value, void (GitWorkspace::*signal)())
    {
        if (field == value)
            return false;
        field = std::forward<U>(value);
        Q_EMIT(this->*signal)();
        return true;
    }

    void applySnapshot(Snapshot snapshot);
    QCoro::Task<> firstRefresh();
    QCoro::Task<> refreshAfterChange(QStringList paths);
    void reconcileSelection();
    QList<gitcore::GitDiffScope> allowedScopes(const QString& path) const;
    void updateSuggestedMessage();
    void loadCurrentDiff();
    QCoro::Task<> loadDiff(quint64 generation, gitcore::GitListTab tab, std::optional<QString> path,
                           gitcore::GitDiffScope scope, std::optional<QString> sha,
                           std::optional<QString> historyPath);
    void setLoadingDiff(bool loading);
    // Asks before a destructive operation; false when declined, refused, or the workspace went.
    QCoro::Task<bool> confirm(QString title, QString text, QString button, bool destructive);
    QCoro::Task<> switchTo(gitcore::GitBranch branch);
    static QString countedLabel(const QString& verb, qsizetype count);
    static QSet<QString> pathsOf(const Files& files);
    QCoro::Task<> runStaging(QString label, Files chosen, bool include);

    GitService& m_service;
    SiteStore& m_store;
    UserPrompts& m_prompts;
    SitePtr m_site;
    UnconnectedRemoteRepositoryCreator m_noAccounts;
    RemoteRepositoryCreator* m_remoteCreator = &m_noAccounts;

    Snapshot m_snapshot;
    gitcore::GitListTab m_listTab = gitcore::GitListTab::changes;
    std::optional<QString> m_selectedPath;
    QSet<QString> m_selectedPaths;
    std::optional<QString> m_selectedCommitSHA;
    std::optional<QString> m_selectedHistoryPath;
    gitcore::GitDiffScope m_diffScope = gitcore::GitDiffScope::included;
    std::optional<gitcore::GitFileDiff> m_loadedDiff;
    std::optional<gitcore::GitCommitDetail> m_commitDetail;
    bool m_isLoadingDiff = false;
    QString m_message;
    QString m_suggestedMessage = QString::fromLatin1(GitService::defaultCommitMessage);
    QString m_fileFilter;
    QString m_historyFilter;
    std::optional<QString> m_busyAction;
    gitcore::GitBusyKind m_busyKind = gitcore::GitBusyKind::none;
    QSet<QString> m_busyPaths;
    std::optional<QString> m_notice;
    bool m_noticeFailed = false;
    std::optional<QString> m_rawError;
    bool m_showingRepositoryTools = false;
    bool m_showingCreateGitHubRepo = false;
    bool m_showingBranchPicker = false;
    bool m_showingStashManager = false;
    bool m_showingNewBranch = false;
    QString m_newBranchName;
    bool m_compactShowsDetail = false;
    bool m_historyHasMore = false;
    bool m_isRefreshing = false;
    bool m_hasRefreshed = false;
    std::optional<PendingDirtySwitch> m_pendingDirtySwitch;
    QString m_identityName;
    QString m_identityEmail;
    QString m_remoteDraft;

    GitFolderMonitor* m_monitor = nullptr;
    // The newest diff load; an older one that finishes later stores nothing.
    quint64 m_diffGeneration = 0;
    std::optional<CancellationSource> m_networkCancel;
    // The fetch after the first refresh, while it runs.
    std::shared_ptr<CancellationSource> m_fetchCancel;
    quint64 m_refreshGeneration = 0;
    int m_historyLimit = historyPageSize;
    bool m_started = false;
    int m_initialFetchTimeout = 30000;
    // Where the unresolved files that are neither a rebase's nor an undo's came from.
    gitcore::GitConflictKind m_unmergedSource = gitcore::GitConflictKind::restore;
    // Replaces "<action> finished" when the operation succeeded with something to say.
    std::optional<QString> m_successNotice;
    bool m_confirming = false;
    std::shared_ptr<int> m_loadsInFlight = std::make_shared<int>(0);
    // Ended first thing in the destructor: coroutines still suspended then return without touching us.
    LifeGuard m_life;
};

} // namespace halvik
