#include "FakeEngine.h"
#include "RuntimeFixture.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "FakePrompts.h"
#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "models/Site.h"
#include "services/HerdService.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeFiles.h"

#include "Screenshots.h"
#include "TestPaths.h"

#include "views/common/Appearance.h"
#include "views/settings/RuntimeSettingsPane.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>

using namespace halvik;
using namespace halvik::test;

namespace {

QString realPHPVersion()
{
    QProcess php;
    php.start(RuntimeFixture::realPHP(), {"-r", "echo PHP_VERSION;"});
    php.waitForFinished();
    return QString::fromUtf8(php.readAllStandardOutput()).trimmed();
}

QString runToString(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString readText(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

// The description of what `task` threw, or an empty string when it succeeded.
template <typename T> QString failureOf(QCoro::Task<T>&& task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return {};
}

// Points the system's temporary folder (where installs unpack) at a folder of the test's own
// while it lives, and records the scratch folders seen there while an install runs.
class ScratchWatch
{
public:
    ScratchWatch(const QString& folder, RuntimeManager& runtime) : m_folder(folder), m_old(qgetenv("TMPDIR"))
    {
        QDir().mkpath(folder);
        qputenv("TMPDIR", folder.toUtf8());
        QObject::connect(&runtime, &RuntimeManager::changed, &m_context, [this] {
            for (const QString& name : left())
                if (!m_seen.contains(name))
                    m_seen << name;
        });
    }
    ~ScratchWatch() { qputenv("TMPDIR", m_old); }

    QStringList left() const
    {
        return QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    const QStringList& seen() const { return m_seen; }

private:
    QString m_folder;
    QByteArray m_old;
    QObject m_context;
    QStringList m_seen;
};

} // namespace

class RuntimeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void downloadListsAndVersionTexts()
    {
        const QString suffix = "linux-x86_64";
        const QString page = "php-8.3.9-cli-linux-x86_64.tar.gz php-8.3.10-cli-linux-x86_64.tar.gz "
                             "php-8.3.11-cli-macos-aarch64.tar.gz php-8.4.2-cli-linux-x86_64.tar.gz "
                             "php-8.30.1-cli-linux-x86_64.tar.gz";
        QCOMPARE(RuntimeFiles::newestPHPBuild(page, "8.3", suffix), std::optional<QString>("8.3.10"));
        QCOMPARE(RuntimeFiles::newestPHPBuild(page, "8.2", suffix), std::nullopt);
        QCOMPARE(RuntimeFiles::normalizedPHPLine(" 8.4.11 "), QString("8.4"));
        QCOMPARE(RuntimeFiles::compareVersions("v22.10.0", "22.9.1"), 1);

        const QByteArray index = R"([{"version":"v23.1.0","lts":false},{"version":"v22.12.0","lts":false},
            {"version":"v22.11.0","lts":"Jod"},{"version":"v20.18.0","lts":"Iron"}])";
        QCOMPARE(RuntimeFiles::newestNodeLTS(index, "22"), std::optional<QString>("22.11.0"));
        QCOMPARE(RuntimeFiles::newestNodeLTS(R"([{"version":"v22.1.0","lts":""}])", "22"), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 RuntimeFiles::newestNodeLTS("{\"not\":\"a list\"}", "22"));

        QCOMPARE(RuntimeFiles::composerVersionFrom("Composer version 2.7.1 2024-02-09 15:26:28"),
                 std::optional<QString>("2.7.1"));
        QCOMPARE(RuntimeFiles::composerVersionFrom("Composer - 2.2.0 (stable)"),
                 std::optional<QString>("2.2.0"));
        QCOMPARE(RuntimeFiles::composerVersionFrom("weird\nsecond"), std::optional<QString>("weird"));
        QCOMPARE(RuntimeFiles::latestComposerFrom(R"({"stable":[{"version":"2.8.4","path":"/x"}]})"),
                 std::optional<QString>("2.8.4"));
        QCOMPARE(RuntimeFiles::latestComposerFrom("<html>"), std::nullopt);

        const QByteArray sums =
            "aa11  node-v22.11.0-linux-arm64.tar.gz\nBB22 *node-v22.11.0-linux-x64.tar.gz\n";
        QCOMPARE(RuntimeFiles::checksumFor(sums, "node-v22.11.0-linux-x64.tar.gz"),
                 std::optional<QByteArray>("bb22"));
        QCOMPARE(RuntimeFiles::checksumFor(sums, "node-v22.11.0-linux-x64.tar"), std::nullopt);
    }

    // An installation keeps its data in <prefix>/share/halvik; the programs run from
    // <prefix>/bin and <prefix>/libexec/halvik, and both must find the storage worker there.
    void installedDataIsFoundFromEveryProgramFolder()
    {
        QTemporaryDir prefix;
        const QString worker = prefix.filePath("share/halvik/storage-worker.php");
        QVERIFY(QDir().mkpath(QFileInfo(worker).absolutePath()));
        QFile file(worker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        for (const QString& programFolder : {prefix.filePath("bin"), prefix.filePath("libexec/halvik")}) {
            QString found;
            for (const QString& folder : RuntimeRoots::resourceFoldersFor(programFolder))
                if (found.isEmpty() && QFileInfo::exists(folder + "/storage-worker.php"))
                    found = folder + "/storage-worker.php";
            QCOMPARE(found, worker);
        }
    }

    void seedingWritesTheManagedFilesExactly()
    {
        RuntimeFixture fx;
        RuntimeFixture::copyExecutable(RuntimeFixture::realPHP(), fx.root() + "/resources/runtime/php");
        RuntimeFixture::writeFile(fx.root() + "/resources/runtime/composer.phar", "<?php echo 'composer';");
        RuntimeManager& runtime = fx.manager();
        runtime.seedIfNeeded();
        runtime.seedIfNeeded(); // idempotent

        const QString bin = fx.root() + "/support/bin";
        QCOMPARE(QFileInfo(bin + "/php.ini").size(), 155);
        QCOMPARE(readText(bin + "/php.ini").split('\n').value(2), QString("pcre.jit=0"));
        QCOMPARE(readText(bin + "/php"), QString("#!/bin/bash\nset -euo pipefail\nexport PHPRC=\"%1\"\n"
                                                 "exec \"%1/php-cli\" -d pcre.jit=0 \"$@\"")
                                             .arg(bin));
        QVERIFY(QFileInfo(bin + "/php").isExecutable() && QFileInfo(bin + "/php-cli").isExecutable());
        QVERIFY(readText(bin + "/composer").endsWith("require '" + bin + "/composer.phar';"));
        QVERIFY(!QFileInfo(bin + "/composer.phar").isExecutable());
        QVERIFY(QFileInfo::exists(fx.root() + "/support/composer") &&
                QFileInfo::exists(fx.root() + "/support/cache"));

        // The wrapper really runs PHP, and PHP reads the managed ini, not the machine's.
        QCOMPARE(runToString(bin + "/php", {"-r", "echo ini_get('memory_limit');"}), QString("1G"));

        fx.server.serve("/versions", R"({"stable":[{"version":"2.8.4"}]})");
        halvik::waitFor(runtime.refreshVersions());
        QTRY_COMPARE(runtime.snapshot().latestComposerVersion, std::optional<QString>("2.8.4"));
        // A lookup still running when the manager goes ends with it.
        {
            RuntimeManager shortLived(fx.runner, fx.roots());
            halvik::waitFor(shortLived.refreshVersions());
        }
        const RuntimeSnapshot& snapshot = runtime.snapshot();
        QVERIFY(snapshot.seeded);
        QCOMPARE(snapshot.managedPHPPath, std::optional<QString>(bin + "/php"));
        QCOMPARE(snapshot.managedPHPVersion, std::optional<QString>(realPHPVersion()));
        QCOMPARE(snapshot.composerPath, std::optional<QString>(bin + "/composer.phar"));
        // With only the seeded copy, the list holds it as line 8.4, bundled.
        QCOMPARE(snapshot.extraPHP.size(), 1);
        QCOMPARE(snapshot.extraPHP[0].line, QString("8.4"));
        QVERIFY(snapshot.extraPHP[0].bundled);
    }

    void seedingAdoptsAnOldBinaryAndSkipsMissingResources()
    {
        RuntimeFixture fx;
        const QString bin = fx.root() + "/support/bin";
        RuntimeFixture::copyExecutable(RuntimeFixture::realPHP(), bin + "/php"); // the older layout
        fx.manager().seedIfNeeded();
        QVERIFY(QFileInfo(bin + "/php-cli").isExecutable());
        QVERIFY(RuntimeFiles::isScript(bin + "/php"));
        QCOMPARE(runToString(bin + "/php", {"-r", "echo PHP_VERSION;"}), realPHPVersion());

        RuntimeFixture bare;
        bare.manager().seedIfNeeded();
        const QString bareBin = bare.root() + "/support/bin";
        QVERIFY(QFileInfo::exists(bareBin + "/php.ini"));
        QVERIFY(!QFileInfo::exists(bareBin + "/php") && !QFileInfo::exists(bareBin + "/composer"));
        QVERIFY(!bare.manager().snapshot().seeded);
    }

    void installedLinesAreOnePerLine()
    {
        RuntimeFixture fx;
        for (const char* name : {"8.3", "8.3.1", "8.2"}) {
            RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/" + name + "/php", "#!/bin/sh\n",
                                      true);
            RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/" + name + "/VERSION",
                                      QByteArray(name) + ".7\n");
        }
        RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/8.1/php", "not executable");
        const QList<ManagedPHP> list = fx.manager().installedPHP();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].line, QString("8.3"));
        // One entry per line, read from the line's own folder.
        QCOMPARE(list[0].version, std::optional<QString>("8.3.7"));
        QCOMPARE(list[1].line, QString("8.2"));
        QVERIFY(!list[0].bundled);

        fx.manager().removeManagedPHP("8.2.9");
        QVERIFY(!QFileInfo::exists(fx.root() + "/support/runtime/php/8.2"));
        QCOMPARE(fx.manager().snapshot().extraPHP.size(), 1);
    }

    void eachSourceResolvesItsOwnPHP()
    {
        RuntimeFixture fx;
        RuntimeFixture::copyExecutable(RuntimeFixture::realPHP(), fx.root() + "/resources/runtime/php");
        RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/8.3/php", "#!/bin/sh\n", true);
        RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/8.3/VERSION", "8.3.10\n");
        RuntimeFixture::writeFile(fx.root() + "/usr/bin/php", "#!/bin/sh\n", true);
        RuntimeManager& runtime = fx.manager();
        runtime.seedIfNeeded();
        const QString seeded = fx.root() + "/support/bin/php";

        Site site(QUuid::createUuid(), "shop", fx.root() + "/shop", QDateTime::currentDateTimeUtc(),
                  "managed", false);
        site.setManagedPHPVersion(QString("8.3"));
        const auto managed = runtime.resolvePHP(site, nullptr);
        QVERIFY(managed);
        QCOMPARE(managed->path, fx.root() + "/support/runtime/php/8.3/php");
        QCOMPARE(managed->version, QString("8.3.10"));
        QCOMPARE(managed->source, ResolvedPHPSource::managed);
        site.setManagedPHPVersion(QString("8.2")); // not installed: the seeded copy
        QCOMPARE(runtime.resolvePHP(site, nullptr)->path, seeded);

        // Automatic without an engine: Halvik's PHP, then the fixed search.
        site.setPhpSourceRaw("automatic");
        QCOMPARE(runtime.resolvePHP(site, nullptr)->source, ResolvedPHPSource::managed);
        site.setPhpSourceRaw("herd");
        QCOMPARE(runtime.resolvePHP(site, nullptr), std::nullopt);

        // With an engine, its global PHP comes first for automatic and herd sources.
        FakeEngine engine(fx.root() + "/machine");
        engine.installValet();
        const QString global = engine.writePHP(fx.root() + "/machine/usr/bin/php", "8.2.7");
        HerdService herd(engine.roots());
        herd.refresh();
        QVERIFY(herd.engine());
        const auto viaEngine = runtime.resolvePHP(site, &herd);
        QVERIFY(viaEngine);
        QCOMPARE(viaEngine->source, ResolvedPHPSource::herdGlobal);
        QCOMPARE(viaEngine->path, global);
        site.setPhpSourceRaw("somethingNew"); // unknown sources behave as automatic
        QCOMPARE(runtime.resolvePHP(site, &herd)->source, ResolvedPHPSource::herdGlobal);
        QCOMPARE(runtime.resolvePHP("managed", "shop", &herd, QString("8.3"))->version, QString("8.3.10"));

        // Nothing of Halvik's own: the system's php from the fixed search.
        QFile::remove(seeded);
        QFile::remove(fx.root() + "/support/bin/php-cli");
        RuntimeManager bare(fx.runner, [&] {
            RuntimeRoots roots = fx.roots();
            roots.support = fx.root() + "/empty-support";
            return roots;
        }());
        const auto system = bare.resolvePHP("automatic", "shop", nullptr, std::nullopt);
        QVERIFY(system);
        QCOMPARE(system->source, ResolvedPHPSource::system);
        QCOMPARE(system->path, fx.root() + "/usr/bin/php");
        QVERIFY(system->version.isEmpty());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, [&] {
            RuntimeRoots roots = fx.roots();
            roots.support = fx.root() + "/empty-support";
            roots.fixedSearch = {};
            RuntimeManager none(fx.runner, roots);
            Site other(QUuid::createUuid(), "x", fx.root(), QDateTime::currentDateTimeUtc(), "automatic",
                       false);
            none.composerLaunch(other, nullptr);
        }());
    }

    void childProcessesGetHalvikPathsAndComposerHome()
    {
        RuntimeFixture fx;
        RuntimeManager& runtime = fx.manager();
        const QStringList path = runtime.processPathEntries("/opt/php/bin/php", nullptr);
        QCOMPARE(path.value(0), fx.root() + "/support/bin");
        QCOMPARE(path.value(1), QString("/opt/php/bin"));
        QVERIFY(path.indexOf("/usr/bin") > 1 && path.contains("/sbin"));
        QCOMPARE(runtime.processPathEntries(fx.root() + "/support/bin/php", nullptr)
                     .count(fx.root() + "/support/bin"),
                 1);
        const auto env = runtime.composerEnvironment();
        QCOMPARE(env.value("COMPOSER_HOME"), fx.root() + "/support/composer");
        QCOMPARE(env.value("COMPOSER_CACHE_DIR"), fx.root() + "/support/cache");
        QCOMPARE(env.value("COMPOSER_NO_INTERACTION"), QString("1"));
    }

    void nodeIsFoundInItsOrder()
    {
        RuntimeFixture fx;
        const QString home = fx.root() + "/home";
        const auto toolchainAt = [](const QString& bin, bool withNpm = true) {
            RuntimeFixture::writeFile(bin + "/node", "#!/bin/sh\n", true);
            if (withNpm)
                RuntimeFixture::writeFile(bin + "/npm", "#!/bin/sh\n", true);
        };
        RuntimeRoots roots = fx.roots();
        const NodeRuntime node(roots);
        QCOMPARE(node.resolve(), std::nullopt);

        toolchainAt(roots.managedNode() + "/bin");
        QCOMPARE(node.resolve()->source, NodeSource::managed);
        toolchainAt(fx.root() + "/usr/bin", false); // node without npm on PATH does not count
        QCOMPARE(node.resolve()->source, NodeSource::managed);
        toolchainAt(fx.root() + "/usr/bin");
        QCOMPARE(node.resolve()->source, NodeSource::path);
        QCOMPARE(node.resolve()->npx, std::nullopt);

        toolchainAt(home + "/.nvm/versions/node/v20.9.0/bin");
        toolchainAt(home + "/.nvm/versions/node/v20.10.0/bin");
        const auto nvm = node.resolve();
        QCOMPARE(nvm->source, NodeSource::nvm);
        QCOMPARE(nvm->binDirectory, home + "/.nvm/versions/node/v20.10.0/bin");
        QCOMPARE(node.pathEntries({"/usr/bin"}).value(0), nvm->binDirectory);
        QCOMPARE(node.pathEntries({nvm->binDirectory}), QStringList{nvm->binDirectory});
    }

    void installsTheNewestBuildOfALine()
    {
        RuntimeFixture fx;
        fx.servePHPList({"8.3.9", "8.3.10", "8.4.1"});
        fx.servePHPArchive("8.3.10", fx.phpArchive(RuntimeFixture::realPHP()));
        RuntimeManager& runtime = fx.manager();
        const ScratchWatch scratch(fx.root() + "/tmp", runtime);
        QStringList progress;
        connect(&runtime, &RuntimeManager::changed, this, [&] {
            if (runtime.phpInstallProgress() && !progress.contains(*runtime.phpInstallProgress()))
                progress << *runtime.phpInstallProgress();
        });
        halvik::waitFor(runtime.installManagedPHP("8.3.2"));

        const QString folder = fx.root() + "/support/runtime/php/8.3";
        QCOMPARE(runToString(folder + "/php", {"-r", "echo PHP_VERSION;"}), realPHPVersion());
        QCOMPARE(readText(folder + "/VERSION"), QString("8.3.10\n"));
        QCOMPARE(runtime.extraPHP("8.3")->version, std::optional<QString>("8.3.10"));
        QVERIFY(!runtime.isInstallingPHP() && !runtime.phpInstallProgress() && !runtime.phpInstallLine());
        QCOMPARE(progress.value(0), QString("Looking up PHP 8.3…"));
        QVERIFY(progress.contains("Downloading PHP 8.3.10… 100%"));
        QVERIFY(progress.contains("Unpacking PHP 8.3.10…") && progress.contains("Verifying…"));
        const auto& request = fx.server.requests().first();
        QVERIFY(request.headers.value("user-agent").startsWith("Halvik/1 (+"));
        // The download went through a scratch folder, which is gone now.
        QVERIFY2(!scratch.seen().filter("halvik-php-").isEmpty(), qPrintable(scratch.seen().join(' ')));
        QTRY_COMPARE_WITH_TIMEOUT(scratch.left(), QStringList(), 10000); // removed in the background
        QVERIFY(QDir(fx.root() + "/support/runtime/php")
                    .entryList(QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot) == QStringList{"8.3"});
    }

    void installFailuresSayWhy()
    {
        RuntimeFixture fx;
        RuntimeManager& runtime = fx.manager();
        QCOMPARE(failureOf(runtime.installManagedPHP("7.4")), QString("Halvik doesn’t offer PHP 7.4."));
        fx.servePHPList({"8.2.20"});
        QCOMPARE(failureOf(runtime.installManagedPHP("8.3")),
                 QString("No static PHP 8.3 build for this computer."));
        fx.servePHPList({"8.3.4"}); // listed, but the archive is not there
        QCOMPARE(failureOf(runtime.installManagedPHP("8.3")), QString("PHP download failed (HTTP 404)."));
        fx.servePHPArchive("8.3.4", fx.scriptOnlyPHPArchive());
        QCOMPARE(failureOf(runtime.installManagedPHP("8.3")),
                 QString("PHP archive didn’t contain a php binary."));
        fx.servePHPArchive("8.3.4", "this is not gzip");
        const ScratchWatch scratch(fx.root() + "/tmp", runtime);
        QVERIFY(!failureOf(runtime.installManagedPHP("8.3")).isEmpty());
        QVERIFY(!runtime.isInstallingPHP());
        // A failed unpack leaves no scratch folder behind either.
        QVERIFY2(!scratch.seen().filter("halvik-php-").isEmpty(), qPrintable(scratch.seen().join(' ')));
        QTRY_COMPARE_WITH_TIMEOUT(scratch.left(), QStringList(), 10000); // removed in the background
        QVERIFY(!QFileInfo::exists(fx.root() + "/support/runtime/php/8.3"));
    }

    void aFailedOrCancelledReinstallKeepsTheEarlierOne()
    {
        RuntimeFixture fx;
        RuntimeManager& runtime = fx.manager();
        fx.servePHPList({"8.2.10"});
        fx.servePHPArchive("8.2.10", fx.phpArchive(RuntimeFixture::realPHP()));
        halvik::waitFor(runtime.installManagedPHP("8.2"));
        const QString wrapper = fx.root() + "/support/runtime/php/8.2/php";

        // A newer build whose binary does not run: the check fails and the old build stays.
        fx.servePHPList({"8.2.10", "8.2.11"});
        fx.servePHPArchive("8.2.11", fx.phpArchive("/bin/false"));
        QCOMPARE(failureOf(runtime.installManagedPHP("8.2")), QString("php -v failed."));
        QCOMPARE(runToString(wrapper, {"-r", "echo PHP_VERSION;"}), realPHPVersion());
        QCOMPARE(readText(fx.root() + "/support/runtime/php/8.2/VERSION"), QString("8.2.10\n"));

        // Cancelled in the middle of a slow download.
        fx.server.serveSlowly("/static-php-cli/common/" + RuntimeFixture::phpArchiveName("8.2.11").toUtf8(),
                              fx.phpArchive(RuntimeFixture::realPHP(), 4 << 20), 64 << 10, 20);
        connect(&runtime, &RuntimeManager::changed, this, [&] {
            if (runtime.phpInstallProgress().value_or("").startsWith("Downloading PHP 8.2.11… 1"))
                runtime.cancelPHPInstall();
        });
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(failureOf(runtime.installManagedPHP("8.2")), CancelledError().description());
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(!runtime.isInstallingPHP());
        QCOMPARE(readText(fx.root() + "/support/runtime/php/8.2/VERSION"), QString("8.2.10\n"));
        QCOMPARE(runToString(wrapper, {"-r", "echo PHP_VERSION;"}), realPHPVersion());
        QTRY_COMPARE(QDir(fx.root() + "/support/runtime/php")
                         .entryList(QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
                     QStringList{"8.2"});
    }

    void removalOnlyTouchesOfferedLinesAndListsAreChecked()
    {
        RuntimeFixture fx;
        RuntimeManager& runtime = fx.manager();
        const QString runtimeFolder = fx.root() + "/support/runtime";
        RuntimeFixture::writeFile(runtimeFolder + "/php/8.3/php", "#!/bin/sh\n", true);
        RuntimeFixture::writeFile(runtimeFolder + "/node/bin/node", "#!/bin/sh\n", true);
        for (const QString& line : {QStringLiteral(".."), QStringLiteral(""), QStringLiteral("8.3/.."),
                                    QStringLiteral("/"), QStringLiteral("7.4")}) {
            try {
                runtime.removeManagedPHP(line);
                QFAIL(qPrintable("removed “" + line + "”"));
            } catch (const RuntimeError& error) {
                QVERIFY(error.description().startsWith("Halvik doesn’t offer PHP"));
            }
        }
        QVERIFY(QFileInfo::exists(runtimeFolder + "/node/bin/node"));
        QVERIFY(QFileInfo::exists(runtimeFolder + "/php/8.3/php"));
        runtime.removeManagedPHP("8.3.7"); // an offered line, in any spelling
        QVERIFY(!QFileInfo::exists(runtimeFolder + "/php/8.3"));

        // A list the server would not give is not "no build for this computer".
        fx.server.serve("/static-php-cli/common/", "<html>maintenance</html>", 503);
        QCOMPARE(failureOf(runtime.installManagedPHP("8.4")),
                 QString("Couldn’t load the PHP download list (HTTP 503)."));

        // The download address works with or without its final slash, and a macOS-style
        // quarantine step runs on the new line's folder once it is in place.
        fx.servePHPList({"8.4.2"});
        fx.servePHPArchive("8.4.2", fx.phpArchive(RuntimeFixture::realPHP()));
        const QString recorded = fx.root() + "/quarantine.log";
        RuntimeFixture::writeFile(fx.root() + "/xattr",
                                  ("#!/bin/sh\necho \"$@\" >> '" + recorded + "'\n").toUtf8(), true);
        RuntimeRoots roots = fx.roots();
        roots.phpDownloads = fx.server.url("/static-php-cli/common");
        roots.quarantineTool = fx.root() + "/xattr";
        RuntimeManager slashless(fx.runner, roots);
        QCOMPARE(failureOf(slashless.installManagedPHP("8.4")), QString());
        QCOMPARE(readText(runtimeFolder + "/php/8.4/VERSION"), QString("8.4.2\n"));
        QCOMPARE(readText(recorded), "-dr com.apple.quarantine " + runtimeFolder + "/php/8.4\n");
    }

    void runtimeChangesRefreshTheEnvironmentPicture()
    {
        RuntimeFixture fx;
        SecretStore secrets(fx.root() + "/secrets.json");
        FakePrompts prompts;
        AppServices services(secrets, prompts, HerdRoots::under(fx.root() + "/machine"), nullptr, fx.roots());
        DevEnvironment& environment = services.devEnvironment();
        const auto refreshedSince = [&environment](const std::optional<QDateTime>& before) {
            return !environment.isRefreshing() && environment.lastRefreshed() &&
                   environment.lastRefreshed() != before;
        };

        RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/8.3/php", "#!/bin/sh\n", true);
        services.removeManagedPHP("8.3");
        QVERIFY(!QFileInfo::exists(fx.root() + "/support/runtime/php/8.3"));
        QVERIFY(environment.isRefreshing());
        QTRY_VERIFY_WITH_TIMEOUT(refreshedSince(std::nullopt), 20000);

        std::optional<QDateTime> before = environment.lastRefreshed();
        RuntimeFixture::writeFile(fx.root() + "/support/runtime/node/bin/node", "#!/bin/sh\n", true);
        services.removeManagedNode();
        QVERIFY(!QFileInfo::exists(fx.root() + "/support/runtime/node"));
        QTRY_VERIFY_WITH_TIMEOUT(refreshedSince(before), 20000);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, services.removeManagedPHP(".."));

        // Kept current (as the window keeps it), a line installed here or by a command in
        // another process refreshes the picture by itself.
        environment.keepCurrent();
        before = environment.lastRefreshed();
        fx.servePHPList({"8.2.9"});
        fx.servePHPArchive("8.2.9", fx.phpArchive(RuntimeFixture::realPHP()));
        halvik::waitFor(services.runtime().installManagedPHP("8.2"));
        QTRY_VERIFY_WITH_TIMEOUT(refreshedSince(before), 20000);
        before = environment.lastRefreshed();
        RuntimeFixture::writeFile(fx.root() + "/support/runtime/php/8.5/php", "#!/bin/sh\n", true);
        QTRY_VERIFY_WITH_TIMEOUT(refreshedSince(before), 20000);
    }

    void installsNodeTwentyTwoLTSAndChecksIt()
    {
        RuntimeFixture fx;
        RuntimeManager& runtime = fx.manager();
        fx.server.serve("/dist/index.json",
                        R"([{"version":"v23.3.0","lts":false},{"version":"v22.12.0","lts":false},
            {"version":"v22.11.0","lts":"Jod"},{"version":"v20.18.1","lts":"Iron"}])");
        const QByteArray archive = fx.nodeArchive("22.11.0");
        fx.serveNodeRelease("22.11.0", archive);
        const QByteArray name = RuntimeFixture::nodeFolderName("22.11.0").toUtf8() + ".tar.gz";

        // A published checksum that does not match: nothing is installed.
        fx.server.serve("/dist/v22.11.0/SHASUMS256.txt", QByteArray(64, 'a') + "  " + name + "\n");
        const QString mismatch = failureOf(runtime.installManagedNode());
        QVERIFY2(mismatch.contains("checksum"), qPrintable(mismatch));
        QVERIFY(!NodeRuntime(fx.roots()).hasManagedNode());

        fx.server.serve("/dist/v22.11.0/SHASUMS256.txt",
                        QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex() + "  " + name +
                            "\n");
        halvik::waitFor(runtime.installManagedNode());
        const NodeRuntime node(fx.roots());
        QVERIFY(node.hasManagedNode());
        QCOMPARE(node.managedVersion(), std::optional<QString>("22.11.0"));
        QVERIFY(runToString(fx.roots().managedNode() + "/bin/node", {"-v"}).startsWith("v"));
        QVERIFY(!runtime.isInstallingNode() && !runtime.nodeInstallProgress());

        runtime.removeManagedNode();
        QVERIFY(!node.hasManagedNode());
        fx.server.serve("/dist/index.json", R"([{"version":"v22.1.0","lts":false}])");
        QCOMPARE(failureOf(runtime.installManagedNode()), QString("No Node 22 LTS release found."));
        fx.server.serve("/dist/index.json", "{}");
        QCOMPARE(failureOf(runtime.installManagedNode()), QString("Couldn’t read the Node release list."));
    }

    void commandLineInstallsListsAndRemoves()
    {
        RuntimeFixture fx;
        fx.servePHPList({"8.3.9", "8.3.10"});
        fx.servePHPArchive("8.3.10", fx.phpArchive(RuntimeFixture::realPHP()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", fx.root() + "/home");
        env.insert("XDG_DATA_HOME", fx.root() + "/data");
        env.insert("XDG_CONFIG_HOME", fx.root() + "/config");
        env.insert("HALVIK_PHP_DOWNLOADS", fx.server.url("/static-php-cli/common/").toString());
        struct Run
        {
            int code;
            QString out;
            QString err;
        };
        // The fake server lives in this process, so its loop keeps turning while the command runs.
        const auto halvik = [&env](const QStringList& arguments) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(halvikBinary(), arguments);
            QElapsedTimer timer;
            timer.start();
            while (!process.waitForFinished(10) && timer.elapsed() < 60000)
                QCoreApplication::processEvents();
            return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                       QString::fromUtf8(process.readAllStandardError())};
        };
        const QString support = fx.root() + "/data/Halvik";

        Run install = halvik({"runtime", "install-php", "8.3"});
        QVERIFY2(install.code == 0, qPrintable(install.err));
        QVERIFY2(install.out.contains("Downloading PHP 8.3.10…\nUnpacking PHP 8.3.10…\nVerifying…\n"),
                 qPrintable(install.out));
        QVERIFY(install.out.contains("Installed PHP 8.3.10 at " + support + "/runtime/php/8.3/php"));

        const Run json = halvik({"runtime", "--json"});
        QCOMPARE(json.code, 0);
        const QJsonObject snapshot = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(snapshot["extraPHP"].toArray().at(0).toObject()["line"].toString(), QString("8.3"));
        QCOMPARE(snapshot["extraPHP"].toArray().at(0).toObject()["version"].toString(), QString("8.3.10"));

        // A registered site that asks for Halvik's 8.3 runs with it.
        const QString site = fx.root() + "/shop";
        RuntimeFixture::writeFile(site + "/artisan", "#!/usr/bin/env php\n");
        RuntimeFixture::writeFile(site + "/composer.json", "{}");
        QCOMPARE(halvik({"import", site}).code, 0);
        const Run php = halvik({"runtime", "php", site, "--json"});
        QVERIFY2(php.code == 0, qPrintable(php.err));
        const QJsonObject chosen = QJsonDocument::fromJson(php.out.toUtf8()).object();
        QVERIFY(!chosen["path"].toString().isEmpty());
        QVERIFY(!chosen["source"].toString().isEmpty());

        const Run refused = halvik({"runtime", "install-php", "7.4"});
        QCOMPARE(refused.code, 1);
        QCOMPARE(refused.err.trimmed(), QString("halvik: Halvik doesn’t offer PHP 7.4."));
        QCOMPARE(halvik({"runtime", "install-php"}).code, 2);

        QCOMPARE(halvik({"runtime", "remove-php", "8.3"}).code, 0);
        QVERIFY(!QFileInfo::exists(support + "/runtime/php/8.3"));
        QCOMPARE(halvik({"runtime", "remove-php", "8.3"}).code, 1);
    }

    void settingsRowsShowEachState()
    {
        RuntimeFixture fx;
        RuntimeFixture::copyExecutable(RuntimeFixture::realPHP(), fx.root() + "/resources/runtime/php");
        RuntimeManager& runtime = fx.manager();
        halvik::waitFor(runtime.refreshVersions());
        views::RuntimeSettingsPane pane(runtime);
        pane.resize(640, 660);
        pane.show();
        const auto button = [&pane](const QString& text, int index = 0) {
            QList<QPushButton*> found;
            for (QPushButton* b : pane.findChildren<QPushButton*>())
                if (b->text() == text && b->isVisible())
                    found << b;
            return found.value(index);
        };
        for (auto scheme : {views::ColorScheme::light, views::ColorScheme::dark}) {
            views::applyColorScheme(scheme);
            QCoreApplication::processEvents();
            QVERIFY(saveScreenshot(&pane, scheme == views::ColorScheme::light ? "runtime-settings"
                                                                              : "runtime-settings-dark"));
        }
        views::applyColorScheme(views::ColorScheme::light);
        QVERIFY(button("Install Node for Halvik"));

        // A download in progress shows in its own row, with a way to stop it.
        fx.servePHPList({"8.2.10"});
        fx.server.serveSlowly("/static-php-cli/common/" + RuntimeFixture::phpArchiveName("8.2.10").toUtf8(),
                              fx.phpArchive(RuntimeFixture::realPHP(), 2 << 20), 32 << 10, 30);
        button("Download")->click(); // the 8.2 row comes first
        QTRY_VERIFY(runtime.phpInstallProgress().value_or("").contains("%"));
        QVERIFY(!button("Download", 1)->isEnabled()); // one install at a time
        QVERIFY(halvik::test::saveLightAndDark(&pane, "runtime-settings-downloading"));
        button("Cancel Download")->click();
        QTRY_VERIFY(!runtime.isInstallingPHP());
        QVERIFY(pane.errorText().isEmpty()); // a cancel is not a failure

        fx.server.remove("/static-php-cli/common/" + RuntimeFixture::phpArchiveName("8.2.10").toUtf8());
        button("Download")->click();
        QTRY_COMPARE(pane.errorText(), QString("PHP download failed (HTTP 404)."));
        QVERIFY(halvik::test::saveLightAndDark(&pane, "runtime-settings-error"));

        fx.servePHPArchive("8.2.10", fx.phpArchive(RuntimeFixture::realPHP()));
        button("Download")->click();
        QTRY_VERIFY(button("Remove"));
        QVERIFY(pane.errorText().isEmpty());
        button("Remove")->click();
        QVERIFY(!runtime.extraPHP("8.2"));
    }
};

HALVIK_TEST_MAIN(RuntimeTest)
#include "tst_runtime.moc"
