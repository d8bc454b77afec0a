#pragma once

#include "GitServiceError.h"
#include "GitWriteLock.h"

#include "async/Cancellation.h"
#include "gitcore/GitDiff.h"
#include "gitcore/GitRecords.h"
#include "gitcore/GitRepositorySnapshot.h"
#include "models/Enums.h"
#include "models/Site.h"
#include "services/ProcessRunner.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>
#include <optional>

namespace halvik {

// The only component that runs `git`. Reads run unlogged; every write is recorded as a
// SiteOperation of the site and, apart from identity and initialisation, runs under the
// repository's write lock. Main thread only; Git itself runs in child processes.
class GitService : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using Env = QMap<QString, QString>;

    static constexpr qint64 fetchThrottleSeconds = 180;

    explicit GitService(ProcessRunner& runner, QObject* parent = nullptr);

    // Locating Git: the first candidate that is an executable file.
    static QStringList defaultGitCandidates();
    void setGitCandidates(std::optional<QStringList> candidates) { m_gitCandidates = std::move(candidates); }
    std::optional<QString> gitPath() const;

    // Time source of the fetch throttle (tests move it).
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Called after every logged write so the site's operation history is persisted.
    void setSaveHandler(std::function<void()> save) { m_save = std::move(save); }
    // Authenticates the network operations (fetch, pull, push): given the origin's URL, the
    // environment that lends Git the connected account's token for that one run.
    using CredentialSource = std::function<Env(const QString& remoteURL)>;
    void setCredentialSource(CredentialSource source) { m_credentials = std::move(source); }
    QCoro::Task<Env> credentialEnvironment(SitePtr site);

    // --- Running Git -------------------------------------------------------------------------
    // Unlogged: the caller interprets the result. Throws gitMissing without Git, and the
    // runner's errors (failed to start, cancelled).
    QCoro::Task<ProcessResult> gitRun(SitePtr site, QStringList args, Env extraEnvironment = {},
                                      CancellationToken token = {});
    // A write: recorded (redacted) on the site with its streamed log. A non-zero exit throws
    // `failed` with Git's redacted output unless `allowFailure`.
    QCoro::Task<ProcessResult> gitRunLogged(SitePtr site, QStringList args, bool allowFailure = false,
                                            std::optional<QByteArray> stdin = std::nullopt,
                                            Env extraEnvironment = {}, CancellationToken token = {});
    // Runs `body` holding the write lock of the site's repository.
    // A cancelled token also ends the wait for the lock (with CancelledError), so a Cancel
    // clicked while another write holds the repository is not held up until that write ends.
    QCoro::Task<> mutate(SitePtr site, std::function<QCoro::Task<>()> body, CancellationToken token = {});
    bool isMutationIdle() const { return m_locks.isIdle(); }

    // --- Reads (never throw for Git failures) ------------------------------------------------
    static bool isRepository(const QString& path);
    QCoro::Task<bool> isInsideWorkTree(SitePtr site);
    QCoro::Task<std::optional<QString>> currentRemote(SitePtr site);
    QCoro::Task<gitcore::GitRepositoryInspection> inspectRepository(SitePtr site);
    QCoro::Task<gitcore::GitRepositorySnapshot> snapshot(SitePtr site, int historyLimit = 50,
                                                         int historySkip = 0);
    QCoro::Task<bool> rebaseInProgress(SitePtr site);
    QCoro::Task<bool> revertInProgress(SitePtr site);
    // False before the first commit (an unborn branch).
    QCoro::Task<bool> hasCommits(SitePtr site);
    QCoro::Task<bool> isTracked(SitePtr site, QString path);
    // True when Git ignores every one of the (site-relative) paths, so changes there cannot
    // change what a snapshot shows. False for anything inside `.git` and when unsure.
    QCoro::Task<bool> allIgnored(SitePtr site, QStringList paths);
    QCoro::Task<QList<gitcore::GitBranch>> listBranches(SitePtr site);
    QCoro::Task<QList<gitcore::GitStash>> listStashes(SitePtr site);
    QCoro::Task<gitcore::GitIdentity> identity(SitePtr site);
    QCoro::Task<QList<gitcore::GitCommit>> history(SitePtr site, int limit, int skip = 0);
    // The newest `limit` commits with their files, handed to `onCommit` one by one while Git
    // is still writing (on the runner's thread, in order). Returns Git's exit code.
    QCoro::Task<int> streamHistory(SitePtr site, int limit,
                                   std::function<void(const gitcore::GitCommit&)> onCommit);
    QCoro::Task<std::optional<gitcore::GitCommitDetail>> commitDetail(SitePtr site, QString sha);
    // A file's bytes as Git stores them: `spec` is ":<path>" for the index or "<sha>:<path>" for a
    // commit. Empty when Git has no such file (or no Git is found).
    QCoro::Task<QByteArray> storedFile(SitePtr site, QString spec);
    // `originalPath` names the source of a renamed file, so that Git shows the rename instead
    // of a whole new file.
    QCoro::Task<gitcore::GitFileDiff> diff(SitePtr site, QString path, gitcore::GitDiffScope scope,
                                           std::optional<QString> sha = std::nullopt,
                                           std::optional<QString> originalPath = std::nullopt);
    // Background fetch: at most once per fetchThrottleSeconds per site unless forced; never throws.
    QCoro::Task<> fetch(SitePtr site, bool force = false, CancellationToken token = {});

    // --- Writes ------------------------------------------------------------------------------
    QCoro::Task<> setIdentity(SitePtr site, QString name, QString email, bool global);
    QCoro::Task<> initialize(SitePtr site);
    QCoro::Task<> checkout(SitePtr site, QString branch);
    QCoro::Task<> createBranch(SitePtr site, QString name);
    QCoro::Task<> createTrackingBranch(SitePtr site, QString name, QString remoteBranch);
    QCoro::Task<> stage(SitePtr site, QStringList paths);
    QCoro::Task<> unstage(SitePtr site, QStringList paths);
    // Without paths everything is committed.
    QCoro::Task<> commit(SitePtr site, std::optional<QStringList> paths, QString message);
    QCoro::Task<> commitStaged(SitePtr site, QString message);
    QCoro::Task<> discard(SitePtr site, QList<gitcore::GitChangedFile> files);
    QCoro::Task<> applyHunk(SitePtr site, gitcore::GitFileDiff diff, gitcore::GitDiffHunk hunk,
                            gitcore::GitHunkAction action);
    // Applies only the chosen added and removed lines of `hunk` (GitDiffLine ids), the way
    // applyHunk() applies the whole hunk.
    QCoro::Task<> applyLines(SitePtr site, gitcore::GitFileDiff diff, gitcore::GitDiffHunk hunk,
                             QSet<int> lineIds, gitcore::GitHunkAction action);
    QCoro::Task<> revert(SitePtr site, QString sha);
    QCoro::Task<> continueRevert(SitePtr site);
    QCoro::Task<> abortRevert(SitePtr site);
    // True when the pull itself went through but the uncommitted changes it set aside came
    // back with conflicts (they also stay set aside).
    QCoro::Task<bool> pullRebase(SitePtr site, CancellationToken token = {});
    QCoro::Task<> push(SitePtr site, CancellationToken token = {});
    QCoro::Task<> continueRebase(SitePtr site);
    QCoro::Task<> abortRebase(SitePtr site);
    QCoro::Task<> addOrigin(SitePtr site, QString url);
    QCoro::Task<> setOriginURL(SitePtr site, QString url);
    QCoro::Task<> untrackEnv(SitePtr site);
    QCoro::Task<> stashPush(SitePtr site, std::optional<QString> message = std::nullopt);
    enum class StashApplied
    {
        asSaved,     // included and remaining parts came back as they were
        withoutIndex // everything came back as remaining
    };
    // With `restoreIndex`, falls back to a plain apply only when Git refuses to restore the
    // index; conflicts throw `conflicted` and leave the files to resolve.
    QCoro::Task<StashApplied> stashApply(SitePtr site, QString ref, bool restoreIndex);
    QCoro::Task<> stashDrop(SitePtr site, QString ref);
    QCoro::Task<std::optional<QString>> discoverGitHubRepo(SitePtr site);
    QCoro::Task<> initializeAndPush(SitePtr site, QString remoteURL, QString commitMessage,
                                    CancellationToken token = {});

    // An HTTPS clone URL carrying `token` in the form the provider expects. Only ever shown redacted.
    static QString authenticatedCloneURL(const QString& url, const QString& token,
                                         std::optional<SourceControlProvider> provider = std::nullopt);

    static constexpr auto defaultCommitMessage = "Update from Halvik";

private:
    ProcessRequest request(const SitePtr& site, const QString& git, const QStringList& args,
                           const Env& extraEnvironment) const;
    // A read: request() plus the variables that keep it from taking locks a write needs.
    ProcessRequest readRequest(const SitePtr& site, const QString& git, const QStringList& args,
                               const Env& extraEnvironment) const;
    QString requireGit() const;
    QCoro::Task<> requireCommitReady(SitePtr site);
    QCoro::Task<> withDirtySwitchMapped(SitePtr site, QStringList args);
    static QString commitMessage(const QString& message);

    ProcessRunner& m_runner;
    std::optional<QStringList> m_gitCandidates;
    Clock m_clock;
    std::function<void()> m_save;
    CredentialSource m_credentials;
    QHash<QString, QDateTime> m_lastFetchAt;
    GitWriteLock m_locks;
};

} // namespace halvik
