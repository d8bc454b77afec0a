#include "GitcoreSuites.h"

#include "gitcore/GitParsers.h"

#include <QTest>

using namespace halvik::gitcore;

namespace {

const QChar US(u'\x1f');

QString fields(const QStringList& parts)
{
    return parts.join(US);
}

} // namespace

class ListParsersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void logGroupsFilesUnderTheirCommit()
    {
        const QString text = fields({"a1b2c3d4e5", "Ada", "1700000000", "First: with colon"}) +
                             "\nREADME.md\nsrc/x y.php\n\n" + fields({"ffff", "Bob", "not-a-number", ""}) +
                             "\n\n" + fields({"eeee", "Cy", "1", "three", "extra"}) + "\nlast.txt";
        const auto commits = GitParsers::parseLog(text);
        QCOMPARE(commits.size(), 3);
        QCOMPARE(commits[0].sha, QStringLiteral("a1b2c3d4e5"));
        QCOMPARE(commits[0].shortSHA(), QStringLiteral("a1b2c3d"));
        QCOMPARE(commits[0].author, QStringLiteral("Ada"));
        QCOMPARE(commits[0].date.toSecsSinceEpoch(), 1700000000);
        QCOMPARE(commits[0].subject, QStringLiteral("First: with colon"));
        QCOMPARE(commits[0].files, QStringList({"README.md", "src/x y.php"}));
        QCOMPARE(commits[1].date.toSecsSinceEpoch(), 0);
        QVERIFY(commits[1].subject.isEmpty() && commits[1].files.isEmpty());
        QCOMPARE(commits[2].files, QStringList({"last.txt"}));
    }

    void logSkipsShortHeadersAndStrayLines()
    {
        const QString text = "orphan.txt\n" + fields({"only", "three", "fields"}) + "\nlost.txt\n" +
                             fields({"abc", "Ann", "5", "ok"}) + "\nkept.txt\n";
        const auto commits = GitParsers::parseLog(text);
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0].sha, QStringLiteral("abc"));
        QCOMPARE(commits[0].files, QStringList({"kept.txt"}));
        QVERIFY(GitParsers::parseLog(QString()).isEmpty());

        // Found by fuzzing: a quoted name that unquotes to nothing, or to a line break, is no file.
        const auto quoted =
            GitParsers::parseLog(fields({"abc", "Ann", "5", "ok"}) + "\n\"\"\n\"a\\nb\"\nkept.txt");
        QCOMPARE(quoted.size(), 1);
        QCOMPARE(quoted[0].files, QStringList({"kept.txt"}));
    }

    void datesBeyondTheCalendarReadAsZero()
    {
        // Found by fuzzing: a number of seconds whose milliseconds overflow gave an invalid date.
        const auto commits = GitParsers::parseLog(fields({"abc", "Ann", "1111111111111111111", "s"}));
        QCOMPARE(commits.size(), 1);
        QVERIFY(commits[0].date.isValid());
        QCOMPARE(commits[0].date.toSecsSinceEpoch(), 0);
        const auto stashes = GitParsers::parseStashList(fields({"stash@{0}", "-9223372036854775808", "m"}));
        QCOMPARE(stashes.size(), 1);
        QVERIFY(stashes[0].date.isValid());
        QCOMPARE(stashes[0].date.toSecsSinceEpoch(), 0);
    }

    void nameStatusReadsCodesAndRenames()
    {
        const auto files = GitParsers::parseNameStatus(
            "M\tsrc/app.php\r\nR087\told name.txt\tnew name.txt\nC100\ta.txt\tb.txt\u2028D\tgone.md\n"
            "A\tadded.md\fnot-a-record\n\n");
        QCOMPARE(files.size(), 5);
        QCOMPARE(files[0].path, QStringLiteral("src/app.php"));
        QCOMPARE(files[0].status, QStringLiteral("M"));
        QVERIFY(!files[0].originalPath.has_value());
        QCOMPARE(files[1].path, QStringLiteral("new name.txt"));
        QCOMPARE(files[1].originalPath, QStringLiteral("old name.txt"));
        QVERIFY(files[1].isRenamed);
        QCOMPARE(files[1].status, QStringLiteral("R"));
        QCOMPARE(files[1].kindLabel(), QStringLiteral("Renamed"));
        QVERIFY(files[2].isCopied && !files[2].isRenamed);
        QVERIFY(files[3].isDeleted());
        QVERIFY(files[4].isAdded());
        QCOMPARE(files[4].inclusion(), GitFileInclusion::included);
    }

    void quotedNamesAreUnquoted()
    {
        // Even with core.quotePath off, Git C-quotes names with quotes, backslashes or control
        // characters, and writes control bytes in octal.
        QCOMPARE(GitParsers::unquotePath(u"\"\u65E5\u672C/say \\\"hi\\\".md\""),
                 QStringLiteral("\u65E5\u672C/say \"hi\".md"));
        QCOMPARE(GitParsers::unquotePath(u"\"tab\\there\\\\back\\001\""),
                 QStringLiteral("tab\there\\back\x01"));
        QCOMPARE(GitParsers::unquotePath(u"\"caf\\303\\251.txt\""), QStringLiteral("caf\u00E9.txt"));
        QCOMPARE(GitParsers::unquotePath(u"plain \"name\".txt"), QStringLiteral("plain \"name\".txt"));
        QCOMPARE(GitParsers::unquotePath(u"\"trailing\\\""), QStringLiteral("trailing\\"));

        const auto commits = GitParsers::parseLog(fields({"abc", "A", "1", "S"}) + "\n\"a\\\"b.txt\"\n");
        QCOMPARE(commits.first().files, QStringList{"a\"b.txt"});
        const auto files = GitParsers::parseNameStatus("R100\t\"old\\ttab\"\t\"new\\\"q\"\n");
        QCOMPARE(files.first().path, QStringLiteral("new\"q"));
        QCOMPARE(files.first().originalPath, QStringLiteral("old\ttab"));
    }

    void forEachRefReadsBranches()
    {
        const QString text = QStringList{fields({"refs/heads/main", "main", "*", "origin/main"}),
                                         fields({"refs/heads/feature/x", "feature/x", " ", ""}),
                                         fields({"refs/remotes/origin/HEAD", "origin/HEAD", "", ""}),
                                         fields({"refs/remotes/origin/main", "origin/main", "", ""}),
                                         fields({"refs/heads/broken", "", "", ""}),
                                         fields({"refs/heads/short", "short", ""})}
                                 .join('\n');
        const auto branches = GitParsers::parseForEachRef(text);
        QCOMPARE(branches.size(), 3);
        QCOMPARE(branches[0], (GitBranch{"main", false, true, QStringLiteral("origin/main")}));
        QCOMPARE(branches[1], (GitBranch{"feature/x", false, false, std::nullopt}));
        QCOMPARE(branches[2], (GitBranch{"origin/main", true, false, std::nullopt}));
        QCOMPARE(branches[2].id(), QStringLiteral("remote/origin/main"));
        QCOMPARE(branches[2].shortName(), QStringLiteral("main"));
    }

    void stashListReadsIndexFromRefOrPosition()
    {
        const QString text = QStringList{fields({"stash@{0}", "1700000000", "WIP on main: abc first"}),
                                         fields({"stash@{x}", "bad", "odd ref"}), fields({"too", "short"}),
                                         fields({"stash@{7}", "12", "On main: kept"})}
                                 .join('\n');
        const auto stashes = GitParsers::parseStashList(text);
        QCOMPARE(stashes.size(), 3);
        QCOMPARE(stashes[0].index, 0);
        QCOMPARE(stashes[0].id(), QStringLiteral("stash@{0}"));
        QCOMPARE(stashes[0].date.toSecsSinceEpoch(), 1700000000);
        QCOMPARE(stashes[0].message, QStringLiteral("WIP on main: abc first"));
        QCOMPARE(stashes[1].index, 1); // position among the lines
        QCOMPARE(stashes[1].date.toSecsSinceEpoch(), 0);
        QCOMPARE(stashes[2].index, 7);
    }
};

HALVIK_GITCORE_SUITE(ListParsersTest)

#include "tst_lists.moc"
