#include "FakePrompts.h"
#include "GitSandbox.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/git/GitFolderMonitor.h"

#include <QElapsedTimer>
#include <QFile>

#include <signal.h>

using namespace halvik;
using namespace halvik::gitcore;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;

namespace {

// Everything a workspace needs, around one real repository.
struct Fixture
{
    explicit Fixture(GitSandbox& box, const QString& repo)
        : secrets(box.path("secrets.json")), store(secrets, box.path("store")),
          site(std::make_shared<Site>(QStringLiteral("site"), repo)), workspace(service, store, prompts, site)
    {
    }
    // Diff loads and refreshes the workspace started on its own end inside the service: let
    // them finish before the service goes.
    ~Fixture()
    {
        workspace.stop();
        if (!QTest::qWaitFor([this] { return workspace.loadsInFlight() == 0; }, 30000))
            qFatal("A workspace load never ended");
    }

    ProcessRunner runner;
    GitService service{runner};
    SecretStore secrets;
    SiteStore store;
    FakePrompts prompts;
    SitePtr site;
    GitWorkspace workspace;
};

void writeScript(const QString& path, const QByteArray& body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Points the repository's origin at an SSH remote whose transport only sleeps, so fetch,
// pull and push hang until they are stopped. The script records its process id first.
void makeSlowRemote(const GitSandbox& box, const QString& repo, int seconds)
{
    const QString script = box.path("slow-ssh");
    writeScript(script, "echo $$ >> '" + box.path("ssh.pids").toUtf8() + "'\nsleep " +
                            QByteArray::number(seconds) + "\nexit 1\n");
    box.git(repo, {"config", "core.sshCommand", script});
    box.git(repo, {"remote", "add", "origin", "ssh://slow.invalid/site.git"});
}

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool hasFile(const GitRepositorySnapshot& snapshot, const QString& path)
{
    for (const auto& file : snapshot.files)
        if (file.path == path)
            return true;
    return false;
}

GitChangedFile fileNamed(const GitRepositorySnapshot& snapshot, const QString& path)
{
    for (const auto& file : snapshot.files)
        if (file.path == path)
            return file;
    return {};
}

} // namespace

class GitWorkspaceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { GitSandbox::configureIdentity(); }

    void overlappingRefreshesKeepOnlyTheNewest()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        makeSlowRemote(box, repo, 1);
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        QCOMPARE(ws.suggestedMessage(), QStringLiteral("Update from Halvik"));
        QCOMPARE(ws.busyKind(), GitBusyKind::none);
        QVERIFY(!ws.hasRefreshed() && !ws.isRefreshing() && !ws.canPush());

        // The first refresh fetches from the slow remote, so its snapshot is taken last.
        auto older = ws.refresh(true);
        QVERIFY(ws.isRefreshing());
        halvik::waitFor(ws.refresh(false));
        QVERIFY(ws.hasRefreshed());
        QVERIFY(!ws.isRefreshing());
        QVERIFY(ws.snapshot().status.isRepo);
        box.write(repo, "late.txt", "after the newer refresh\n");
        halvik::waitFor(std::move(older));
        QVERIFY(!hasFile(ws.snapshot(), "late.txt"));
        QVERIFY(!ws.isRefreshing());
        QCOMPARE(ws.remoteDraft(), QStringLiteral("ssh://slow.invalid/site.git"));
        QVERIFY(ws.canPush()); // no upstream yet
    }

    void historyPagesByFifty()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        for (int i = 0; i < 60; ++i)
            box.git(repo, {"commit", "-q", "--allow-empty", "-m", QStringLiteral("Step %1").arg(i)});
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        halvik::waitFor(ws.refresh(false));
        QCOMPARE(ws.snapshot().commits.size(), 50);
        QVERIFY(ws.historyHasMore());
        QCOMPARE(*ws.selectedCommitSHA(), ws.snapshot().commits.first().sha);

        halvik::waitFor(ws.loadMoreHistory());
        QCOMPARE(ws.historyLimit(), 100);
        QCOMPARE(ws.snapshot().commits.size(), 61);
        QVERIFY(!ws.historyHasMore());
        QCOMPARE(ws.snapshot().commits.last().subject, QStringLiteral("First"));

        ws.setHistoryFilter("STEP 5");
        QCOMPARE(ws.filteredCommits().size(), 11); // "Step 5" and "Step 50".."Step 59"
    }

    void selectionFollowsTheRepository()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "a\n"}, {"b.txt", "b\n"}, {"c.txt", "c\n"}});
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            box.write(repo, name, "changed\n");
        halvik::waitFor(ws.refresh(false));
        QCOMPARE(ws.selectedPath(), std::optional<QString>("a.txt"));
        QCOMPARE(ws.selectedPaths(), QSet<QString>{"a.txt"});
        // An unstaged change cannot show the included side.
        QCOMPARE(ws.diffScope(), GitDiffScope::remaining);

        ws.selectFiles({"c.txt", "b.txt"});
        QCOMPARE(ws.selectedPath(), std::optional<QString>("b.txt"));
        QVERIFY(ws.compactShowsDetail());
        QCOMPARE(ws.selectedChangeFiles().size(), 2);

        // b disappears, c becomes fully included.
        box.git(repo, {"checkout", "--", "b.txt"});
        box.git(repo, {"add", "c.txt"});
        halvik::waitFor(ws.refresh(false));
        // The primary path moves to the first file; the rest of the selection keeps what exists.
        QCOMPARE(ws.selectedPaths(), QSet<QString>{"c.txt"});
        QCOMPARE(ws.selectedPath(), std::optional<QString>("a.txt"));

        ws.selectFiles({"c.txt"});
        QCOMPARE(ws.diffScope(), GitDiffScope::included);
        QTRY_VERIFY(!ws.isLoadingDiff());
        QCOMPARE(ws.loadedDiff()->path, QStringLiteral("c.txt"));
        QCOMPARE(ws.loadedDiff()->scope, GitDiffScope::included);
        QCOMPARE(ws.includedCount(), 1);
        QVERIFY(ws.someIncluded() && !ws.allIncluded() && ws.canCommit());

        // The History tab shows the selected commit's first file without selecting it.
        const QString firstCommit = *ws.selectedCommitSHA();
        ws.setListTab(GitListTab::history);
        QTRY_VERIFY(!ws.isLoadingDiff());
        QVERIFY(ws.commitDetail());
        QCOMPARE(ws.commitDetail()->commit.sha, firstCommit);
        QVERIFY(ws.loadedDiff());
        QCOMPARE(ws.loadedDiff()->scope, GitDiffScope::commit);
        QVERIFY(!ws.selectedHistoryPath());

        // A selected commit stays selected while it is listed.
        box.git(repo, {"commit", "-q", "-m", "Second"});
        halvik::waitFor(ws.refresh(false));
        QCOMPARE(*ws.selectedCommitSHA(), firstCommit);

        box.git(repo, {"checkout", "--", "."});
        halvik::waitFor(ws.refresh(false));
        QVERIFY(ws.snapshot().files.isEmpty());
        QVERIFY(!ws.selectedPath());
        QVERIFY(ws.selectedPaths().isEmpty());
        ws.setListTab(GitListTab::changes);
        QVERIFY(!ws.loadedDiff() && !ws.commitDetail() && !ws.isLoadingDiff());
    }

    void supersededDiffLoadsStoreNothing()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"fast.txt", "1\n"}, {"slow.txt", "1\n"}});
        box.write(repo, "fast.txt", "2\n");
        box.git(repo, {"add", "fast.txt"});
        box.write(repo, "slow.txt", "2\n");
        // A git that takes a second over anything naming slow.txt.
        const QString log = box.path("slow.log");
        const QString wrapper = box.path("slow-git");
        writeScript(wrapper, "case \"$*\" in *slow.txt*) echo start >> '" + log.toUtf8() +
                                 "'; sleep 1;; esac\n/usr/bin/git \"$@\"\nrc=$?\n"
                                 "case \"$*\" in *slow.txt*) echo end >> '" +
                                 log.toUtf8() + "';; esac\nexit $rc\n");
        Fixture f(box, repo);
        f.service.setGitCandidates(QStringList{wrapper});
        GitWorkspace& ws = f.workspace;
        bool sawSlow = false;
        QObject::connect(&ws, &GitWorkspace::diffChanged, &ws, [&] {
            if (ws.loadedDiff() && ws.loadedDiff()->path == "slow.txt")
                sawSlow = true;
        });
        halvik::waitFor(ws.refresh(false));
        QCOMPARE(ws.selectedPath(), std::optional<QString>("fast.txt"));

        ws.selectFiles({"slow.txt"});
        QCOMPARE(ws.diffScope(), GitDiffScope::remaining);
        QVERIFY(ws.isLoadingDiff());
        ws.selectFiles({"fast.txt"});
        QTRY_VERIFY(!ws.isLoadingDiff());
        QCOMPARE(ws.loadedDiff()->path, QStringLiteral("fast.txt"));

        // Let the slow load finish (its tracked check and its diff both name the file); it must
        // leave the newer diff in place.
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(log).count("end"), 2, 10000);
        halvik::waitFor(f.service.isInsideWorkTree(f.site));
        QVERIFY(!sawSlow);
        QCOMPARE(ws.loadedDiff()->path, QStringLiteral("fast.txt"));
        QVERIFY(!ws.isLoadingDiff());
    }

    void operationsConfirmAndReport()
    {
        GitSandbox box;
        const QString repo =
            box.makeRepo("repo", {{"one.txt", "1\n"}, {"two.txt", "2\n"}, {"three.txt", "3\n"}});
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        for (const char* name : {"one.txt", "two.txt", "three.txt"})
            box.write(repo, name, "changed\n");
        halvik::waitFor(ws.refresh(false));

        QList<QSet<QString>> busyPaths;
        QObject::connect(&ws, &GitWorkspace::busyChanged, &ws, [&] {
            if (!ws.busyPaths().isEmpty())
                busyPaths.append(ws.busyPaths());
        });
        const auto one = fileNamed(ws.snapshot(), "one.txt");

        // Declined: nothing runs.
        halvik::waitFor(ws.discardFiles({one}));
        QCOMPARE(f.prompts.asked.size(), 1);
        QCOMPARE(f.prompts.asked[0].title, QStringLiteral("Discard this change?"));
        QCOMPARE(f.prompts.asked[0].text,
                 QStringLiteral("\u201Cone.txt\u201D will be thrown away. This can\u2019t be undone."));
        QCOMPARE(f.prompts.asked[0].buttons, QStringList({"Discard", "Cancel"}));
        QCOMPARE(box.read(repo, "one.txt"), QByteArray("changed\n"));
        QVERIFY(!ws.notice());
        QVERIFY(busyPaths.isEmpty());

        // Accepted: the file is thrown away and the runner reports it.
        f.prompts.answers.push_back("Discard");
        halvik::waitFor(ws.discardFiles({one}));
        QCOMPARE(box.read(repo, "one.txt"), QByteArray("1\n"));
        QCOMPARE(ws.notice(), std::optional<QString>("Discard finished"));
        QVERIFY(!ws.noticeFailed());
        QVERIFY(!hasFile(ws.snapshot(), "one.txt"));
        QCOMPARE(busyPaths.last(), QSet<QString>{"one.txt"});
        QVERIFY(!ws.busyAction() && ws.busyPaths().isEmpty() && ws.busyKind() == GitBusyKind::none);
        QVERIFY(!f.site->operations().isEmpty());

        // Several files: the plural question, declined.
        halvik::waitFor(ws.discardFiles(ws.snapshot().files));
        QCOMPARE(f.prompts.asked.last().title, QStringLiteral("Discard 2 changes?"));
        QCOMPARE(f.prompts.asked.last().text,
                 QStringLiteral("These files will be thrown away. This can\u2019t be undone."));
        QCOMPARE(ws.snapshot().files.size(), 2);

        box.write(repo, "four.txt", "new\n");
        halvik::waitFor(ws.refresh(false));
        halvik::waitFor(ws.includeFiles(ws.snapshot().files));
        QCOMPARE(ws.notice(), std::optional<QString>("Include 3 files finished"));
        QCOMPARE(busyPaths.last(), QSet<QString>({"two.txt", "three.txt", "four.txt"}));
        QVERIFY(ws.allIncluded());

        halvik::waitFor(ws.toggleIncluded(fileNamed(ws.snapshot(), "four.txt")));
        QCOMPARE(ws.notice(), std::optional<QString>("Exclude finished"));
        QVERIFY(fileNamed(ws.snapshot(), "four.txt").isUntracked);

        // Committing with an empty message uses the suggested one and clears nothing else.
        const QString suggested = ws.suggestedMessage();
        QVERIFY(ws.canCommit());
        halvik::waitFor(ws.commit());
        QCOMPARE(ws.notice(), std::optional<QString>("Commit finished"));
        QCOMPARE(box.git(repo, {"log", "-1", "--format=%s"}).trimmed(), suggested);
        QVERIFY(!ws.canCommit()); // nothing included any more

        // A failure becomes the failed notice with Git's own output.
        halvik::waitFor(ws.commit());
        QVERIFY(ws.noticeFailed());
        QCOMPARE(ws.notice(), std::optional<QString>("Nothing is included to save."));
        QCOMPARE(ws.rawError(), std::optional<QString>("Nothing is included to save."));

        ws.setNewBranchName("bad..name");
        halvik::waitFor(ws.createBranch());
        QCOMPARE(ws.notice(),
                 std::optional<QString>("Use letters, numbers, hyphens, slashes, or underscores."));
        QVERIFY(ws.noticeFailed());
    }

    void heldConfirmationRefusesOtherOperationsAndOutlivesItsWorkspace()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"one.txt", "1\n"}, {"two.txt", "2\n"}});
        box.write(repo, "one.txt", "changed\n");
        box.write(repo, "two.txt", "changed\n");
        ProcessRunner runner;
        GitService service{runner};
        SecretStore secrets(box.path("secrets.json"));
        SiteStore store(secrets, box.path("store"));
        FakePrompts prompts;
        prompts.holdQuestions = true;
        auto ws =
            std::make_unique<GitWorkspace>(service, store, prompts, std::make_shared<Site>("site", repo));
        halvik::waitFor(ws->refresh(false));
        const auto one = fileNamed(ws->snapshot(), "one.txt");

        // While the discard waits for its answer, a second discard and any other operation are
        // refused: no second question, nothing staged, no notice.
        auto discarding = ws->discardFiles({one});
        QVERIFY(!discarding.isReady());
        QVERIFY(ws->isOperating());
        auto again = ws->discardAll();
        QVERIFY(again.isReady());
        QCOMPARE(prompts.asked.size(), 1);
        halvik::waitFor(ws->includeFiles(ws->snapshot().files));
        QVERIFY(box.git(repo, {"diff", "--cached", "--name-only"}).trimmed().isEmpty());
        QVERIFY(!ws->notice());

        // Answered: the discard runs once, and the workspace takes requests again.
        prompts.answer("Discard");
        halvik::waitFor(std::move(discarding));
        QCOMPARE(box.read(repo, "one.txt"), QByteArray("1\n"));
        QCOMPARE(ws->notice(), std::optional<QString>("Discard finished"));
        QVERIFY(!ws->isOperating());
        QTRY_COMPARE(ws->loadsInFlight(), 0);

        // A question still open when its workspace goes: the answer resumes a flow that stops
        // and throws nothing away (AddressSanitizer reports any touch of the dead workspace).
        auto orphan = ws->discardFiles({fileNamed(ws->snapshot(), "two.txt")});
        QCOMPARE(prompts.openQuestions(), 1);
        ws.reset();
        prompts.answer("Discard");
        QVERIFY(orphan.isReady());
        QCOMPARE(box.read(repo, "two.txt"), QByteArray("changed\n"));
    }

    void setAsideAndSwitch()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"file.txt", "main\n"}});
        box.git(repo, {"switch", "-q", "-c", "other"});
        box.write(repo, "file.txt", "other\n");
        box.commitAll(repo, "Other");
        box.git(repo, {"switch", "-q", "main"});
        box.write(repo, "file.txt", "local edit\n");
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        halvik::waitFor(ws.refresh(false));

        GitBranch other;
        other.name = "other";
        halvik::waitFor(ws.checkout(other));
        QVERIFY(ws.noticeFailed());
        QCOMPARE(ws.notice(), std::optional<QString>(
                                  "Uncommitted changes would be overwritten. Set them aside to switch."));
        QVERIFY(ws.pendingDirtySwitch());
        QCOMPARE(ws.pendingDirtySwitch()->branch, QStringLiteral("other"));
        QCOMPARE(ws.snapshot().status.branch, std::optional<QString>("main"));

        halvik::waitFor(ws.setAsideAndSwitch());
        QCOMPARE(ws.notice(), std::optional<QString>("Set aside and switch finished"));
        QVERIFY(!ws.pendingDirtySwitch());
        QCOMPARE(ws.snapshot().status.branch, std::optional<QString>("other"));
        QCOMPARE(ws.snapshot().stashes.size(), 1);
        QVERIFY(ws.snapshot().stashes[0].message.contains("Set aside before switching to other"));

        // Dropping the set-aside changes asks first, with the stash's message quoted.
        f.prompts.answers.push_back("Drop");
        halvik::waitFor(ws.dropStash(ws.snapshot().stashes[0]));
        QCOMPARE(f.prompts.asked.last().title, QStringLiteral("Drop set-aside changes?"));
        QVERIFY(f.prompts.asked.last().text.endsWith("\u201D will be deleted. This can\u2019t be undone."));
        QVERIFY(ws.snapshot().stashes.isEmpty());
    }

    void cancelNetworkStopsTheChild()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        makeSlowRemote(box, repo, 60);
        box.git(repo, {"config", "branch.main.remote", "origin"});
        box.git(repo, {"config", "branch.main.merge", "refs/heads/main"});
        Fixture f(box, repo);
        GitWorkspace& ws = f.workspace;
        halvik::waitFor(ws.refresh(false));
        QVERIFY(ws.canPull());

        for (int round = 0; round < 2; ++round) {
            QElapsedTimer clock;
            clock.start();
            auto running = round == 0 ? ws.push() : ws.pull();
            QCOMPARE(ws.busyKind(), GitBusyKind::network);
            QCOMPARE(ws.busyAction(), std::optional<QString>(round == 0 ? "Push" : "Pull"));
            QTRY_COMPARE_WITH_TIMEOUT(linesOf(box.path("ssh.pids")).size(), round + 1, 10000);
            ws.cancelNetwork();
            halvik::waitFor(std::move(running));
            QCOMPARE(ws.notice(), std::optional<QString>("Cancelled"));
            QVERIFY(!ws.noticeFailed());
            QVERIFY(!ws.busyAction());
            QVERIFY(clock.elapsed() < 30000);
            const pid_t ssh = linesOf(box.path("ssh.pids")).last().toInt();
            QTRY_VERIFY_WITH_TIMEOUT(::kill(ssh, 0) != 0, 5000);
        }
    }

    void monitorPausesDuringOperations()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo");
        // A git whose commits take a second, so the operation can be watched while it runs.
        const QString wrapper = box.path("slow-git");
        writeScript(wrapper, "case \"$*\" in *commit*) sleep 1;; esac\nexec /usr/bin/git \"$@\"\n");
        Fixture f(box, repo);
        f.service.setGitCandidates(QStringList{wrapper});
        GitWorkspace& ws = f.workspace;
        box.write(repo, "staged.txt", "x\n");
        box.git(repo, {"add", "staged.txt"});
        ws.start();
        ws.start();
        QTRY_VERIFY(ws.hasRefreshed() && !ws.isRefreshing());
        QTRY_VERIFY(ws.monitor() && ws.monitor()->watchedFolderCount() > 0);
        QVERIFY(!ws.monitor()->isPaused());

        auto committing = ws.commit();
        QCOMPARE(ws.busyAction(), std::optional<QString>("Commit"));
        QVERIFY(ws.monitor()->isPaused());
        halvik::waitFor(std::move(committing));
        QCOMPARE(ws.notice(), std::optional<QString>("Commit finished"));
        QVERIFY(!ws.monitor()->isPaused());

        // Unpaused again, a change in the folder refreshes the workspace by itself.
        box.write(repo, "later.txt", "y\n");
        QTRY_VERIFY_WITH_TIMEOUT(hasFile(ws.snapshot(), "later.txt"), 10000);
        ws.stop();
        QVERIFY(!ws.monitor() && !ws.isStarted());
    }

    void createRemoteNeedsAnAccount()
    {
        GitSandbox box;
        Fixture f(box, box.makeRepo("repo"));
        halvik::waitFor(f.workspace.createRemote(SourceControlProvider::github, "site", std::nullopt, true));
        QVERIFY(f.workspace.noticeFailed());
        QCOMPARE(f.workspace.notice(), std::optional<QString>("Connect a source control account first."));
        QCOMPARE(f.workspace.busyKind(), GitBusyKind::none);
    }
};

HALVIK_TEST_MAIN_CORE(GitWorkspaceTest)
#include "tst_gitworkspace.moc"
