#include "GitcoreSuites.h"

#include "gitcore/GitFailureText.h"

#include <QTest>

using namespace halvik::gitcore;

class FailureTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gitOutputBecomesOneSentence_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("unknown branch") << "fatal: invalid reference: nosuch\n"
                                        << "There is no branch or commit named nosuch.";
        QTest::newRow("unknown commit") << "fatal: bad revision 'deadbeef'\n"
                                        << "There is no branch or commit named deadbeef.";
        QTest::newRow("push without remote, glued")
            << "fatal: 'origin' does not appear to be a git repositoryfatal: Could not read from remote "
               "repository.\n\nPlease make sure you have the correct access rights"
            << GitFailureText::noRemote();
        QTest::newRow("host unreachable")
            << "fatal: unable to access 'https://example.invalid/r.git/': Could not resolve host: "
               "example.invalid\n"
            << GitFailureText::remoteUnreachable();
        QTest::newRow("stash out of range") << "error: stash@{5} is not a valid reference\n"
                                            << "Invalid stash reference.";
        QTest::newRow("stash log too short") << "fatal: log for 'stash' only has 1 entries\n"
                                             << "Invalid stash reference.";
        QTest::newRow("unknown path")
            << "error: pathspec 'nosuch.txt' did not match any file(s) known to git\n"
            << "Git doesn\u2019t know nosuch.txt in this site.";
        QTest::newRow("existing branch") << "fatal: a branch named 'feature' already exists\n"
                                         << "A branch named feature already exists.";
        QTest::newRow("anything else keeps Git's reason without its label")
            << "hint: something\nfatal: the frobnicator is unhappy\n"
            << "Git could not finish: The frobnicator is unhappy.";
        QTest::newRow("Halvik's own sentence passes") << "Invalid branch name."
                                                      << "Invalid branch name.";
    }

    void gitOutputBecomesOneSentence()
    {
        QFETCH(QString, output);
        QFETCH(QString, sentence);
        const QString said = GitFailureText::sentence(output);
        QCOMPARE(said, sentence);
        QVERIFY(!said.contains(QLatin1String("fatal:")) && !said.contains(QLatin1String("error:")));
        QVERIFY(!said.contains(QLatin1Char('\n')));
    }
};

HALVIK_GITCORE_SUITE(FailureTextTest)
#include "tst_failuretext.moc"
