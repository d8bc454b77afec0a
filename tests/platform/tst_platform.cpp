#include "TestMain.h"

#include "platform/FolderWatcher.h"
#include "platform/PlatformTexts.h"
#include "platform/PortListening.h"
#include "platform/Trash.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
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

    // Letting go of the system's watches can wait for the kernel to retire them (tens of
    // milliseconds on a quiet machine), which a switch of tabs must not feel.
    void stoppingNeverWaitsForTheSystem()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 200; ++i)
            QVERIFY(QDir(dir.path()).mkpath(QString("content/page-%1").arg(i)));
        auto watcher = FolderWatcher::create(FolderWatcher::Kind::native);
        qint64 stopping = 0;
        for (int round = 0; round < 20; ++round) {
            startAndWait(*watcher, dir.path());
            QCOMPARE(watcher->watchedFolderCount(), 202);
            QElapsedTimer timer;
            timer.start();
            watcher->stop();
            // Whatever the stop left for the event loop runs on the main thread too.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            stopping += timer.nsecsElapsed();
        }
        // Twenty stops take well under a millisecond each; waiting for the kernel costs several on
        // average.
        QVERIFY2(stopping < 40'000'000, qPrintable(QString("%1 ms").arg(stopping / 1e6)));
    }

    void listeningPortsAreSeenOnEveryAddress()
    {
#ifdef Q_OS_LINUX
        for (const QHostAddress& address :
             {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::Any),
              QHostAddress(QHostAddress::LocalHostIPv6)}) {
            QTcpServer server;
            if (!server.listen(address, 0))
                continue; // no IPv6 here
            const quint16 port = server.serverPort();
            QCOMPARE(isTcpPortListened(port), std::optional<bool>(true));
            server.close();
            QCOMPARE(isTcpPortListened(port), std::optional<bool>(false));
        }
        // A connection that is not listening does not count.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(3000));
        const quint16 clientPort = client.localPort();
        QCOMPARE(isTcpPortListened(clientPort), std::optional<bool>(false));
#else
        QSKIP("read from /proc/net on Linux only");
#endif
    }

    void linuxWordsNameNoMacOSThing()
    {
        using PlatformTexts::Platform;
        using PlatformTexts::Word;
        using Kind = gitcore::GitRepositoryProblem::Kind;
#ifdef Q_OS_LINUX
        QCOMPARE(PlatformTexts::current(), Platform::linuxDesktop);
        QCOMPARE(PlatformTexts::showInFileManager(), QString("Show in File Manager"));
        QCOMPARE(PlatformTexts::thisComputer(), QString("this computer"));
        QCOMPARE(PlatformTexts::packageManager(), QString("your package manager"));
#endif
        const QStringList macWords{"Finder", "Mac", "Homebrew", "Xcode", "xcode", "brew"};
        for (Word word :
             {Word::showInFileManager, Word::thisComputer, Word::packageManager, Word::gitNotFound}) {
            const QString mac = PlatformTexts::text(word, Platform::macOS);
            const QString linuxText = PlatformTexts::text(word, Platform::linuxDesktop);
            QVERIFY(!mac.isEmpty() && !linuxText.isEmpty());
            QVERIFY2(mac != linuxText, qPrintable(mac));
            for (const QString& macWord : macWords)
                QVERIFY2(!linuxText.contains(macWord), qPrintable(linuxText));
        }
        // Git's problem texts come through the same door and speak for the same desktop.
        for (Kind kind : {Kind::missingGit, Kind::xcodeLicense, Kind::developerTools, Kind::inaccessible}) {
            const auto text = PlatformTexts::gitProblem(kind, Platform::linuxDesktop);
            const QString words = text.title + text.message + text.recoveryCommand.value_or(QString());
            for (const QString& macWord : macWords)
                QVERIFY2(!words.contains(macWord), qPrintable(words));
            const gitcore::GitRepositoryProblem problem(kind, "details");
            QCOMPARE(PlatformTexts::gitProblem(kind).title, problem.title());
            QCOMPARE(PlatformTexts::gitProblem(kind).message, problem.message());
        }
        QCOMPARE(PlatformTexts::gitProblem(Kind::missingGit, Platform::macOS).recoveryCommand,
                 std::optional<QString>("xcode-select --install"));
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
