#include "TestMain.h"

#include "services/git/GitFolderMonitor.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace halvik;

namespace {

void touch(const QString& path, const QByteArray& content = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write(content);
}

} // namespace

class GitFolderMonitorTest : public QObject
{
    Q_OBJECT

    // Starts a monitor on `dir` counting its calls, and waits for its first walk.
    void startCounting(GitFolderMonitor& monitor, const QString& dir, int& calls,
                       QElapsedTimer* lastCall = nullptr)
    {
        monitor.onChange = [&calls, lastCall] {
            ++calls;
            if (lastCall)
                lastCall->start();
        };
        QSignalSpy ready(&monitor, &GitFolderMonitor::ready);
        monitor.start(dir);
        QVERIFY(ready.wait(5000));
    }

private Q_SLOTS:
    void aBurstReportsItsPathsOnce()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("storage/framework/sessions");
        GitFolderMonitor monitor;
        monitor.setDebounceInterval(200);
        QList<QStringList> reports;
        monitor.onChangedPaths = [&reports](const QStringList& paths) { reports.append(paths); };
        QSignalSpy ready(&monitor, &GitFolderMonitor::ready);
        monitor.start(dir.path());
        QVERIFY(ready.wait(5000));

        for (int i = 0; i < 3; ++i)
            touch(dir.filePath(QStringLiteral("storage/framework/sessions/s%1").arg(i)));
        touch(dir.filePath("storage/framework/sessions/s0"));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 3000);
        QStringList paths = reports.first();
        paths.sort();
        // Relative to the folder, each once, however often it changed.
        QCOMPARE(paths, (QStringList{"storage/framework/sessions/s0", "storage/framework/sessions/s1",
                                     "storage/framework/sessions/s2"}));

        // Nothing is collected while paused.
        monitor.setPaused(true);
        touch(dir.filePath("paused.txt"));
        QTest::qWait(400);
        monitor.setPaused(false);
        touch(dir.filePath("after.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 2, 3000);
        QCOMPARE(reports.last(), QStringList{"after.txt"});
    }

    void aBurstGivesOneCallAfterTheQuietPeriod()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("app/Http/Controllers");
        GitFolderMonitor monitor;
        int calls = 0;
        QElapsedTimer sinceCall;
        startCounting(monitor, dir.path(), calls, &sinceCall);

        QElapsedTimer sinceLastWrite;
        for (int i = 0; i < 6; ++i) {
            touch(dir.filePath("app/Http/Controllers/Home.php"));
            sinceLastWrite.start();
            QTest::qWait(100);
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
        // The call came a full quiet period after the last write, not after the first.
        const qint64 delay = sinceLastWrite.elapsed() - sinceCall.elapsed();
        QVERIFY2(delay >= 380, qPrintable(QString::number(delay)));
        QTest::qWait(600);
        QCOMPARE(calls, 1);
    }

    void newFoldersAreWatchedAndHeavyOnesSkipped()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(".git/objects/ab");
        QDir(dir.path()).mkpath("vendor/laravel/framework");
        QDir(dir.path()).mkpath("node_modules/pkg");
        GitFolderMonitor monitor;
        monitor.setDebounceInterval(50);
        int calls = 0;
        startCounting(monitor, dir.path(), calls);
        // root, .git, .git/objects is excluded; vendor and node_modules too.
        QCOMPARE(monitor.watchedFolderCount(), 2);

        touch(dir.filePath("vendor/laravel/framework/x.php"));
        touch(dir.filePath("node_modules/pkg/index.js"));
        touch(dir.filePath(".git/objects/ab/cdef"));
        QTest::qWait(400);
        QCOMPARE(calls, 0);

        QDir(dir.path()).mkpath("content/collections");
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.watchedFolderCount() == 4, 3000);
        QTest::qWait(200);
        const int before = calls;
        touch(dir.filePath("content/collections/post.md"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, before + 1, 3000);

        // Changes Git itself makes (the index) count too.
        touch(dir.filePath(".git/index"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, before + 2, 3000);
    }

    void pauseAndStop()
    {
        QTemporaryDir dir;
        GitFolderMonitor monitor;
        monitor.setDebounceInterval(100);
        int calls = 0;
        startCounting(monitor, dir.path(), calls);

        // A change pending when the pause starts is dropped.
        touch(dir.filePath("a.txt"));
        QTest::qWait(30);
        monitor.setPaused(true);
        touch(dir.filePath("b.txt"));
        QTest::qWait(400);
        QCOMPARE(calls, 0);

        monitor.setPaused(false);
        touch(dir.filePath("c.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);

        monitor.stop();
        QVERIFY(!monitor.isWatching());
        touch(dir.filePath("d.txt"));
        QTest::qWait(400);
        QCOMPARE(calls, 1);

        // Restarting on another folder watches only that one.
        QTemporaryDir other;
        QSignalSpy ready(&monitor, &GitFolderMonitor::ready);
        monitor.start(other.path());
        QVERIFY(ready.wait(5000));
        touch(dir.filePath("e.txt"));
        QTest::qWait(400);
        QCOMPARE(calls, 1);
        touch(other.filePath("f.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 3000);
    }

    void aTreeBeyondTheWatchLimitLosesItsDeepestLevels()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("a/b/c");
        QDir(dir.path()).mkpath("d");
        GitFolderMonitor monitor;
        monitor.setWatchBudget(3); // the root and its two children, nothing deeper
        monitor.setDebounceInterval(50);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("watch limit was reached.*a/b"));
        int calls = 0;
        startCounting(monitor, dir.path(), calls);
        QVERIFY(monitor.isDegraded());
        QCOMPARE(monitor.watchedFolderCount(), 3);

        // Shallow changes are still seen; the unwatched depth is not, and nothing failed.
        touch(dir.filePath("a/b/c/deep.txt"));
        QTest::qWait(300);
        QCOMPARE(calls, 0);
        touch(dir.filePath("d/shallow.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
    }

    void exclusions()
    {
        QVERIFY(GitFolderMonitor::isExcluded("vendor"));
        QVERIFY(GitFolderMonitor::isExcluded("packages/x/node_modules/y"));
        QVERIFY(GitFolderMonitor::isExcluded(".git/objects/pack"));
        QVERIFY(!GitFolderMonitor::isExcluded(".git/refs/heads"));
        QVERIFY(!GitFolderMonitor::isExcluded("resources/vendors"));
        QVERIFY(!GitFolderMonitor::isExcluded("objects"));
    }
};

HALVIK_TEST_MAIN_CORE(GitFolderMonitorTest)
#include "tst_gitmonitor.moc"
