#include "TestMain.h"

#include "FakeSite.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "async/Sleep.h"
#include "platform/AppDataDir.h"
#include "services/ProcessRunner.h"
#include "services/appearance/AppearanceFiles.h"
#include "services/appearance/AppearanceRules.h"
#include "services/appearance/IconImages.h"
#include "services/appearance/SiteAppearanceService.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

using namespace halvik;
using namespace halvik::appearance;
using halvik::test::FakeSite;

namespace {

void writeFile(const QString& path, const QByteArray& data, std::optional<QDateTime> modified = std::nullopt)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.flush();
    if (modified)
        QVERIFY(file.setFileTime(*modified, QFileDevice::FileModificationTime));
}

// A page with three colour bands: what a real home page looks like to the flat-fill test.
QImage colourful(QSize size = {1280, 720})
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width(), size.height() / 4), QColor("#1d4ed8"));
    painter.fillRect(QRect(0, size.height() / 4, size.width() / 3, size.height()), QColor("#f97316"));
    painter.fillRect(QRect(size.width() / 3, size.height() / 4, size.width(), size.height()),
                     QColor("#16a34a"));
    painter.fillRect(QRect(2 * size.width() / 3, size.height() / 4, size.width(), size.height()), Qt::white);
    return image;
}

QImage solid(const QColor& colour, QSize size = {1280, 720})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

const QByteArray svgIcon = "<?xml version=\"1.0\"?>\n"
                           "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 64 64\"><rect "
                           "width=\"64\" height=\"64\" rx=\"12\" fill=\"#7c3aed\"/>\n"
                           "<circle cx=\"32\" cy=\"32\" r=\"14\" fill=\"#fde047\"/></svg>";

struct Rig
{
    QTemporaryDir dir;
    ProcessRunner runner;
    SiteAppearanceService service{runner, dir.filePath("data")};
    QList<QUrl> captured;

    Rig()
    {
        // Pages are "rendered" from what the fake site answers: colourful when it answers.
        service.setCapture([this](QUrl url, QSize size) -> QCoro::Task<std::optional<QImage>> {
            captured << url;
            co_return colourful(size);
        });
    }

    SitePtr site(const QString& name)
    {
        const QString path = dir.filePath("sites/" + name);
        QDir().mkpath(path + "/public");
        return std::make_shared<Site>(name, path);
    }
};

QString runHalvik(const QStringList& args, int* exitCode, QString* err = nullptr)
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    if (!process.waitForFinished(60000)) {
        *exitCode = -1;
        return {};
    }
    *exitCode = process.exitCode();
    if (err)
        *err = QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class AppearanceTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stalenessFollowsMarkersAgeAndContent()
    {
        QTemporaryDir dir;
        const QString project = dir.filePath("project");
        const QString shot = dir.filePath("previews/screenshot.png");
        const QString icon = dir.filePath("previews/favicon.png");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QDir().mkpath(project + "/content");

        // Nothing cached: both are needed.
        QVERIFY(needsScreenshot(shot, project, now));
        QVERIFY(needsFavicon(icon, project));

        // A fresh marker: nothing to do, whatever the file's own date.
        writeFile(shot, "png", now.addDays(-10));
        QVERIFY(AppearanceFiles::writeMarker(shot, now.addSecs(-60)));
        writeFile(project + "/content/old.md", "x", now.addDays(-2));
        QVERIFY(!needsScreenshot(shot, project, now));
        QCOMPARE(AppearanceFiles::cacheDate(shot)->toSecsSinceEpoch(), now.addSecs(-60).toSecsSinceEpoch());

        // A garbage marker falls back to the file's modification date (ten days: stale).
        writeFile(shot + ".fetched", "yesterday-ish");
        QCOMPARE(AppearanceFiles::cacheDate(shot)->toSecsSinceEpoch(), now.addDays(-10).toSecsSinceEpoch());
        QVERIFY(needsScreenshot(shot, project, now));

        // More than 24 hours old is stale; just under is not.
        QVERIFY(AppearanceFiles::writeMarker(shot, now.addSecs(-86401)));
        QVERIFY(needsScreenshot(shot, project, now));
        QVERIFY(AppearanceFiles::writeMarker(shot, now.addSecs(-86000)));
        QVERIFY(!needsScreenshot(shot, project, now));

        // Content edited after the capture makes it stale; edits in skipped folders, or within
        // the second after the capture, do not.
        QVERIFY(AppearanceFiles::writeMarker(shot, now.addSecs(-600)));
        writeFile(project + "/content/vendor/pkg/new.md", "x", now);
        writeFile(project + "/resources/node_modules/x/index.js", "x", now);
        writeFile(project + "/public/storage/upload.jpg", "x", now);
        writeFile(project + "/vendor/laravel/new.php", "x", now); // not a content root at all
        writeFile(project + "/public/css/app.css", "x", now.addSecs(-600).addMSecs(800));
        QVERIFY(!needsScreenshot(shot, project, now));
        writeFile(project + "/config/quillmar/site.php", "x", now.addSecs(-300));
        QVERIFY(needsScreenshot(shot, project, now));

        // The icon: stale only when a project icon changed after it was fetched.
        writeFile(icon, "png");
        QVERIFY(AppearanceFiles::writeMarker(icon, now.addSecs(-600)));
        writeFile(project + "/public/favicon.ico", "ico", now.addSecs(-700));
        QVERIFY(!needsFavicon(icon, project));
        writeFile(project + "/public/favicon.svg", "svg", now.addSecs(-100));
        QVERIFY(needsFavicon(icon, project));
    }

    void iconLinksAreOrderedByScore()
    {
        const QString html = "<html><head>\n"
                             "            <link rel=\"icon\" href=\"/favicon.ico\">\n"
                             "            <link href=\"/icons/mask.svg\" rel=\"mask-icon\">\n"
                             "            <link rel=\"stylesheet\" href=\"/app.css\">\n"
                             "            <link rel=\"shortcut icon\" href=\"/favicon-32.png\">\n"
                             "            <link href=\"/apple-touch-icon.png\" rel=\"apple-touch-icon\">\n"
                             "            <link rel='icon' href='data:image/png;base64,AAAA'>\n"
                             "            <LINK REL=\"icon\" HREF=\"/upper.png\">\n"
                             "            <link rel=\"icon\" href=\"/icon.WEBP\">\n"
                             "        </head></html>";
        // rel-first matches come before href-first ones; higher scores first, document order kept;
        // the patterns are case-sensitive, so the upper-case tag is not an icon link.
        QCOMPARE(iconLinksFromHTML(html),
                 (QStringList{"/apple-touch-icon.png", "/favicon-32.png", "/icon.WEBP", "/icons/mask.svg",
                              "/favicon.ico", "data:image/png;base64,AAAA"}));
        QCOMPARE(decodeDataURL("data:text/plain,a%20b"), std::optional<QByteArray>("a b"));
        QCOMPARE(decodeDataURL("data:image/png;base64,aGk="), std::optional<QByteArray>("hi"));
        QCOMPARE(decodeDataURL("data:image/png;base64,@@@"), std::nullopt);
        QCOMPARE(decodeDataURL("http://example.com/a.png"), std::nullopt);

        QVERIFY(looksLikeSVG(QUrl("http://a.test/logo.SVG"), "GIF89a"));
        QVERIFY(
            looksLikeSVG(QUrl("http://a.test/logo"), "  \n<?xml version=\"1.0\"?><SVG xmlns=\"\"></SVG>"));
        QVERIFY(!looksLikeSVG(QUrl("http://a.test/logo"), QByteArray(300, 'x') + "<svg"));
    }

    void captureCandidatesTryTheOtherSchemeForLocalHosts()
    {
        using L = QList<QUrl>;
        QCOMPARE(captureURLCandidates(QUrl("https://shop.test/")),
                 (L{QUrl("http://shop.test/"), QUrl("https://shop.test/")}));
        QCOMPARE(captureURLCandidates(QUrl("http://127.0.0.1:4001/")),
                 (L{QUrl("http://127.0.0.1:4001/"), QUrl("https://127.0.0.1:4001/")}));
        QCOMPARE(captureURLCandidates(QUrl("http://LOCALHOST/")),
                 (L{QUrl("http://LOCALHOST/"), QUrl("https://LOCALHOST/")}));
        QCOMPARE(captureURLCandidates(QUrl("https://shop.example.com/")),
                 (L{QUrl("https://shop.example.com/")}));
    }

    void flatFillIsJudgedOnNineSamples()
    {
        QVERIFY(isFlatFill(solid(Qt::white)));
        QVERIFY(isFlatFill(QImage()));
        QVERIFY(isFlatFill(colourful(QSize(8, 100))));
        // Nearly equal colours quantise to one key.
        QImage almost = solid(QColor(250, 250, 250));
        almost.setPixelColor(640, 360, QColor(251, 251, 251));
        QVERIFY(isFlatFill(almost));
        // Two distinct colours are not flat; neither are three.
        QImage two = solid(Qt::white);
        QPainter(&two).fillRect(QRect(0, 0, 1280, 200), Qt::black);
        QVERIFY(!isFlatFill(two));
        QVERIFY(!isFlatFill(colourful()));

        // An icon is reduced to fit, keeping its shape, and never enlarged.
        const QImage wide = preparedIcon(solid(Qt::red, QSize(512, 256)), 128);
        QCOMPARE(wide.size(), QSize(128, 64));
        QVERIFY(wide.hasAlphaChannel());
        QCOMPARE(preparedIcon(solid(Qt::red, QSize(16, 16)), 128).size(), QSize(16, 16));
    }

    void iconComesFromProjectFilesBeforeTheSite()
    {
        Rig rig;
        FakeSite site;
        QVERIFY(site.start());
        site.set("/", {FakeSite::colourfulPage("<link rel=\"icon\" href=\"/page.png\">")});
        site.set("/page.png", {FakeSite::png(Qt::blue, 64), "image/png"});
        const SitePtr project = rig.site("svg-only");
        writeFile(project->path() + "/public/favicon.svg", svgIcon);

        const auto result = halvik::waitFor(
            rig.service.refreshNow(project, site.url(), false, SiteAppearanceService::Parts::favicon));
        QVERIFY(result.faviconRefreshed);
        QCOMPARE(*result.faviconFrom, project->path() + "/public/favicon.svg");
        QCOMPARE(site.requests().size(), 0); // no network request at all
        const QImage saved(rig.service.files(project->id()).faviconPath());
        QCOMPARE(saved.size(), QSize(128, 128));
        QCOMPARE(saved.pixelColor(64, 64).name(), QString("#fde047")); // the SVG's own circle
        QCOMPARE(rig.service.favicon(project->id()).size(), QSize(32, 32));
    }

    void iconComesFromPageLinksThenFaviconIco()
    {
        Rig rig;
        FakeSite site;
        QVERIFY(site.start());
        // The best-scored link is missing; the next one is an SVG served without an extension.
        site.set("/",
                 {FakeSite::colourfulPage("<link rel=\"apple-touch-icon\" href=\"/gone/apple-touch.png\">\n"
                                          "            <link rel=\"icon\" href=\"/logo\">")});
        site.set("/logo", {svgIcon, "image/svg+xml"});
        const SitePtr project = rig.site("linked");
        auto result = halvik::waitFor(
            rig.service.refreshNow(project, site.url(), false, SiteAppearanceService::Parts::favicon));
        QCOMPARE(*result.faviconFrom, site.url().resolved(QUrl("/logo")).toString());
        QCOMPARE(site.count("/gone/apple-touch.png"), 1);
        for (const auto& request : site.requests())
            QCOMPARE(request.userAgent, QByteArray("Halvik/1.0"));

        // An inline icon in the page.
        QImage dot = solid(Qt::green, QSize(16, 16));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        dot.save(&buffer, "PNG");
        site.set("/", {"<link rel=\"icon\" href=\"data:image/png;base64," + png.toBase64() + "\">"});
        result = halvik::waitFor(
            rig.service.refreshNow(project, site.url(), true, SiteAppearanceService::Parts::favicon));
        QVERIFY(result.faviconRefreshed);
        QCOMPARE(QImage(rig.service.files(project->id()).faviconPath()).pixelColor(8, 8), QColor(Qt::green));

        // No links at all: /favicon.ico at the site's root.
        site.set("/", {"<html><body>plain</body></html>"});
        site.set("/favicon.ico", {FakeSite::png(Qt::red, 48), "image/x-icon"});
        result = halvik::waitFor(
            rig.service.refreshNow(project, site.url(), true, SiteAppearanceService::Parts::favicon));
        QCOMPARE(*result.faviconFrom, site.url().resolved(QUrl("/favicon.ico")).toString());
        QCOMPARE(QImage(rig.service.files(project->id()).faviconPath()).size(), QSize(48, 48));
    }

    void blankPageLeavesNoScreenshotAndMarksTheFailure()
    {
        Rig rig;
        rig.service.setCapture(
            [](QUrl, QSize size) -> QCoro::Task<std::optional<QImage>> { co_return solid(Qt::white, size); });
        const SitePtr project = rig.site("blank");
        const QUrl url("http://127.0.0.1:9/");
        const auto result = halvik::waitFor(
            rig.service.refreshNow(project, url, false, SiteAppearanceService::Parts::screenshot));
        QVERIFY(result.previewFailed);
        QCOMPARE(result.failedURL, std::optional(url));
        QVERIFY(rig.service.previewFailed(project->id()));
        QVERIFY(!QFileInfo::exists(rig.service.files(project->id()).screenshotPath()));
        QVERIFY(!rig.service.hasScreenshot(project->id()));
    }

    void localHttpsSiteIsTriedOverHttpFirst()
    {
        Rig rig;
        // Only the https form renders.
        rig.service.setCapture([&rig](QUrl url, QSize size) -> QCoro::Task<std::optional<QImage>> {
            rig.captured << url;
            if (url.scheme() == "http")
                co_return std::nullopt;
            co_return colourful(size);
        });
        const SitePtr project = rig.site("secure");
        const auto result = halvik::waitFor(rig.service.refreshNow(
            project, QUrl("https://secure.test/"), false, SiteAppearanceService::Parts::screenshot));
        QVERIFY(result.screenshotRefreshed);
        QCOMPARE(rig.captured, (QList<QUrl>{QUrl("http://secure.test/"), QUrl("https://secure.test/")}));
        QCOMPARE(QImage(rig.service.files(project->id()).screenshotPath()).size(), QSize(1280, 720));
        QVERIFY(AppearanceFiles::cacheDate(rig.service.files(project->id()).screenshotPath()));
    }

    void oneRefreshPerSiteAndOneRenderAtATime()
    {
        Rig rig;
        FakeSite site;
        QVERIFY(site.start());
        site.set("/", {FakeSite::colourfulPage("<link rel=\"icon\" href=\"/i.png\">")});
        site.set("/i.png", {FakeSite::png(Qt::blue, 32), "image/png"});
        int rendering = 0;
        int most = 0;
        int renders = 0;
        rig.service.setCapture([&](QUrl, QSize size) -> QCoro::Task<std::optional<QImage>> {
            ++rendering;
            ++renders;
            most = std::max(most, rendering);
            co_await sleepFor(std::chrono::milliseconds(80));
            --rendering;
            co_return colourful(size);
        });
        QList<SitePtr> sites;
        for (int i = 0; i < 4; ++i)
            sites << rig.site(QString("site-%1").arg(i));
        for (const SitePtr& s : sites) {
            rig.service.refresh(s, site.url(), false);
            rig.service.refresh(s, site.url(), false); // already in flight: ignored
            QVERIFY(rig.service.isRefreshing(s->id()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.service.refreshesRunning(), 0, 20000);
        QCOMPARE(renders, 4);
        QCOMPARE(most, 1);
        QCOMPARE(site.count("/"), 4); // one icon lookup per site
        QCOMPARE(site.count("/i.png"), 4);
        for (const SitePtr& s : sites)
            QVERIFY(rig.service.hasScreenshot(s->id()));

        // Fresh now: a second, unforced round touches nothing.
        site.clear();
        for (const SitePtr& s : sites)
            rig.service.refresh(s, site.url(), false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.service.refreshesRunning(), 0, 20000);
        QCOMPARE(renders, 4);
        QCOMPARE(site.requests().size(), 0);
    }

    void aSiteThatStopsAnsweringKeepsItsIconAndPreview()
    {
        Rig rig;
        FakeSite site;
        QVERIFY(site.start());
        site.set("/", {FakeSite::colourfulPage("<link rel=\"icon\" href=\"/icon.png\">")});
        site.set("/icon.png", {FakeSite::png(Qt::magenta, 64), "image/png"});
        rig.service.setCapture([&site](QUrl, QSize size) -> QCoro::Task<std::optional<QImage>> {
            if (!site.isRunning())
                co_return std::nullopt;
            co_return colourful(size);
        });
        const SitePtr project = rig.site("fading");
        auto result = halvik::waitFor(rig.service.refreshNow(project, site.url(), false));
        QVERIFY(result.faviconRefreshed && result.screenshotRefreshed);
        const AppearanceFiles files = rig.service.files(project->id());
        const auto iconDate = AppearanceFiles::cacheDate(files.faviconPath());
        const auto shotDate = AppearanceFiles::cacheDate(files.screenshotPath());

        site.stop();
        result = halvik::waitFor(rig.service.refreshNow(project, site.url(), true));
        QVERIFY(!result.faviconRefreshed);
        QVERIFY(result.previewFailed);
        QVERIFY(!rig.service.favicon(project->id()).isNull());
        QVERIFY(rig.service.hasScreenshot(project->id()));
        QCOMPARE(AppearanceFiles::cacheDate(files.faviconPath()), iconDate);
        QCOMPARE(AppearanceFiles::cacheDate(files.screenshotPath()), shotDate);
        QVERIFY(!halvik::waitFor(rig.service.preview(project->id(), QSize(480, 270))).isNull());

        // Back up: the next capture clears the failure.
        QVERIFY(site.start(false, site.port()));
        result = halvik::waitFor(rig.service.refreshNow(project, site.url(), true));
        QVERIFY(result.screenshotRefreshed);
        QVERIFY(!rig.service.previewFailed(project->id()));
    }

    void warmLoadsListSizeIconsAndInvalidateForgetsEverything()
    {
        Rig rig;
        const SitePtr project = rig.site("warm");
        const AppearanceFiles files = rig.service.files(project->id());
        QVERIFY(AppearanceFiles::store(files.faviconPath(), FakeSite::png(Qt::cyan, 128),
                                       QDateTime::currentDateTimeUtc()));
        QVERIFY(AppearanceFiles::store(files.screenshotPath(), FakeSite::png(Qt::cyan, 64),
                                       QDateTime::currentDateTimeUtc()));
        QCOMPARE(files.folder(),
                 rig.dir.filePath("data/previews/") + project->id().toString(QUuid::WithoutBraces).toUpper());

        rig.service.setIconPixelSize(64);
        halvik::waitFor(rig.service.warmFromDisk({project, rig.site("nothing-cached")}));
        QCOMPARE(rig.service.favicon(project->id()).size(), QSize(64, 64));
        QVERIFY(rig.service.hasScreenshot(project->id()));
        // Previews are read when shown, scaled to where they are shown.
        QCOMPARE(halvik::waitFor(rig.service.preview(project->id(), QSize(32, 32))).size(), QSize(32, 32));

        rig.service.invalidate(project->id());
        QVERIFY(rig.service.favicon(project->id()).isNull());
        QVERIFY(!rig.service.hasScreenshot(project->id()));
        QVERIFY(!QFileInfo::exists(files.folder()));
        QVERIFY(halvik::waitFor(rig.service.preview(project->id(), QSize(32, 32))).isNull());
    }

    void iconVerbPrintsPathOrMonogram()
    {
        QDir(AppDataDir::directory()).removeRecursively();
        QTemporaryDir dir;
        const QString project = dir.filePath("plain-site");
        QDir().mkpath(project + "/public");
        writeFile(project + "/composer.json", "{\"name\": \"acme/plain-site\"}");
        int code = 0;
        runHalvik({"import", project}, &code);
        QCOMPARE(code, 0);

        QString err;
        QCOMPARE(runHalvik({"icon", project}, &code), QString("No icon: Halvik shows a monogram.\n"));
        QCOMPARE(code, 0);
        runHalvik({"icon", project, "--output", dir.filePath("out.png")}, &code, &err);
        QCOMPARE(code, 1);
        QCOMPARE(err, QString("halvik: No icon: Halvik shows a monogram.\n"));

        writeFile(project + "/public/favicon.png", FakeSite::png(Qt::darkYellow, 256));
        const QString printed =
            runHalvik({"icon", project, "--json", "--output", dir.filePath("out.png")}, &code);
        QCOMPARE(code, 0);
        const QJsonObject json = QJsonDocument::fromJson(printed.toUtf8()).object();
        QCOMPARE(json.keys().size(), 6);
        QVERIFY(json.value("path").toString().endsWith("/favicon.png"));
        QCOMPARE(json.value("refreshed").toBool(), true);
        QCOMPARE(json.value("from").toString(), project + "/public/favicon.png");
        QCOMPARE(json.value("monogram").toBool(), false);
        QVERIFY(QDateTime::fromString(json.value("fetchedAt").toString(), Qt::ISODateWithMs).isValid());
        QCOMPARE(QImage(dir.filePath("out.png")).size(), QSize(128, 128));

        // Fresh: not fetched again.
        const QString again = runHalvik({"icon", project, "--json"}, &code);
        QCOMPARE(QJsonDocument::fromJson(again.toUtf8()).object().value("refreshed").toBool(), false);

        // Removing the site drops its cached files.
        runHalvik({"remove", project}, &code);
        QCOMPARE(code, 0);
        QVERIFY(!QFileInfo::exists(json.value("path").toString()));
    }
};

HALVIK_TEST_MAIN(AppearanceTest)
#include "tst_appearance.moc"
