#include "GitTestRepo.h"
#include "GitcoreSuites.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"
#include "gitcore/GitRepositorySnapshot.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using namespace halvik::gitcore;
using halvik::test::GitTestRepo;

namespace {

GitStatusParseResult statusOf(const GitTestRepo& repo)
{
    return GitParsers::parseStatusPorcelainV2(repo.ok(GitCommands::statusPorcelainV2()));
}

const GitChangedFile* find(const QList<GitChangedFile>& files, const QString& path)
{
    for (const auto& file : files) {
        if (file.path == path)
            return &file;
    }
    return nullptr;
}

} // namespace

// Output of the real `git`, produced in temporary repositories.
class RealGitTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusOfEveryKindOfChange()
    {
        GitTestRepo repo;
        for (const char* name : {"file9", "file10", "old.txt", "del.txt", "both.txt", "keep.txt"})
            repo.write(name, QByteArray(name) + "\none\ntwo\n");
        repo.commitAll("initial");
        repo.write("both.txt", "staged\n");
        repo.ok({"add", "both.txt"});
        repo.write("both.txt", "staged\nand not\n");
        QVERIFY(QDir(repo.path()).mkpath("dir with space"));
        repo.ok({"mv", "old.txt", "dir with space/new name.txt"});
        QVERIFY(QFile::remove(repo.path() + "/del.txt"));
        repo.write("untracked dir/ünïcode file.txt", "u\n");
        repo.write("added.txt", "a\n");
        repo.ok({"add", "added.txt"});
        repo.write("file9", "changed\n");

        const auto status = statusOf(repo);
        QCOMPARE(status.branch, QStringLiteral("main"));
        QVERIFY(!status.isUnborn && !status.isDetached && !status.upstream);
        QCOMPARE(status.oid->size(), 40);
        QStringList paths;
        for (const auto& file : status.files)
            paths << file.path;
        QCOMPARE(paths, QStringList({"added.txt", "both.txt", "del.txt", "dir with space/new name.txt",
                                     "file9", "untracked dir/ünïcode file.txt"}));
        QCOMPARE(find(status.files, "added.txt")->kindLabel(), QStringLiteral("Added"));
        QCOMPARE(find(status.files, "added.txt")->inclusion(), GitFileInclusion::included);
        QCOMPARE(find(status.files, "both.txt")->inclusion(), GitFileInclusion::mixed);
        QCOMPARE(find(status.files, "del.txt")->status, QStringLiteral("D"));
        QCOMPARE(find(status.files, "del.txt")->inclusion(), GitFileInclusion::remaining);
        const auto* renamed = find(status.files, "dir with space/new name.txt");
        QVERIFY(renamed->isRenamed);
        QCOMPARE(renamed->originalPath, QStringLiteral("old.txt"));
        QCOMPARE(find(status.files, "file9")->status, QStringLiteral("M"));
        QVERIFY(find(status.files, "untracked dir/ünïcode file.txt")->isUntracked);

        GitRepositorySnapshot snapshot;
        snapshot.files = status.files;
        QCOMPARE(snapshot.includedFiles().size(), 3);  // added, both, renamed
        QCOMPARE(snapshot.remainingFiles().size(), 4); // both, del, file9, untracked
    }

    void unbornDetachedAndUpstream()
    {
        GitTestRepo repo;
        auto status = statusOf(repo);
        QVERIFY(status.isUnborn);
        QCOMPARE(status.branch, QStringLiteral("main"));

        repo.write("a", "1\n");
        repo.commitAll("one");
        QTemporaryDir remote;
        QCOMPARE(QProcess::execute("git", {"init", "-q", "--bare", remote.path()}), 0);
        repo.ok({"remote", "add", "origin", remote.path()});
        repo.ok({"push", "-q", "-u", "origin", "main"});
        repo.write("a", "2\n");
        repo.commitAll("two");
        repo.write("a", "3\n");
        repo.commitAll("three");
        status = statusOf(repo);
        QCOMPARE(status.upstream, QStringLiteral("origin/main"));
        QCOMPARE(status.ahead, 2);
        QCOMPARE(status.behind, 0);

        repo.ok({"checkout", "-q", "--detach", "HEAD~1"});
        status = statusOf(repo);
        QVERIFY(status.isDetached);
        QVERIFY(!status.branch);
    }

    void mergeConflicts()
    {
        GitTestRepo repo;
        repo.write("page.md", "base\n");
        repo.commitAll("base");
        repo.ok({"checkout", "-q", "-b", "other"});
        repo.write("page.md", "theirs\n");
        repo.commitAll("theirs");
        repo.ok({"checkout", "-q", "main"});
        repo.write("page.md", "ours\n");
        repo.commitAll("ours");
        const auto merge = repo.git({"merge", "other"});
        QVERIFY(merge.exitCode != 0);
        QVERIFY(GitCommands::looksLikeConflict(merge.out + merge.err));
        const auto status = statusOf(repo);
        QVERIFY(status.hasUnmerged());
        QCOMPARE(status.files.size(), 1);
        QCOMPARE(status.files[0].status, QStringLiteral("UU"));
        QCOMPARE(status.files[0].inclusion(), GitFileInclusion::conflicted);
    }

    void logRefsStashesAndNameStatus()
    {
        GitTestRepo repo;
        repo.write("one.txt", "1\n");
        repo.write("sub/two.txt", "2\n");
        repo.commitAll("first commit");
        repo.ok({"mv", "one.txt", "uno.txt"});
        repo.ok({"commit", "-q", "-m", "rename: one → uno"});
        repo.ok({"branch", "feature/x"});

        const auto commits =
            GitParsers::parseLog(repo.ok({"log", "--pretty=format:%H%x1f%an%x1f%at%x1f%s", "--name-only"}));
        QCOMPARE(commits.size(), 2);
        QCOMPARE(commits[0].subject, QStringLiteral("rename: one → uno"));
        QCOMPARE(commits[0].files, QStringList({"uno.txt"})); // git log follows renames by default
        QCOMPARE(commits[1].files, QStringList({"one.txt", "sub/two.txt"}));
        QCOMPARE(commits[1].author, QStringLiteral("Ada Tester"));
        QCOMPARE(commits[1].date.toSecsSinceEpoch(), 1700000000);

        const auto renames =
            GitParsers::parseNameStatus(repo.ok({"diff", "--name-status", "-M", "HEAD~1", "HEAD"}));
        QCOMPARE(renames.size(), 1);
        QCOMPARE(renames[0].originalPath, QStringLiteral("one.txt"));
        QCOMPARE(renames[0].path, QStringLiteral("uno.txt"));
        QVERIFY(renames[0].isRenamed);

        const auto branches = GitParsers::parseForEachRef(
            repo.ok({"for-each-ref", "--format=%(refname)%1f%(refname:short)%1f%(HEAD)%1f%(upstream:short)",
                     "refs/heads"}));
        QCOMPARE(branches.size(), 2);
        QCOMPARE(branches[0].name, QStringLiteral("feature/x"));
        QVERIFY(!branches[0].isCurrent && branches[1].isCurrent && !branches[1].isRemote);

        repo.write("sub/two.txt", "changed\n");
        repo.ok({"stash", "push", "-q", "-m", "first"});
        repo.write("uno.txt", "changed\n");
        repo.ok({"stash", "push", "-q", "-m", "second"});
        const auto stashes =
            GitParsers::parseStashList(repo.ok({"stash", "list", "--format=%gd%x1f%ct%x1f%gs"}));
        QCOMPARE(stashes.size(), 2);
        QCOMPARE(stashes[0].ref, QStringLiteral("stash@{0}"));
        QCOMPARE(stashes[1].index, 1);
        QVERIFY(stashes[0].message.endsWith("second"));
    }

    void oneHunkPatchAppliesWithRealGit()
    {
        GitTestRepo repo;
        QStringList lines;
        for (int i = 1; i <= 40; ++i)
            lines << QStringLiteral("line %1").arg(i);
        repo.write("notes.txt", (lines.join('\n') + '\n').toUtf8());
        repo.commitAll("notes");
        lines[2] = "line three changed";
        lines.insert(30, "inserted near the end");
        repo.write("notes.txt", (lines.join('\n') + '\n').toUtf8());

        const auto diff = GitParsers::parseUnifiedDiff(repo.ok({"diff", "--", "notes.txt"}), "notes.txt",
                                                       GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::text);
        QCOMPARE(diff.hunks.size(), 2);
        repo.ok(GitCommands::quietArguments(GitCommands::applyCached()), diff.patch(diff.hunks[1]).toUtf8());

        const auto staged = GitParsers::parseUnifiedDiff(repo.ok({"diff", "--cached", "--", "notes.txt"}),
                                                         "notes.txt", GitDiffScope::included, true);
        QCOMPARE(staged.hunks.size(), 1);
        QCOMPARE(staged.hunks[0].newStart, diff.hunks[1].newStart);
        int additions = 0;
        for (const auto& line : staged.hunks[0].lines) {
            if (line.kind == GitDiffLine::Kind::addition) {
                ++additions;
                QCOMPARE(line.text, QStringLiteral("+inserted near the end"));
                QCOMPARE(line.newNumber, 31);
            }
        }
        QCOMPARE(additions, 1);

        // And back out again.
        repo.ok(GitCommands::quietArguments(GitCommands::applyCachedReverse()),
                staged.patch(staged.hunks[0]).toUtf8());
        QVERIFY(repo.ok({"diff", "--cached"}).isEmpty());
    }

    void binaryImageDiff()
    {
        GitTestRepo repo;
        repo.write("logo.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11));
        repo.commitAll("logo");
        repo.write("logo.png", QByteArray("\x89PNG\r\n\x1a\n\0\1\0", 11));
        const QString text = repo.ok({"diff", "--", "logo.png"});
        QCOMPARE(GitParsers::parseUnifiedDiff(text, "logo.png", GitDiffScope::remaining, true).kind,
                 GitDiffKind::image);
        QCOMPARE(GitParsers::parseUnifiedDiff(text, "logo.dat", GitDiffScope::remaining, true).kind,
                 GitDiffKind::binary);
    }

    void ceilingKeepsSitesOutOfEnclosingRepositories()
    {
        GitTestRepo outer;
        QVERIFY(QDir(outer.path()).mkpath("sites/blog"));
        const QString site = outer.path() + "/sites/blog";
        QProcess git;
        git.setWorkingDirectory(site);
        auto env = QProcessEnvironment::systemEnvironment();
        const auto extra = GitCommands::environment(site);
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            env.insert(it.key(), it.value());
        git.setProcessEnvironment(env);
        git.start("git", GitCommands::quietArguments(GitCommands::statusPorcelainV2()));
        QVERIFY(git.waitForFinished(30000));
        const auto inspection = GitRepositoryInspection::result(git.exitCode(), git.readAllStandardOutput(),
                                                                git.readAllStandardError(), false);
        QCOMPARE(inspection.kind, GitRepositoryInspection::Kind::notRepository);
    }
};

HALVIK_GITCORE_SUITE(RealGitTest)

#include "tst_realgit.moc"
