#include "GitcoreSuites.h"

#include "gitcore/GitCommands.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace halvik::gitcore;

class CommandsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pathsAreSanitised()
    {
        const QStringList given{"--force",           "",   "   ",
                                "  a.txt \n",        "-n", QString("bad") + QChar(u'\0') + "x",
                                "dir/with space.md", " -v"};
        QCOMPARE(GitCommands::sanitizePaths(given), QStringList({"a.txt", "dir/with space.md"}));
        QCOMPARE(GitCommands::stage({"--all", "x"}), QStringList({"add", "--", "x"}));
        QCOMPARE(GitCommands::unstage({" y "}), QStringList({"restore", "--staged", "--", "y"}));
        QCOMPARE(GitCommands::commitOnly("-m looks like an option", {"--amend", "z"}),
                 QStringList({"commit", "--only", "-m", "-m looks like an option", "--", "z"}));
        QCOMPARE(GitCommands::quietArguments(GitCommands::applyCachedReverse()),
                 QStringList({"-c", "credential.helper=", "-c", "core.askPass=", "apply", "--cached",
                              "--reverse", "--unidiff-zero", "--recount", "-"}));
    }

    void refNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "main" << true;
        QTest::newRow("nested") << "feature/login-2" << true;
        QTest::newRow("non-ascii") << "fonctionnalité/été_2" << true;
        QTest::newRow("cjk") << "修正" << true;
        QTest::newRow("dots") << "v1.2.3" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dash") << "-delete" << false;
        QTest::newRow("leading slash") << "/main" << false;
        QTest::newRow("trailing slash") << "main/" << false;
        QTest::newRow("double dot") << "a..b" << false;
        QTest::newRow("double slash") << "a//b" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("reflog") << "main@{1}" << false;
        QTest::newRow("space") << "my branch" << false;
        QTest::newRow("colon") << "a:b" << false;
        QTest::newRow("tilde") << "a~1" << false;
        QTest::newRow("newline") << "a\nb" << false;
    }

    void refNames()
    {
        QFETCH(QString, name);
        QTEST(GitCommands::isSafeRefName(name), "safe");
    }

    void environmentStopsAtTheSiteFolder()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("real/site"));
        QVERIFY(QFile::link(dir.filePath("real/site"), dir.filePath("link")));
        const auto env = GitCommands::environment(dir.filePath("link"));
        QCOMPARE(env.value("GIT_CEILING_DIRECTORIES"), QDir(dir.path()).canonicalPath() + "/real");
        QCOMPARE(env.value("GIT_TERMINAL_PROMPT"), QStringLiteral("0"));
        QCOMPARE(env.value("GCM_INTERACTIVE"), QStringLiteral("never"));
        // English messages, literal paths and unquoted names for every invocation.
        QCOMPARE(env.value("LC_ALL"), QStringLiteral("C"));
        QCOMPARE(env.value("GIT_LITERAL_PATHSPECS"), QStringLiteral("1"));
        QCOMPARE(env.value("GIT_CONFIG_KEY_0"), QStringLiteral("core.quotePath"));
        QCOMPARE(env.value("GIT_CONFIG_VALUE_0"), QStringLiteral("false"));
        QCOMPARE(env.size(), GitCommands::quietEnvironment().size() + 6);
        QCOMPARE(GitCommands::removedEnvironment(), QStringList{"LANGUAGE"});
        // A folder that does not exist yet is still standardised.
        QCOMPARE(GitCommands::environment("/tmp/nowhere/../sites/new/").value("GIT_CEILING_DIRECTORIES"),
                 QStringLiteral("/tmp/sites"));
    }

    void imagesAndSniffers()
    {
        QVERIFY(GitCommands::isImagePath("public/Logo.JPEG"));
        QVERIFY(GitCommands::isImagePath("favicon.ico"));
        QVERIFY(!GitCommands::isImagePath("png"));
        QVERIFY(!GitCommands::isImagePath("dir.png/readme"));
        QVERIFY(!GitCommands::isImagePath("image.svg"));

        QVERIFY(GitCommands::looksLikeConflict("CONFLICT (content): Merge conflict in a.txt"));
        QVERIFY(GitCommands::looksLikeConflict("error: could not apply 1234abc... msg"));
        QVERIFY(GitCommands::looksLikeConflict("fatal: Exiting because of an unresolved conflict.\nU\tx"));
        QVERIFY(!GitCommands::looksLikeConflict("Already up to date."));
        QVERIFY(GitCommands::looksLikeNeedsPull(" ! [rejected] main -> main (fetch first)"));
        QVERIFY(GitCommands::looksLikeNeedsPull(
            "Updates were rejected because the tip of your current branch is behind"));
        QVERIFY(!GitCommands::looksLikeNeedsPull("Everything up-to-date"));
        QVERIFY(GitCommands::looksLikeDirtySwitch(
            "error: Your local changes to the following files would be overwritten by checkout"));
        QVERIFY(GitCommands::looksLikeDirtySwitch(
            "Please commit your changes or stash them before you switch branches."));
        QVERIFY(!GitCommands::looksLikeDirtySwitch("Switched to branch 'main'"));
    }
};

HALVIK_GITCORE_SUITE(CommandsTest)

#include "tst_commands.moc"
