#include "StaticRig.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "app/StaticPublishCoordinator.h"
#include "platform/AppDataDir.h"
#include "services/ParallelFolderWalk.h"
#include "services/ProcessRunner.h"
#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/NetlifyClient.h"
#include "services/hosting/NetlifyPublisher.h"
#include "services/staticsite/StaticSiteSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrlQuery>

using namespace halvik;
using halvik::test::folderFiles;
using halvik::test::StaticMachine;
using halvik::test::writeFile;

namespace {

template <typename T> QString errorOf(QCoro::Task<T> task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

bool waitForJob(StaticPublishJob* job)
{
    return QTest::qWaitFor([job] { return job->isFinished(); }, 120000);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList tempZips()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("halvik-static-*.zip")});
}

} // namespace

class StaticSiteTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rewritingTouchesOnlyLocalOriginsInTextFiles();
    void namesAndAddressesAreNormalized();
    void clientsSpeakTheHostsAPIsAndExplainRefusals();
    void generateRunsEachStepWithItsEnvironment();
    void failedAndCancelledGenerationsLeaveNothingRunning();
    void netlifyRepublishSendsOnlyWhatChanged();
    void netlifyFallsBackToOneZip();
    void aDeployReadyOnceItsFilesAreInIsNotWaitedOn();
    void folderDigestsMatchTheBytesWhateverTheirSize();
    void aWideOutputIsWalkedWholeAndOnce();
    void cloudflarePublishRunsWranglerThroughNpx();
};

void StaticSiteTest::rewritingTouchesOnlyLocalOriginsInTextFiles()
{
    QTemporaryDir dir;
    const QString site = dir.filePath("site");
    const QString out = dir.filePath("out");
    writeFile(site + "/.env", "APP_NAME=X\nAPP_URL=\"http://localhost:8000\"\n");
    writeFile(
        out + "/index.html",
        "<a href=\"http://localhost:8000/about\">a</a> <a href=\"http://localhost:8000\">home</a> "
        "<a href=\"http://localhost:80001/x\">other port</a> <a href=\"http://localhost/x\">no port</a> "
        "<img src=\"https://Blog.TEST:8443/img.png\"> <a href=\"http://site.testing/x\">x</a> "
        "<a href=\"https://example.com/keep\">keep</a>");
    writeFile(out + "/deep/a.css", "a{background:url(http://shop.test/i.png)}");
    writeFile(out + "/feed.webmanifest", "{\"start_url\": \"http://shop.test\"}");
    writeFile(out + "/notes.txt", "http://shop.test/not-scanned");
    writeFile(out + "/logo.png", "\x89PNG http://shop.test/ binary");
    writeFile(out + "/plain.js", "console.log('nothing local');");
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    {
        QFile untouched(out + "/plain.js");
        QVERIFY(untouched.open(QIODevice::ReadWrite));
        QVERIFY(untouched.setFileTime(old, QFileDevice::FileModificationTime));
    }

    QCOMPARE(halvik::waitFor(StaticSiteSupport::rewriteLocalAbsoluteURLsAsync(out, site)), 5);
    QCOMPARE(
        readText(out + "/index.html"),
        QString(
            "<a href=\"/about\">a</a> <a href=\"/\">home</a> "
            "<a href=\"http://localhost:80001/x\">other port</a> <a href=\"http://localhost/x\">no port</a> "
            "<img src=\"/img.png\"> <a href=\"http://site.testing/x\">x</a> "
            "<a href=\"https://example.com/keep\">keep</a>"));
    QCOMPARE(readText(out + "/deep/a.css"), QString("a{background:url(/i.png)}"));
    QCOMPARE(readText(out + "/feed.webmanifest"), QString("{\"start_url\": \"/\"}"));
    QCOMPARE(readText(out + "/notes.txt"), QString("http://shop.test/not-scanned"));
    QVERIFY(readText(out + "/logo.png").contains("http://shop.test/"));
    // A file with nothing to change is not written again.
    QCOMPARE(QFileInfo(out + "/plain.js").lastModified().toUTC().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    // Run again: nothing is left to replace.
    QCOMPARE(StaticSiteSupport::rewriteLocalAbsoluteURLs(out, site), 0);

    // Bytes are matched as bytes: any scheme case, an origin ending the file, text that is not
    // UTF-8 kept exactly; ports and longer hosts ended where the origin really ends.
    const QByteArray latin1 =
        "caf\xe9 HTTP://Shop.Test:8080/a xhttp://b.test http://a.test:80:90/ "
        "http://.test/ http://shop.test.example/ https://localhost:8000 http://end.test";
    writeFile(out + "/mixed.js", latin1);
    QCOMPARE(StaticSiteSupport::rewriteLocalAbsoluteURLs(out, site), 3);
    QFile mixed(out + "/mixed.js");
    QVERIFY(mixed.open(QIODevice::ReadOnly));
    QCOMPARE(mixed.readAll(), QByteArray("caf\xe9 /a x/ http://a.test:80:90/ http://.test/ "
                                         "http://shop.test.example/ https://localhost:8000 /"));
    mixed.close();

    // Files are counted in the same walk, links too, but a link is never written through: it
    // may point into the site itself.
    writeFile(site + "/public/shared.html", "<a href=\"http://shop.test/\">shop</a>");
    QVERIFY(QFile::link(site + "/public/shared.html", out + "/deep/shared.html"));
    const StaticSiteSupport::RewriteSummary summary = StaticSiteSupport::rewriteOutput(out, site);
    QCOMPARE(summary.replacements, 0);
    QCOMPARE(summary.files, 8);
    QCOMPARE(readText(site + "/public/shared.html"), QString("<a href=\"http://shop.test/\">shop</a>"));
    // An interrupted run leaves its marker, so the folder is not taken as finished; a finished
    // run removes it and does not count it.
    QVERIFY(StaticSiteSupport::isCompleteOutput(out));
    writeFile(out + "/.halvik-rewriting", "");
    QVERIFY(!StaticSiteSupport::isCompleteOutput(out));
    QCOMPARE(StaticSiteSupport::rewriteOutput(out, site).files, 8);
    QVERIFY(StaticSiteSupport::isCompleteOutput(out));
    QVERIFY(!StaticSiteSupport::isCompleteOutput(dir.filePath("missing")));

    QCOMPARE(StaticSiteSupport::rewroteLine(1),
             QString("Rewrote 1 local absolute URL to root-relative paths"));
    QCOMPARE(StaticSiteSupport::rewroteLine(2),
             QString("Rewrote 2 local absolute URLs to root-relative paths"));

    // An existing ASSET_URL line stays as it is; a missing one is added once.
    writeFile(site + "/.env", "APP_URL=http://x.test\nASSET_URL=https://cdn.example.net\n");
    QVERIFY(!StaticSiteSupport::ensureAssetURL(site));
    QCOMPARE(readText(site + "/.env"), QString("APP_URL=http://x.test\nASSET_URL=https://cdn.example.net\n"));
    writeFile(site + "/.env", "APP_URL=http://x.test");
    QVERIFY(StaticSiteSupport::ensureAssetURL(site));
    QVERIFY(!StaticSiteSupport::ensureAssetURL(site));
    QCOMPARE(
        readText(site + "/.env"),
        QString(
            "APP_URL=http://x.test\n# Halvik: root-relative Vite assets for static hosts\nASSET_URL=/\n"));
}

void StaticSiteTest::namesAndAddressesAreNormalized()
{
    QCOMPARE(StaticSiteSupport::hostSiteName("My Café — Shop!"), QString("my-caf-shop"));
    QCOMPARE(StaticSiteSupport::hostSiteName("--Hello__World--"), QString("hello-world"));
    QCOMPARE(StaticSiteSupport::hostSiteName(QString(70, 'a')), QString(58, 'a'));
    // A cut that ends on a separator loses it.
    QCOMPARE(StaticSiteSupport::hostSiteName(QString(57, 'a') + " b"), QString(57, 'a'));
    QCOMPARE(StaticSiteSupport::preferredPublicURL("http://shop.example.com/"),
             QString("https://shop.example.com"));
    QCOMPARE(StaticSiteSupport::preferredPublicURL("shop.netlify.app"), QString("https://shop.netlify.app"));
    QCOMPARE(StaticSiteSupport::preferredPublicURL("  "), QString());
    QCOMPARE(StaticSiteSupport::cloudflareProjectName("https://My-Shop.pages.dev/"), QString("my-shop"));
    QCOMPARE(StaticSiteSupport::cloudflareProjectName("https://shop.example.com"), QString());
}

void StaticSiteTest::clientsSpeakTheHostsAPIsAndExplainRefusals()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    NetlifyClient& netlify = m.services.netlify();
    QCOMPARE(halvik::waitFor(netlify.verify(StaticMachine::netlifyToken)), QString("Ada Lovelace"));
    m.netlify.fullName.clear();
    QCOMPARE(halvik::waitFor(netlify.verify(StaticMachine::netlifyToken)), QString("ada@example.com"));
    QCOMPARE(errorOf(netlify.verify("wrong")), QString("Netlify rejected the access token."));
    const NetlifySite created =
        halvik::waitFor(netlify.createSite(QString("shop"), StaticMachine::netlifyToken));
    QCOMPARE(created.publicURL(), QString("https://shop.netlify.app"));
    const auto& create = m.netlify.requests().last();
    QCOMPARE(create.header("content-type"), QByteArray("application/json"));
    QCOMPARE(create.json().value("name").toString(), QString("shop"));
    QCOMPARE(errorOf(netlify.createSite(QString("shop"), StaticMachine::netlifyToken)),
             QString("Netlify error 422: {\"code\":422,\"message\":\"subdomain must be unique\"}"));
    QCOMPARE(halvik::waitFor(netlify.sites(StaticMachine::netlifyToken)).size(), 1);
    QCOMPARE(NetlifyClient::encodedPath("a b/ü#1.html"), QString("a%20b/%C3%BC%231.html"));

    CloudflarePagesClient& cloudflare = m.services.cloudflare();
    QCOMPARE(halvik::waitFor(cloudflare.verify(StaticMachine::cloudflareToken, StaticMachine::accountID)),
             QString("Cloudflare Pages"));
    QCOMPARE(errorOf(cloudflare.verify("wrong", StaticMachine::accountID)),
             QString("Cloudflare rejected the API token."));
    QCOMPARE(errorOf(cloudflare.verify(StaticMachine::cloudflareToken, "someone-else")),
             QString("Could not access Pages for this account."));
    QCOMPARE(errorOf(cloudflare.verify(StaticMachine::cloudflareToken, " ")),
             QString("Cloudflare account ID is required."));
    m.cloudflare.addProject("blog");
    QCOMPARE(
        errorOf(cloudflare.createProject("blog", StaticMachine::cloudflareToken, StaticMachine::accountID)),
        QString("A project with this name already exists."));
    const QList<CloudflareProject> projects =
        halvik::waitFor(cloudflare.projects(StaticMachine::cloudflareToken, StaticMachine::accountID));
    QCOMPARE(projects, (QList<CloudflareProject>{{"blog", "blog.pages.dev"}}));
    QCOMPARE(CloudflarePagesClient::failureMessage(500, "<html>"), QString("HTTP 500"));
    QCOMPARE(CloudflarePagesClient::failureMessage(200, R"({"success":false,"errors":[]})"),
             QString("Request failed"));

    // Accounts: the token lives in the secret store only; a Cloudflare account keeps its id.
    const HostAccountPtr cf = m.connectCloudflare();
    QCOMPARE(cf->providerAccountID(), std::optional<QString>(StaticMachine::accountID));
    QCOMPARE(m.services.hostAccounts().token(*cf), std::optional<QString>(StaticMachine::cloudflareToken));
    QCOMPARE(cf->secretAccount(), QString("cloudflarePages.") + uuidString(cf->id()));
    QCOMPARE(m.services.hostAccounts().resolve("cloudflare"), cf);
    m.services.store().flush();
    QVERIFY(!readText(AppDataDir::directory() + "/store.json").contains(StaticMachine::cloudflareToken));
    QVERIFY(readText(AppDataDir::directory() + "/secrets.json").contains(StaticMachine::cloudflareToken));
}

void StaticSiteTest::generateRunsEachStepWithItsEnvironment()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    // A frontend build script runs before generation; npm ci without a lock is npm install.
    writeFile(m.site->path() + "/package.json",
              R"({"name":"shop","private":true,"scripts":{"build":"node build.js"}})");
    writeFile(
        m.site->path() + "/build.js",
        "require('fs').writeFileSync('public/built.txt', process.env.ASSET_URL + ' ' + process.env.APP_ENV);"
        "console.log('vite built');");

    const test::ScopedEnv audit("npm_config_audit", "false");
    const test::ScopedEnv fund("npm_config_fund", "false");
    StaticPublishJob* job = m.services.staticPublishes().generateOnly(m.site);
    QCOMPARE(job->status(), QString("Generating Shop…"));
    QVERIFY(m.services.staticPublishes().isPublishing(m.site->id()));
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    QCOMPARE(job->status(), QString("Ready"));
    const QStringList log = job->log();
    const QStringList steps{"Set ASSET_URL=/ in .env for root-relative Vite assets",
                            "Generating with ASSET_URL=/ (no public APP_URL yet)",
                            "Installing npm dependencies…",
                            "Building frontend assets…",
                            "Warming Tarnel…",
                            "Generating static site…",
                            "Rewrote 11 local absolute URLs to root-relative paths",
                            "Static site ready at " + m.output(),
                            "Generate complete."};
    qsizetype at = 0;
    for (const QString& step : steps) {
        const qsizetype found = log.indexOf(step, at);
        QVERIFY2(found >= 0, qPrintable(step + "\n---\n" + log.join('\n')));
        at = found + 1;
    }
    QVERIFY(log.contains("vite built"));
    QVERIFY(log.filter(QRegularExpression("^Using Node at /.+/node$")).size() == 1);
    QCOMPARE(readText(m.site->path() + "/public/built.txt"), QString("/ production"));
    QVERIFY(m.site->lastStaticBuildAt().has_value());
    const QJsonObject warmed =
        QJsonDocument::fromJson(readText(m.site->path() + "/storage/tarnel-warmed.json").toUtf8()).object();
    QVERIFY(warmed.value("args").toVariant().toStringList().join(' ').startsWith("tarnel:warm -n -q"));
    QCOMPARE(warmed.value("ASSET_URL").toString(), QString("/"));
    QCOMPARE(warmed.value("APP_ENV").toString(), QString("production"));
    // Without a public address the site's own .env decides.
    QCOMPARE(warmed.value("APP_URL").toString(), QString("http://shop.test"));
    QCOMPARE(readText(m.output() + "/css/site.css"), QString("body { background: url(/img/logo.png); }\n"));
    QVERIFY(readText(m.output() + "/index.html").contains("<a href=\"/blog\">Blog</a>"));
    QVERIFY(readText(m.output() + "/index.html").contains("https://example.com/keep"));
    QVERIFY(readText(m.output() + "/index.html").contains("http://shop.testing.example.org/x"));
    // Each command is on record in the site's history.
    QVERIFY(m.site->operations().size() >= 4);

    // With a public address: APP_URL for this run only, no npm steps without a build script.
    QFile::remove(m.site->path() + "/package.json");
    const QString envBefore = readText(m.site->path() + "/.env");
    m.services.staticPublishes().clearFinishedJob(m.site->id());
    QVERIFY(!m.services.staticPublishes().job(m.site->id()));
    StaticSiteBuilder& builder = m.services.staticBuilder();
    QStringList lines;
    const StaticBuild made = halvik::waitFor(builder.generate(
        m.site, QString("http://shop.netlify.app/"), [&lines](const QString& line) { lines << line; }));
    QCOMPARE(lines.first(),
             QString("Using APP_URL=https://shop.netlify.app for this generate (local .env unchanged)"));
    QVERIFY(!lines.contains("Installing npm dependencies…"));
    QCOMPARE(readText(m.site->path() + "/.env"), envBefore);
    QVERIFY(readText(m.output() + "/sitemap.xml").contains("<loc>https://shop.netlify.app/about</loc>"));
    QCOMPARE(made.files, 10);
    QCOMPARE(made.output, m.output());
}

void StaticSiteTest::failedAndCancelledGenerationsLeaveNothingRunning()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    StaticPublishCoordinator& jobs = m.services.staticPublishes();

    writeFile(m.site->path() + "/storage/ssg-fail", "");
    StaticPublishJob* failed = jobs.generateOnly(m.site);
    QVERIFY(waitForJob(failed));
    QCOMPARE(failed->status(), QString("Generate failed"));
    QCOMPARE(failed->errorMessage().value_or(QString()),
             QString("Command failed (3)\nGenerating pages…\n"
                     "Error: template pages/broken.antlers.html could not be parsed"));
    QCOMPARE(failed->log().last(), *failed->errorMessage());
    QFile::remove(m.site->path() + "/storage/ssg-fail");

    writeFile(m.site->path() + "/storage/ssg-slow", "");
    StaticPublishJob* slow = jobs.generateOnly(m.site);
    QVERIFY(slow != failed);
    // One run per site.
    try {
        jobs.generateOnly(m.site);
        QFAIL("a second run of the site started");
    } catch (const HalvikError& error) {
        QCOMPARE(error.description(), QString("A static build or publish of this site is already running."));
    }
    QTRY_VERIFY_WITH_TIMEOUT(slow->log().contains("Generated /"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(test::processRunning("47.25"), 10000);
    jobs.cancel(m.site->id());
    QVERIFY(waitForJob(slow));
    QCOMPARE(slow->status(), QString("Cancelled"));
    QCOMPARE(slow->log().last(), QString("Cancelled."));
    QVERIFY(slow->wasCancelled());
    QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning("47.25"), 10000);
}

void StaticSiteTest::netlifyRepublishSendsOnlyWhatChanged()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    const HostAccountPtr host = m.connectNetlify();
    writeFile(m.site->path() + "/storage/ssg-pages", "40");
    QStringList notices;

    StaticPublishRequest request;
    request.host = host;
    request.createNewSite = true;
    request.siteName = "Shop Front";
    StaticPublishJob* job = m.services.staticPublishes().publish(m.site, request);
    double lastFraction = 0;
    bool backwards = false;
    connect(job, &StaticPublishJob::progressChanged, job, [&](double fraction) {
        backwards = backwards || fraction < lastFraction;
        lastFraction = fraction;
    });
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    QVERIFY(!backwards);
    QCOMPARE(job->fractionComplete(), 1.0);
    QCOMPARE(job->status(), QString("finished"));
    const QString siteID = m.netlify.siteIDs().value(0);
    QCOMPARE(m.netlify.site(siteID).value("name").toString(), QString("shop-front"));
    QCOMPARE(job->publicURL(), QString("https://shop-front.netlify.app"));
    const QStringList log = job->log();
    for (const QString& line :
         {QString("Creating Netlify site…"), QString("Created https://shop-front.netlify.app"),
          QString("Generating static site for Shop…"),
          QString("Using APP_URL=https://shop-front.netlify.app for this generate (local .env unchanged)"),
          QString("Generate finished."), QString("Hashing 47 files…"),
          QString("Uploading 47 changed files to Netlify (0 unchanged)…"),
          QString("Live at https://shop-front.netlify.app")})
        QVERIFY2(log.contains(line), qPrintable(line + "\n---\n" + log.join('\n')));
    // What Netlify serves is the output folder, byte for byte, under the public address.
    QCOMPARE(m.netlify.live(siteID), folderFiles(m.output()));
    QVERIFY(readText(m.output() + "/sitemap.xml").contains("https://shop-front.netlify.app/about"));
    QCOMPARE(m.netlify.puts(), 47);
    QCOMPARE(m.netlify.zipDeploys(), 0);
    const auto create =
        std::find_if(m.netlify.requests().cbegin(), m.netlify.requests().cend(),
                     [](const auto& r) { return r.path.endsWith("/deploys") && r.method == "POST"; });
    QVERIFY2(QUrlQuery(create->query).queryItemValue("title", QUrl::FullyDecoded).startsWith("Halvik 20"),
             qPrintable(create->query));

    // The site remembers its target; one deployment per publish.
    QCOMPARE(m.site->staticHostKind(), std::optional<QString>("netlify"));
    QCOMPARE(m.site->staticHostSiteId(), std::optional<QString>(siteID));
    QCOMPARE(m.site->staticHostURL(), std::optional<QString>("https://shop-front.netlify.app"));
    QCOMPARE(m.site->deployments().size(), 1);
    const DeploymentPtr first = m.site->deployments().first();
    QCOMPARE(first->providerRaw(), std::optional<QString>("netlify"));
    QCOMPARE(first->serverName(), QString("Netlify"));
    QCOMPARE(first->siteName(), siteID);
    QCOMPARE(first->status(), QString("finished"));
    QVERIFY(first->finishedAt());
    QVERIFY(first->log().contains("Live at https://shop-front.netlify.app"));

    // A typo fixed in one page: only that file travels, to the stored target.
    m.netlify.clearCounts();
    writeFile(m.output() + "/pages/page-7/index.html", "<p>Page seven, fixed</p>\n");
    StaticPublishRequest again;
    again.host = host;
    again.regenerate = false;
    job = m.services.staticPublishes().publish(m.site, again);
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    QCOMPARE(m.netlify.puts(), 1);
    QCOMPARE(job->uploaded(), 1);
    QCOMPARE(job->unchanged(), 46);
    QVERIFY(job->log().contains("Uploading 1 changed files to Netlify (46 unchanged)…"));
    QCOMPARE(m.netlify.live(siteID), folderFiles(m.output()));
    QCOMPARE(m.netlify.siteIDs().size(), 1);
    QCOMPARE(m.site->deployments().size(), 2);

    // A deploy Netlify rejects fails the publish and keeps the site and the output.
    m.netlify.failDeploys = QString("Build script returned non-zero exit code: 2");
    writeFile(m.output() + "/pages/page-8/index.html", "<p>Page eight, fixed</p>\n");
    job = m.services.staticPublishes().publish(m.site, again);
    QVERIFY(waitForJob(job));
    QCOMPARE(job->status(), QString("failed"));
    QCOMPARE(job->errorMessage(), std::optional<QString>("Build script returned non-zero exit code: 2"));
    QCOMPARE(m.site->deployments().last()->status(), QString("failed"));
    QVERIFY(QFileInfo::exists(m.output() + "/index.html"));
    QCOMPARE(m.netlify.siteIDs().size(), 1);

    // An output whose rewriting was interrupted may hold half-written pages: it is generated
    // again even when the publish would reuse it.
    m.netlify.failDeploys.reset();
    writeFile(m.output() + "/.halvik-rewriting", "");
    QVERIFY(!StaticSiteSupport::isCompleteOutput(m.output()));
    job = m.services.staticPublishes().publish(m.site, again);
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    QVERIFY(job->log().contains("Generating static site for Shop…"));
    QVERIFY(StaticSiteSupport::isCompleteOutput(m.output()));
    QCOMPARE(m.netlify.live(siteID), folderFiles(m.output()));

    // The token went nowhere but the secret store.
    m.services.store().flush();
    QVERIFY(!readText(AppDataDir::directory() + "/store.json").contains(StaticMachine::netlifyToken));
    for (const DeploymentPtr& deployment : m.site->deployments())
        QVERIFY(!deployment->log().contains(StaticMachine::netlifyToken));
}

// More entries than one read of a folder returns, and more folders than are handed out at once:
// every file is found, none twice, and the rewrite reaches each page.
void StaticSiteTest::aWideOutputIsWalkedWholeAndOnce()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const QString longName = QString(120, QLatin1Char('n'));
    QSet<QString> expected;
    for (int i = 0; i < 700; ++i) {
        const QString page = QStringLiteral("/page-%1-%2/index.html").arg(i).arg(longName);
        writeFile(out + page, "<a href=\"http://shop.test/p\">p</a>");
        expected << page;
    }
    for (int i = 0; i < 400; ++i) {
        const QString asset = QStringLiteral("/asset-%1-%2.css").arg(i).arg(longName);
        writeFile(out + asset, "a{}");
        expected << asset;
    }
    writeFile(out + "/a/b/c/d/deep.html", "<a href=\"http://shop.test/\">d</a>");
    expected << "/a/b/c/d/deep.html";

    QMutex lock;
    QStringList visited;
    QVERIFY(ParallelFolderWalk::run(out, [&](const ParallelFolderWalk::File& file) {
        const QMutexLocker locked(&lock);
        visited << "/" + QFile::decodeName(file.relative.c_str());
    }));
    QCOMPARE(visited.size(), expected.size());
    QCOMPARE(QSet<QString>(visited.cbegin(), visited.cend()), expected);
    QCOMPARE(ParallelFolderWalk::countFiles(out), expected.size());

    const QString site = dir.filePath("site");
    writeFile(site + "/.env", "APP_URL=http://localhost\n");
    const StaticSiteSupport::RewriteSummary summary = StaticSiteSupport::rewriteOutput(out, site);
    QCOMPARE(summary.files, expected.size());
    QCOMPARE(summary.replacements, 701);
    QCOMPARE(readText(out + "/a/b/c/d/deep.html"), QString("<a href=\"/\">d</a>"));
    QCOMPARE(ParallelFolderWalk::countFiles(dir.filePath("missing")), 0);
}

void StaticSiteTest::folderDigestsMatchTheBytesWhateverTheirSize()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    QByteArray large;
    for (int i = 0; large.size() < 2'600'000; ++i)
        large += QByteArray::number(i) + ' ';
    writeFile(out + "/video/large.bin", large);
    writeFile(out + "/empty.txt", "");
    writeFile(out + "/a/b/c/page.html", "<p>deep</p>");
    writeFile(dir.filePath("elsewhere.css"), "body{}");
    QVERIFY(QFile::link(dir.filePath("elsewhere.css"), out + "/linked.css"));
    QVERIFY(QFile::link(dir.filePath("missing"), out + "/dangling.css"));
    const auto sha1 = [](const QByteArray& bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
    };
    const QMap<QString, QString> expected{{"/video/large.bin", sha1(large)},
                                          {"/empty.txt", sha1({})},
                                          {"/a/b/c/page.html", sha1("<p>deep</p>")},
                                          {"/linked.css", sha1("body{}")}};
    // Read whole or in chunks, kept or not: the same digests, and kept bytes equal to the files.
    QCOMPARE(NetlifyPublisher::digests(out), expected);
    const NetlifyPublisher::HashedFolder kept = NetlifyPublisher::hashFolder(out, 1 << 20, 1 << 20);
    QCOMPARE(kept.digests, expected);
    QVERIFY(!kept.contents.contains("/video/large.bin"));
    QCOMPARE(kept.contents.value("/a/b/c/page.html"), QByteArray("<p>deep</p>"));
    QCOMPARE(kept.contents.value("/linked.css"), QByteArray("body{}"));
    QCOMPARE(NetlifyPublisher::hashFolder(out, 1 << 30, 1 << 30).contents.value("/video/large.bin"), large);
    // Within a total: what is kept never exceeds it.
    qint64 total = 0;
    for (const QByteArray& bytes : NetlifyPublisher::hashFolder(out, 1 << 30, 100).contents)
        total += bytes.size();
    QVERIFY(total <= 100);
    QVERIFY_THROWS_EXCEPTION(HalvikError, NetlifyPublisher::digests(dir.filePath("missing-folder")));
}

void StaticSiteTest::netlifyFallsBackToOneZip()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    const HostAccountPtr host = m.connectNetlify();
    const QString siteID = m.netlify.addSite("existing-shop");
    const QStringList zipsBefore = tempZips();
    m.netlify.refuseDigests = 422;

    StaticPublishRequest request;
    request.host = host;
    request.existingSiteID = siteID;
    StaticPublishJob* job = m.services.staticPublishes().publish(m.site, request);
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    QVERIFY(job->log().contains("Target https://existing-shop.netlify.app"));
    QVERIFY(job->log().contains("Zipping " + m.output() + "…"));
    QVERIFY(job->log().contains("Uploading to Netlify…"));
    QCOMPARE(m.netlify.zipDeploys(), 1);
    QCOMPARE(m.netlify.live(siteID), folderFiles(m.output()));
    QCOMPARE(tempZips(), zipsBefore);

    // Asked for, the zip goes straight away; a failing upload still removes it.
    m.netlify.refuseDigests.reset();
    m.netlify.clearCounts();
    request.existingSiteID.reset();
    request.forceZip = true;
    request.regenerate = false;
    job = m.services.staticPublishes().publish(m.site, request);
    QVERIFY(waitForJob(job));
    QVERIFY(job->succeeded());
    QCOMPARE(m.netlify.zipDeploys(), 1);
    QCOMPARE(m.netlify.puts(), 0);
    m.netlify.failDeploys = QString("Deploy did not succeed");
    job = m.services.staticPublishes().publish(m.site, request);
    QVERIFY(waitForJob(job));
    QCOMPARE(job->errorMessage(), std::optional<QString>("Deploy did not succeed"));
    QCOMPARE(tempZips(), zipsBefore);
}

void StaticSiteTest::aDeployReadyOnceItsFilesAreInIsNotWaitedOn()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    writeFile(out + "/index.html", "<p>home</p>");
    writeFile(out + "/about/index.html", "<p>about</p>");
    test::FakeNetlify netlify("direct-token");
    netlify.processingLooks = 0;
    QVERIFY(netlify.start());
    const QString siteID = netlify.addSite("direct");
    const test::ScopedEnv url("HALVIK_NETLIFY_URL", netlify.root());
    NetlifyClient client;
    ProcessRunner runner;
    NetlifyPublisher publisher(client, runner);
    // A poll interval no test would sit through: a publish ends only by looking straight away.
    publisher.setTiming({std::chrono::seconds(30), std::chrono::minutes(2)});
    QElapsedTimer elapsed;
    elapsed.start();
    NetlifyPublishResult result =
        halvik::waitFor(publisher.publish(siteID, out, "direct-token", "t", false, {}, {}));
    QCOMPARE(result.deploy.state, QString("ready"));
    QCOMPARE(result.uploaded, 2);
    QCOMPARE(netlify.live(siteID), folderFiles(out));
    // Nothing to send: the deploy is looked at again at once too.
    result = halvik::waitFor(publisher.publish(siteID, out, "direct-token", "t", false, {}, {}));
    QCOMPARE(result.deploy.state, QString("ready"));
    QCOMPARE(result.uploaded, 0);
    QVERIFY2(elapsed.elapsed() < 25'000, qPrintable(QString::number(elapsed.elapsed())));
}

void StaticSiteTest::cloudflarePublishRunsWranglerThroughNpx()
{
    StaticMachine m;
    QVERIFY(m.started && m.wiped);
    test::FakeNpmRegistry registry(test::fixturesDir() + "/wrangler");
    QVERIFY(registry.start());
    QTemporaryDir npmCache;
    const test::ScopedEnv npmRegistry("npm_config_registry", registry.root() + "/");
    const test::ScopedEnv cache("npm_config_cache", npmCache.path());
    const test::ScopedEnv chatty("WRANGLER_FIXTURE_CHATTY", "1");
    const HostAccountPtr host = m.connectCloudflare();
    m.cloudflare.addProject("shop");
    m.cloudflare.takenElsewhere = {"shop-2"};

    StaticPublishRequest request;
    request.host = host;
    request.createNewSite = true;
    request.siteName = "Shop";
    StaticPublishJob* job = m.services.staticPublishes().publish(m.site, request);
    QVERIFY(waitForJob(job));
    QVERIFY2(job->succeeded(), qPrintable(job->log().join('\n')));
    const QStringList log = job->log();
    for (const QString& line :
         {QString("Project “shop” already exists; creating “shop-2”…"),
          QString("Creating Cloudflare Pages project “shop-2”…"),
          QString("Project “shop-2” already exists; creating “shop-3”…"),
          QString("Creating Cloudflare Pages project “shop-3”…"),
          QString("Uploading via Wrangler (production branch: main)…"), QString("Uploading... (10 files)"),
          QString("Live at https://shop-3.pages.dev")})
        QVERIFY2(log.contains(line), qPrintable(line + "\n---\n" + log.join('\n')));
    // Wrangler's own echo of the token is masked.
    QVERIFY(log.contains("Debug: using API token •••••• for account acc-7f3e"));
    QVERIFY(!log.join('\n').contains(StaticMachine::cloudflareToken));
    QCOMPARE(m.cloudflare.projects(), QStringList({"shop", "shop-3"}));
    QCOMPARE(m.cloudflare.live("shop-3"), folderFiles(m.output()));
    QCOMPARE(m.site->staticHostKind(), std::optional<QString>("cloudflarePages"));
    QCOMPARE(m.site->staticHostSiteId(), std::optional<QString>("shop-3"));
    QCOMPARE(m.site->deployments().last()->serverName(), QString("Cloudflare Pages"));
    QCOMPARE(m.site->deployments().last()->siteName(), QString("shop-3"));

    const QJsonObject call =
        QJsonDocument::fromJson(
            readText(QFileInfo(m.output()).absolutePath() + "/wrangler-call.json").toUtf8())
            .object();
    QCOMPARE(call.value("args").toVariant().toStringList(),
             QStringList({"pages", "deploy", m.output(), "--project-name=shop-3", "--branch=main",
                          "--commit-dirty=true"}));
    QCOMPARE(call.value("cwd").toString(), QFileInfo(m.output()).absolutePath());
    QCOMPARE(call.value("base").toString(), m.cloudflare.root() + "/client/v4");
    QCOMPARE(call.value("ci").toString(), QString("1"));

    // Missing account id.
    host->setProviderAccountID(std::nullopt);
    job = m.services.staticPublishes().publish(m.site, request);
    QVERIFY(waitForJob(job));
    QCOMPARE(job->errorMessage(), std::optional<QString>("Missing Cloudflare account ID."));
}

HALVIK_TEST_MAIN(StaticSiteTest)
#include "tst_staticsite.moc"
