#include "GitCli.h"

#include "CliContext.h"
#include "CliJson.h"

#include "gitcore/GitProblemTexts.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFileInfo>

namespace halvik {

using namespace gitcore;
using cli::CliError;
using cli::Json;
using cli::optionalJson;
using cli::utf8;

namespace {

const char* kUsage =
    "Usage: halvik git status <site> [--json] | log <site> [-n N] [--json] | "
    "diff <site> <path> [--scope included|remaining] | commit <site> -m MESSAGE [--all | PATH…]";

struct Target
{
    SitePtr site;
    bool registered = false;
};

// A registered site, or any folder through a site record that is never stored.
Target resolve(const SiteStore& store, const QString& reference)
{
    try {
        return {cli::resolveSite(store, reference), true};
    } catch (const CliError&) {
        const QFileInfo folder(reference);
        if (!folder.isDir())
            throw;
        const QString path = folder.canonicalFilePath();
        return {std::make_shared<Site>(QFileInfo(path).fileName(), path), false};
    }
}

QString problemKind(GitRepositoryProblem::Kind kind)
{
    return GitRepositoryProblem::toRaw(kind);
}

QCoro::Task<int> status(GitService& git, Target target, bool json)
{
    const auto snap = co_await git.snapshot(target.site, 0, 0);
    const GitStatus& st = snap.status;
    if (json) {
        Json files = Json::array();
        for (const auto& file : snap.files)
            files.push_back(Json{{"path", utf8(file.path)},
                                 {"originalPath", optionalJson(file.originalPath)},
                                 {"status", utf8(file.statusCode())},
                                 {"inclusion", utf8(toRaw(file.inclusion()))},
                                 {"kindLabel", utf8(file.kindLabel())}});
        Json object{{"isRepo", st.isRepo},
                    {"branch", optionalJson(st.branch)},
                    {"upstream", optionalJson(st.upstream)},
                    {"ahead", st.ahead},
                    {"behind", st.behind},
                    {"unborn", st.isUnborn},
                    {"detached", st.isDetached},
                    {"rebase", st.inProgressRebase},
                    {"unmerged", st.hasUnmerged},
                    {"tracksEnv", st.tracksEnv},
                    {"files", files}};
        if (st.problem) {
            const auto text = GitProblemTexts::forKind(st.problem->kind);
            object["problem"] = Json{{"kind", utf8(problemKind(st.problem->kind))},
                                     {"title", utf8(text.title)},
                                     {"details", utf8(st.problem->details)}};
        }
        cli::printJson(cli::out(), object);
        co_return 0;
    }
    if (st.problem) {
        const auto text = GitProblemTexts::forKind(st.problem->kind);
        throw CliError(text.title + QStringLiteral(": ") + st.problem->details);
    }
    if (!st.isRepo) {
        cli::out() << "Not a Git repository.\n";
        co_return 0;
    }
    QString head = st.isDetached ? QStringLiteral("HEAD detached")
                                 : QStringLiteral("On branch ") + st.branch.value_or("?");
    if (st.isUnborn)
        head += QStringLiteral(" (no commits yet)");
    if (st.upstream)
        head += QStringLiteral(", tracking %1 (ahead %2, behind %3)")
                    .arg(*st.upstream)
                    .arg(st.ahead)
                    .arg(st.behind);
    cli::out() << head << '\n';
    if (st.inProgressRebase)
        cli::out() << "A rebase is in progress.\n";
    if (st.tracksEnv)
        cli::out() << ".env is tracked by Git.\n";
    for (const auto& file : snap.files)
        cli::out() << QStringLiteral("%1  %2  %3%4\n")
                          .arg(file.statusCode(), -2)
                          .arg(toRaw(file.inclusion()), -10)
                          .arg(file.originalPath ? *file.originalPath + QStringLiteral(" -> ") : QString())
                          .arg(file.path);
    co_return 0;
}

QCoro::Task<int> log(GitService& git, Target target, int limit, bool json)
{
    const auto commits = co_await git.history(target.site, limit, 0);
    if (json) {
        Json list = Json::array();
        for (const auto& commit : commits) {
            Json files = Json::array();
            for (const QString& file : commit.files)
                files.push_back(utf8(file));
            list.push_back(Json{{"sha", utf8(commit.sha)},
                                {"author", utf8(commit.author)},
                                {"date", utf8(commit.date.toUTC().toString(Qt::ISODate))},
                                {"subject", utf8(commit.subject)},
                                {"files", files}});
        }
        cli::printJson(cli::out(), list);
        co_return 0;
    }
    for (const auto& commit : commits)
        cli::out() << commit.shortSHA() << "  " << commit.date.toUTC().toString(Qt::ISODate) << "  "
                   << commit.author << "  " << commit.subject << '\n';
    co_return 0;
}

QCoro::Task<int> diff(GitService& git, Target target, QString path, GitDiffScope scope)
{
    const auto result = co_await git.diff(target.site, path, scope);
    switch (result.kind) {
    case GitDiffKind::text:
    case GitDiffKind::binary:
    case GitDiffKind::image:
        cli::out() << result.raw;
        if (!result.raw.endsWith('\n'))
            cli::out() << '\n';
        co_return 0;
    case GitDiffKind::empty:
        co_return 0;
    case GitDiffKind::tooLarge:
        throw CliError(QStringLiteral("The diff of %1 is too large to show.").arg(path));
    case GitDiffKind::missing:
        throw CliError(GitServiceError::gitMissing().description());
    }
    co_return 0;
}

QCoro::Task<int> commit(GitService& git, Target target, QStringList rest)
{
    std::optional<QString> message;
    bool all = false;
    QStringList paths;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == QLatin1String("-m") && i + 1 < rest.size())
            message = rest[++i];
        else if (rest[i] == QLatin1String("--all"))
            all = true;
        else
            paths << rest[i];
    }
    if (!message)
        throw CliError::usage(QStringLiteral("git commit needs a message: -m MESSAGE."));
    if (all && !paths.isEmpty())
        throw CliError::usage(QStringLiteral("git commit takes --all or paths, not both."));
    const std::optional<QStringList> everything;
    if (all)
        co_await git.commit(target.site, everything, *message);
    else if (!paths.isEmpty())
        co_await git.commit(target.site, paths, *message);
    else
        co_await git.commitStaged(target.site, *message);
    const auto latest = co_await git.history(target.site, 1, 0);
    if (!latest.isEmpty())
        cli::out() << latest.first().shortSHA() << "  " << latest.first().subject << '\n';
    co_return 0;
}

} // namespace

QCoro::Task<int> runGitCommand(SiteStore& store, QStringList args)
{
    if (args.size() < 2)
        throw CliError::usage(QString::fromUtf8(kUsage));
    const QString command = args[0];
    const Target target = resolve(store, args[1]);
    QStringList rest = args.mid(2);
    const bool json = rest.removeAll(QStringLiteral("--json")) > 0;

    ProcessRunner runner;
    GitService git(runner);
    if (target.registered)
        git.setSaveHandler([&store] { store.save(); });

    if (command == QLatin1String("status"))
        co_return co_await status(git, target, json);
    if (command == QLatin1String("log")) {
        int limit = 20;
        const qsizetype n = rest.indexOf(QStringLiteral("-n"));
        if (n >= 0) {
            bool ok = false;
            limit = rest.value(n + 1).toInt(&ok);
            if (!ok || limit < 1)
                throw CliError::usage(QStringLiteral("-n needs a positive number."));
        }
        co_return co_await log(git, target, limit, json);
    }
    if (command == QLatin1String("diff")) {
        if (rest.isEmpty())
            throw CliError::usage(QStringLiteral("git diff needs a path: halvik git diff <site> <path>."));
        GitDiffScope scope = GitDiffScope::remaining;
        const qsizetype at = rest.indexOf(QStringLiteral("--scope"));
        if (at >= 0) {
            const auto parsed = gitcore::fromRaw<GitDiffScope>(rest.value(at + 1));
            if (!parsed || *parsed == GitDiffScope::commit)
                throw CliError::usage(QStringLiteral("--scope is included or remaining."));
            scope = *parsed;
            rest.remove(at, 2);
        }
        const QString path = rest.first();
        co_return co_await diff(git, target, path, scope);
    }
    if (command == QLatin1String("commit"))
        co_return co_await commit(git, target, rest);
    throw CliError::usage(QString::fromUtf8(kUsage));
}

} // namespace halvik
