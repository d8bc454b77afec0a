#include "GitcoreSuites.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"

#include <QRegularExpression>
#include <QTest>

using namespace halvik::gitcore;

namespace {

using Kind = GitDiffLine::Kind;

const QString kTwoHunks = QStringLiteral("diff --git a/src/app.php b/src/app.php\n"
                                         "index 1111111..2222222 100644\n"
                                         "--- a/src/app.php\n"
                                         "+++ b/src/app.php\n"
                                         "@@ -1,3 +1,4 @@ class App\n"
                                         " first\n"
                                         "-second\n"
                                         "+second changed\n"
                                         "+inserted\n"
                                         "\n"
                                         "@@ -10 +11,0 @@\n"
                                         "-removed line\n"
                                         "\\ No newline at end of file\n");

} // namespace

class DiffParserTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hunkHeaders()
    {
        QCOMPARE(GitParsers::parseHunkHeader(u"@@ -5 +7,0 @@"), (GitHunkRange{5, 1, 7, 0}));
        QCOMPARE(GitParsers::parseHunkHeader(u"@@ -1,3 +2,4 @@ function x()"), (GitHunkRange{1, 3, 2, 4}));
        QCOMPARE(GitParsers::parseHunkHeader(u"@@ -0,0 +1 @@"), (GitHunkRange{0, 0, 1, 1}));
        QCOMPARE(GitParsers::parseHunkHeader(u"@@ -99999999999,2 +3 @@"), (GitHunkRange{0, 2, 3, 1}));
        QCOMPARE(GitParsers::parseHunkHeader(u"@@@ -1,2 -1,2 +1,3 @@@"), GitHunkRange{});
        QCOMPARE(GitParsers::parseHunkHeader(u"not a header"), GitHunkRange{});
    }

    void hunkHeaderMatchesItsPattern()
    {
        // The header reader is hand-written for speed; it must agree with the pattern it stands
        // for on every line, including near misses and several candidates in one line.
        const QRegularExpression pattern(QStringLiteral("@@ -(\\d+)(?:,(\\d+))? \\+(\\d+)(?:,(\\d+))? @@"));
        const QStringList pieces{"@@ ", "-", "+", "1", "23", ",", " ", "@@", "x", "4294967296", ",0"};
        quint32 seed = 99;
        for (int round = 0; round < 20000; ++round) {
            QString line;
            for (int n = int((seed = seed * 1103515245u + 12345u) >> 28); n >= 0; --n)
                line += pieces.at(int(((seed = seed * 1103515245u + 12345u) >> 16) % quint32(pieces.size())));
            const auto match = pattern.match(line);
            GitHunkRange expected;
            if (match.hasMatch()) {
                const auto group = [&match](int i, int fallback) {
                    bool ok = false;
                    const int value = match.captured(i).toInt(&ok);
                    return ok ? value : fallback;
                };
                expected = {group(1, 0), group(2, 1), group(3, 0), group(4, 1)};
            }
            QVERIFY2(GitParsers::parseHunkHeader(line) == expected, qPrintable(line));
        }
    }

    void diffPaths()
    {
        QCOMPARE(GitParsers::parseDiffPaths(u"diff --git a/x.txt b/x.txt"),
                 (GitDiffPaths{std::nullopt, "x.txt"}));
        QCOMPARE(GitParsers::parseDiffPaths(u"diff --git a/old.txt b/dir/new.txt"),
                 (GitDiffPaths{QStringLiteral("old.txt"), "dir/new.txt"}));
        QCOMPARE(GitParsers::parseDiffPaths(u"diff --git a/only"), std::nullopt);
        QCOMPARE(GitParsers::parseDiffPaths(u"index abc..def"), std::nullopt);
    }

    void diffPathsWithSpacesQuotesAndUnicode_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("original");
        QTest::newRow("same name with spaces") << "diff --git a/file with space.txt b/file with space.txt"
                                               << "file with space.txt"
                                               << "";
        QTest::newRow("name with \" b/\" inside") << "diff --git a/x b/y.txt b/x b/y.txt"
                                                  << "x b/y.txt"
                                                  << "";
        QTest::newRow("rename with spaces") << "diff --git a/old name.txt b/new name.txt"
                                            << "new name.txt"
                                            << "old name.txt";
        QTest::newRow("quoted both") << "diff --git \"a/say \\\"hi\\\".txt\" \"b/say \\\"hi\\\".txt\""
                                     << "say \"hi\".txt"
                                     << "";
        QTest::newRow("quoted rename") << "diff --git a/plain.txt \"b/tab\\there.txt\""
                                       << "tab\there.txt"
                                       << "plain.txt";
        QTest::newRow("unicode unquoted") << QStringLiteral("diff --git a/日本/説明 文.md b/日本/説明 文.md")
                                          << QStringLiteral("日本/説明 文.md") << "";
        QTest::newRow("unicode as octal bytes")
            << "diff --git \"a/caf\\303\\251.txt\" \"b/caf\\303\\251.txt\"" << QStringLiteral("café.txt")
            << "";
    }

    void diffPathsWithSpacesQuotesAndUnicode()
    {
        QFETCH(QString, line);
        QFETCH(QString, path);
        QFETCH(QString, original);
        const auto paths = GitParsers::parseDiffPaths(line);
        QVERIFY(paths);
        QCOMPARE(paths->path, path);
        QCOMPARE(paths->original.value_or(QString()), original);
    }

    void renameLinesNameTheSourceExactly()
    {
        // The first line alone cannot split these names; "rename from" can.
        const QString text =
            "diff --git a/a b/c d b/e f\nsimilarity index 80%\nrename from a b/c d\n"
            "rename to e f\nindex 1..2 100644\n--- a/a b/c d\n+++ b/e f\n@@ -1 +1 @@\n-x\n+y\n";
        const auto diff = GitParsers::parseUnifiedDiff(text, "e f", GitDiffScope::included, true);
        QCOMPARE(diff.originalPath, QStringLiteral("a b/c d"));
        QCOMPARE(diff.hunks.size(), 1);
        // Its patch would carry the rename along, so the hunk is not applied on its own.
        QVERIFY(!diff.hunks[0].canApply);

        const QString quoted = "diff --git \"a/\\\"q\\\".txt\" b/q.txt\nsimilarity index 100%\n"
                               "rename from \"\\\"q\\\".txt\"\nrename to q.txt\n";
        QCOMPARE(GitParsers::parseUnifiedDiff(quoted, "q.txt", GitDiffScope::included, true).originalPath,
                 QStringLiteral("\"q\".txt"));

        const QString modified =
            "diff --git a/file with space.txt b/file with space.txt\nindex 1..2 100644\n"
            "--- a/file with space.txt\t\n+++ b/file with space.txt\t\n@@ -1 +1 @@\n-a\n+b\n";
        const auto plain =
            GitParsers::parseUnifiedDiff(modified, "file with space.txt", GitDiffScope::remaining, true);
        QVERIFY(!plain.originalPath);
        QVERIFY(plain.hunks[0].canApply);

        const QString binary = "diff --git a/old logo.png b/new logo.png\nsimilarity index 90%\n"
                               "rename from old logo.png\nrename to new logo.png\nindex 1..2 100644\n"
                               "Binary files a/old logo.png and b/new logo.png differ\n";
        const auto image = GitParsers::parseUnifiedDiff(binary, "new logo.png", GitDiffScope::included, true);
        QCOMPARE(image.kind, GitDiffKind::image);
        QCOMPARE(image.originalPath, QStringLiteral("old logo.png"));
    }

    void textDiffNumbersEveryLine()
    {
        const auto diff =
            GitParsers::parseUnifiedDiff(kTwoHunks, "src/app.php", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::text);
        QCOMPARE(diff.raw, kTwoHunks);
        QCOMPARE(diff.lineCount, 13); // the final newline ends the last line and adds none
        QVERIFY(!diff.originalPath.has_value());
        QCOMPARE(diff.fileHeader,
                 QStringLiteral("diff --git a/src/app.php b/src/app.php\nindex 1111111..2222222 "
                                "100644\n--- a/src/app.php\n+++ b/src/app.php"));
        QCOMPARE(diff.hunks.size(), 2);

        const auto& first = diff.hunks[0];
        QCOMPARE(first.id, QStringLiteral("src/app.php:1:1:0"));
        QCOMPARE(first.header, QStringLiteral("@@ -1,3 +1,4 @@ class App"));
        QVERIFY(first.canApply);
        QCOMPARE(first.lines.size(), 5);
        const QList<Kind> kinds{Kind::context, Kind::deletion, Kind::addition, Kind::addition, Kind::context};
        const QList<std::optional<int>> oldNumbers{1, 2, std::nullopt, std::nullopt, 3};
        const QList<std::optional<int>> newNumbers{1, std::nullopt, 2, 3, 4};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(first.lines[i].id, i);
            QCOMPARE(first.lines[i].kind, kinds[i]);
            QCOMPARE(first.lines[i].oldNumber, oldNumbers[i]);
            QCOMPARE(first.lines[i].newNumber, newNumbers[i]);
        }
        // The empty line inside the hunk is context " " and advanced both sides.
        QCOMPARE(first.lines[4].text, QStringLiteral(" "));

        const auto& second = diff.hunks[1];
        QCOMPARE(second.id, QStringLiteral("src/app.php:10:11:1"));
        QCOMPARE((GitHunkRange{second.oldStart, second.oldCount, second.newStart, second.newCount}),
                 (GitHunkRange{10, 1, 11, 0}));
        QCOMPARE(second.lines.size(), 2);
        QCOMPARE(second.lines[0].oldNumber, 10);
        QCOMPARE(second.lines[1].kind, Kind::meta);
        QVERIFY(!second.lines[1].oldNumber && !second.lines[1].newNumber);
        QCOMPARE(second.lines[1].id, 6);
    }

    void patchOfOneHunk()
    {
        const auto diff =
            GitParsers::parseUnifiedDiff(kTwoHunks, "src/app.php", GitDiffScope::included, false);
        QVERIFY(!diff.hunks[0].canApply);
        QCOMPARE(diff.patch(diff.hunks[0]),
                 QStringLiteral("diff --git a/src/app.php b/src/app.php\nindex 1111111..2222222 100644\n"
                                "--- a/src/app.php\n+++ b/src/app.php\n@@ -1,3 +1,4 @@ class App\n first\n"
                                "-second\n+second changed\n+inserted\n \n"));
        auto bare = diff;
        bare.fileHeader = QStringLiteral(" \n");
        QCOMPARE(bare.patch(bare.hunks[1]),
                 QStringLiteral("@@ -10 +11,0 @@\n-removed line\n\\ No newline at end of file\n"));
    }

    void renameHeaderSetsOriginalPath()
    {
        const QString text = "diff --git a/old.md b/new.md\nsimilarity index 90%\nrename from old.md\n"
                             "rename to new.md\n@@ -1 +1 @@\n-a\n+b";
        const auto diff = GitParsers::parseUnifiedDiff(text, "new.md", GitDiffScope::commit, false);
        QCOMPARE(diff.originalPath, QStringLiteral("old.md"));
        QCOMPARE(diff.hunks.size(), 1);
        QCOMPARE(diff.fileHeader.count('\n'), 3);
    }

    void binaryAndImageDiffs()
    {
        const QString text = "diff --git a/logo.png b/img/logo.png\nindex 1..2 100644\n"
                             "Binary files a/logo.png and b/img/logo.png differ\n";
        auto diff = GitParsers::parseUnifiedDiff(text, "img/logo.PNG", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::image);
        QCOMPARE(diff.raw, text.trimmed());
        QCOMPARE(diff.originalPath, QStringLiteral("logo.png"));
        QVERIFY(diff.hunks.isEmpty());
        QCOMPARE(diff.lineCount, 0);
        diff = GitParsers::parseUnifiedDiff(text, "data.bin", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::binary);
        diff = GitParsers::parseUnifiedDiff("GIT binary patch\nliteral 0\n", "x.gif", GitDiffScope::commit,
                                            true);
        QCOMPARE(diff.kind, GitDiffKind::image);
    }

    void emptyAndOversizedDiffs()
    {
        auto diff = GitParsers::parseUnifiedDiff(" \n\t\n", "a", GitDiffScope::remaining, true);
        QCOMPARE(diff, GitFileDiff::empty("a", GitDiffScope::remaining, GitDiffKind::empty));

        QStringList lines{"diff --git a/big b/big", "@@ -1,3999 +1,3999 @@"};
        while (lines.size() < 4001)
            lines << "+line";
        diff = GitParsers::parseUnifiedDiff(lines.join('\n'), "big", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::tooLarge);
        QCOMPARE(diff.lineCount, 4001);
        QVERIFY(diff.hunks.isEmpty() && diff.raw.isEmpty());
        lines.removeLast();
        diff = GitParsers::parseUnifiedDiff(lines.join('\n') + '\n', "big", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::text);
        QCOMPARE(diff.lineCount, 4000);
        QCOMPARE(diff.hunks[0].lines.size(), 3998);

        // The byte limit counts UTF-8: 133,334 three-byte characters pass 400,000 bytes.
        const QString wide = "+" + QString(133334, QChar(u'€'));
        diff = GitParsers::parseUnifiedDiff("@@ -1 +1 @@\n" + wide, "w", GitDiffScope::remaining, true);
        QCOMPARE(diff.kind, GitDiffKind::tooLarge);
        QCOMPARE(diff.lineCount, 0);
        diff = GitParsers::parseUnifiedDiff("@@ -1 +1 @@\n" + wide.left(100000), "w", GitDiffScope::remaining,
                                            true);
        QCOMPARE(diff.kind, GitDiffKind::text);
    }

    void linesBeforeTheFirstHunkJoinTheHeader()
    {
        auto diff =
            GitParsers::parseUnifiedDiff("something odd\n\n@@ -1 +1 @@\n+x\n--- removed \"-- \" line\n+y",
                                         "f", GitDiffScope::remaining, true);
        // While the hunk's counts say more lines are due, "--- " and "+++ " are its content (a
        // removed "-- x", an added "++ y"), not a file header.
        QCOMPARE(diff.fileHeader, QStringLiteral("something odd"));
        QCOMPARE(diff.hunks.size(), 1);
        QCOMPARE(diff.hunks[0].lines.size(), 3);
        QCOMPARE(diff.hunks[0].lines[1].kind, GitDiffLine::Kind::deletion);
        // Once they are used up, the next file's header starts as usual.
        diff =
            GitParsers::parseUnifiedDiff("@@ -1 +1 @@\n-a\n+++ b\n--- a/next\n+++ b/next\n@@ -1 +0,0 @@\n-z",
                                         "f", GitDiffScope::remaining, true);
        QCOMPARE(diff.hunks.size(), 2);
        QCOMPARE(diff.hunks[0].lines.size(), 2);
        QCOMPARE(diff.hunks[0].lines[1].text, QStringLiteral("+++ b"));
        QCOMPARE(diff.fileHeader, QStringLiteral("--- a/next\n+++ b/next"));
    }
};

HALVIK_GITCORE_SUITE(DiffParserTest)

#include "tst_diff.moc"
