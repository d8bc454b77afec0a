#include "GitCli.h"

#include "AccountsCli.h"
#include "CliContext.h"
#include "CliJson.h"
#include "GitLinesCli.h"

#include "gitcore/GitFailureText.h"
#include "gitcore/GitProblemTexts.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <ctime>
#include <string>

namespace halvik {

using namespace gitcore;
using cli::CliError;
using cli::Json;
using cli::optionalJson;
using cli::utf8;

namespace {

const char* kUsage =
    "Usage: halvik git status <site> [--json] | log <site> [-n N] [--json] | "
    "diff <site> <path> [--scope included|remaining] | commit <site> -m MESSAGE [--all | PATH…] | "
    "include|exclude <site> PATH… | lines <site> <path> include|exclude|discard +N,-N… [--yes] | discard "
    "<site> PATH… --yes | branch <site> [--json] | "
    "switch <site> BRANCH [--create] [--set-aside] | stash <site> [list|push|apply N|drop N --yes] [--json] "
    "| "
    "fetch|pull|push|init <site> | identity <site> [--name N --email E [--global]] | undo <site> --yes";

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

void write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

// A JSON string of `text`, appended to `out` (UTF-8, with the escapes JSON requires).
void appendJsonString(std::string& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    out += '"';
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype plain = 0; // start of the run of bytes that need no escape
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(data + plain, std::size_t(i - plain));
        plain = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.append(escaped, sizeof escaped);
        }
        }
    }
    out.append(data + plain, std::size_t(size - plain));
    out += '"';
}

void appendDigits(std::string& out, int value, int width)
{
    char digits[12];
    int at = int(sizeof digits);
    do {
        digits[--at] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 || int(sizeof digits) - at < width);
    out.append(digits + at, std::size_t(int(sizeof digits) - at));
}

// "2020-09-13T12:26:40Z", as Qt::ISODate writes a UTC time, without a time zone lookup.
void appendIsoDate(std::string& out, const QDateTime& date)
{
    const std::time_t seconds = std::time_t(date.toSecsSinceEpoch());
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    appendDigits(out, parts.tm_year + 1900, 4);
    out += '-';
    appendDigits(out, parts.tm_mon + 1, 2);
    out += '-';
    appendDigits(out, parts.tm_mday, 2);
    out += 'T';
    appendDigits(out, parts.tm_hour, 2);
    out += ':';
    appendDigits(out, parts.tm_min, 2);
    out += ':';
    appendDigits(out, parts.tm_sec, 2);
    out += 'Z';
}

// Printed while Git is still writing: each commit leaves as soon as its file list is complete.
// A long history is tens of thousands of commits, so the JSON is written by hand here rather
// than built as a document first.
QCoro::Task<int> log(GitService& git, Target target, int limit, bool json)
{
    cli::out().flush();
    bool first = true;
    std::string text;
    const std::function<void(const GitCommit&)> print = [json, &first, &text](const GitCommit& commit) {
        text.clear();
        if (!json) {
            text += commit.shortSHA().toStdString();
            text += "  ";
            appendIsoDate(text, commit.date);
            text += "  ";
            text += commit.author.toStdString();
            text += "  ";
            text += commit.subject.toStdString();
            text += '\n';
        } else {
            text += first ? "[\n  {\"sha\":" : ",\n  {\"sha\":";
            appendJsonString(text, commit.sha);
            text += ",\"author\":";
            appendJsonString(text, commit.author);
            text += ",\"date\":\"";
            appendIsoDate(text, commit.date);
            text += "\",\"subject\":";
            appendJsonString(text, commit.subject);
            text += ",\"files\":[";
            for (qsizetype i = 0; i < commit.files.size(); ++i) {
                if (i > 0)
                    text += ',';
                appendJsonString(text, commit.files.at(i));
            }
            text += "]}";
        }
        first = false;
        std::fwrite(text.data(), 1, text.size(), stdout);
    };
    const int exitCode = co_await git.streamHistory(target.site, limit, print);
    if (json)
        write(first ? "[]\n" : "\n]\n");
    std::fflush(stdout);
    if (exitCode != 0 && first)
        throw CliError(QStringLiteral("Git could not read the history of this folder."));
    co_return 0;
}

QCoro::Task<int> diff(GitService& git, Target target, QString path, GitDiffScope scope)
{
    // The changed file named, by either of its names; a path Git knows nothing about is an error,
    // one without changes prints nothing.
    const auto snap = co_await git.snapshot(target.site, 0, 0);
    if (!snap.status.isRepo)
        throw CliError(QStringLiteral("Not a Git repository."));
    const QString named = QDir::cleanPath(path);
    std::optional<GitChangedFile> changed;
    for (const auto& file : snap.files)
        if (file.path == named || file.originalPath == named)
            changed = file;
    if (!changed && !QFileInfo::exists(QDir(target.site->path()).filePath(named))) {
        const bool tracked = co_await git.isTracked(target.site, named);
        if (!tracked)
            throw CliError(QStringLiteral("No changed file matches %1.").arg(path));
    }
    const QString shown = changed ? changed->path : named;
    std::optional<QString> source;
    if (changed && changed->isRenamed)
        source = changed->originalPath;
    const std::optional<QString> noCommit;
    const auto result = co_await git.diff(target.site, shown, scope, noCommit, source);
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

// The changed files a command line names: a file by its path (either side of a rename), or
// every changed file below a folder.
QList<GitChangedFile> chosenFiles(const QList<GitChangedFile>& changed, const QStringList& paths)
{
    QList<GitChangedFile> chosen;
    for (const auto& file : changed) {
        for (const QString& raw : paths) {
            const QString path = QDir::cleanPath(raw);
            const QString folder = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
            const bool named = file.path == path || file.originalPath == path ||
                               file.path.startsWith(folder) || path == QLatin1String(".");
            if (named) {
                chosen.append(file);
                break;
            }
        }
    }
    if (chosen.isEmpty())
        throw CliError(QStringLiteral("No changed file matches %1.").arg(paths.join(QStringLiteral(", "))));
    return chosen;
}

QStringList gitPaths(const QList<GitChangedFile>& files, bool include)
{
    QStringList paths;
    for (const auto& file : files) {
        paths.append(file.path);
        const QChar side = include ? file.worktreeStatus : file.indexStatus;
        if (file.originalPath && !file.isCopied && side == QLatin1Char('R'))
            paths.append(*file.originalPath);
    }
    return paths;
}

QString finished(const QString& verb, qsizetype count)
{
    return (count == 1 ? verb : verb + QStringLiteral(" %1 files").arg(count)) + QStringLiteral(" finished");
}

void requireYes(bool yes, const QString& what)
{
    if (!yes)
        throw CliError(what + QStringLiteral(" can\u2019t be undone: add --yes to go ahead."));
}

QCoro::Task<int> staging(GitService& git, Target target, QStringList paths, bool include)
{
    if (paths.isEmpty())
        throw CliError::usage(QStringLiteral("Name at least one path."));
    const auto snap = co_await git.snapshot(target.site, 0, 0);
    if (!snap.status.isRepo)
        throw CliError(QStringLiteral("Not a Git repository."));
    QList<GitChangedFile> chosen;
    for (const auto& file : chosenFiles(snap.files, paths)) {
        if (include || file.isIncluded() || file.inclusion() == GitFileInclusion::mixed)
            chosen.append(file);
    }
    if (chosen.isEmpty())
        throw CliError(QStringLiteral("Nothing there is included."));
    const QStringList given = gitPaths(chosen, include);
    if (include)
        co_await git.stage(target.site, given);
    else
        co_await git.unstage(target.site, given);
    cli::out() << finished(include ? QStringLiteral("Include") : QStringLiteral("Exclude"), chosen.size())
               << '\n';
    co_return 0;
}

QCoro::Task<int> discard(GitService& git, Target target, QStringList paths, bool yes)
{
    if (paths.isEmpty())
        throw CliError::usage(QStringLiteral("Name at least one path."));
    requireYes(yes, QStringLiteral("Discarding changes"));
    const auto snap = co_await git.snapshot(target.site, 0, 0);
    const auto chosen = chosenFiles(snap.files, paths);
    co_await git.discard(target.site, chosen);
    cli::out() << finished(QStringLiteral("Discard"), chosen.size()) << '\n';
    co_return 0;
}

QCoro::Task<int> branches(GitService& git, Target target, bool json)
{
    const auto list = co_await git.listBranches(target.site);
    if (json) {
        Json array = Json::array();
        for (const auto& branch : list)
            array.push_back(Json{{"name", utf8(branch.name)},
                                 {"remote", branch.isRemote},
                                 {"current", branch.isCurrent},
                                 {"upstream", optionalJson(branch.upstream)}});
        cli::printJson(cli::out(), array);
        co_return 0;
    }
    for (const auto& branch : list)
        cli::out() << (branch.isCurrent ? "* " : "  ") << branch.name << '\n';
    co_return 0;
}

QCoro::Task<int> switchBranch(GitService& git, Target target, QStringList rest)
{
    const bool create = rest.removeAll(QStringLiteral("--create")) > 0;
    const bool setAside = rest.removeAll(QStringLiteral("--set-aside")) > 0;
    if (rest.size() != 1)
        throw CliError::usage(QStringLiteral("git switch needs one branch name."));
    const QString name = rest.first();
    if (create) {
        co_await git.createBranch(target.site, name);
        cli::out() << "New branch finished\n";
        co_return 0;
    }
    const auto list = co_await git.listBranches(target.site);
    std::optional<GitBranch> remote;
    for (const auto& branch : list)
        if (branch.isRemote && branch.name == name)
            remote = branch;
    const auto attempt = [&git, &target, remote, name]() -> QCoro::Task<> {
        if (remote)
            co_await git.createTrackingBranch(target.site, remote->shortName(), remote->name);
        else
            co_await git.checkout(target.site, name);
    };
    try {
        co_await attempt();
    } catch (const GitServiceError& error) {
        if (error.kind() != GitServiceError::Case::dirtyWorktree || !setAside)
            throw;
    }
    if (setAside) {
        const auto now = co_await git.listBranches(target.site);
        bool switched = false;
        for (const auto& branch : now)
            switched = switched || (branch.isCurrent &&
                                    (branch.name == name || (remote && branch.name == remote->shortName())));
        if (!switched) {
            const std::optional<QString> message = QStringLiteral("Set aside before switching to ") + name;
            co_await git.stashPush(target.site, message);
            co_await attempt();
            cli::out() << "Set aside and switch finished\n";
            co_return 0;
        }
    }
    cli::out() << "Switch branch finished\n";
    co_return 0;
}

QCoro::Task<int> stash(GitService& git, Target target, QStringList rest, bool json)
{
    const bool yes = rest.removeAll(QStringLiteral("--yes")) > 0;
    const QString action = rest.value(0, QStringLiteral("list"));
    const auto refOf = [&rest]() {
        bool ok = false;
        const int index = rest.value(1).toInt(&ok);
        if (!ok || index < 0)
            throw CliError::usage(
                QStringLiteral("Name the set-aside changes by their number (0 is the newest)."));
        return QStringLiteral("stash@{%1}").arg(index);
    };
    if (action == QLatin1String("list")) {
        const auto list = co_await git.listStashes(target.site);
        if (json) {
            Json array = Json::array();
            for (qsizetype i = 0; i < list.size(); ++i)
                array.push_back(Json{{"index", i},
                                     {"ref", utf8(list[i].ref)},
                                     {"message", utf8(list[i].message)},
                                     {"date", utf8(list[i].date.toUTC().toString(Qt::ISODate))}});
            cli::printJson(cli::out(), array);
        } else {
            for (qsizetype i = 0; i < list.size(); ++i)
                cli::out() << i << "  " << list[i].message << '\n';
        }
        co_return 0;
    }
    if (action == QLatin1String("push")) {
        const std::optional<QString> noMessage;
        co_await git.stashPush(target.site, noMessage);
        cli::out() << "Set aside finished\n";
        co_return 0;
    }
    if (action == QLatin1String("apply")) {
        const QString ref = refOf();
        const auto applied = co_await git.stashApply(target.site, ref, true);
        cli::out()
            << (applied == GitService::StashApplied::asSaved
                    ? "Restore finished\n"
                    : "Restore finished. The included part could not be brought back on its own, so every "
                      "change is back as remaining.\n");
        co_return 0;
    }
    if (action == QLatin1String("drop")) {
        const QString ref = refOf();
        requireYes(yes, QStringLiteral("Dropping set-aside changes"));
        co_await git.stashDrop(target.site, ref);
        cli::out() << "Drop set-aside finished\n";
        co_return 0;
    }
    throw CliError::usage(QStringLiteral("git stash takes list, push, apply N or drop N --yes."));
}

QCoro::Task<int> identity(GitService& git, Target target, QStringList rest, bool json)
{
    const bool global = rest.removeAll(QStringLiteral("--global")) > 0;
    const qsizetype nameAt = rest.indexOf(QStringLiteral("--name"));
    const qsizetype emailAt = rest.indexOf(QStringLiteral("--email"));
    if (nameAt >= 0 || emailAt >= 0) {
        const QString name = rest.value(nameAt + 1).trimmed();
        const QString email = rest.value(emailAt + 1).trimmed();
        if (nameAt < 0 || emailAt < 0 || name.isEmpty() || email.isEmpty())
            throw CliError::usage(QStringLiteral("git identity needs both --name and --email."));
        co_await git.setIdentity(target.site, name, email, global);
        cli::out() << "Save name finished\n";
        co_return 0;
    }
    const auto who = co_await git.identity(target.site);
    if (json) {
        cli::printJson(cli::out(), Json{{"name", utf8(who.name)},
                                        {"email", utf8(who.email)},
                                        {"scope", utf8(toRaw(who.scope))},
                                        {"complete", who.isComplete()}});
        co_return 0;
    }
    if (!who.isComplete())
        throw CliError(GitServiceError::identityMissing().description());
    cli::out() << who.name << " <" << who.email << ">\n";
    co_return 0;
}

} // namespace

namespace {

QCoro::Task<int> dispatch(GitService& git, QString command, Target target, QStringList rest, bool json)
{
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
    if (command == QLatin1String("lines"))
        co_return co_await runGitLines(git, target.site, rest);
    const bool yes = rest.contains(QStringLiteral("--yes"));
    if (command == QLatin1String("include") || command == QLatin1String("exclude"))
        co_return co_await staging(git, target, rest, command == QLatin1String("include"));
    if (command == QLatin1String("discard")) {
        rest.removeAll(QStringLiteral("--yes"));
        co_return co_await discard(git, target, rest, yes);
    }
    if (command == QLatin1String("branch"))
        co_return co_await branches(git, target, json);
    if (command == QLatin1String("switch"))
        co_return co_await switchBranch(git, target, rest);
    if (command == QLatin1String("stash"))
        co_return co_await stash(git, target, rest, json);
    if (command == QLatin1String("identity"))
        co_return co_await identity(git, target, rest, json);
    if (command == QLatin1String("fetch")) {
        // Unlike the quiet background fetch, this one is recorded and reports Git's failure.
        // With no remote at all Git fetches nothing and says nothing.
        const SitePtr site = target.site;
        const QStringList remoteArgs{QStringLiteral("remote")};
        const auto remotes = co_await git.gitRun(site, remoteArgs);
        if (remotes.exitCode != 0)
            throw GitServiceError::failed(remotes.combined());
        if (remotes.stdout.text().trimmed().isEmpty())
            throw CliError(GitFailureText::noRemote());
        const std::function<QCoro::Task<>()> body = [&git, site]() -> QCoro::Task<> {
            const QStringList fetchArgs{QStringLiteral("fetch")};
            co_await git.gitRunLogged(site, fetchArgs);
        };
        co_await git.mutate(site, body);
        cli::out() << "Fetch finished\n";
        co_return 0;
    }
    if (command == QLatin1String("pull")) {
        const bool clashed = co_await git.pullRebase(target.site);
        cli::out()
            << (clashed ? "Pull finished, but your uncommitted changes clash with the pulled ones. Resolve "
                          "them, then Mark Resolved; a copy stays set aside.\n"
                        : "Pull finished\n");
        co_return 0;
    }
    if (command == QLatin1String("push")) {
        co_await git.push(target.site);
        cli::out() << "Push finished\n";
        co_return 0;
    }
    if (command == QLatin1String("init")) {
        co_await git.initialize(target.site);
        // As "Initialize Git" does: the first commit follows when Git knows who makes it.
        const auto who = co_await git.identity(target.site);
        if (who.isComplete()) {
            const std::optional<QStringList> everything;
            const QString message = QStringLiteral("Initial commit from Halvik");
            co_await git.commit(target.site, everything, message);
        }
        cli::out() << "Initialize Git finished\n";
        co_return 0;
    }
    if (command == QLatin1String("undo")) {
        requireYes(yes, QStringLiteral("Undoing the last commit"));
        const auto latest = co_await git.history(target.site, 1, 0);
        if (latest.isEmpty())
            throw CliError(QStringLiteral("There is no commit to undo."));
        const QString sha = latest.first().sha;
        co_await git.revert(target.site, sha);
        cli::out() << "Undo finished\n";
        co_return 0;
    }
    throw CliError::usage(QString::fromUtf8(kUsage));
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
    // Git's own "fatal:" lines stay in the operation's log; the terminal gets one sentence.
    std::optional<QString> failure;
    try {
        co_return co_await dispatch(git, command, target, rest, json);
    } catch (const GitServiceError& error) {
        if (error.kind() != GitServiceError::Case::failed || error.description() != error.rawText())
            throw;
        failure = GitFailureText::sentence(error.rawText());
    }
    throw CliError(*failure);
}

QList<cli::CliCommand> gitCommands()
{
    using cli::CliOption;
    const CliOption yes{QStringLiteral("--yes"), {}, QStringLiteral("confirm; nothing is asked")};
    return {
        {.verb = QStringLiteral("git"),
         .summary = QStringLiteral("the Git client of a site, or of any folder"),
         .run =
             [](cli::CliCall& call) {
                 if (call.args.value(0) == QLatin1String("create-remote"))
                     return runCreateRemoteCommand(call.app(), call.args.mid(1));
                 return runGitCommand(call.app().store(), call.args);
             },
         .forms =
             {
                 {.subverb = QStringLiteral("status"),
                  .arguments = QStringLiteral("<site> [--json]"),
                  .help = QStringLiteral("the repository’s branch and changed files"),
                  .options = {cli::jsonOption()}},
                 {.subverb = QStringLiteral("log"),
                  .arguments = QStringLiteral("<site> [-n N] [--json]"),
                  .help = QStringLiteral("recent commits"),
                  .options = {{QStringLiteral("-n"), QStringLiteral("N"),
                               QStringLiteral("how many commits (20)")},
                              cli::jsonOption()}},
                 {.subverb = QStringLiteral("diff"),
                  .arguments = QStringLiteral("<site> <path> [--scope included|remaining]"),
                  .help = QStringLiteral("one file’s changes, those included in the next commit or the rest"),
                  .options = {{QStringLiteral("--scope"), QStringLiteral("included|remaining"),
                               QStringLiteral("which changes to show (remaining)")}}},
                 {.subverb = QStringLiteral("commit"),
                  .arguments = QStringLiteral("<site> -m MESSAGE [--all | PATH…]"),
                  .help = QStringLiteral("commit the included changes, every change, or the files named"),
                  .options = {{QStringLiteral("-m"), QStringLiteral("MESSAGE"),
                               QStringLiteral("the commit message")},
                              {QStringLiteral("--all"), {}, QStringLiteral("commit every change")}}},
                 {.subverb = QStringLiteral("include|exclude"),
                  .arguments = QStringLiteral("<site> PATH…"),
                  .help = QStringLiteral("include files in the next commit, or leave them out")},
                 {.subverb = QStringLiteral("discard"),
                  .arguments = QStringLiteral("<site> PATH… --yes"),
                  .help = QStringLiteral("throw away the changes to files"),
                  .options = {yes}},
                 {.subverb = QStringLiteral("lines"),
                  .arguments = QStringLiteral("<site> <path> include|exclude|discard +N,-N… [--yes]"),
                  .help = QStringLiteral(
                      "stage, unstage or discard chosen lines of one hunk (+N: line N of the new "
                      "file, -N: of the old one)"),
                  .options = {yes}},
                 {.subverb = QStringLiteral("branch"),
                  .arguments = QStringLiteral("<site> [--json]"),
                  .help = QStringLiteral("the branches"),
                  .options = {cli::jsonOption()}},
                 {.subverb = QStringLiteral("switch"),
                  .arguments = QStringLiteral("<site> BRANCH [--create] [--set-aside]"),
                  .help = QStringLiteral("switch to a branch"),
                  .options = {{QStringLiteral("--create"), {}, QStringLiteral("make the branch first")},
                              {QStringLiteral("--set-aside"),
                               {},
                               QStringLiteral("set uncommitted changes aside first")}}},
                 {.subverb = QStringLiteral("stash"),
                  .arguments = QStringLiteral("<site> [list|push|apply N|drop N --yes] [--json]"),
                  .help = QStringLiteral("list, set aside, bring back or drop changes set aside"),
                  .options = {yes, cli::jsonOption()}},
                 {.subverb = QStringLiteral("fetch|pull|push|init"),
                  .arguments = QStringLiteral("<site>"),
                  .help = QStringLiteral("fetch, pull (rebasing), push, or make the folder a repository")},
                 {.subverb = QStringLiteral("undo"),
                  .arguments = QStringLiteral("<site> --yes"),
                  .help = QStringLiteral("undo the last commit with a commit that reverses it"),
                  .options = {yes}},
                 {.subverb = QStringLiteral("identity"),
                  .arguments = QStringLiteral("<site> [--name N --email E [--global]]"),
                  .help = QStringLiteral("show or set who commits"),
                  .options = {{QStringLiteral("--name"), QStringLiteral("N"),
                               QStringLiteral("the name commits carry")},
                              {QStringLiteral("--email"), QStringLiteral("E"),
                               QStringLiteral("the email address commits carry")},
                              {QStringLiteral("--global"),
                               {},
                               QStringLiteral("for every repository on this computer")}}},
                 {.subverb = QStringLiteral("create-remote"),
                  .arguments =
                      QStringLiteral("<site> --provider PROVIDER --name NAME [--owner OWNER] [--public]"),
                  .help = QStringLiteral("create the repository on the provider, set it as origin and push"),
                  .options = {{QStringLiteral("--provider"), QStringLiteral("github|gitlab|bitbucket|origin"),
                               QStringLiteral("where to create it")},
                              {QStringLiteral("--name"), QStringLiteral("NAME"),
                               QStringLiteral("the repository’s name")},
                              {QStringLiteral("--owner"), QStringLiteral("OWNER"),
                               QStringLiteral("the organisation or group to create it in")},
                              {QStringLiteral("--public"), {}, QStringLiteral("make it public")}}},
             }},
    };
}

} // namespace halvik
