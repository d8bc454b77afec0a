#include "TestMain.h"

#include "platform/FolderWatcher.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace halvik;

Q_DECLARE_METATYPE(halvik::FolderWatcher::Kind)

namespace {

void write(const QString& path, const QByteArray& content = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write(content);
}

bool excludeHeavy(const QString& relativePath)
{
    return relativePath.split(u'/').contains(QStringLiteral("vendor"));
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

    static void kinds()
    {
        QTest::addColumn<FolderWatcher::Kind>("kind");
        QTest::newRow("native") << FolderWatcher::Kind::native;
        QTest::newRow("portable") << FolderWatcher::Kind::portable;
    }

    // Starts `watcher` and waits for its first walk.
    static void startAndWait(FolderWatcher& watcher, const QString& root, int budget = -1)
    {
        QSignalSpy ready(&watcher, &FolderWatcher::ready);
        watcher.start(root, excludeHeavy, budget);
        QVERIFY(ready.wait(5000));
    }

private Q_SLOTS:
    void changesAnywhereBelowTheRootAreReported_data() { kinds(); }
    void changesAnywhereBelowTheRootAreReported()
    {
        QFETCH(FolderWatcher::Kind, kind);
        QTemporaryDir dir;
        write(dir.filePath("app/Models/User.php"));
        write(dir.filePath("vendor/pkg/src/Thing.php"));
        auto watcher = FolderWatcher::create(kind);
        QSignalSpy changed(watcher.get(), &FolderWatcher::changed);
        startAndWait(*watcher, dir.path());
        // root, app, app/Models; vendor and below are left out.
        QCOMPARE(watcher->watchedFolderCount(), 3);
        QVERIFY(!watcher->isDegraded());

        // An edit of a file that already existed, deep down.
        write(dir.filePath("app/Models/User.php"), "more");
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 3000);

        // Nothing under an excluded folder.
        QTest::qWait(200);
        changed.clear();
        write(dir.filePath("vendor/pkg/src/Thing.php"), "more");
        QTest::qWait(300);
        QCOMPARE(changed.count(), 0);

        // A folder made later is watched, and so is a file written into it afterwards.
        QVERIFY(QDir(dir.path()).mkpath("content/posts"));
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(watcher->watchedFolderCount(), 5, 3000);
        write(dir.filePath("content/posts/first.md"));
        QTest::qWait(200);
        changed.clear();
        write(dir.filePath("content/posts/first.md"), "edited");
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 3000);

        // Stopped: silent, and a restart watches only the new root.
        watcher->stop();
        QVERIFY(!watcher->isWatching());
        QCOMPARE(watcher->watchedFolderCount(), 0);
        changed.clear();
        write(dir.filePath("app/Models/User.php"), "again");
        QTest::qWait(300);
        QCOMPARE(changed.count(), 0);
    }

    void theBudgetLeavesTheDeepestLevelsOut_data() { kinds(); }
    void theBudgetLeavesTheDeepestLevelsOut()
    {
        QFETCH(FolderWatcher::Kind, kind);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("a/b/c"));
        QVERIFY(QDir(dir.path()).mkpath("d"));
        auto watcher = FolderWatcher::create(kind);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("watch limit was reached.*a/b"));
        startAndWait(*watcher, dir.path(), 3);
        QVERIFY(watcher->isDegraded());
        QCOMPARE(watcher->watchedFolderCount(), 3);

        QSignalSpy changed(watcher.get(), &FolderWatcher::changed);
        write(dir.filePath("a/b/c/deep.txt"));
        QTest::qWait(300);
        QCOMPARE(changed.count(), 0);
        write(dir.filePath("d/shallow.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 3000);
    }

    void trashTakesFoldersAndExplainsFailures()
    {
        QTemporaryDir dir;
        write(dir.filePath("site/index.php"));
        QCOMPARE(moveToTrash(dir.filePath("site")), std::nullopt);
        QVERIFY(!QFile::exists(dir.filePath("site")));

        const auto missing = moveToTrash(dir.filePath("never-there"));
        QVERIFY(missing.has_value());
        QVERIFY(!missing->isEmpty());
    }
};

HALVIK_TEST_MAIN_CORE(PlatformTest)
#include "tst_platform.moc"
