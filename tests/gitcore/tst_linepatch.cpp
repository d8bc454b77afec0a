#include "GitTestRepo.h"
#include "GitcoreSuites.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitLinePatch.h"
#include "gitcore/GitParsers.h"

#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QTest>

using namespace halvik::gitcore;
using halvik::test::GitTestRepo;

namespace {

// Git's own bytes, whatever the file's encoding.
QByteArray gitBytes(const GitTestRepo& repo, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(repo.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GIT_CONFIG_NOSYSTEM"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("git"), args);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// The diff of one file as the product reads it: UTF-8, or one byte per character when it is not.
GitFileDiff diffOf(const GitTestRepo& repo, const QString& path, GitDiffScope scope)
{
    QStringList args{QStringLiteral("diff"), QStringLiteral("--no-color"), QStringLiteral("-U3")};
    if (scope == GitDiffScope::included)
        args << QStringLiteral("--cached");
    args << QStringLiteral("--") << path;
    const QByteArray bytes = gitBytes(repo, args);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    const bool latin1 = utf8.hasError();
    if (latin1)
        text = QString::fromLatin1(bytes);
    GitFileDiff diff = GitParsers::parseUnifiedDiff(text, path, scope, true);
    diff.isLatin1 = latin1;
    return diff;
}

QSet<int> idsOf(const GitDiffHunk& hunk, const QStringList& texts)
{
    QSet<int> ids;
    for (const GitDiffLine& line : hunk.lines)
        if (texts.contains(line.text))
            ids.insert(line.id);
    return ids;
}

QStringList applyArguments(GitHunkAction action, bool check)
{
    QStringList args = action == GitHunkAction::include   ? GitCommands::applyCached()
                       : action == GitHunkAction::exclude ? GitCommands::applyCachedReverse()
                                                          : GitCommands::applyReverse();
    if (check)
        args.insert(args.size() - 1, QStringLiteral("--check"));
    return GitCommands::quietArguments(args);
}

// Checks, then applies the chosen lines of the file's first hunk; Git's complaint when it refuses.
QString applyChosen(const GitTestRepo& repo, const QString& path, GitHunkAction action,
                    const QStringList& chosen)
{
    const GitDiffScope scope =
        action == GitHunkAction::exclude ? GitDiffScope::included : GitDiffScope::remaining;
    const GitFileDiff diff = diffOf(repo, path, scope);
    if (diff.kind != GitDiffKind::text || diff.hunks.isEmpty())
        return QStringLiteral("no text diff");
    const GitDiffHunk& hunk = diff.hunks.first();
    const QSet<int> ids = idsOf(hunk, chosen);
    if (ids.size() != chosen.size())
        return QStringLiteral("not every chosen line is in the hunk");
    const auto part = linePatch(diff, hunk, ids, patchDirection(action));
    if (!part)
        return QStringLiteral("no patch");
    for (const bool check : {true, false}) {
        const auto run = repo.git(applyArguments(action, check), part->patchBytes());
        if (run.exitCode != 0)
            return run.err + QStringLiteral("\n") + part->patch();
    }
    return {};
}

QByteArray worktree(const GitTestRepo& repo, const QString& path)
{
    QFile file(repo.path() + QLatin1Char('/') + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray indexed(const GitTestRepo& repo, const QString& path)
{
    return gitBytes(repo, {QStringLiteral("show"), QStringLiteral(":") + path});
}

const QByteArray base = "1\n2\n3\n4\n5\n6\n7\n8\n";
// 3 becomes "three" and "new" arrives after 5: one hunk, two changes.
const QByteArray edited = "1\n2\nthree\n4\n5\nnew\n6\n7\n8\n";

} // namespace

// Patches of some lines of a hunk, applied by the real `git apply`.
class LinePatchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void includeChosenLines_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QByteArray>("index");
        QTest::newRow("first change")
            << QStringList{"-3", "+three"} << QByteArray("1\n2\nthree\n4\n5\n6\n7\n8\n");
        QTest::newRow("last line") << QStringList{"+new"} << QByteArray("1\n2\n3\n4\n5\nnew\n6\n7\n8\n");
        QTest::newRow("removal only") << QStringList{"-3"} << QByteArray("1\n2\n4\n5\n6\n7\n8\n");
        QTest::newRow("addition only")
            << QStringList{"+three"} << QByteArray("1\n2\n3\nthree\n4\n5\n6\n7\n8\n");
        QTest::newRow("additions only")
            << QStringList{"+three", "+new"} << QByteArray("1\n2\n3\nthree\n4\n5\nnew\n6\n7\n8\n");
        QTest::newRow("everything") << QStringList{"-3", "+three", "+new"} << edited;
    }
    void includeChosenLines()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QByteArray, index);
        GitTestRepo repo;
        repo.write("a.txt", base);
        repo.commitAll("base");
        repo.write("a.txt", edited);
        QCOMPARE(applyChosen(repo, "a.txt", GitHunkAction::include, chosen), QString());
        QCOMPARE(indexed(repo, "a.txt"), index);
        QCOMPARE(worktree(repo, "a.txt"), edited);
    }

    void excludeAndDiscardChosenLines_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QByteArray>("result");
        const int exclude = int(GitHunkAction::exclude);
        const int discard = int(GitHunkAction::discard);
        QTest::newRow("exclude last")
            << exclude << QStringList{"+new"} << QByteArray("1\n2\nthree\n4\n5\n6\n7\n8\n");
        QTest::newRow("exclude removal only")
            << exclude << QStringList{"-3"} << QByteArray("1\n2\n3\nthree\n4\n5\nnew\n6\n7\n8\n");
        QTest::newRow("exclude addition only")
            << exclude << QStringList{"+three"} << QByteArray("1\n2\n4\n5\nnew\n6\n7\n8\n");
        QTest::newRow("discard first change")
            << discard << QStringList{"-3", "+three"} << QByteArray("1\n2\n3\n4\n5\nnew\n6\n7\n8\n");
        QTest::newRow("discard additions only")
            << discard << QStringList{"+three", "+new"} << QByteArray("1\n2\n4\n5\n6\n7\n8\n");
        QTest::newRow("discard removal only")
            << discard << QStringList{"-3"} << QByteArray("1\n2\n3\nthree\n4\n5\nnew\n6\n7\n8\n");
    }
    void excludeAndDiscardChosenLines()
    {
        QFETCH(int, action);
        QFETCH(QStringList, chosen);
        QFETCH(QByteArray, result);
        GitTestRepo repo;
        repo.write("a.txt", base);
        repo.commitAll("base");
        repo.write("a.txt", edited);
        const auto hunkAction = GitHunkAction(action);
        if (hunkAction == GitHunkAction::exclude)
            repo.ok({"add", "a.txt"});
        QCOMPARE(applyChosen(repo, "a.txt", hunkAction, chosen), QString());
        if (hunkAction == GitHunkAction::exclude) {
            QCOMPARE(indexed(repo, "a.txt"), result);
            QCOMPARE(worktree(repo, "a.txt"), edited);
        } else {
            QCOMPARE(worktree(repo, "a.txt"), result);
            QCOMPARE(indexed(repo, "a.txt"), base);
        }
    }

    // Removed "-- x" and added "++ y" lines read "--- x" and "+++ y" in the diff.
    void linesThatLookLikeFileHeaders()
    {
        GitTestRepo repo;
        repo.write("notes.md", "intro\n-- signature\nbody\nend\n");
        repo.commitAll("base");
        repo.write("notes.md", "intro\nbody\n++ plus\nmore\nend\n");
        const GitFileDiff diff = diffOf(repo, "notes.md", GitDiffScope::remaining);
        QCOMPARE(diff.hunks.size(), 1);
        QVERIFY(!diff.fileHeader.contains("signature"));
        QCOMPARE(applyChosen(repo, "notes.md", GitHunkAction::include, {"--- signature", "+++ plus"}),
                 QString());
        QCOMPARE(indexed(repo, "notes.md"), QByteArray("intro\nbody\n++ plus\nend\n"));
        QCOMPARE(applyChosen(repo, "notes.md", GitHunkAction::discard, {"+more"}), QString());
        QCOMPARE(worktree(repo, "notes.md"), QByteArray("intro\nbody\n++ plus\nend\n"));
        QCOMPARE(applyChosen(repo, "notes.md", GitHunkAction::exclude, {"+++ plus"}), QString());
        QCOMPARE(indexed(repo, "notes.md"), QByteArray("intro\nbody\nend\n"));
    }

    void filesThatAreNotUtf8StayByteForByte()
    {
        GitTestRepo repo;
        repo.write("latin.txt", "caf\xe9\nna\xefve\nr\xe9sum\xe9\n");
        repo.commitAll("base");
        repo.write("latin.txt", "caf\xe9 cr\xe8me\nna\xefve\nr\xe9sum\xe9\nfa\xe7"
                                "ade\n");
        QVERIFY(diffOf(repo, "latin.txt", GitDiffScope::remaining).isLatin1);
        QCOMPARE(applyChosen(repo, "latin.txt", GitHunkAction::include,
                             {QString::fromLatin1("+fa\xe7"
                                                  "ade")}),
                 QString());
        QCOMPARE(indexed(repo, "latin.txt"), QByteArray("caf\xe9\nna\xefve\nr\xe9sum\xe9\nfa\xe7"
                                                        "ade\n"));
        QCOMPARE(applyChosen(repo, "latin.txt", GitHunkAction::discard,
                             {QString::fromLatin1("-caf\xe9"), QString::fromLatin1("+caf\xe9 cr\xe8me")}),
                 QString());
        QCOMPARE(worktree(repo, "latin.txt"), QByteArray("caf\xe9\nna\xefve\nr\xe9sum\xe9\nfa\xe7"
                                                         "ade\n"));
    }

    void missingFinalNewline_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QByteArray>("result");
        const int include = int(GitHunkAction::include);
        const int exclude = int(GitHunkAction::exclude);
        const int discard = int(GitHunkAction::discard);
        // The last line gains a newline and more lines follow it.
        const QByteArray open = "a\nb";
        const QByteArray grown = "a\nb\nc\nd";
        QTest::newRow("include one addition after the open end")
            << open << grown << include << QStringList{"+c"} << QByteArray("a\nb\nc\n");
        QTest::newRow("include the new end only")
            << open << grown << include << QStringList{"+d"} << QByteArray("a\nb\nd");
        QTest::newRow("include the closing of the old end")
            << open << grown << include << QStringList{"-b", "+b"} << QByteArray("a\nb\n");
        QTest::newRow("exclude the new end only")
            << open << grown << exclude << QStringList{"+d"} << QByteArray("a\nb\nc\n");
        QTest::newRow("exclude the removal of the open end")
            << open << grown << exclude << QStringList{"-b"} << QByteArray("a\nb\nb\nc\nd");
        QTest::newRow("discard a middle addition")
            << open << grown << discard << QStringList{"+c"} << QByteArray("a\nb\nd");
        // The last line loses its newline.
        const QByteArray closed = "a\nb\nc\n";
        const QByteArray shut = "a\nb\nC";
        QTest::newRow("include the removal alone")
            << closed << shut << include << QStringList{"-c"} << QByteArray("a\nb\n");
        QTest::newRow("include the open addition alone")
            << closed << shut << include << QStringList{"+C"} << QByteArray("a\nb\nc\nC");
        QTest::newRow("discard the open addition alone")
            << closed << shut << discard << QStringList{"+C"} << QByteArray("a\nb\n");
        QTest::newRow("exclude the removal alone")
            << closed << shut << exclude << QStringList{"-c"} << QByteArray("a\nb\nc\nC");
    }
    void missingFinalNewline()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, action);
        QFETCH(QStringList, chosen);
        QFETCH(QByteArray, result);
        GitTestRepo repo;
        repo.write("end.txt", before);
        repo.commitAll("base");
        repo.write("end.txt", after);
        const auto hunkAction = GitHunkAction(action);
        if (hunkAction == GitHunkAction::exclude)
            repo.ok({"add", "end.txt"});
        const GitFileDiff diff = diffOf(repo, "end.txt", GitDiffScope::remaining);
        QVERIFY(diff.raw.contains("\\ No newline at end of file") || hunkAction == GitHunkAction::exclude);
        QCOMPARE(applyChosen(repo, "end.txt", hunkAction, chosen), QString());
        QCOMPARE(hunkAction == GitHunkAction::discard ? worktree(repo, "end.txt") : indexed(repo, "end.txt"),
                 result);
    }

    // A partial creation or deletion leaves the file in place with the lines that were not chosen.
    void partOfANewOrDeletedFile()
    {
        GitTestRepo repo;
        repo.write("keep.txt", "x\n");
        repo.write("gone.txt", "one\ntwo\nthree\n");
        repo.commitAll("base");
        repo.write("fresh.txt", "alpha\nbeta\ngamma\n");
        repo.ok({"add", "fresh.txt"});
        QCOMPARE(applyChosen(repo, "fresh.txt", GitHunkAction::exclude, {"+beta"}), QString());
        QCOMPARE(indexed(repo, "fresh.txt"), QByteArray("alpha\ngamma\n"));

        QFile::remove(repo.path() + "/gone.txt");
        QCOMPARE(applyChosen(repo, "gone.txt", GitHunkAction::include, {"-two"}), QString());
        QCOMPARE(indexed(repo, "gone.txt"), QByteArray("one\nthree\n"));
    }

    void onlyAddedOrRemovedLinesCount()
    {
        GitTestRepo repo;
        repo.write("a.txt", base);
        repo.commitAll("base");
        repo.write("a.txt", edited);
        const GitFileDiff diff = diffOf(repo, "a.txt", GitDiffScope::remaining);
        const GitDiffHunk& hunk = diff.hunks.first();
        QVERIFY(!linePatch(diff, hunk, idsOf(hunk, {" 1", " 4"}), GitPatchDirection::forward));
        QVERIFY(!linePatch(diff, hunk, {}, GitPatchDirection::reverse));
        // The section name after the ranges survives; the ranges count the lines kept.
        const auto part = linePatch(diff, hunk, idsOf(hunk, {"+new"}), GitPatchDirection::forward);
        QVERIFY(part);
        QCOMPARE(part->hunk.header.left(17), QStringLiteral("@@ -1,8 +1,9 @@"));
        QCOMPARE(part->hunk.oldCount, 8);
        QCOMPARE(part->hunk.newCount, 9);
    }
};

HALVIK_GITCORE_SUITE(LinePatchTest)

#include "tst_linepatch.moc"
