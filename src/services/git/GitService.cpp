#include "GitService.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"
#include "gitcore/GitRemoteURL.h"
#include "services/LoggedOperation.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

using namespace gitcore;

GitService::GitService(ProcessRunner& runner, QObject* parent)
    : QObject(parent), m_runner(runner), m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

QStringList GitService::defaultGitCandidates()
{
    return {QStringLiteral("/usr/bin/git"), QStringLiteral("/opt/homebrew/bin/git"),
            QStringLiteral("/usr/local/bin/git"),
            QDir::homePath() + QStringLiteral("/Library/Application Support/Herd/bin/git")};
}

std::optional<QString> GitService::gitPath() const
{
    for (const QString& candidate : m_gitCandidates.value_or(defaultGitCandidates())) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return std::nullopt;
}

QString GitService::requireGit() const
{
    if (auto git = gitPath())
        return *git;
    throw GitServiceError::gitMissing();
}

ProcessRequest GitService::request(const SitePtr& site, const QString& git, const QStringList& args,
                                   const Env& extraEnvironment) const
{
    ProcessRequest req;
    req.executable = git;
    req.arguments = GitCommands::quietArguments(args);
    req.workingDirectory = site->path();
    req.environment = GitCommands::environment(site->path());
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
        req.environment.insert(it.key(), it.value());
    return req;
}

QCoro::Task<ProcessResult> GitService::gitRun(SitePtr site, QStringList args, Env extraEnvironment,
                                              CancellationToken token)
{
    const QString git = requireGit();
    co_return co_await m_runner.run(request(site, git, args, extraEnvironment), {}, token);
}

QCoro::Task<ProcessResult> GitService::gitRunLogged(SitePtr site, QStringList args, bool allowFailure,
                                                    std::optional<QByteArray> stdin, Env extraEnvironment,
                                                    CancellationToken token)
{
    const QString git = requireGit();
    LoggedOperationRequest logged;
    logged.process = request(site, git, args, extraEnvironment);
    logged.process.stdin = std::move(stdin);
    logged.command = GitRemoteURL::redactSecrets(QStringLiteral("git ") + args.join(QLatin1Char(' ')));
    logged.kind = OperationKind::git;
    logged.token = token;
    auto outcome = co_await runLoggedOperation(m_runner, site, std::move(logged), m_save);

    // The log is shown as is: make sure no credential Git echoed survives in it.
    const QString log = outcome.operation->log();
    const QString redacted = GitRemoteURL::redactSecrets(log);
    if (redacted != log)
        outcome.operation->setLog(redacted);

    if (outcome.result.exitCode != 0 && !allowFailure) {
        const QString combined = GitRemoteURL::redactSecrets(outcome.result.combined()).trimmed();
        throw GitServiceError::failed(
            combined.isEmpty() ? QStringLiteral("git exited %1").arg(outcome.result.exitCode) : combined);
    }
    co_return outcome.result;
}

QCoro::Task<> GitService::mutate(SitePtr site, std::function<QCoro::Task<>()> body)
{
    const QString path = site->path();
    while (m_locks.isHeld(path))
        co_await m_locks.waitForRelease(path);
    m_locks.acquire(path);
    try {
        co_await body();
    } catch (...) {
        m_locks.release(path);
        throw;
    }
    m_locks.release(path);
}

bool GitService::isRepository(const QString& path)
{
    return QFileInfo::exists(QDir(path).filePath(QStringLiteral(".git")));
}

QCoro::Task<bool> GitService::isInsideWorkTree(SitePtr site)
{
    try {
        const QStringList argv1{QStringLiteral("rev-parse"), QStringLiteral("--is-inside-work-tree")};
        const auto result = co_await gitRun(site, argv1);
        co_return result.exitCode == 0 && result.stdout.text().trimmed().toLower() == QLatin1String("true");
    } catch (const HalvikError&) {
        co_return false;
    }
}

QCoro::Task<std::optional<QString>> GitService::currentRemote(SitePtr site)
{
    try {
        const QStringList argv2{QStringLiteral("remote"), QStringLiteral("get-url"),
                                QStringLiteral("origin")};
        const auto result = co_await gitRun(site, argv2);
        const QString remote = result.stdout.text().trimmed();
        if (result.exitCode == 0 && !remote.isEmpty())
            co_return remote;
    } catch (const HalvikError&) {
    }
    co_return std::nullopt;
}

QCoro::Task<GitRepositoryInspection> GitService::inspectRepository(SitePtr site)
{
    const auto git = gitPath();
    if (!git)
        co_return GitRepositoryInspection::unavailable(GitRepositoryProblem(
            GitRepositoryProblem::Kind::missingGit, QStringLiteral("No Git executable was found.")));
    Env cLocale;
    cLocale.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    ProcessResult result;
    try {
        result = co_await m_runner.run(request(site, *git, GitCommands::statusPorcelainV2(), cLocale));
    } catch (const HalvikError& error) {
        co_return GitRepositoryInspection::unavailable(GitRepositoryProblem(error.description()));
    }
    // A large status takes tens of milliseconds to decode and sort: not on the main thread.
    const bool hasGitMetadata = isRepository(site->path());
    QFuture<GitRepositoryInspection> inspecting = QtConcurrent::run([result, hasGitMetadata] {
        return GitRepositoryInspection::result(result.exitCode, result.stdout.text(), result.stderr.text(),
                                               hasGitMetadata);
    });
    co_return co_await inspecting;
}

QCoro::Task<GitRepositorySnapshot> GitService::snapshot(SitePtr site, int historyLimit, int historySkip)
{
    const auto inspection = co_await inspectRepository(site);
    switch (inspection.kind) {
    case GitRepositoryInspection::Kind::notRepository:
        co_return GitRepositorySnapshot::empty();
    case GitRepositoryInspection::Kind::unavailable:
        co_return GitRepositorySnapshot::unavailable(inspection.problem.value_or(GitRepositoryProblem()),
                                                     isRepository(site->path()));
    case GitRepositoryInspection::Kind::repository:
        break;
    }
    const GitStatusParseResult& parsed = inspection.status;
    GitRepositorySnapshot snap;
    snap.status.isRepo = true;
    snap.status.branch = parsed.branch;
    snap.status.remoteURL = co_await currentRemote(site);
    snap.status.dirtyCount = int(parsed.files.size());
    snap.status.ahead = parsed.ahead;
    snap.status.behind = parsed.behind;
    snap.status.inProgressRebase = co_await rebaseInProgress(site);
    const QString envFile = QStringLiteral(".env");
    snap.status.tracksEnv = co_await isTracked(site, envFile);
    snap.status.isUnborn = parsed.isUnborn;
    snap.status.isDetached = parsed.isDetached;
    snap.status.upstream = parsed.upstream;
    snap.status.hasUnmerged = parsed.hasUnmerged();
    snap.files = parsed.files;
    snap.branches = co_await listBranches(site);
    snap.stashes = co_await listStashes(site);
    snap.identity = co_await identity(site);
    snap.commits = co_await history(site, historyLimit, historySkip);
    co_return snap;
}

QCoro::Task<bool> GitService::rebaseInProgress(SitePtr site)
{
    const QStringList names{QStringLiteral("rebase-merge"), QStringLiteral("rebase-apply")};
    for (const QString& name : names) {
        try {
            const QStringList args{QStringLiteral("rev-parse"), QStringLiteral("--git-path"), name};
            const auto result = co_await gitRun(site, args);
            const QString printed = result.stdout.text().trimmed();
            if (result.exitCode != 0 || printed.isEmpty())
                continue;
            const QString full =
                QDir::isAbsolutePath(printed) ? printed : QDir(site->path()).filePath(printed);
            if (QFileInfo::exists(full))
                co_return true;
        } catch (const HalvikError&) {
            co_return false;
        }
    }
    co_return false;
}

QCoro::Task<bool> GitService::isTracked(SitePtr site, QString path)
{
    try {
        const QStringList argv3{QStringLiteral("ls-files"), QStringLiteral("--"), path};
        const auto result = co_await gitRun(site, argv3);
        co_return result.exitCode == 0 && !result.stdout.text().trimmed().isEmpty();
    } catch (const HalvikError&) {
        co_return false;
    }
}

QCoro::Task<QList<GitBranch>> GitService::listBranches(SitePtr site)
{
    const QString format =
        QStringLiteral("--format=%(refname)\x1f%(refname:short)\x1f%(HEAD)\x1f%(upstream:short)");
    try {
        const QStringList resultArgs{QStringLiteral("for-each-ref"), format, QStringLiteral("refs/heads/"),
                                     QStringLiteral("refs/remotes/")};
        const auto result = co_await gitRun(site, resultArgs);
        if (result.exitCode == 0)
            co_return GitParsers::parseForEachRef(result.stdout.text());
    } catch (const HalvikError&) {
    }
    co_return {};
}

QCoro::Task<QList<GitStash>> GitService::listStashes(SitePtr site)
{
    try {
        const QStringList resultArgs{QStringLiteral("stash"), QStringLiteral("list"),
                                     QStringLiteral("--format=%gd%x1f%ct%x1f%gs")};
        const auto result = co_await gitRun(site, resultArgs);
        if (result.exitCode == 0)
            co_return GitParsers::parseStashList(result.stdout.text());
    } catch (const HalvikError&) {
    }
    co_return {};
}

QCoro::Task<GitIdentity> GitService::identity(SitePtr site)
{
    auto read = [this, site](QStringList args) -> QCoro::Task<QString> {
        try {
            const auto result = co_await gitRun(site, args);
            if (result.exitCode == 0)
                co_return result.stdout.text().trimmed();
        } catch (const HalvikError&) {
        }
        co_return QString();
    };
    const QString config = QStringLiteral("config");
    const QString local = QStringLiteral("--local");
    const QString get = QStringLiteral("--get");
    const QString userName = QStringLiteral("user.name");
    const QString userEmail = QStringLiteral("user.email");
    const QStringList localNameArgs{config, local, get, userName};
    const QStringList localEmailArgs{config, local, get, userEmail};
    const QStringList nameArgs{config, get, userName};
    const QStringList emailArgs{config, get, userEmail};
    const QString localName = co_await read(localNameArgs);
    const QString localEmail = co_await read(localEmailArgs);
    const QString name = co_await read(nameArgs);
    const QString email = co_await read(emailArgs);
    GitIdentity identity;
    identity.name = localName.isEmpty() ? name : localName;
    identity.email = localEmail.isEmpty() ? email : localEmail;
    identity.scope =
        localName.isEmpty() && localEmail.isEmpty() ? GitIdentityScope::global : GitIdentityScope::local;
    co_return identity;
}

QCoro::Task<QList<GitCommit>> GitService::history(SitePtr site, int limit, int skip)
{
    if (limit <= 0)
        co_return {};
    QStringList args{QStringLiteral("log"), QStringLiteral("-n"), QString::number(limit)};
    if (skip >= 1)
        args << QStringLiteral("--skip") << QString::number(skip);
    args << QStringLiteral("--pretty=format:%H%x1f%an%x1f%at%x1f%s") << QStringLiteral("--name-only");
    try {
        const auto result = co_await gitRun(site, args);
        if (result.exitCode == 0)
            co_return GitParsers::parseLog(result.stdout.text());
    } catch (const HalvikError&) {
    }
    co_return {};
}

QCoro::Task<std::optional<GitCommitDetail>> GitService::commitDetail(SitePtr site, QString sha)
{
    try {
        const QString show = QStringLiteral("show");
        const QString quiet = QStringLiteral("-s");
        const QStringList argv4{show, quiet, QStringLiteral("--format=%H%x1f%an%x1f%at%x1f%s"), sha};
        const auto header = co_await gitRun(site, argv4);
        const auto commits = GitParsers::parseLog(header.stdout.text());
        if (commits.isEmpty())
            co_return std::nullopt;
        const QStringList argv5{show, quiet, QStringLiteral("--format=%b"), sha};
        const auto body = co_await gitRun(site, argv5);
        const QStringList namesArgs{show, QStringLiteral("--name-status"), QStringLiteral("--format="),
                                    QStringLiteral("--find-renames"), sha};
        const auto names = co_await gitRun(site, namesArgs);
        co_return GitCommitDetail{commits.first(), body.stdout.text().trimmed(),
                                  GitParsers::parseNameStatus(names.stdout.text())};
    } catch (const HalvikError&) {
        co_return std::nullopt;
    }
}

QCoro::Task<GitFileDiff> GitService::diff(SitePtr site, QString path, GitDiffScope scope,
                                          std::optional<QString> sha)
{
    const QStringList sanitized = GitCommands::sanitizePaths({path});
    const QString target = sanitized.isEmpty() ? path : sanitized.first();
    if (!gitPath())
        co_return GitFileDiff::empty(target, scope, GitDiffKind::missing);

    const QString noColor = QStringLiteral("--no-color");
    const QString renames = QStringLiteral("--find-renames");
    const QString context = QStringLiteral("-U3");
    const QString dashes = QStringLiteral("--");
    QStringList args;
    bool canApply = true;
    switch (scope) {
    case GitDiffScope::included:
        args = {
            QStringLiteral("diff"), QStringLiteral("--cached"), noColor, renames, context, dashes, target};
        break;
    case GitDiffScope::remaining:
        // The index alone tells whether the file is untracked; no full status is needed.
        if (co_await isTracked(site, target)) {
            args = {QStringLiteral("diff"), noColor, renames, context, dashes, target};
        } else {
            args = {QStringLiteral("diff"),
                    QStringLiteral("--no-index"),
                    noColor,
                    context,
                    dashes,
                    QStringLiteral("/dev/null"),
                    target};
            canApply = false;
        }
        break;
    case GitDiffScope::commit:
        if (!sha)
            co_return GitFileDiff::empty(target, scope, GitDiffKind::missing);
        args = {QStringLiteral("show"),      noColor, renames, context,
                QStringLiteral("--format="), *sha,    dashes,  target};
        canApply = false;
        break;
    }
    try {
        const auto result = co_await gitRun(site, args);
        co_return GitParsers::parseUnifiedDiff(result.stdout.text(), target, scope, canApply);
    } catch (const HalvikError&) {
        co_return GitFileDiff::empty(target, scope, GitDiffKind::missing);
    }
}

QCoro::Task<GitService::Env> GitService::credentialEnvironment(SitePtr site)
{
    if (!m_credentials)
        co_return Env{};
    const auto remote = co_await currentRemote(site);
    co_return remote ? m_credentials(*remote) : Env{};
}

QCoro::Task<> GitService::fetch(SitePtr site, bool force, CancellationToken token)
{
    if (!gitPath())
        co_return;
    const bool inside = co_await isInsideWorkTree(site);
    if (!inside)
        co_return;
    const QString path = site->path();
    if (!force && m_lastFetchAt.contains(path) &&
        m_lastFetchAt.value(path).secsTo(m_clock()) < fetchThrottleSeconds)
        co_return;
    const QStringList args{QStringLiteral("fetch"), QStringLiteral("--quiet")};
    const Env auth = co_await credentialEnvironment(site);
    try {
        co_await gitRun(site, args, auth, token);
    } catch (const HalvikError&) {
        // Not started or cancelled: nothing is remembered, nothing is reported.
        co_return;
    }
    m_lastFetchAt.insert(path, m_clock());
}

} // namespace halvik
