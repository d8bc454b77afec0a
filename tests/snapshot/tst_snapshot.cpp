#include "TestMain.h"

#include "FakeSite.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "platform/AppDataDir.h"
#include "services/ProcessRunner.h"
#include "services/appearance/AppearanceRules.h"
#include "services/appearance/IconImages.h"
#include "services/appearance/SiteAppearanceService.h"
#include "services/appearance/WebSnapshotter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace halvik;
using namespace halvik::appearance;
using halvik::test::FakeSite;

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QDir().mkpath(to);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir())
            QDir().mkpath(target);
        else
            QFile::copy(path, target);
    }
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

// The Laravel fixture with a home page that has a layout: header, columns and colours.
QString laravelSiteWithLayout(const QString& path)
{
    copyTree(halvik::test::fixturesDir() + "/laravel-app", path);
    writeFile(path + "/resources/views/home.blade.php", FakeSite::colourfulPage());
    QFile app(path + "/bootstrap/app.php");
    app.open(QIODevice::ReadOnly);
    QByteArray code = app.readAll();
    app.close();
    code.replace("return 'Fixture site home';", "return view('home');");
    writeFile(path + "/bootstrap/app.php", code);
    return path;
}

struct Rig
{
    QTemporaryDir dir;
    ProcessRunner runner;
    SiteAppearanceService service{runner, dir.filePath("data")};

    Rig() { service.snapshotter().setHelperPath(halvik::test::snapshotHelper()); }
    SitePtr site(const QString& name)
    {
        QDir().mkpath(dir.filePath("sites/" + name));
        return std::make_shared<Site>(name, dir.filePath("sites/" + name));
    }
};

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!QFileInfo::exists(halvik::test::snapshotHelper()))
            QSKIP("halvik-snapshot was not built (Qt WebEngine missing)");
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }

    void capturesAPageAndEndsTheHelperOnceIdle()
    {
        Rig rig;
        FakeSite site;
        QVERIFY(site.start());
        site.set("/", {FakeSite::colourfulPage()});
        WebSnapshotter& snapshotter = rig.service.snapshotter();
        const auto image = halvik::waitFor(snapshotter.capture(site.url(), QSize(1280, 720)));
        QVERIFY2(image, qPrintable(snapshotter.lastError()));
        QCOMPARE(image->size(), QSize(1280, 720));
        QVERIFY(!isFlatFill(*image));
        QCOMPARE(image->pixelColor(640, 40).name(), QString("#1d4ed8")); // the header's blue
        QCOMPARE(site.requests().first().userAgent, QByteArray(pageUserAgent));
        // Nothing waits: the helper is told to end, and does.
        QTRY_VERIFY_WITH_TIMEOUT(!snapshotter.isHelperRunning(), 10000);
        QCOMPARE(snapshotter.helpersStarted(), 1);

        // SVG that Qt SVG cannot read goes to the helper too.
        const QByteArray css =
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">\n"
            "            <style>rect{fill:var(--c)}</style><foreignObject width=\"64\" height=\"64\">\n"
            "            <div xmlns=\"http://www.w3.org/1999/xhtml\" "
            "style=\"width:64px;height:64px;background:#dc2626\"></div>\n"
            "            </foreignObject></svg>";
        const auto drawn = halvik::waitFor(snapshotter.rasterizeSVG(css, QSize(128, 128)));
        QVERIFY(drawn);
        QCOMPARE(drawn->size(), QSize(128, 128));
        QTRY_VERIFY_WITH_TIMEOUT(!snapshotter.isHelperRunning(), 10000);
    }

    void blankPageFailsAndSelfSignedLocalSiteIsCaptured()
    {
        Rig rig;
        FakeSite blank;
        QVERIFY(blank.start());
        blank.set("/", {"<!DOCTYPE html><html><body></body></html>"});
        const SitePtr empty = rig.site("empty");
        auto result = halvik::waitFor(
            rig.service.refreshNow(empty, blank.url(), false, SiteAppearanceService::Parts::screenshot));
        QVERIFY(result.previewFailed);
        QVERIFY(!QFileInfo::exists(rig.service.files(empty->id()).screenshotPath()));

        FakeSite secure;
        QVERIFY(secure.start(true));
        secure.set("/", {FakeSite::colourfulPage()});
        const SitePtr shop = rig.site("shop");
        // (No local DNS answers for .test names here; localhost is local to the same trust rule.)
        const QUrl url = secure.url("localhost");
        result = halvik::waitFor(
            rig.service.refreshNow(shop, url, false, SiteAppearanceService::Parts::screenshot));
        QVERIFY2(result.screenshotRefreshed, qPrintable(rig.service.snapshotter().lastError()));
        QVERIFY(!isFlatFill(QImage(rig.service.files(shop->id()).screenshotPath())));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.service.snapshotter().isHelperRunning(), 10000);
    }

    void previewVerbServesTheSiteForTheCaptureAndStopsIt()
    {
        QDir(AppDataDir::directory()).removeRecursively();
        QTemporaryDir dir;
        const QString path = laravelSiteWithLayout(dir.filePath("shop"));
        QProcess import;
        import.start(halvik::test::halvikBinary(), {"import", path});
        QVERIFY(import.waitForFinished(60000));
        QCOMPARE(import.exitCode(), 0);

        QProcess preview;
        preview.start(halvik::test::halvikBinary(),
                      {"preview", path, "--refresh", "--json", "--output", dir.filePath("shot.png")});
        QVERIFY(preview.waitForFinished(90000));
        const QByteArray err = preview.readAllStandardError();
        QVERIFY2(preview.exitCode() == 0, err.constData());
        const QJsonObject json = QJsonDocument::fromJson(preview.readAllStandardOutput()).object();
        QCOMPARE(json.value("refreshed").toBool(), true);
        QCOMPARE(json.value("failed").toBool(), false);
        QVERIFY(json.value("url").isNull());
        const QImage shot(dir.filePath("shot.png"));
        QCOMPARE(shot.size(), QSize(1280, 720));
        QVERIFY(!isFlatFill(shot));
        QVERIFY2(err.isEmpty(), err.constData());

        // The server Halvik started for the capture is gone.
        QProcess status;
        status.start(halvik::test::halvikBinary(), {"status", "--json"});
        QVERIFY(status.waitForFinished(60000));
        const QJsonArray sites = QJsonDocument::fromJson(status.readAllStandardOutput()).array();
        QCOMPARE(sites.size(), 1);
        QVERIFY(sites.first().toObject().value("port").isNull());
    }
};

HALVIK_TEST_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
