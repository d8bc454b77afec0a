// Git writes that must never lose or mix up work: literal paths, renames, repositories without
// commits, any locale, non-ASCII names, byte-exact hunks, redacted logs, conflicts that do not
// come from a pull, refreshes and the workspace's lifetime. Everything runs real Git.
#include "FakePrompts.h"
#include "GitSandbox.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/git/GitFolderMonitor.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <memory>
#include <signal.h>

using namespace halvik;
using namespace halvik::gitcore;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;

namespace {

SitePtr siteAt(const QString& path)
{
    return std::make_shared<Site>(QStringLiteral("site"), path);
}

template <typename T> QString failureOf(QCoro::Task<T>&& task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return {};
}

std::optional<GitChangedFile> fileNamed(const QList<GitChangedFile>& files, const QString& path)
{
    for (const auto& file : files)
        if (file.path == path)
            return file;
    return std::nullopt;
}

// `git status --short` as Git itself prints it, for comparing whole states.
QString shortStatus(const GitSandbox& box, const QString& repo)
{
    return box.git(repo, {"-c", "core.quotePath=false", "status", "--short", "--untracked-files=all"});
}

// Everything a workspace needs, around one real repository; the workspace can be destroyed early.
struct Fixture
{
    Fixture(GitSandbox& box, const QString& repo)
        : secrets(box.path("secrets.json")), store(secrets, box.path("store")),
          site(std::make_shared<Site>(QStringLiteral("site"), repo)),
          workspace(std::make_unique<GitWorkspace>(service, store, prompts, site))
    {
    }
    ~Fixture()
    {
        if (workspace) {
            workspace->stop();
            if (!QTest::qWaitFor([this] { return workspace->loadsInFlight() == 0; }, 30000))
                qFatal("A workspace load never ended");
            workspace.reset();
        }
        if (!QTest::qWaitFor([this] { return service.isMutationIdle(); }, 30000))
            qFatal("A Git write never ended");
    }
    GitWorkspace& ws() { return *workspace; }
    GitChangedFile file(const QString& path)
    {
        halvik::waitFor(workspace->refresh(false));
        return fileNamed(workspace->snapshot().files, path).value_or(GitChangedFile());
    }

    ProcessRunner runner;
    GitService service{runner};
    SecretStore secrets;
    SiteStore store;
    FakePrompts prompts;
    SitePtr site;
    std::unique_ptr<GitWorkspace> workspace;
};

void writeScript(const QString& path, const QByteArray& body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Sets variables for the rest of a test and puts the old values back at its end.
class ScopedEnvironment
{
public:
    void set(const char* name, const QByteArray& value)
    {
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qputenv(name, value);
    }
    void unset(const char* name)
    {
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qunsetenv(name);
    }
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->wasSet)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
    }

private:
    struct Saved
    {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

// A German desktop. The machine may lack the generated German locale; Git's messages follow
// LANGUAGE anyway as long as the locale is not plain C, and C.UTF-8 always exists.
void speakGerman(ScopedEnvironment& env)
{
    env.set("LANG", "C.UTF-8");
    env.set("LANGUAGE", "de");
    env.unset("LC_MESSAGES");
    env.unset("LC_ALL");
}

} // namespace

class GitSafetyTest : public QObject
{
    Q_OBJECT

    ProcessRunner m_runner;

private Q_SLOTS:
    void initTestCase() { GitSandbox::configureIdentity(); }

    void pathsAreLiteralEverywhere()
    {
        GitSandbox box;
        const QString repo = box.makeRepo(
            "repo",
            {{"a1.txt", "one\n"}, {"a[1].txt", "bracket\n"}, {"x.php", "php\n"}, {"*.php", "star\n"}});
        box.write(repo, "a1.txt", "one changed\n");
        box.write(repo, "a[1].txt", "bracket changed\n");
        box.write(repo, "x.php", "php changed\n");
        box.write(repo, "*.php", "star changed\n");
        auto site = siteAt(repo);
        GitService service(m_runner);

        halvik::waitFor(service.stage(site, {"a[1].txt", "*.php"}));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QStringLiteral("*.php\na[1].txt\n"));
        halvik::waitFor(service.unstage(site, {"*.php"}));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QStringLiteral("a[1].txt\n"));

        const auto diff = halvik::waitFor(service.diff(site, "a[1].txt", GitDiffScope::included));
        QVERIFY(!diff.raw.contains("a1.txt"));
        const auto remaining = halvik::waitFor(service.diff(site, "*.php", GitDiffScope::remaining));
        QVERIFY(remaining.raw.contains("star changed"));
        QVERIFY(!remaining.raw.contains("x.php"));

        halvik::waitFor(service.commit(site, QStringList{"a[1].txt"}, "Bracket only"));
        QCOMPARE(box.git(repo, {"show", "--name-only", "--format=", "HEAD"}), QStringLiteral("a[1].txt\n"));
        const QString sha = box.git(repo, {"rev-parse", "HEAD"}).trimmed();
        QCOMPARE(halvik::waitFor(service.diff(site, "a[1].txt", GitDiffScope::commit, sha)).kind,
                 GitDiffKind::text);
        QCOMPARE(halvik::waitFor(service.diff(site, "a1.txt", GitDiffScope::commit, sha)).kind,
                 GitDiffKind::empty);

        const auto snap = halvik::waitFor(service.snapshot(site));
        halvik::waitFor(service.discard(site, {*fileNamed(snap.files, "*.php")}));
        QCOMPARE(box.read(repo, "*.php"), QByteArray("star\n"));
        QCOMPARE(box.read(repo, "x.php"), QByteArray("php changed\n"));
        QCOMPARE(box.read(repo, "a1.txt"), QByteArray("one changed\n"));
    }

    void renamesActOnBothPaths()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"old.txt", "keep me\n"}});
        Fixture f(box, repo);

        // Excluding a staged rename puts both paths back: nothing is staged as deleted.
        box.git(repo, {"mv", "old.txt", "new.txt"});
        halvik::waitFor(f.ws().excludeFiles({f.file("new.txt")}));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().notice().value_or("")));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QString());
        QCOMPARE(box.read(repo, "new.txt"), QByteArray("keep me\n"));

        // Including it again stages both sides as a rename.
        const GitChangedFile deleted = f.file("old.txt");
        QVERIFY(!deleted.path.isEmpty());
        box.git(repo, {"add", "-N", "new.txt"});
        const GitChangedFile worktreeRename = f.file("new.txt");
        QCOMPARE(worktreeRename.originalPath.value_or(""), QStringLiteral("old.txt"));
        halvik::waitFor(f.ws().includeFiles({worktreeRename}));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QCOMPARE(box.git(repo, {"status", "--porcelain"}), QStringLiteral("R  old.txt -> new.txt\n"));

        // Discarding the rename brings the original back and removes the new name.
        const GitChangedFile staged = f.file("new.txt");
        QCOMPARE(staged.originalPath.value_or(""), QStringLiteral("old.txt"));
        f.prompts.answers.push_back("Discard");
        halvik::waitFor(f.ws().discardFiles({staged}));
        QCOMPARE(box.read(repo, "old.txt"), QByteArray("keep me\n"));
        QVERIFY(!QFile::exists(QDir(repo).filePath("new.txt")));
        QCOMPARE(shortStatus(box, repo), QString());
    }

    void repositoriesWithoutCommits()
    {
        GitSandbox box;
        const QString repo = box.path("fresh");
        QDir().mkpath(repo);
        box.git(repo, {"init", "-q", "-b", "main"});
        box.write(repo, "a.txt", "a\n");
        box.write(repo, "b.txt", "b\n");
        box.write(repo, "c.txt", "c\n");
        box.git(repo, {"add", "a.txt", "b.txt", "c.txt"});
        Fixture f(box, repo);

        halvik::waitFor(f.ws().excludeFiles({f.file("a.txt")}));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QVERIFY(f.file("a.txt").isUntracked);

        halvik::waitFor(f.ws().excludeAll());
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QString());

        box.git(repo, {"add", "b.txt"});
        box.write(repo, "b.txt", "b edited after adding\n");
        f.prompts.answers.push_back("Discard");
        halvik::waitFor(f.ws().discardFiles({f.file("b.txt")}));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QVERIFY(!QFile::exists(QDir(repo).filePath("b.txt")));
        QCOMPARE(shortStatus(box, repo), QStringLiteral("?? a.txt\n?? c.txt\n"));
    }

    void everyInvocationRunsInTheCLocale()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "a\n"}});
        box.git(repo, {"switch", "-q", "-c", "other"});
        box.write(repo, "a.txt", "other\n");
        box.commitAll(repo, "Other");
        box.git(repo, {"switch", "-q", "main"});
        box.write(repo, "a.txt", "dirty\n");

        ScopedEnvironment env;
        speakGerman(env);
        // Git really speaks German here, so the checks below test the product, not the machine.
        QProcess probe;
        probe.setWorkingDirectory(repo);
        probe.start("/usr/bin/git", {"switch", "other"});
        probe.waitForFinished();
        const QString german = QString::fromUtf8(probe.readAllStandardError());
        if (german.contains("local changes"))
            QSKIP("This Git has no German messages");

        const QString log = box.path("env.log");
        const QString wrapper = box.path("env-git");
        writeScript(wrapper, "echo \"LC_ALL=${LC_ALL-unset} LANGUAGE=${LANGUAGE-unset} "
                             "LITERAL=${GIT_LITERAL_PATHSPECS-unset} LOCKS=${GIT_OPTIONAL_LOCKS-unset} "
                             "ARGS $*\" >> '" +
                                 log.toUtf8() + "'\nexec /usr/bin/git \"$@\"\n");
        auto site = siteAt(repo);
        GitService service(m_runner);
        service.setGitCandidates(QStringList{wrapper});

        QCOMPARE(failureOf(service.checkout(site, "other")), GitServiceError::dirtyWorktree().description());
        halvik::waitFor(service.snapshot(site));
        halvik::waitFor(service.stage(site, {"a.txt"}));
        const QStringList runs = linesOf(log);
        QVERIFY(runs.size() > 8);
        for (const QString& run : runs) {
            QVERIFY2(run.startsWith("LC_ALL=C LANGUAGE=unset LITERAL=1 "), qPrintable(run));
            // Reads never take the optional index lock; writes may.
            const bool write = run.contains(" switch ") || run.contains(" add ");
            QVERIFY2(run.contains(write ? "LOCKS=unset" : "LOCKS=0"), qPrintable(run));
        }

        // A missing identity is recognised on a German desktop too.
        box.git(repo, {"config", "user.name", ""});
        QCOMPARE(failureOf(service.commitStaged(site, "x")),
                 GitServiceError::identityMissing().description());

        // A desktop whose German locale is generated sets more than LANGUAGE; Git still gets C.
        QFile::remove(log);
        env.set("LANG", "de_DE.UTF-8");
        env.set("LC_MESSAGES", "de_DE.UTF-8");
        env.set("LC_ALL", "de_DE.UTF-8");
        halvik::waitFor(service.snapshot(site));
        halvik::waitFor(service.unstage(site, {"a.txt"}));
        const QStringList germanRuns = linesOf(log);
        QVERIFY(germanRuns.size() > 8);
        for (const QString& run : germanRuns)
            QVERIFY2(run.startsWith("LC_ALL=C LANGUAGE=unset LITERAL=1 "), qPrintable(run));
    }

    void nonAsciiNamesArriveUnquoted()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        box.write(repo, "café.txt", "crème\n");
        box.write(repo, "日本/説明.md", "説明\n");
        box.commitAll(repo, "Names");
        auto site = siteAt(repo);
        GitService service(m_runner);

        const auto commits = halvik::waitFor(service.history(site, 1));
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits.first().files, (QStringList{"café.txt", "日本/説明.md"}));
        const auto detail = halvik::waitFor(service.commitDetail(site, commits.first().sha));
        QVERIFY(detail);
        QCOMPARE(detail->files.size(), 2);
        QCOMPARE(detail->files.at(1).path, QStringLiteral("日本/説明.md"));
        const auto diff =
            halvik::waitFor(service.diff(site, "日本/説明.md", GitDiffScope::commit, commits.first().sha));
        QCOMPARE(diff.kind, GitDiffKind::text);
        QVERIFY(diff.raw.contains("+説明"));
        QVERIFY(diff.fileHeader.contains("b/日本/説明.md"));

        box.write(repo, "café.txt", "crème brûlée\n");
        halvik::waitFor(service.stage(site, {"café.txt"}));
        const auto staged = halvik::waitFor(service.diff(site, "café.txt", GitDiffScope::included));
        QCOMPARE(staged.hunks.size(), 1);
        halvik::waitFor(service.applyHunk(site, staged, staged.hunks.first(), GitHunkAction::exclude));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QString());
    }

    void readsNeverBlockWrites()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "a\n"}});
        const QString remote = box.makeRemoteFor(repo, "remote.git");
        // The remote's transport takes its time, so the fetch is still running below.
        const QString slow = box.path("slow-upload-pack");
        writeScript(slow, "sleep 2\nexec git-upload-pack \"$@\"\n");
        box.git(repo, {"config", "remote.origin.uploadpack", slow});
        auto site = siteAt(repo);
        GitService service(m_runner);

        bool done = false;
        const auto fetch = [&]() -> QCoro::Task<> {
            co_await service.fetch(site, true);
            done = true;
        };
        auto fetching = fetch();
        QVERIFY(QTest::qWaitFor([&] { return !service.isMutationIdle() || done; }, 5000));
        QVERIFY2(!done, "the fetch ended before it was seen holding the write lock");
        QVERIFY(!service.isMutationIdle());
        QVERIFY(QTest::qWaitFor([&] { return done; }, 20000));
        QVERIFY(service.isMutationIdle());
        (void)remote;
    }

    void logsAreRedactedBeforeAnyoneSeesThem()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "a\n"}});
        box.write(repo, "a.txt", "changed\n");
        auto site = siteAt(repo);
        GitService service(m_runner);
        QStringList seen;
        QObject::connect(site.get(), &Record::changed, site.get(), [&] {
            for (const auto& op : site->operations())
                seen.append(op->log());
        });
        QStringList saved;
        service.setSaveHandler([&] {
            for (const auto& op : site->operations())
                saved.append(op->log());
        });
        const QString secret = QStringLiteral("ghp_S3cretT0ken");
        const QString url = "https://x-access-token:" + secret + "@github.com/acme/shop.git";

        // Git echoes the message back on success...
        halvik::waitFor(service.stashPush(site, url));
        QVERIFY(site->operations().last()->log().contains("github.com/acme/shop.git"));
        // ...and the name it could not find on failure.
        QVERIFY(!failureOf(service.gitRunLogged(site, {"checkout", url})).contains(secret));
        QVERIFY(site->operations().last()->log().contains("github.com/acme/shop.git"));
        for (const auto& op : site->operations()) {
            QVERIFY2(!op->log().contains(secret), qPrintable(op->log()));
            SiteOperation* watched = op.get();
            QObject::connect(watched, &Record::changed, watched,
                             [&seen, watched] { seen.append(watched->log()); });
        }
        // A live log: every publication is redacted already.
        box.write(repo, "a.txt", "again\n");
        halvik::waitFor(service.stashPush(site, url));
        QVERIFY(!saved.isEmpty());
        for (const QString& text : seen + saved)
            QVERIFY2(!text.contains(secret), qPrintable(text));
    }

    void hunksStayByteExact()
    {
        GitSandbox box;
        QByteArray original;
        for (int i = 1; i <= 20; ++i)
            original += "line " + QByteArray::number(i) + "\n";
        original.replace("line 3\n", "-- a comment that starts with two dashes\n");
        original.replace("line 15\n", "caf\xe9 in Latin-1\n");
        const QString repo = box.makeRepo("repo", {{"notes.sql", original}});
        QByteArray edited = original;
        edited.replace("-- a comment that starts with two dashes\n", "++ added with two pluses\n");
        edited.replace("caf\xe9 in Latin-1\n", "cr\xe8me in Latin-1\n");
        box.write(repo, "notes.sql", edited);
        auto site = siteAt(repo);
        GitService service(m_runner);

        auto remaining = halvik::waitFor(service.diff(site, "notes.sql", GitDiffScope::remaining));
        QCOMPARE(remaining.hunks.size(), 2);
        QCOMPARE(remaining.hunks.first().lines.size(), 7);
        halvik::waitFor(service.applyHunk(site, remaining, remaining.hunks[0], GitHunkAction::include));
        halvik::waitFor(service.applyHunk(site, remaining, remaining.hunks[1], GitHunkAction::include));
        QCOMPARE(box.git(repo, {"diff", "--name-only"}), QString());
        QProcess show;
        show.setWorkingDirectory(repo);
        show.start("/usr/bin/git", {"show", ":notes.sql"});
        QVERIFY(show.waitForFinished());
        QCOMPARE(show.readAllStandardOutput(), edited);

        auto included = halvik::waitFor(service.diff(site, "notes.sql", GitDiffScope::included));
        QCOMPARE(included.hunks.size(), 2);
        halvik::waitFor(service.applyHunk(site, included, included.hunks[1], GitHunkAction::exclude));
        halvik::waitFor(service.applyHunk(site, included, included.hunks[0], GitHunkAction::exclude));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QString());

        remaining = halvik::waitFor(service.diff(site, "notes.sql", GitDiffScope::remaining));
        halvik::waitFor(service.applyHunk(site, remaining, remaining.hunks[1], GitHunkAction::discard));
        halvik::waitFor(service.applyHunk(site, remaining, remaining.hunks[0], GitHunkAction::discard));
        QCOMPARE(box.read(repo, "notes.sql"), original);
    }

    void restoreBringsTheIndexBack()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"staged.txt", "s\n"}, {"remaining.txt", "r\n"}});
        box.write(repo, "staged.txt", "s2\n");
        box.write(repo, "remaining.txt", "r2\n");
        box.git(repo, {"add", "staged.txt"});
        const QString before = shortStatus(box, repo);
        Fixture f(box, repo);
        halvik::waitFor(f.ws().stashChanges());
        QCOMPARE(shortStatus(box, repo), QString());
        halvik::waitFor(f.ws().refresh(false));
        QCOMPARE(f.ws().snapshot().stashes.size(), 1);
        halvik::waitFor(f.ws().restoreStash(f.ws().snapshot().stashes.first()));
        QCOMPARE(f.ws().notice().value_or(""), QStringLiteral("Restore finished"));
        QCOMPARE(shortStatus(box, repo), before);
        QCOMPARE(f.file("staged.txt").inclusion(), GitFileInclusion::included);

        // When the included part no longer applies on its own, everything comes back as
        // remaining, and the notice says so.
        box.git(repo, {"commit", "-q", "-am", "Both"});
        box.write(repo, "staged.txt", "included only\n");
        box.git(repo, {"add", "staged.txt"});
        box.write(repo, "staged.txt", "s2\n");
        box.write(repo, "remaining.txt", "remaining again\n");
        halvik::waitFor(f.ws().stashChanges());
        box.write(repo, "staged.txt", "committed meanwhile\n");
        box.commitAll(repo, "Meanwhile");
        halvik::waitFor(f.ws().refresh(false));
        halvik::waitFor(f.ws().restoreStash(f.ws().snapshot().stashes.first()));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QVERIFY(f.ws().notice()->startsWith("Restore finished. The included part could not be brought back"));
        QCOMPARE(box.read(repo, "remaining.txt"), QByteArray("remaining again\n"));
        QCOMPARE(f.file("remaining.txt").inclusion(), GitFileInclusion::remaining);
    }

    void conflictsThatDoNotComeFromAPull()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "one\n"}});
        box.write(repo, "a.txt", "two\n");
        box.commitAll(repo, "Two");
        const QString two = box.git(repo, {"rev-parse", "HEAD"}).trimmed();
        box.write(repo, "a.txt", "three\n");
        box.commitAll(repo, "Three");
        Fixture f(box, repo);
        halvik::waitFor(f.ws().refresh(false));

        // Undoing "Two" clashes with "Three".
        GitCommit commit;
        for (const auto& listed : f.ws().snapshot().commits)
            if (listed.sha == two)
                commit = listed;
        f.prompts.answers.push_back("Undo");
        halvik::waitFor(f.ws().revert(commit));
        QCOMPARE(f.ws().conflict(), GitConflictKind::revert);
        QVERIFY(f.ws().snapshot().status.inProgressRevert);
        QVERIFY(!f.ws().snapshot().status.inProgressRebase);
        QVERIFY(f.ws().notice()->contains("Undo"));
        QVERIFY(!f.ws().notice()->contains("rebase", Qt::CaseInsensitive));
        halvik::waitFor(f.ws().abortRevert());
        QCOMPARE(f.ws().conflict(), GitConflictKind::none);
        QCOMPARE(box.read(repo, "a.txt"), QByteArray("three\n"));

        // Resolved and continued, the undo becomes a commit.
        f.prompts.answers.push_back("Undo");
        halvik::waitFor(f.ws().revert(commit));
        QCOMPARE(f.ws().conflict(), GitConflictKind::revert);
        box.write(repo, "a.txt", "one\n");
        halvik::waitFor(f.ws().markResolved(f.file("a.txt")));
        halvik::waitFor(f.ws().continueRevert());
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().rawError().value_or("")));
        QCOMPARE(f.ws().conflict(), GitConflictKind::none);
        QVERIFY(box.git(repo, {"log", "-1", "--format=%s"}).startsWith("Revert \"Two\""));

        // A restore that clashes shows its own state.
        box.write(repo, "a.txt", "set aside\n");
        halvik::waitFor(f.ws().stashChanges());
        box.write(repo, "a.txt", "committed meanwhile\n");
        box.commitAll(repo, "Meanwhile");
        halvik::waitFor(f.ws().refresh(false));
        halvik::waitFor(f.ws().restoreStash(f.ws().snapshot().stashes.first()));
        QCOMPARE(f.ws().conflict(), GitConflictKind::restore);
        QVERIFY(!f.ws().conflictTexts().title.isEmpty());
        QVERIFY(!f.ws().conflictTexts().title.contains("rebase", Qt::CaseInsensitive));
        box.write(repo, "a.txt", "merged\n");
        halvik::waitFor(f.ws().markResolved(f.file("a.txt")));
        QCOMPARE(f.ws().conflict(), GitConflictKind::none);
    }

    void pullWhoseAutostashConflictsSaysSo()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "one\n"}});
        const QString remote = box.makeRemoteFor(repo, "remote.git");
        const QString other = box.clone(remote, "other");
        box.write(other, "a.txt", "theirs\n");
        box.commitAll(other, "Theirs");
        box.git(other, {"push", "-q"});
        box.write(repo, "a.txt", "mine, uncommitted\n");
        Fixture f(box, repo);
        halvik::waitFor(f.ws().refresh(false));
        halvik::waitFor(f.ws().pull());
        QVERIFY(f.ws().notice());
        QVERIFY2(*f.ws().notice() != QStringLiteral("Pull finished"), qPrintable(*f.ws().notice()));
        QCOMPARE(f.ws().conflict(), GitConflictKind::autostash);
        // Nothing is lost: the changes are still set aside.
        QCOMPARE(f.ws().snapshot().stashes.size(), 1);
    }

    void ignoredChangesDoNotRefresh()
    {
        GitSandbox box;
        const QString repo =
            box.makeRepo("repo", {{".gitignore", "/storage/\n/bootstrap/cache/\n"}, {"app.php", "<?php\n"}});
        QDir().mkpath(QDir(repo).filePath("storage/framework/sessions"));
        QDir().mkpath(QDir(repo).filePath("bootstrap/cache"));
        Fixture f(box, repo);
        int refreshes = 0;
        QObject::connect(&f.ws(), &GitWorkspace::refreshStateChanged, &f.ws(), [&] {
            if (f.ws().isRefreshing())
                ++refreshes;
        });
        f.ws().start();
        QVERIFY(QTest::qWaitFor([&] { return f.ws().hasRefreshed() && !f.ws().isRefreshing(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return f.ws().monitor() && f.ws().monitor()->isWatching(); }, 10000));
        // Whatever the start set off (the first fetch and the refresh after it) settles first.
        int settled = -1;
        for (int waited = 0; waited < 20 && settled != refreshes; ++waited) {
            settled = refreshes;
            QTest::qWait(1000);
        }
        QCOMPARE(refreshes, settled);
        for (int i = 0; i < 10; ++i) {
            box.write(repo, QStringLiteral("storage/framework/sessions/s%1").arg(i), "session\n");
            box.write(repo, "bootstrap/cache/packages.php", QByteArray::number(i));
            QTest::qWait(50);
        }
        QTest::qWait(1500);
        QCOMPARE(refreshes, settled);
        box.write(repo, "app.php", "<?php // edited\n");
        QVERIFY(QTest::qWaitFor([&] { return refreshes > settled; }, 5000));
    }

    void firstRefreshNeverWaitsOnTheNetwork()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        const QString script = box.path("slow-ssh");
        writeScript(script, "echo $$ >> '" + box.path("ssh.pids").toUtf8() + "'\nsleep 60\nexit 1\n");
        box.git(repo, {"config", "core.sshCommand", script});
        box.git(repo, {"remote", "add", "origin", "ssh://slow.invalid/site.git"});
        const QString pids = box.path("ssh.pids");
        const auto transportGone = [&pids] {
            const QStringList started = linesOf(pids);
            return !started.isEmpty() && ::kill(pid_t(started.last().toLongLong()), 0) != 0;
        };
        {
            // The first snapshot is shown while the fetch is still waiting on the remote.
            Fixture f(box, repo);
            f.ws().setInitialFetchTimeout(60000);
            f.ws().start();
            QVERIFY(QTest::qWaitFor([&] { return f.ws().hasRefreshed(); }, 20000));
            QVERIFY(QTest::qWaitFor([&] { return !linesOf(pids).isEmpty(); }, 10000));
            QVERIFY(!f.service.isMutationIdle());
            QVERIFY(!transportGone());
            // Stopping the workspace ends the fetch.
            f.ws().stop();
            QVERIFY(QTest::qWaitFor([&] { return transportGone() && f.service.isMutationIdle(); }, 10000));
        }
        QFile::remove(pids);
        {
            // Left alone, the fetch gives up on its own and frees the lock.
            Fixture f(box, repo);
            f.ws().setInitialFetchTimeout(1000);
            f.ws().start();
            QVERIFY(QTest::qWaitFor([&] { return !linesOf(pids).isEmpty(); }, 20000));
            QVERIFY(QTest::qWaitFor([&] { return transportGone() && f.service.isMutationIdle(); }, 15000));
            QVERIFY(f.ws().isStarted());
        }
    }

    void destroyingAWorkspaceMidFlow()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "a\n"}});
        box.write(repo, "a.txt", "changed\n");
        {
            // Gone while its confirmation is open.
            Fixture f(box, repo);
            f.prompts.holdQuestions = true;
            halvik::waitFor(f.ws().refresh(false));
            const auto file = f.file("a.txt");
            auto discarding = f.ws().discardFiles({file});
            QCOMPARE(f.prompts.openQuestions(), 1);
            // Loads still running end inside the service, which stays.
            QVERIFY(QTest::qWaitFor([&] { return f.ws().loadsInFlight() == 0; }, 10000));
            f.workspace.reset();
            f.prompts.answer("Discard");
            QCOMPARE(box.read(repo, "a.txt"), QByteArray("changed\n"));
        }
        {
            // Gone while its operation runs.
            Fixture f(box, repo);
            f.service.setGitCandidates(QStringList{box.makeRecordingGit(box.path("calls.log"), 1)});
            halvik::waitFor(f.ws().refresh(false));
            halvik::waitFor(f.ws().includeAll());
            auto committing = f.ws().commit();
            QVERIFY(f.ws().busyAction());
            QVERIFY(QTest::qWaitFor([&] { return f.ws().loadsInFlight() == 0; }, 10000));
            QVERIFY(f.ws().busyAction());
            f.workspace.reset();
            // The commit the workspace started still lands, and nothing touches the workspace.
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return box.git(repo, {"rev-list", "--count", "HEAD"}).trimmed() == QStringLiteral("2");
                },
                20000));
            QVERIFY(QTest::qWaitFor([&] { return f.service.isMutationIdle(); }, 10000));
            QTest::qWait(200);
        }
    }
};

HALVIK_TEST_MAIN_CORE(GitSafetyTest)
#include "tst_gitsafety.moc"
