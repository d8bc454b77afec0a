#include "GitCli.h"

#include "CliContext.h"

#include "async/WaitFor.h"
#include "gitcore/GitProblemTexts.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace halvik {

using namespace gitcore;
using cli::CliError;

namespace {

const char* kUsage = "Usage: halvik git status <site> [--json] | log <site> [-n N] [--json] | "
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

QJsonValue optionalString(const std::optional<QString>& value) { return value ? QJsonValue(*value) : QJsonValue(); }

QString problemKind(GitRepositoryProblem::Kind kind) { return GitRepositoryProblem::toRaw(kind); }

void printJson(const QJsonValue& value)
{
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    cli::out() << QString::fromUtf8(text);
}

int status(GitService& git, const Target& target, bool json)
{
    const auto snap = halvik::waitFor(git.snapshot(target.site, 0, 0));
    const GitStatus& st = snap.status;
    if (json) {
        QJsonArray files;
        for (const auto& file : snap.files)
            files.append(QJsonObject{{"path", file.path},
                                     {"originalPath", optionalString(file.originalPath)},
                                     {"status", file.statusCode()},
                                     {"inclusion", toRaw(file.inclusion())},
                                     {"kindLabel", file.kindLabel()}});
        QJsonObject object{{"isRepo", st.isRepo},          {"branch", optionalString(st.branch)},
                           {"upstream", optionalString(st.upstream)}, {"ahead", st.ahead},
                           {"behind", st.behind},          {"unborn", st.isUnborn},
                           {"detached", st.isDetached},    {"rebase", st.inProgressRebase},
                           {"unmerged", st.hasUnmerged},   {"tracksEnv", st.tracksEnv},
                           {"files", files}};
        if (st.problem) {
            const auto text = GitProblemTexts::forKind(st.problem->kind);
            object.insert("problem", QJsonObject{{"kind", problemKind(st.problem->kind)},
                                                 {"title", text.title},
                                                 {"details", st.problem->details}});
        }
        printJson(object);
        return 0;
    }
    if (st.problem) {
        const auto text = GitProblemTexts::forKind(st.problem->kind);
        throw CliError(text.title + QStringLiteral(": ") + st.problem->details);
    }
    if (!st.isRepo) {
        cli::out() << "Not a Git repository.\n";
        return 0;
    }
    QString head = st.isDetached ? QStringLiteral("HEAD detached") : QStringLiteral("On branch ") + st.branch.value_or("?");
    if (st.isUnborn)
        head += QStringLiteral(" (no commits yet)");
    if (st.upstream)
        head += QStringLiteral(", tracking %1 (ahead %2, behind %3)").arg(*st.upstream).arg(st.ahead).arg(st.behind);
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
    return 0;
}

int log(GitService& git, const Target& target, int limit, bool json)
{
    const auto commits = halvik::waitFor(git.history(target.site, limit, 0));
    if (json) {
        QJsonArray list;
        for (const auto& commit : commits)
            list.append(QJsonObject{{"sha", commit.sha},
                                    {"author", commit.author},
                                    {"date", commit.date.toUTC().toString(Qt::ISODate)},
                                    {"subject", commit.subject},
                                    {"files", QJsonArray::fromStringList(commit.files)}});
        printJson(list);
        return 0;
    }
    for (const auto& commit : commits)
        cli::out() << commit.shortSHA() << "  " << commit.date.toUTC().toString(Qt::ISODate) << "  " << commit.author
                   << "  " << commit.subject << '\n';
    return 0;
}

int diff(GitService& git, const Target& target, const QString& path, GitDiffScope scope)
{
    const auto result = halvik::waitFor(git.diff(target.site, path, scope));
    switch (result.kind) {
    case GitDiffKind::text:
    case GitDiffKind::binary:
    case GitDiffKind::image:
        cli::out() << result.raw;
        if (!result.raw.endsWith('\n'))
            cli::out() << '\n';
        return 0;
    case GitDiffKind::empty:
        return 0;
    case GitDiffKind::tooLarge:
        throw CliError(QStringLiteral("The diff of %1 is too large to show.").arg(path));
    case GitDiffKind::missing:
        throw CliError(GitServiceError::gitMissing().description());
    }
    return 0;
}

int commit(GitService& git, const Target& target, const QStringList& rest)
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
    if (!message || (all && !paths.isEmpty()))
        throw CliError(QString::fromUtf8(kUsage));
    if (all)
        halvik::waitFor(git.commit(target.site, std::nullopt, *message));
    else if (!paths.isEmpty())
        halvik::waitFor(git.commit(target.site, paths, *message));
    else
        halvik::waitFor(git.commitStaged(target.site, *message));
    const auto latest = halvik::waitFor(git.history(target.site, 1, 0));
    if (!latest.isEmpty())
        cli::out() << latest.first().shortSHA() << "  " << latest.first().subject << '\n';
    return 0;
}

int run(SiteStore& store, const QStringList& args)
{
    if (args.size() < 2)
        throw CliError(QString::fromUtf8(kUsage));
    const QString command = args[0];
    const Target target = resolve(store, args[1]);
    QStringList rest = args.mid(2);
    const bool json = rest.removeAll(QStringLiteral("--json")) > 0;

    ProcessRunner runner;
    GitService git(runner);
    if (target.registered)
        git.setSaveHandler([&store] { store.save(); });

    if (command == QLatin1String("status"))
        return status(git, target, json);
    if (command == QLatin1String("log")) {
        int limit = 20;
        const qsizetype n = rest.indexOf(QStringLiteral("-n"));
        if (n >= 0) {
            bool ok = false;
            limit = rest.value(n + 1).toInt(&ok);
            if (!ok || limit < 1)
                throw CliError(QStringLiteral("-n needs a positive number."));
        }
        return log(git, target, limit, json);
    }
    if (command == QLatin1String("diff")) {
        if (rest.isEmpty())
            throw CliError(QString::fromUtf8(kUsage));
        GitDiffScope scope = GitDiffScope::remaining;
        const qsizetype at = rest.indexOf(QStringLiteral("--scope"));
        if (at >= 0) {
            const auto parsed = gitcore::fromRaw<GitDiffScope>(rest.value(at + 1));
            if (!parsed || *parsed == GitDiffScope::commit)
                throw CliError(QStringLiteral("--scope is included or remaining."));
            scope = *parsed;
            rest.remove(at, 2);
        }
        return diff(git, target, rest.first(), scope);
    }
    if (command == QLatin1String("commit"))
        return commit(git, target, rest);
    throw CliError(QString::fromUtf8(kUsage));
}

} // namespace

int runGitCommand(SiteStore& store, const QStringList& args)
{
    try {
        const int code = run(store, args);
        cli::out().flush();
        return code;
    } catch (const HalvikError& error) {
        cli::out().flush();
        std::fprintf(stderr, "%s\n", error.description().simplified().toUtf8().constData());
        return 1;
    }
}

} // namespace halvik
