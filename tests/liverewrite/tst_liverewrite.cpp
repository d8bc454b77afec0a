#include "TestMain.h"

#include "services/staticsite/LiveOutputRewriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace halvik;

namespace {

const QByteArray appOrigin = "http://localhost:8000";

// The writer's own calls, as a generator makes them: open, write, close. False on a failure.
bool put(const QString& path, const QByteArray& text, int flags = O_WRONLY | O_CREAT | O_TRUNC)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == ssize_t(text.size());
    return ::close(fd) == 0 && written;
}

QByteArray page(int i)
{
    return QByteArrayLiteral("<a href=\"http://site.test/page/") + QByteArray::number(i) +
           QByteArrayLiteral("\">next</a><script src=\"https://cdn.example.com/app.js\"></script>") +
           QByteArrayLiteral("<img src=\"") + appOrigin + QByteArrayLiteral("/img/logo.png\">") +
           QByteArray(300 + i % 700, 'x');
}

void letFollowerIn()
{
    std::this_thread::sleep_for(std::chrono::microseconds(300));
}

// A generator that does what generators do: pages in folders of their own, a feed written in
// two appends, a sitemap written twice, a stylesheet held open while pages are written, files
// renamed (one under a temporary name, one long after it was written), one removed again, and
// an image. `pausing` lets a
// follower interleave with it.
bool generate(const QString& root, bool pausing)
{
    bool ok = QDir().mkpath(root) &&
              put(root + "/img/logo.png", QByteArray("\x89PNG\r\n\x1a\n", 8) + "http://site.test/");
    const QString held = root + "/css/held.css";
    ok = ok && QDir().mkpath(root + "/css");
    const int heldFd =
        ::open(QFile::encodeName(held).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ok = ok && heldFd >= 0 && ::write(heldFd, "a{background:url(http://site.test/a.png)}", 41) == 41;
    ok = ok && put(root + "/feed.xml", "<feed><link>http://site.test/a</link>");
    for (int i = 0; i < 300; ++i) {
        ok = ok && put(QStringLiteral("%1/pages/%2/index.html").arg(root).arg(i), page(i));
        if (i == 150)
            ok = ok &&
                 put(root + "/feed.xml", "<link>https://blog.test:8443/b</link></feed>", O_WRONLY | O_APPEND);
        if (i == 60)
            ok = ok && put(root + "/draft.html", page(5));
        if (i == 250) // long after the follower has rewritten it
            ok = ok && QFile::rename(root + "/draft.html", root + "/final.html");
        if (i == 200)
            ok = ok && put(root + "/sitemap.xml", "<url>http://site.test/1</url><url>http://site.test/2</url>"
                                                  "<url>http://site.test/3</url>");
        if (pausing && i % 40 == 0)
            letFollowerIn();
    }
    ok = ok && ::write(heldFd, "b{background:url(http://localhost:8000/b.png)}", 46) == 46;
    ok = ::close(heldFd) == 0 && ok;
    ok = ok && put(root + "/sitemap.xml", "<url>http://site.test/1</url><url>http://site.test/2</url>");
    ok = ok && put(root + "/data/index.json.part", "{\"self\":\"http://site.test/data\"}");
    ok = ok && QFile::rename(root + "/data/index.json.part", root + "/data/index.json");
    ok = ok && put(root + "/stale.html", "<a href=\"http://site.test/\">");
    return ok && QFile::remove(root + "/stale.html");
}

QMap<QString, QByteArray> contents(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files.insert(QDir(root).relativeFilePath(path), file.readAll());
    }
    return files;
}

// Processes whose parent is this one, zombies included.
int childProcesses()
{
    int children = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid …": the name may hold spaces, the last ')' ends it.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == ::getpid())
            ++children;
    }
    return children;
}

// Runs `writer` into `followed` while it is followed, and into `reference` alone, which is then
// rewritten after it: the two must end alike.
struct Comparison
{
    bool written = false;
    OutputFolderRewriter::Result live;
    OutputFolderRewriter::Result after;
    bool fullPass = false;
};

Comparison compare(const QString& followed, const QString& reference,
                   const std::function<bool(const QString&, bool)>& writer)
{
    Comparison result;
    std::unique_ptr<LiveOutputRewriter> follower =
        LiveOutputRewriter::follow(followed, LocalOriginRewriter(appOrigin), ".halvik-rewriting");
    if (!follower)
        return result;
    const bool followedWritten = writer(followed, true);
    result.live = follower->finish();
    result.fullPass = follower->madeFullPass();
    result.written = followedWritten && writer(reference, false);
    result.after = OutputFolderRewriter::run(reference, LocalOriginRewriter(appOrigin), ".halvik-rewriting");
    return result;
}

} // namespace

class LiveRewriteTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A folder created by its writer after following began, written the ways generators write:
    // every file ends as a rewrite after the writer leaves it, and the counts agree.
    void aFollowedWriterEndsWithTheOutputOfARewriteAfterIt()
    {
        QTemporaryDir dir;
        const QString followed = dir.filePath("a/static");
        const QString reference = dir.filePath("b/static");
        QDir().mkpath(dir.filePath("a"));
        for (int round = 0; round < 2; ++round) {
            QDir(followed).removeRecursively();
            QDir(reference).removeRecursively();
            const Comparison result = compare(followed, reference, generate);
            QVERIFY(result.written);
            QVERIFY(!result.fullPass);
            QCOMPARE(result.live.files, result.after.files);
            QCOMPARE(result.live.replacements, result.after.replacements);
            const QMap<QString, QByteArray> live = contents(followed);
            QCOMPARE(live.keys(), contents(reference).keys());
            QCOMPARE(live, contents(reference));
            QVERIFY(!live.contains("stale.html") && !live.contains("draft.html"));
            // The follower's watches are let go of by a helper process, which is gone and reaped.
            QTRY_COMPARE(childProcesses(), 0);
            QVERIFY(live.value("css/held.css").contains("url(/b.png)"));
            QCOMPARE(live.value("feed.xml"), QByteArray("<feed><link>/a</link><link>/b</link></feed>"));
            QCOMPARE(live.value("sitemap.xml"), QByteArray("<url>/1</url><url>/2</url>"));
            QVERIFY(live.value("img/logo.png").contains("http://site.test/")); // not text: untouched
        }
    }

    // Files already there when following begins, a folder moved and a link made while the writer
    // runs: what cannot be followed is gone over again at the end, and nothing is counted twice or
    // left out.
    void whatCannotBeFollowedIsCaughtByAFullPass()
    {
        QTemporaryDir dir;
        const auto writer = [](const QString& root, bool pausing) {
            bool ok = true;
            for (int i = 0; i < 60; ++i)
                ok = ok && put(QStringLiteral("%1/old/%2.html").arg(root).arg(i), page(i));
            if (pausing)
                letFollowerIn();
            ok = ok && QDir().rename(root + "/old", root + "/moved");
            ok = ok && put(root + "/new/index.html", page(1));
            return ok && QFile::link(root + "/new/index.html", root + "/latest.html");
        };
        const QString followed = dir.filePath("a");
        const QString reference = dir.filePath("b");
        for (const QString& root : {followed, reference}) {
            QDir().mkpath(root);
            QVERIFY(put(root + "/kept.html", page(7))); // before the follower: read when it starts
        }
        const Comparison result = compare(followed, reference, writer);
        QVERIFY(result.written);
        QVERIFY(result.fullPass);
        QCOMPARE(result.live.files, result.after.files);
        QCOMPARE(result.live.files, 63); // the link counts, as the walk counts it
        QCOMPARE(result.live.replacements, result.after.replacements);
        QCOMPARE(contents(followed).keys(), contents(reference).keys());
        QCOMPARE(contents(followed), contents(reference));
    }

    // A follower given up before its writer ends stops at once and leaves the files alone from
    // then on; a folder whose parent is missing too cannot be followed.
    void aFollowerStopsWhenLetGo()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath("out");
        QDir().mkpath(root);
        auto follower = LiveOutputRewriter::follow(root, LocalOriginRewriter(appOrigin), {});
        QVERIFY(follower);
        QVERIFY(put(root + "/one.html", page(1)));
        QTRY_VERIFY(!contents(root).value("one.html").contains("site.test"));
        follower.reset();
        QVERIFY(put(root + "/two.html", page(2)));
        QTest::qWait(50);
        QVERIFY(contents(root).value("two.html").contains("http://site.test/"));
        QVERIFY(!LiveOutputRewriter::follow(dir.filePath("missing/out"), LocalOriginRewriter(appOrigin), {}));
    }
};

HALVIK_TEST_MAIN_CORE(LiveRewriteTest)
#include "tst_liverewrite.moc"
