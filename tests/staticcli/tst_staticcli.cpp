#include "FakeCloudflare.h"
#include "FakeNetlify.h"
#include "ForgeRig.h"
#include "StaticRig.h"
#include "TestMain.h"
#include "TestPaths.h"

#include "platform/AppDataDir.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik;
using halvik::test::folderFiles;
using halvik::test::ScopedEnv;

namespace {

struct CliRun
{
    int exitCode = -1;
    QString output;      // standard output
    QString diagnostics; // standard error
    // How often the canary was seen in a running process's arguments.
    int canaryInArguments = 0;
};

const QByteArray kNetlifyCanary = "nfp_CLI_CANARY_61be";
const QByteArray kCloudflareCanary = "cf_CLI_CANARY_0d9c";

// Runs the halvik command line while this process serves the fakes, looking at every process's
// arguments as it goes. `interruptWhen` sends Ctrl-C once standard output or error holds it.
CliRun runHalvik(const QStringList& args, const QByteArray& input = {}, const QString& interruptWhen = {})
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    process.write(input);
    process.closeWriteChannel();
    QByteArray out;
    QByteArray err;
    bool interrupted = false;
    CliRun run;
    const bool ended = QTest::qWaitFor(
        [&] {
            out += process.readAllStandardOutput();
            err += process.readAllStandardError();
            if (test::processRunning(kNetlifyCanary) || test::processRunning(kCloudflareCanary))
                ++run.canaryInArguments;
            if (!interruptWhen.isEmpty() && !interrupted &&
                QString::fromUtf8(out + err).contains(interruptWhen)) {
                interrupted = true;
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            }
            return process.state() == QProcess::NotRunning;
        },
        180000);
    if (!ended)
        process.kill();
    process.waitForFinished(5000);
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(out);
    run.diagnostics = QString::fromUtf8(err);
    return run;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QJsonObject objectOf(const CliRun& run)
{
    return QJsonDocument::fromJson(run.output.toUtf8()).object();
}

} // namespace

class StaticCliTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildConnectPublishAndRepublishFromTheCommandLine();
};

void StaticCliTest::buildConnectPublishAndRepublishFromTheCommandLine()
{
    test::FakeNetlify netlify(kNetlifyCanary);
    test::FakeCloudflare cloudflare(kCloudflareCanary, "acc-cli");
    test::FakeNpmRegistry registry(test::fixturesDir() + "/wrangler");
    QVERIFY(netlify.start() && cloudflare.start() && registry.start());
    QTemporaryDir sites;
    QTemporaryDir npmCache;
    const ScopedEnv netlifyURL("HALVIK_NETLIFY_URL", netlify.root());
    const ScopedEnv cloudflareURL("HALVIK_CLOUDFLARE_URL", cloudflare.root());
    const ScopedEnv npmRegistry("npm_config_registry", registry.root() + "/");
    const ScopedEnv cache("npm_config_cache", npmCache.path());
    const ScopedEnv chatty("WRANGLER_FIXTURE_CHATTY", "1");
    const QString folder = sites.filePath("Shop");
    test::makeSSGSite(folder);
    const QString output = folder + "/storage/app/static";

    QStringList outputs;
    int canarySightings = 0;
    const auto step = [&](const QStringList& args, const QByteArray& input = {},
                          const QString& interruptWhen = {}) {
        const CliRun run = runHalvik(args, input, interruptWhen);
        outputs << run.output << run.diagnostics;
        canarySightings += run.canaryInArguments;
        return run;
    };
    QCOMPARE(step({"import", folder}).exitCode, 0);

    // Generate only, JSON on standard output and the lines on standard error.
    const CliRun built = step({"static", "build", "Shop", "--json"});
    QVERIFY2(built.exitCode == 0, qPrintable(built.diagnostics));
    const QJsonObject build = objectOf(built);
    QCOMPARE(build.value("output").toString(), output);
    QCOMPARE(build.value("files").toInt(), 10);
    QCOMPARE(build.value("rewritten").toInt(), 11);
    QVERIFY(!build.value("builtAt").toString().isEmpty());
    QVERIFY(built.diagnostics.contains("Static site ready at " + output));

    // Ctrl-C stops a generation and the child it waits on.
    test::writeFile(folder + "/storage/ssg-slow", "");
    const CliRun stopped = step({"static", "build", "Shop"}, {}, "Generated /");
    QCOMPARE(stopped.exitCode, 1);
    QCOMPARE(stopped.diagnostics.trimmed(), QString("halvik: Cancelled."));
    QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning("47.25"), 10000);
    QFile::remove(folder + "/storage/ssg-slow");

    const CliRun configured = step({"static", "host-config", "Shop"});
    QCOMPARE(configured.output.trimmed(),
             QString("Wrote netlify.toml and wrangler.toml for optional Git-based deploys."));
    QVERIFY(readText(folder + "/netlify.toml").contains("  publish = \"storage/app/static\"\n"));
    QVERIFY(readText(folder + "/wrangler.toml").contains("name = \"quillmar-site\"\n"));

    // Accounts.
    const CliRun refused = step({"hosts", "connect", "netlify", "--token-stdin"}, "nope\n");
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.diagnostics.trimmed(), QString("halvik: Netlify rejected the access token."));
    QCOMPARE(step({"hosts", "connect", "netlify", "--token-stdin"}, kNetlifyCanary + "\n").output.trimmed(),
             QString("Connected to Netlify as Ada Lovelace"));
    QCOMPARE(step({"hosts", "connect", "cloudflare", "--token-stdin"}, kCloudflareCanary + "\n").exitCode, 2);
    const CliRun otherAccount =
        step({"hosts", "connect", "cloudflare", "--account-id", "acc-other", "--token-stdin"},
             kCloudflareCanary + "\n");
    QCOMPARE(otherAccount.diagnostics.trimmed(), QString("halvik: Could not access Pages for this account."));
    QCOMPARE(step({"hosts", "connect", "cloudflare", "--account-id", "acc-cli", "--token-stdin"},
                  kCloudflareCanary + "\n")
                 .exitCode,
             0);

    // First publish to a new Netlify site, then a republish of one changed file.
    const CliRun published = step({"publish", "Shop", "--netlify", "--new", "--name", "Shop Live", "--json"});
    QVERIFY2(published.exitCode == 0, qPrintable(published.diagnostics));
    const QJsonObject first = objectOf(published);
    const QString siteID = first.value("target").toString();
    QCOMPARE(first.value("url").toString(), QString("https://shop-live.netlify.app"));
    QCOMPARE(first.value("uploaded").toInt(), 10);
    QCOMPARE(first.value("unchanged").toInt(), 0);
    QVERIFY(!first.value("deployment").toString().isEmpty());
    QCOMPARE(netlify.live(siteID), folderFiles(output));
    netlify.clearCounts();
    test::writeFile(output + "/about/index.html", "<h1>About us</h1>\n");
    const CliRun again = step({"publish", "Shop", "--netlify", "--skip-build", "--json"});
    QVERIFY2(again.exitCode == 0, qPrintable(again.diagnostics));
    QCOMPARE(objectOf(again).value("target").toString(), siteID);
    QCOMPARE(objectOf(again).value("uploaded").toInt(), 1);
    QCOMPARE(objectOf(again).value("unchanged").toInt(), 9);
    QCOMPARE(netlify.puts(), 1);
    QCOMPARE(netlify.live(siteID), folderFiles(output));

    // Cloudflare through Wrangler.
    const CliRun pages = step({"publish", "Shop", "--cloudflare", "--new", "--json"});
    QVERIFY2(pages.exitCode == 0, qPrintable(pages.diagnostics));
    QCOMPARE(objectOf(pages).value("url").toString(), QString("https://shop.pages.dev"));
    QVERIFY(pages.diagnostics.contains("Debug: using API token •••••• for account acc-cli"));
    QCOMPARE(cloudflare.live("shop"), folderFiles(output));

    const QJsonObject shownNetlify = objectOf(step({"hosts", "show", "netlify", "--json"}));
    QCOMPARE(shownNetlify.value("sites").toArray().at(0).toObject().value("url").toString(),
             QString("https://shop-live.netlify.app"));
    const QJsonObject shownPages = objectOf(step({"hosts", "show", "cloudflare", "--json"}));
    QCOMPARE(shownPages.value("projects").toArray().at(0).toObject().value("name").toString(),
             QString("shop"));

    // Every publish is in the history, newest first.
    const QJsonArray history =
        QJsonDocument::fromJson(step({"deployments", "Shop", "--json"}).output.toUtf8()).array();
    QCOMPARE(history.size(), 3);
    QCOMPARE(history.at(0).toObject().value("target").toString(), QString("cloudflarePages"));
    QCOMPARE(history.at(0).toObject().value("serverName").toString(), QString("Cloudflare Pages"));
    QCOMPARE(history.at(2).toObject().value("target").toString(), QString("netlify"));
    QCOMPARE(history.at(2).toObject().value("siteName").toString(), siteID);
    QCOMPARE(history.at(2).toObject().value("status").toString(), QString("finished"));

    // Two Netlify accounts and no --host: the command names them.
    netlify.fullName = "Second Person";
    netlify.token = "nfp_second_token";
    QCOMPARE(step({"hosts", "connect", "netlify", "--token-stdin"}, "nfp_second_token\n").exitCode, 0);
    const CliRun ambiguous = step({"publish", "Shop", "--netlify"});
    QCOMPARE(ambiguous.exitCode, 2);
    QVERIFY2(ambiguous.diagnostics.contains("Ada Lovelace") &&
                 ambiguous.diagnostics.contains("Second Person"),
             qPrintable(ambiguous.diagnostics));

    // The tokens: in secrets.json, nowhere else.
    const QString data = AppDataDir::directory();
    QVERIFY(readText(data + "/secrets.json").contains(QString::fromUtf8(kNetlifyCanary)));
    QVERIFY(readText(data + "/secrets.json").contains(QString::fromUtf8(kCloudflareCanary)));
    int hits = 0;
    const auto search = [&](const QString& where, const QString& text) {
        for (const QByteArray& canary : {kNetlifyCanary, kCloudflareCanary})
            if (text.contains(QString::fromUtf8(canary))) {
                ++hits;
                qWarning() << "token found in" << where;
            }
    };
    for (QDirIterator it(data, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!path.endsWith("/secrets.json"))
            search(path, readText(path));
    }
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        search(path, readText(path));
    }
    for (const QString& text : std::as_const(outputs))
        search("command output", text);
    QVERIFY(readText(data + "/store.json").contains("cloudflarePages"));
    QCOMPARE(hits, 0);
    QCOMPARE(canarySightings, 0);
}

HALVIK_TEST_MAIN_CORE(StaticCliTest)
#include "tst_staticcli.moc"
