// The write operations of GitService: each one recorded on the site, most under the
// repository's write lock.
#include "GitService.h"

#include "GitIgnoreFile.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitLinePatch.h"
#include "gitcore/GitRemoteURL.h"
#include "gitcore/SourceControlProviderKind.h"

#include <QUrl>

namespace halvik {

using namespace gitcore;

namespace {

// Bodies are named before they are awaited: g++ 12 mishandles temporaries created inside a
// co_await expression (a lambda converted to std::function there is destroyed twice).
using Body = std::function<QCoro::Task<>()>;

QString s(const char* text)
{
    return QString::fromLatin1(text);
}

// `git stash` names the whole tree with pathspec magic of its own, which literal pathspecs
// would turn into a file name (untracked files would be saved but never cleaned).
GitService::Env stashEnvironment()
{
    GitService::Env env;
    env.insert(QStringLiteral("GIT_LITERAL_PATHSPECS"), QStringLiteral("0"));
    return env;
}

bool isSafeStashRef(const QString& ref)
{
    return GitCommands::isSafeRefName(ref) || ref.startsWith(QLatin1String("stash@{"));
}

std::optional<SourceControlProvider> providerOf(const QString& url)
{
    const auto kind = SourceControlProviderKind::fromRemoteURL(url);
    if (!kind)
        return std::nullopt;
    switch (*kind) {
    case SourceControlProviderKind::github:
        return SourceControlProvider::github;
    case SourceControlProviderKind::gitlab:
        return SourceControlProvider::gitlab;
    case SourceControlProviderKind::bitbucket:
        return SourceControlProvider::bitbucket;
    case SourceControlProviderKind::origin:
        return SourceControlProvider::origin;
    }
    return std::nullopt;
}

} // namespace

QString GitService::commitMessage(const QString& message)
{
    const QString trimmed = message.trimmed();
    return trimmed.isEmpty() ? QString::fromLatin1(defaultCommitMessage) : trimmed;
}

QCoro::Task<> GitService::requireCommitReady(SitePtr site)
{
    requireGit();
    const auto who = co_await identity(site);
    if (!who.isComplete())
        throw GitServiceError::identityMissing();
}

QCoro::Task<> GitService::setIdentity(SitePtr site, QString name, QString email, bool global)
{
    const QString scope = global ? s("--global") : s("--local");
    const QStringList argv1{s("config"), scope, s("user.name"), name};
    co_await gitRunLogged(site, argv1);
    const QStringList argv2{s("config"), scope, s("user.email"), email};
    co_await gitRunLogged(site, argv2);
}

QCoro::Task<> GitService::initialize(SitePtr site)
{
    const auto inspection = co_await inspectRepository(site);
    switch (inspection.kind) {
    case GitRepositoryInspection::Kind::unavailable:
        if (inspection.problem && inspection.problem->kind == GitRepositoryProblem::Kind::missingGit)
            throw GitServiceError::gitMissing();
        throw GitServiceError::failed(inspection.problem.value_or(GitRepositoryProblem()).message());
    case GitRepositoryInspection::Kind::repository:
        throw GitServiceError::failed(s("This site already has a Git repository. Refresh to view it."));
    case GitRepositoryInspection::Kind::notRepository:
        break;
    }
    requireGit();
    if (isRepository(site->path()))
        throw GitServiceError::failed(s("This site already has Git metadata. Refresh to check its status."));
    const QStringList argv3{s("init"), s("-b"), s("main")};
    co_await gitRunLogged(site, argv3);
    GitIgnoreFile::ensureGitignore(site->path());
}

QCoro::Task<> GitService::withDirtySwitchMapped(SitePtr site, QStringList args)
{
    const Body body = [this, site, args]() -> QCoro::Task<> {
        try {
            co_await gitRunLogged(site, args);
        } catch (const GitServiceError& error) {
            if (error.kind() == GitServiceError::Case::failed &&
                GitCommands::looksLikeDirtySwitch(error.rawText()))
                throw GitServiceError::dirtyWorktree();
            throw;
        }
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::checkout(SitePtr site, QString branch)
{
    branch = branch.trimmed();
    if (!GitCommands::isSafeRefName(branch))
        throw GitServiceError::failed(s("Invalid branch name."));
    const QStringList argv4{s("switch"), branch};
    co_await withDirtySwitchMapped(site, argv4);
}

QCoro::Task<> GitService::createBranch(SitePtr site, QString name)
{
    name = name.trimmed();
    if (!GitCommands::isSafeRefName(name))
        throw GitServiceError::failed(s("Use letters, numbers, hyphens, slashes, or underscores."));
    const QStringList argv5{s("switch"), s("-c"), name};
    const Body body = [this, site, argv5]() -> QCoro::Task<> { co_await gitRunLogged(site, argv5); };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::createTrackingBranch(SitePtr site, QString name, QString remoteBranch)
{
    name = name.trimmed();
    remoteBranch = remoteBranch.trimmed();
    if (!GitCommands::isSafeRefName(name) || !GitCommands::isSafeRefName(remoteBranch))
        throw GitServiceError::failed(s("Invalid branch name."));
    const QStringList argv6{s("switch"), s("-c"), name, s("--track"), remoteBranch};
    co_await withDirtySwitchMapped(site, argv6);
}

QCoro::Task<> GitService::stage(SitePtr site, QStringList paths)
{
    const QStringList args = GitCommands::stage(paths);
    const Body body = [this, site, args]() -> QCoro::Task<> { co_await gitRunLogged(site, args); };
    co_await mutate(site, body);
}

QCoro::Task<bool> GitService::hasCommits(SitePtr site)
{
    const QStringList args{s("rev-parse"), s("--verify"), s("--quiet"), s("HEAD")};
    const auto result = co_await gitRun(site, args);
    co_return result.exitCode == 0;
}

QCoro::Task<> GitService::unstage(SitePtr site, QStringList paths)
{
    const Body body = [this, site, paths]() -> QCoro::Task<> {
        // Before the first commit there is no HEAD to restore from: the index entries go.
        const bool born = co_await hasCommits(site);
        const QStringList args = born ? GitCommands::unstage(paths)
                                      : QStringList{s("rm"), s("--cached"), s("-f"), s("-q"), s("--")} +
                                            GitCommands::sanitizePaths(paths);
        co_await gitRunLogged(site, args);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::commit(SitePtr site, std::optional<QStringList> paths, QString message)
{
    co_await requireCommitReady(site);
    const QString text = commitMessage(message);
    const Body body = [this, site, paths, text]() -> QCoro::Task<> {
        const QStringList sanitized = paths ? GitCommands::sanitizePaths(*paths) : QStringList();
        if (paths && sanitized.isEmpty())
            co_return; // nothing survived sanitising: nothing to commit
        const QStringList add = paths ? GitCommands::stage(sanitized) : GitCommands::addAll();
        co_await gitRunLogged(site, add);
        // Everything asked for is staged now: whether the index differs from HEAD is the whole
        // question, and asking it spares a scan of the working tree.
        const QStringList stagedArgs = GitCommands::hasStagedChanges(sanitized);
        const auto staged = co_await gitRun(site, stagedArgs);
        if (staged.exitCode == 0)
            co_return;
        if (staged.exitCode != 1)
            throw GitServiceError::failed(GitRemoteURL::redactSecrets(staged.combined()));
        if (paths) {
            const QStringList commitArgs = GitCommands::commitOnly(text, sanitized);
            co_await gitRunLogged(site, commitArgs);
        } else {
            const QStringList commitArgs = GitCommands::commitStaged(text);
            co_await gitRunLogged(site, commitArgs);
        }
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::commitStaged(SitePtr site, QString message)
{
    co_await requireCommitReady(site);
    const QString text = commitMessage(message);
    const Body body = [this, site, text]() -> QCoro::Task<> {
        const QStringList argv7{s("diff"), s("--cached"), s("--name-only")};
        const auto staged = co_await gitRun(site, argv7);
        if (staged.stdout.text().trimmed().isEmpty())
            throw GitServiceError::nothingStaged();
        const QStringList commitArgs = GitCommands::commitStaged(text);
        co_await gitRunLogged(site, commitArgs);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::discard(SitePtr site, QList<GitChangedFile> files)
{
    QStringList tracked, addedIncluded, added, untracked;
    for (const auto& file : files) {
        const bool isNew = file.indexStatus == QLatin1Char('A') || file.worktreeStatus == QLatin1Char('A');
        if (file.isUntracked) {
            untracked << file.path;
        } else if (isNew) {
            // Once unstaged, an added file is untracked and `rm` no longer knows it: it is
            // cleaned with the untracked ones instead.
            if (file.isIncluded()) {
                addedIncluded << file.path;
                untracked << file.path;
            } else {
                added << file.path;
            }
        } else {
            tracked << file.path;
            // A rename goes back whole: the original returns and the new name goes.
            if (file.originalPath && !file.isCopied)
                tracked << *file.originalPath;
        }
    }
    const Body body = [=, this]() -> QCoro::Task<> {
        const QString dashes = s("--");
        const auto run = [&](QStringList args, const QStringList& group) -> QCoro::Task<> {
            const QStringList paths = GitCommands::sanitizePaths(group);
            if (paths.isEmpty())
                co_return;
            args << dashes << paths;
            co_await gitRunLogged(site, args);
        };
        const QStringList restoreAll{s("restore"), s("--source=HEAD"), s("--staged"), s("--worktree")};
        // Works before the first commit too, where `restore --staged` finds no HEAD.
        const QStringList restoreStaged{s("rm"), s("--cached"), s("-f"), s("-q")};
        const QStringList remove{s("rm"), s("-f")};
        const QStringList clean{s("clean"), s("-fd")};
        co_await run(restoreAll, tracked);
        co_await run(restoreStaged, addedIncluded);
        co_await run(remove, added);
        co_await run(clean, untracked);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::applyHunk(SitePtr site, GitFileDiff diff, GitDiffHunk hunk, GitHunkAction action)
{
    requireGit();
    if (!hunk.canApply)
        throw GitServiceError::failed(QStringLiteral("This hunk can\u2019t be applied on its own."));
    const QString patch = diff.patch(hunk);
    if (!diff.isLatin1 && patch.contains(QChar::ReplacementCharacter) &&
        !diff.raw.contains(QChar::ReplacementCharacter))
        throw GitServiceError::failed(s("Could not encode the patch."));
    const QByteArray bytes = diff.patchBytes(hunk);
    QStringList args;
    switch (action) {
    case GitHunkAction::include:
        args = GitCommands::applyCached();
        break;
    case GitHunkAction::exclude:
        args = GitCommands::applyCachedReverse();
        break;
    case GitHunkAction::discard:
        args = GitCommands::applyReverse();
        break;
    }
    const Body body = [this, site, args, bytes]() -> QCoro::Task<> {
        co_await gitRunLogged(site, args, false, bytes);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::applyLines(SitePtr site, GitFileDiff diff, GitDiffHunk hunk, QSet<int> lineIds,
                                     GitHunkAction action)
{
    requireGit();
    if (!hunk.canApply)
        throw GitServiceError::failed(QStringLiteral("This hunk can\u2019t be applied on its own."));
    const auto part = linePatch(diff, hunk, lineIds, patchDirection(action));
    if (!part)
        throw GitServiceError::failed(s("Select added or removed lines first."));
    co_await applyHunk(site, part->diff, part->hunk, action);
}

QCoro::Task<> GitService::revert(SitePtr site, QString sha)
{
    const Body body = [this, site, sha]() -> QCoro::Task<> {
        const QStringList argv8{s("revert"), s("--no-edit"), sha};
        try {
            co_await gitRunLogged(site, argv8);
        } catch (const GitServiceError& error) {
            if (error.kind() == GitServiceError::Case::failed &&
                GitCommands::looksLikeConflict(error.rawText()))
                throw GitServiceError::conflicted(
                    s("Undoing this commit clashes with later changes to the same "
                      "files. Resolve them, then Continue Undo \u2014 or Abort Undo "
                      "to go back."),
                    error.rawText());
            throw;
        }
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::continueRevert(SitePtr site)
{
    const Body body = [this, site]() -> QCoro::Task<> {
        const QStringList args{s("-c"), s("core.editor=true"), s("revert"), s("--continue")};
        Env noEditor;
        noEditor.insert(s("GIT_EDITOR"), s("true"));
        co_await gitRunLogged(site, args, false, std::nullopt, noEditor);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::abortRevert(SitePtr site)
{
    const QStringList args{s("revert"), s("--abort")};
    const Body body = [this, site, args]() -> QCoro::Task<> { co_await gitRunLogged(site, args); };
    co_await mutate(site, body);
}

QCoro::Task<bool> GitService::pullRebase(SitePtr site, CancellationToken token)
{
    requireGit();
    if (co_await rebaseInProgress(site))
        throw GitServiceError::rebaseInProgress();
    const Env auth = co_await credentialEnvironment(site);
    bool autostashConflicted = false;
    const Body body = [this, site, token, auth, &autostashConflicted]() -> QCoro::Task<> {
        try {
            const QStringList argv9{s("pull"), s("--rebase"), s("--autostash")};
            Env environment = stashEnvironment();
            environment.insert(auth);
            const auto result = co_await gitRunLogged(site, argv9, false, std::nullopt, environment, token);
            autostashConflicted = GitCommands::looksLikeAutostashConflict(result.combined());
        } catch (const GitServiceError& error) {
            if (error.kind() == GitServiceError::Case::failed &&
                GitCommands::looksLikeConflict(error.rawText()))
                throw GitServiceError::rebaseConflict(error.rawText());
            throw;
        }
    };
    co_await mutate(site, body, token);
    co_return autostashConflicted;
}

QCoro::Task<> GitService::push(SitePtr site, CancellationToken token)
{
    requireGit();
    const auto snap = co_await snapshot(site, 0, 0);
    const QString branch = snap.status.branch.value_or(s("main"));
    const Env auth = co_await credentialEnvironment(site);
    const Body body = [this, site, branch, token, auth]() -> QCoro::Task<> {
        try {
            const QStringList argv10{s("push"), s("-u"), s("origin"), branch};
            co_await gitRunLogged(site, argv10, false, std::nullopt, auth, token);
        } catch (const GitServiceError& error) {
            if (error.kind() == GitServiceError::Case::failed &&
                GitCommands::looksLikeNeedsPull(error.rawText()))
                throw GitServiceError::needsPull();
            throw;
        }
    };
    co_await mutate(site, body, token);
}

QCoro::Task<> GitService::continueRebase(SitePtr site)
{
    const Body body = [this, site]() -> QCoro::Task<> {
        const QStringList argv11{s("-c"), s("core.editor=true"), s("rebase"), s("--continue")};
        Env noEditor;
        noEditor.insert(s("GIT_EDITOR"), s("true"));
        co_await gitRunLogged(site, argv11, false, std::nullopt, noEditor);
    };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::abortRebase(SitePtr site)
{
    const QStringList argv12{s("rebase"), s("--abort")};
    const Body body = [this, site, argv12]() -> QCoro::Task<> { co_await gitRunLogged(site, argv12, true); };
    co_await mutate(site, body);
}

QCoro::Task<> GitService::addOrigin(SitePtr site, QString url)
{
    const Body body = [this, site, url]() -> QCoro::Task<> {
        try {
            const QStringList argv13{s("remote"), s("remove"), s("origin")};
            co_await gitRun(site, argv13);
        } catch (const ProcessRunnerError&) {
        }
        const QStringList argv14{s("remote"), s("add"), s("origin"), url};
        co_await gitRunLogged(site, argv14);
    };
    co_await mutate(site, body);
    site->setGithubRepo(GitRemoteURL::githubRepo(url));
}

QCoro::Task<> GitService::setOriginURL(SitePtr site, QString url)
{
    url = url.trimmed();
    if (url.isEmpty())
        throw GitServiceError::failed(s("Remote URL is empty."));
    const Body body = [this, site, url]() -> QCoro::Task<> {
        const bool hasOrigin = (co_await currentRemote(site)).has_value();
        const QStringList argv15{s("remote"), hasOrigin ? s("set-url") : s("add"), s("origin"), url};
        co_await gitRunLogged(site, argv15);
    };
    co_await mutate(site, body);
    site->setGithubRepo(GitRemoteURL::githubRepo(url));
}

QCoro::Task<> GitService::untrackEnv(SitePtr site)
{
    const Body body = [this, site]() -> QCoro::Task<> {
        const QStringList argv16{s("rm"), s("--cached"), s(".env")};
        co_await gitRunLogged(site, argv16, true);
    };
    co_await mutate(site, body);
    GitIgnoreFile::ensureEnvIgnored(site->path());
}

QCoro::Task<> GitService::stashPush(SitePtr site, std::optional<QString> message)
{
    QStringList args{s("stash"), s("push"), s("-u")};
    const QString text = message.value_or(QString()).trimmed();
    if (!text.isEmpty())
        args << s("-m") << text;
    const Body body = [this, site, args]() -> QCoro::Task<> {
        co_await gitRunLogged(site, args, false, std::nullopt, stashEnvironment());
    };
    co_await mutate(site, body);
}

QCoro::Task<GitService::StashApplied> GitService::stashApply(SitePtr site, QString ref, bool restoreIndex)
{
    if (!isSafeStashRef(ref))
        throw GitServiceError::failed(s("Invalid stash reference."));
    StashApplied applied = StashApplied::asSaved;
    const Body body = [this, site, ref, restoreIndex, &applied]() -> QCoro::Task<> {
        const QStringList plain{s("stash"), s("apply"), ref};
        const QStringList withIndex{s("stash"), s("apply"), s("--index"), ref};
        const QString conflict = s("The set-aside changes clash with your files. Resolve them, then Mark "
                                   "Resolved; the set-aside copy stays until you drop it.");
        if (!restoreIndex) {
            applied = StashApplied::withoutIndex;
        } else {
            const auto result =
                co_await gitRunLogged(site, withIndex, true, std::nullopt, stashEnvironment());
            if (result.exitCode == 0)
                co_return;
            if (GitCommands::looksLikeMergeConflict(result.combined()))
                throw GitServiceError::conflicted(conflict, GitRemoteURL::redactSecrets(result.combined()));
            // Git refused before touching anything (the included part no longer applies on
            // its own): everything comes back as remaining instead.
            applied = StashApplied::withoutIndex;
        }
        const auto result = co_await gitRunLogged(site, plain, true, std::nullopt, stashEnvironment());
        if (result.exitCode == 0)
            co_return;
        const QString output = GitRemoteURL::redactSecrets(result.combined());
        if (GitCommands::looksLikeMergeConflict(output))
            throw GitServiceError::conflicted(conflict, output);
        throw GitServiceError::failed(output.trimmed().isEmpty() ? s("git exited %1").arg(result.exitCode)
                                                                 : output.trimmed());
    };
    co_await mutate(site, body);
    co_return applied;
}

QCoro::Task<> GitService::stashDrop(SitePtr site, QString ref)
{
    if (!isSafeStashRef(ref))
        throw GitServiceError::failed(s("Invalid stash reference."));
    const QStringList argv17{s("stash"), s("drop"), ref};
    const Body body = [this, site, argv17]() -> QCoro::Task<> {
        co_await gitRunLogged(site, argv17, false, std::nullopt, stashEnvironment());
    };
    co_await mutate(site, body);
}

QCoro::Task<std::optional<QString>> GitService::discoverGitHubRepo(SitePtr site)
{
    std::optional<QString> slug;
    if (auto remote = co_await currentRemote(site))
        slug = GitRemoteURL::githubRepo(*remote);
    if (!slug) {
        try {
            const QStringList argv18{s("remote"), s("-v")};
            const auto result = co_await gitRun(site, argv18);
            for (const QString& line : result.stdout.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QStringList fields = line.simplified().split(QLatin1Char(' '));
                if (fields.size() >= 2 && (slug = GitRemoteURL::githubRepo(fields.at(1))))
                    break;
            }
        } catch (const HalvikError&) {
        }
    }
    if (slug)
        site->setGithubRepo(slug);
    co_return slug;
}

QCoro::Task<> GitService::initializeAndPush(SitePtr site, QString remoteURL, QString commitMessage,
                                            CancellationToken token)
{
    co_await initialize(site);
    co_await commit(site, std::nullopt, commitMessage);
    co_await addOrigin(site, remoteURL);
    co_await push(site, token);
}

QString GitService::authenticatedCloneURL(const QString& url, const QString& token,
                                          std::optional<SourceControlProvider> provider)
{
    const QUrl parsed(url.trimmed());
    if (parsed.host().isEmpty())
        return url;
    const auto kind = provider ? provider : providerOf(url);
    QString user = s("x-access-token");
    if (kind == SourceControlProvider::gitlab)
        user = s("oauth2");
    else if (kind == SourceControlProvider::bitbucket)
        user = s("x-token-auth");
    else if (kind == SourceControlProvider::origin)
        return url;
    return s("https://") + user + QLatin1Char(':') + token + QLatin1Char('@') + parsed.host() +
           parsed.path(QUrl::FullyEncoded);
}

} // namespace halvik
