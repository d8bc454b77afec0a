#include "GitService.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"
#include "gitcore/GitRemoteURL.h"
#include "services/LoggedOperation.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QTimeZone>
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
    req.removedEnvironment = GitCommands::removedEnvironment();
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
        req.environment.insert(it.key(), it.value());
    return req;
}

ProcessRequest GitService::readRequest(const SitePtr& site, const QString& git, const QStringList& args,
                                       const Env& extraEnvironment) const
{
    Env environment = GitCommands::readEnvironment();
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
        environment.insert(it.key(), it.value());
    return request(site, git, GitCommands::readArguments(args), environment);
}

QCoro::Task<ProcessResult> GitService::gitRun(SitePtr site, QStringList args, Env extraEnvironment,
                                              CancellationToken token)
{
    const QString git = requireGit();
    co_return co_await m_runner.run(readRequest(site, git, args, extraEnvironment), {}, token);
}

QCoro::Task<ProcessResult> GitService::gitRunLogged(SitePtr site, QStringList args, bool allowFailure,
                                                    std::optional<QByteArray> stdin, Env extraEnvironment,
                                                    CancellationToken token)
{
    const QString git = requireGit();
    LoggedOperationRequest logged;
    logged.process = request(site, git, args, extraEnvironment);
    logged.process.stdin = std::move(stdin);
    logged.command = QStringLiteral("git ") + args.join(QLatin1Char(' '));
    logged.kind = OperationKind::git;
    logged.token = token;
    auto outcome = co_await runLoggedOperation(m_runner, site, std::move(logged), m_save);

    if (outcome.result.exitCode != 0 && !allowFailure) {
        const QString& combined = outcome.redactedOutput;
        throw GitServiceError::failed(
            combined.isEmpty() ? QStringLiteral("git exited %1").arg(outcome.result.exitCode) : combined);
    }
    co_return outcome.result;
}

QCoro::Task<> GitService::mutate(SitePtr site, std::function<QCoro::Task<>()> body, CancellationToken token)
{
    const QString path = site->path();
    if (m_locks.isHeld(path))
        token.onCancelled(this, [this, path] { m_locks.wakeWaiters(path); });
    while (m_locks.isHeld(path)) {
        if (token.isCancelled())
            throw CancelledError();
        co_await m_locks.waitForRelease(path);
    }
    if (token.isCancelled())
        throw CancelledError();
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
    // The tracked files' state and the walk for untracked ones are two independent halves of
    // a status that take about as long as each other in a large tree: they run side by side.
    const Env noExtra;
    const QStringList trackedArgs = GitCommands::statusTrackedPorcelainV2();
    const QStringList untrackedArgs = GitCommands::untrackedFiles();
    const QStringList wholeArgs = GitCommands::statusPorcelainV2();
    auto readingTracked = gitRun(site, trackedArgs, noExtra);
    auto readingUntracked = gitRun(site, untrackedArgs, noExtra);
    ProcessResult result;
    std::optional<ProcessResult> untracked;
    std::optional<QString> failure;
    try {
        result = co_await readingTracked;
    } catch (const HalvikError& error) {
        failure = error.description();
    }
    try {
        untracked = co_await readingUntracked;
    } catch (const HalvikError&) {
    }
    if (failure)
        co_return GitRepositoryInspection::unavailable(GitRepositoryProblem(*failure));
    if (result.exitCode == 0 && (!untracked || untracked->exitCode != 0)) {
        // The walk failed where the status did not: one whole status instead.
        untracked.reset();
        try {
            result = co_await gitRun(site, wholeArgs, noExtra);
        } catch (const HalvikError& error) {
            co_return GitRepositoryInspection::unavailable(GitRepositoryProblem(error.description()));
        }
    }
    // A large status takes tens of milliseconds to decode and sort: not on the main thread.
    const bool hasGitMetadata = isRepository(site->path());
    QFuture<GitRepositoryInspection> inspecting = QtConcurrent::run([result, untracked, hasGitMetadata] {
        if (result.exitCode != 0 || !untracked)
            return GitRepositoryInspection::result(result.exitCode, result.stdout.text(),
                                                   result.stderr.text(), hasGitMetadata);
        // The untracked files as the status's own "? path" records, put first so that a
        // tracked record for the same path (a file added meanwhile) wins.
        const QString& names = untracked->stdout.text();
        QString text;
        text.reserve(names.size() + names.count(QChar(u'\0')) * 2 + result.stdout.text().size());
        for (QStringView name : QStringView(names).tokenize(QChar(u'\0'), Qt::SkipEmptyParts)) {
            text += QStringLiteral("? ");
            text += name;
            text += QChar(u'\0');
        }
        text += result.stdout.text();
        return GitRepositoryInspection::result(0, text, result.stderr.text(), hasGitMetadata);
    });
    co_return co_await inspecting;
}

QCoro::Task<GitRepositorySnapshot> GitService::snapshot(SitePtr site, int historyLimit, int historySkip)
{
    // The reads are independent of each other and of the status: they all start now and run
    // side by side (each task runs up to its first wait when created). Outside a repository
    // their results are simply dropped; they never throw.
    auto inspecting = inspectRepository(site);
    auto remote = currentRemote(site);
    auto rebase = rebaseInProgress(site);
    auto revert = revertInProgress(site);
    const QString envFile = QStringLiteral(".env");
    auto envTracked = isTracked(site, envFile);
    auto branches = listBranches(site);
    auto stashes = listStashes(site);
    auto who = identity(site);
    auto commits = history(site, historyLimit, historySkip);
    // Every read is awaited before anything returns: none may outlive this call (and the service).
    const auto inspection = co_await inspecting;
    std::optional<QString> remoteURL = co_await remote;
    const bool rebasing = co_await rebase;
    const bool reverting = co_await revert;
    const bool tracksEnv = co_await envTracked;
    QList<GitBranch> branchList = co_await branches;
    QList<GitStash> stashList = co_await stashes;
    GitIdentity identityRead = co_await who;
    QList<GitCommit> commitList = co_await commits;
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
    snap.status.remoteURL = std::move(remoteURL);
    snap.status.dirtyCount = int(parsed.files.size());
    snap.status.ahead = parsed.ahead;
    snap.status.behind = parsed.behind;
    snap.status.inProgressRebase = rebasing;
    snap.status.inProgressRevert = reverting;
    snap.status.tracksEnv = tracksEnv;
    snap.status.isUnborn = parsed.isUnborn;
    snap.status.isDetached = parsed.isDetached;
    snap.status.upstream = parsed.upstream;
    snap.status.hasUnmerged = parsed.hasUnmerged();
    snap.files = parsed.files;
    snap.branches = std::move(branchList);
    snap.stashes = std::move(stashList);
    snap.identity = std::move(identityRead);
    snap.commits = std::move(commitList);
    co_return snap;
}

QCoro::Task<bool> GitService::revertInProgress(SitePtr site)
{
    try {
        const QStringList args{QStringLiteral("rev-parse"), QStringLiteral("--git-path"),
                               QStringLiteral("REVERT_HEAD")};
        const auto result = co_await gitRun(site, args);
        const QString printed = result.stdout.text().trimmed();
        if (result.exitCode != 0 || printed.isEmpty())
            co_return false;
        co_return QFileInfo::exists(QDir::isAbsolutePath(printed) ? printed
                                                                  : QDir(site->path()).filePath(printed));
    } catch (const HalvikError&) {
        co_return false;
    }
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

QCoro::Task<bool> GitService::allIgnored(SitePtr site, QStringList paths)
{
    if (paths.isEmpty())
        co_return false;
    QStringList asked;
    QByteArray input;
    for (const QString& path : paths) {
        // Every fetch rewrites this; the refs it moves are reported on their own.
        if (path == QLatin1String(".git/FETCH_HEAD"))
            continue;
        if (path.isEmpty() || path == QLatin1String(".") || path == QLatin1String(".git") ||
            path.startsWith(QLatin1String(".git/")) || path.startsWith(QLatin1String("../")))
            co_return false;
        asked.append(path);
        input += path.toUtf8();
        input += '\0';
    }
    if (asked.isEmpty())
        co_return true;
    try {
        const QStringList args{QStringLiteral("check-ignore"), QStringLiteral("--stdin"),
                               QStringLiteral("-z")};
        // check-ignore reads plain paths and refuses the literal-pathspec setting.
        Env plainPaths;
        plainPaths.insert(QStringLiteral("GIT_LITERAL_PATHSPECS"), QStringLiteral("0"));
        ProcessRequest req = readRequest(site, requireGit(), args, plainPaths);
        req.stdin = input;
        const auto result = co_await m_runner.run(std::move(req));
        if (result.exitCode != 0)
            co_return false;
        const QStringList printed = result.stdout.text().split(QLatin1Char('\0'), Qt::SkipEmptyParts);
        const QSet<QString> ignored(printed.cbegin(), printed.cend());
        for (const QString& path : std::as_const(asked)) {
            if (!ignored.contains(path))
                co_return false;
        }
        co_return true;
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
    // Four independent reads, side by side.
    auto readingLocalName = read(localNameArgs);
    auto readingLocalEmail = read(localEmailArgs);
    auto readingName = read(nameArgs);
    auto readingEmail = read(emailArgs);
    const QString localName = co_await readingLocalName;
    const QString localEmail = co_await readingLocalEmail;
    const QString name = co_await readingName;
    const QString email = co_await readingEmail;
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

QCoro::Task<int> GitService::streamHistory(SitePtr site, int limit,
                                           std::function<void(const GitCommit&)> onCommit)
{
    const QString git = requireGit();
    const QStringList args{QStringLiteral("log"), QStringLiteral("-n"), QString::number(std::max(limit, 0)),
                           QStringLiteral("--pretty=format:%H%x1f%an%x1f%at%x1f%s"),
                           QStringLiteral("--name-only")};
    ProcessRequest req = readRequest(site, git, args, {});
    // Git's output is read in pieces on the runner's thread and taken apart there, line by
    // line, straight from its bytes: a long history is megabytes that nobody needs whole.
    struct Reader
    {
        QByteArray pending;
        std::optional<GitCommit> current;
        std::function<void(const GitCommit&)> emit;

        void line(QByteArrayView text)
        {
            // A header line starts with the full commit id (40 or 64 hex digits) and a
            // separator; file names need no search for one.
            qsizetype first = -1;
            if (text.size() > 40 && text.at(40) == '\x1f')
                first = 40;
            else if (text.size() > 64 && text.at(64) == '\x1f')
                first = 64;
            if (first < 0) {
                if (current && !text.isEmpty())
                    current->files.append(text.startsWith('"')
                                              ? GitParsers::unquotePath(QString::fromUtf8(text))
                                              : QString::fromUtf8(text));
                return;
            }
            if (current)
                emit(*current);
            current.reset();
            const qsizetype second = text.indexOf('\x1f', first + 1);
            const qsizetype third = second < 0 ? -1 : text.indexOf('\x1f', second + 1);
            if (third < 0)
                return;
            GitCommit commit;
            commit.sha = QString::fromLatin1(text.first(first));
            commit.author = QString::fromUtf8(text.sliced(first + 1, second - first - 1));
            commit.date = QDateTime::fromSecsSinceEpoch(
                text.sliced(second + 1, third - second - 1).toLongLong(), QTimeZone::utc());
            commit.subject = QString::fromUtf8(text.sliced(third + 1));
            current = std::move(commit);
        }

        void feed(const QByteArray& piece)
        {
            pending += piece;
            qsizetype start = 0;
            for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1)
                line(QByteArrayView(pending).sliced(start, end - start));
            pending.remove(0, start);
        }

        void finish()
        {
            if (!pending.isEmpty())
                line(pending);
            pending.clear();
            if (current)
                emit(*current);
            current.reset();
        }
    };
    auto reader = std::make_shared<Reader>();
    reader->emit = std::move(onCommit);
    req.stdoutPieces = [reader](const QByteArray& piece) { reader->feed(piece); };
    const auto result = co_await m_runner.run(std::move(req));
    reader->finish();
    co_return result.exitCode;
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
        const QStringList namesArgs =
            QStringList{show, QStringLiteral("--name-status")} + GitCommands::diffOptions() +
            QStringList{QStringLiteral("--format="), QStringLiteral("--find-renames"), sha};
        const auto names = co_await gitRun(site, namesArgs);
        co_return GitCommitDetail{commits.first(), body.stdout.text().trimmed(),
                                  GitParsers::parseNameStatus(names.stdout.text())};
    } catch (const HalvikError&) {
        co_return std::nullopt;
    }
}

QCoro::Task<GitFileDiff> GitService::diff(SitePtr site, QString path, GitDiffScope scope,
                                          std::optional<QString> sha, std::optional<QString> originalPath)
{
    const QStringList sanitized = GitCommands::sanitizePaths({path});
    const QString target = sanitized.isEmpty() ? path : sanitized.first();
    if (!gitPath())
        co_return GitFileDiff::empty(target, scope, GitDiffKind::missing);

    // Both names of a rename, or Git sees only a new file.
    QStringList paths{target};
    const QStringList source = GitCommands::sanitizePaths({originalPath.value_or(QString())});
    if (!source.isEmpty() && source.first() != target)
        paths += source;
    const QStringList options =
        GitCommands::diffOptions() + QStringList{QStringLiteral("--find-renames"), QStringLiteral("-U3")};
    const QString dashes = QStringLiteral("--");
    QStringList args;
    bool canApply = true;
    switch (scope) {
    case GitDiffScope::included:
        args = QStringList{QStringLiteral("diff"), QStringLiteral("--cached")} + options +
               QStringList{dashes} + paths;
        break;
    case GitDiffScope::remaining:
        // The index alone tells whether the file is untracked; no full status is needed.
        if (co_await isTracked(site, target)) {
            args = QStringList{QStringLiteral("diff")} + options + QStringList{dashes} + paths;
        } else {
            args = QStringList{QStringLiteral("diff"), QStringLiteral("--no-index")} +
                   GitCommands::diffOptions() +
                   QStringList{QStringLiteral("-U3"), dashes, QStringLiteral("/dev/null"), target};
            canApply = false;
        }
        break;
    case GitDiffScope::commit:
        if (!sha)
            co_return GitFileDiff::empty(target, scope, GitDiffKind::missing);
        args = QStringList{QStringLiteral("show")} + options +
               QStringList{QStringLiteral("--format="), *sha, dashes} + paths;
        canApply = false;
        break;
    }
    try {
        const auto result = co_await gitRun(site, args);
        // A file that is not UTF-8 is read one byte per character, so that a hunk's patch can
        // be written back byte for byte.
        const QByteArray bytes = result.stdout.bytes();
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        QString text = utf8(bytes);
        const bool latin1 = utf8.hasError();
        if (latin1)
            text = QString::fromLatin1(bytes);
        GitFileDiff parsed = GitParsers::parseUnifiedDiff(text, target, scope, canApply);
        parsed.isLatin1 = latin1;
        co_return parsed;
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

QCoro::Task<QByteArray> GitService::storedFile(SitePtr site, QString spec)
{
    if (!gitPath())
        co_return QByteArray();
    // cat-file: the stored bytes themselves, without the text conversions `show` may apply.
    const QStringList args{QStringLiteral("cat-file"), QStringLiteral("blob"), spec};
    const ProcessResult result = co_await gitRun(site, args);
    co_return result.exitCode == 0 ? result.stdout.bytes() : QByteArray();
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
    // A fetch writes refs: it takes its turn with the other writes of the repository.
    const Env auth = co_await credentialEnvironment(site);
    bool fetched = false;
    const std::function<QCoro::Task<>()> body = [this, site, token, auth, &fetched]() -> QCoro::Task<> {
        const QStringList args{QStringLiteral("fetch"), QStringLiteral("--quiet")};
        try {
            co_await gitRun(site, args, auth, token);
            fetched = true;
        } catch (const HalvikError&) {
            // Not started or cancelled: nothing is remembered, nothing is reported.
        }
    };
    try {
        co_await mutate(site, body, token);
    } catch (const CancelledError&) {
        co_return; // given up while another write held the repository
    }
    if (fetched)
        m_lastFetchAt.insert(path, m_clock());
}

} // namespace halvik
