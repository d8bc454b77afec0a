#include "GitcoreSuites.h"

#include "gitcore/GitParsers.h"
#include "gitcore/GitRepositorySnapshot.h"
#include "gitcore/NaturalCompare.h"

#include <QSet>
#include <QTest>

using namespace halvik::gitcore;

namespace {

QString nul(const QStringList& pieces)
{
    return pieces.join(QChar(u'\0')) + QChar(u'\0');
}

QString ordinary(const QString& xy, const QString& path)
{
    return QStringLiteral("1 %1 N... 100644 100644 100644 1111111 2222222 %2").arg(xy, path);
}

QStringList paths(const QList<GitChangedFile>& files)
{
    QStringList result;
    for (const auto& file : files)
        result << file.path;
    return result;
}

} // namespace

class StatusParserTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyOutputHasNothing()
    {
        const auto result = GitParsers::parseStatusPorcelainV2(QString());
        QCOMPARE(result, GitStatusParseResult());
        QVERIFY(!result.branch && !result.oid && result.files.isEmpty());
    }

    void branchHeaders()
    {
        auto result =
            GitParsers::parseStatusPorcelainV2(nul({"# branch.oid (initial)", "# branch.head main",
                                                    "# branch.upstream origin/main", "# branch.ab +3 -12"}));
        QVERIFY(result.isUnborn);
        QCOMPARE(result.oid, QStringLiteral("(initial)"));
        QCOMPARE(result.branch, QStringLiteral("main"));
        QCOMPARE(result.upstream, QStringLiteral("origin/main"));
        QCOMPARE(result.ahead, 3);
        QCOMPARE(result.behind, 12);

        result = GitParsers::parseStatusPorcelainV2(nul({"# branch.oid 0123abc", "# branch.head (detached)",
                                                         "# branch.ab garbage", "# branch.upstream "}));
        QVERIFY(result.isDetached);
        QVERIFY(!result.isUnborn);
        QVERIFY(!result.branch.has_value());
        QVERIFY(!result.upstream.has_value());
        QCOMPARE(result.ahead, 0);
        QCOMPARE(result.behind, 0);

        // An ahead count too large for an integer falls back to 0 instead of wrapping.
        result = GitParsers::parseStatusPorcelainV2(nul({"# branch.ab +99999999999999 -2"}));
        QCOMPARE(result.ahead, 0);
        QCOMPARE(result.behind, 2);
    }

    void renamesConsumeTheirSourcePath()
    {
        const QString rename = QStringLiteral("2 R. N... 100644 100644 100644 aaa bbb R100 new/name");
        auto result = GitParsers::parseStatusPorcelainV2(nul({rename, "old/name", ordinary(".M", "z.txt")}));
        QCOMPARE(result.files.size(), 2);
        const auto& file = result.files.first();
        QCOMPARE(file.path, QStringLiteral("new/name"));
        QCOMPARE(file.originalPath, QStringLiteral("old/name"));
        QVERIFY(file.isRenamed && !file.isCopied);
        QCOMPARE(file.status, QStringLiteral("R"));
        QCOMPARE(file.inclusion(), GitFileInclusion::included);

        // As the very last piece there is no source path, and the walk still ends.
        result = GitParsers::parseStatusPorcelainV2(QString(ordinary("M.", "a") + QChar(u'\0') + rename));
        QCOMPARE(paths(result.files), QStringList({"a", "new/name"}));
        QVERIFY(!result.files.last().originalPath.has_value());

        const QString copy = QStringLiteral("2 C. N... 100644 100644 100644 aaa bbb C75 copy with space.txt");
        result = GitParsers::parseStatusPorcelainV2(nul({copy, "orig.txt"}));
        QCOMPARE(result.files.size(), 1);
        QCOMPARE(result.files[0].path, QStringLiteral("copy with space.txt"));
        QVERIFY(result.files[0].isCopied && !result.files[0].isRenamed);
        QCOMPARE(result.files[0].kindLabel(), QStringLiteral("Copied"));
    }

    void recordsOfEveryKindAndMalformedOnes()
    {
        const auto result = GitParsers::parseStatusPorcelainV2(
            nul({ordinary("MM", "both.txt"), "u UU N... 100644 100644 100644 100644 a b c clash.txt",
                 "? new file.txt", "! ignored.log", "1 M. too few fields", "? ", "x unknown",
                 "1 M. N... 100644 100644 100644 1111111 2222222 "}));
        QCOMPARE(paths(result.files), QStringList({"both.txt", "clash.txt", "new file.txt"}));
        const auto& both = result.files[0];
        QCOMPARE(both.status, QStringLiteral("MM"));
        QCOMPARE(both.inclusion(), GitFileInclusion::mixed);
        const auto& clash = result.files[1];
        QVERIFY(clash.isConflicted);
        QCOMPARE(clash.status, QStringLiteral("UU"));
        QVERIFY(result.hasUnmerged());
        const auto& untracked = result.files[2];
        QVERIFY(untracked.isUntracked);
        QCOMPARE(untracked.statusCode(), QStringLiteral("??"));
        QCOMPARE(untracked.inclusion(), GitFileInclusion::remaining);
        QCOMPARE(untracked.kindLabel(), QStringLiteral("Added"));
    }

    void laterRecordForTheSamePathWins()
    {
        const auto result = GitParsers::parseStatusPorcelainV2(
            nul({ordinary("M.", "dup.txt"), "? other", ordinary(".D", "dup.txt")}));
        QCOMPARE(paths(result.files), QStringList({"dup.txt", "other"}));
        QCOMPARE(result.files[0].status, QStringLiteral("D"));
        QCOMPARE(result.files[0].worktreeStatus, QChar('D'));
    }

    void filesSortInNaturalOrder()
    {
        const auto result = GitParsers::parseStatusPorcelainV2(
            nul({"? file10", "? file9", "? File2", "? b/x", "? a10b", "? a2b", "? file1"}));
        QCOMPARE(paths(result.files),
                 QStringList({"a2b", "a10b", "b/x", "file1", "File2", "file9", "file10"}));
    }

    void naturalCompareIsATotalOrder()
    {
        QVERIFY(naturalLess(u"file9", u"file10"));
        QVERIFY(naturalLess(u"v1.9", u"v1.10"));
        QVERIFY(!naturalLess(u"file10", u"file9"));
        QVERIFY(naturalCompare(u"README", u"readme") != 0); // ties broken by exact text
        QVERIFY(naturalLess(u"readme", u"README2"));
        QCOMPARE(naturalCompare(u"x007", u"x7") == 0, false);
        QVERIFY(naturalLess(u"x7", u"x08"));
        QVERIFY(naturalLess(u"99999999999999999999", u"100000000000000000000"));
        QVERIFY(naturalLess(u"Äpfel", u"äpfel2"));
        const QStringList names{"a", "A", "a1", "a01", "a001b", "a1b", "b", "B1", "_", "10", "9", "", "a 1"};
        for (const auto& x : names) {
            QCOMPARE(naturalCompare(x, x), 0);
            for (const auto& y : names) {
                QCOMPARE(naturalCompare(x, y) < 0, naturalCompare(y, x) > 0);
                for (const auto& z : names) {
                    if (naturalLess(x, y) && naturalLess(y, z))
                        QVERIFY2(naturalLess(x, z), qPrintable(x + " " + y + " " + z));
                }
            }
        }
    }

    void sortKeysOrderLikeTheComparator()
    {
        // Random names over an alphabet rich in the troublesome cases: digits and leading
        // zeros, case pairs, characters just below and above the digits, non-ASCII letters.
        const QString alphabet = QStringLiteral("0019aAbB/ -_.:ZzéÉİ￿");
        QList<QString> names;
        quint32 seed = 12345;
        const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int i = 0; i < 400; ++i) {
            QString name;
            const int length = int(next() >> 28);
            for (int c = 0; c < length; ++c)
                name += alphabet.at(int((next() >> 16) % quint32(alphabet.size())));
            names << name;
        }
        for (int i = 0; i < names.size(); ++i) {
            for (int j = 0; j < names.size(); j += 7) {
                const int byKey = naturalSortKey(names[i]).compare(naturalSortKey(names[j]));
                const int expected = naturalCompare(names[i], names[j]);
                const int viaKeys = byKey != 0 ? byKey : QStringView(names[i]).compare(names[j]);
                QVERIFY2((viaKeys < 0) == (expected < 0) && (viaKeys > 0) == (expected > 0),
                         qPrintable(names[i] + " | " + names[j]));
            }
        }

        // The status parser sorts through the same keys, with their first bytes packed into
        // numbers: a long shared folder pushes the differences well past those bytes, and
        // short names end inside them.
        QStringList records;
        QStringList expected;
        for (const QString& name : std::as_const(names)) {
            for (const QString& path : {QStringLiteral("assets/images/2024/") + name, name}) {
                if (path.isEmpty() || expected.contains(path))
                    continue;
                records << QStringLiteral("? ") + path;
                expected << path;
            }
        }
        std::sort(expected.begin(), expected.end(),
                  [](const QString& a, const QString& b) { return naturalLess(a, b); });
        QCOMPARE(paths(GitParsers::parseStatusPorcelainV2(nul(records)).files), expected);
    }

    void changedFileDerivedValues_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<GitFileInclusion>("inclusion");
        QTest::addColumn<bool>("added");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("status");
        QTest::newRow("staged edit") << "M " << GitFileInclusion::included << false << false << "Edited"
                                     << "M ";
        // Codes are trimmed first, so a lone column reads as the index column.
        QTest::newRow("trimmed code") << " M" << GitFileInclusion::included << false << false << "Edited"
                                      << "M ";
        QTest::newRow("worktree edit") << ".M" << GitFileInclusion::remaining << false << false << "Edited"
                                       << ".M";
        QTest::newRow("both") << "MM" << GitFileInclusion::mixed << false << false << "Edited"
                              << "MM";
        QTest::newRow("added then edited") << "AM" << GitFileInclusion::mixed << true << false << "Added"
                                           << "AM";
        QTest::newRow("staged delete") << "D" << GitFileInclusion::included << false << true << "Removed"
                                       << "D ";
        QTest::newRow("added then deleted") << "AD" << GitFileInclusion::mixed << true << false << "Added"
                                            << "AD";
        QTest::newRow("untracked") << "??" << GitFileInclusion::remaining << true << false << "Added"
                                   << "??";
        QTest::newRow("blank") << "  " << GitFileInclusion::remaining << true << false << "Added"
                               << "??";
        QTest::newRow("conflict") << "UU" << GitFileInclusion::conflicted << false << false << "Conflicted"
                                  << "UU";
        QTest::newRow("both deleted") << "DD" << GitFileInclusion::conflicted << false << true << "Conflicted"
                                      << "DD";
        QTest::newRow("renamed") << "R " << GitFileInclusion::included << false << false << "Renamed"
                                 << "R ";
    }

    void changedFileDerivedValues()
    {
        QFETCH(QString, code);
        const auto file = GitChangedFile::withStatus(QStringLiteral("dir/sub/name.txt"), code);
        QTEST(file.inclusion(), "inclusion");
        QTEST(file.isAdded(), "added");
        QTEST(file.isDeleted(), "deleted");
        QTEST(file.kindLabel(), "label");
        QTEST(file.status, "status");
        QCOMPARE(file.isIncluded(), file.inclusion() == GitFileInclusion::included ||
                                        file.inclusion() == GitFileInclusion::mixed);
        QCOMPARE(file.basename(), QStringLiteral("name.txt"));
        QCOMPARE(file.parentPath(), QStringLiteral("dir/sub"));
    }

    void statusCodeHelpers()
    {
        QCOMPARE(GitChangedFile::normalizedXY(" \tM\t "), QStringLiteral("M "));
        QCOMPARE(GitChangedFile::normalizedXY("R100"), QStringLiteral("R1"));
        QCOMPARE(GitChangedFile::normalizedXY(""), QStringLiteral("??"));
        QCOMPARE(GitChangedFile::displayStatus('.', 'M', false), QStringLiteral("M"));
        QCOMPARE(GitChangedFile::displayStatus('A', 'M', false), QStringLiteral("AM"));
        QCOMPARE(GitChangedFile::displayStatus('.', '.', false), QStringLiteral("M"));
        QCOMPARE(GitChangedFile::displayStatus('M', 'M', true), QStringLiteral("??"));
        QVERIFY(!GitChangedFile::isChanged('.') && !GitChangedFile::isChanged(' ') &&
                !GitChangedFile::isChanged('?'));
        QVERIFY(GitChangedFile::isChanged('T') && GitChangedFile::isChanged('U'));
        QCOMPARE(GitChangedFile::withStatus("root.txt", "M").parentPath(), std::nullopt);
        QCOMPARE(GitChangedFile::withStatus("root.txt", "M").worktreeStatus, QChar(' '));
    }

    void snapshotListsKeepFileOrder()
    {
        GitRepositorySnapshot snapshot;
        snapshot.files = {GitChangedFile::withStatus("a", "MM"), GitChangedFile::withStatus("b", "??"),
                          GitChangedFile::withStatus("c", "M "), GitChangedFile::withStatus("d", "UU"),
                          GitChangedFile::withStatus("e", ".D")};
        QCOMPARE(paths(snapshot.includedFiles()), QStringList({"a", "c"}));
        QCOMPARE(paths(snapshot.remainingFiles()), QStringList({"a", "b", "e"}));
        QCOMPARE(paths(snapshot.unmergedFiles()), QStringList({"d"}));

        const auto empty = GitRepositorySnapshot::empty();
        QCOMPARE(empty.identity.scope, GitIdentityScope::global);
        QVERIFY(!empty.identity.isComplete());
        QCOMPARE(empty.status, GitStatus::empty());

        const auto unavailable = GitRepositorySnapshot::unavailable(GitRepositoryProblem("boom"), true);
        QVERIFY(unavailable.status.isRepo);
        QCOMPARE(unavailable.status.problem->kind, GitRepositoryProblem::Kind::inaccessible);
        QVERIFY(unavailable.files.isEmpty());
    }

    void recordsHashByValue()
    {
        QSet<GitChangedFile> files{GitChangedFile::withStatus("a", "M"), GitChangedFile::withStatus("a", "M"),
                                   GitChangedFile::withStatus("a", "A")};
        QCOMPARE(files.size(), 2);
        QSet<GitBranch> branches{
            {"main", false, true, {}}, {"main", true, false, {}}, {"main", false, true, {}}};
        QCOMPARE(branches.size(), 2);
        QCOMPARE(GitBranch({"origin/feature/x", true, false, {}}).shortName(), QStringLiteral("feature/x"));
        QCOMPARE(GitBranch({"feature/x", false, false, {}}).id(), QStringLiteral("local/feature/x"));
        QVERIFY(GitIdentity({" ada ", "\n", GitIdentityScope::local}).isComplete() == false);
    }
};

HALVIK_GITCORE_SUITE(StatusParserTest)

#include "tst_status.moc"
