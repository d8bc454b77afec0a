#include "ComposerFixture.h"
#include "FakeFileServer.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "app/NotificationService.h"
#include "app/PackageUpdateCoordinator.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/composer/ComposerFiles.h"
#include "services/composer/ComposerMessage.h"
#include "services/composer/ConflictTranslator.h"
#include "services/composer/PackagistClient.h"
#include "services/composer/VersionBump.h"

#include <QMutex>
#include <QProcess>

#include <signal.h>

using namespace halvik;
using namespace halvik::test;

namespace {

template <typename T> QString failureOf(QCoro::Task<T>&& task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return {};
}

QStringList titles(const QList<ConflictAdvice>& advice)
{
    QStringList out;
    for (const auto& a : advice)
        out << a.title;
    return out;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runHalvik(const QStringList& args)
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    if (!process.waitForFinished(120000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

bool processExists(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

// Real Composer output, as printed for a requirement nothing provides.
const char* const missingPackageOutput =
    "Loading composer repositories with package information\n"
    "Updating dependencies\n"
    "Your requirements could not be resolved to an installable set of packages.\n"
    "\n"
    "  Problem 1\n"
    "    - Root composer.json requires acme/missing, it could not be found in any version, there may be a "
    "typo in the package name.\n"
    "\n"
    "Potential causes:\n"
    " - A typo in the package name\n"
    "   see <https://getcomposer.org/doc/04-schema.md#minimum-stability> for more details.\n";

// Real Composer output without a network: an exception block cut at 80 columns (once just
// before a space, once inside a word), then the command's option synopsis.
const char* const offlineOutput =
    "Loading composer repositories with package information\n"
    "\n"
    "In RemoteFilesystem.php line 476:\n"
    "                                                                               \n"
    "  The \"https://repo.packagist.org/packages.json\" file could not be downloaded  \n"
    "  : php_network_getaddresses: getaddrinfo for repo.packagist.org failed: Name  \n"
    "   or service not known                                                        \n"
    "  Failed to open stream: php_network_getaddresses: getaddrinfo for repo.packa  \n"
    "  gist.org failed: Name or service not known                                   \n"
    "                                                                               \n"
    "\n"
    "require [--dev] [--dry-run] [--prefer-source] [--fixed] [--no-update] [--] [<packages>...]\n";

} // namespace

class ComposerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionBumpsClassifyHowFarBehind()
    {
        using VersionBumps::compare;
        QCOMPARE(compare("v2.1.0", "3.0.0"), VersionBump::major);
        QCOMPARE(compare("2.1.0", "2.2"), VersionBump::minor);
        QCOMPARE(compare("2.1.0", "2.1.5"), VersionBump::patch);
        QCOMPARE(compare("1.0.0", "1.0.0"), VersionBump::other);
        QCOMPARE(compare("1.0.0-beta", "1.0.0"), VersionBump::patch); // same numbers, other text
        QCOMPARE(compare("dev-main", "1.0"), VersionBump::other);     // no digits at all
        QCOMPARE(compare("1.2", "1.2.4"), VersionBump::patch);        // no third part to compare
        QCOMPARE(compare("1.x-dev", "1.4.0"), VersionBump::patch);
    }

    void conflictAdviceFollowsTheRulesInOrder()
    {
        // Unresolvable requirements and a PHP requirement: two advices, in table order.
        const auto both = ConflictTranslator::translate(
            "Your requirements could not be resolved to an installable set of packages.\n"
            "  - acme/tool [2.4.0] requires php >=8.4 -> your php version (8.2.1) does not satisfy that.");
        QCOMPARE(titles(both), QStringList({"Composer could not resolve dependencies",
                                            "PHP version is too old for acme/tool"}));
        QCOMPARE(both[1].detail,
                 QString("acme/tool 2.4.0 needs PHP >=8.4. Switch this site to a newer PHP, or "
                         "pick an older package version."));
        QCOMPARE(both[1].suggestedPackage, std::optional<QString>("acme/tool"));
        QCOMPARE(both[1].suggestedVersion, std::optional<QString>("2.4.0"));

        const auto replaced = ConflictTranslator::translate("Only one of these can be installed: a/b, c/d. "
                                                            "They both replace x and thus cannot coexist. "
                                                            "they replace x/y");
        QCOMPARE(titles(replaced), QStringList({"Two packages cannot be installed together"}));

        const auto named = ConflictTranslator::translate(
            "The requested package could not be found in any version: acme/typo in the constraint");
        QCOMPARE(titles(named), QStringList({"Package not found"}));
        QCOMPARE(named[0].suggestedPackage, std::optional<QString>("acme/typo"));
        QCOMPARE(named[0].suggestedVersion, std::nullopt);

        const auto token = ConflictTranslator::translate("Downloading failed: HTTP/2 401 returned");
        QCOMPARE(titles(token), QStringList({"Private repository needs a token"}));
        QCOMPARE(token[0].detail,
                 QString("Connect GitHub under Source Control. Halvik writes it to Composer’s "
                         "auth.json."));
        // Substring tests are case-sensitive.
        QCOMPARE(titles(ConflictTranslator::translate("Authentication Required")),
                 QStringList({"Composer failed"}));

        const auto plugin = ConflictTranslator::translate("vendor/plugin contains a Composer plugin which is "
                                                          "blocked by your allow-plugins config.");
        QCOMPARE(titles(plugin), QStringList({"A Composer plugin needs approval"}));

        // Nothing recognised: the end of the output; only white space: nothing.
        const QString longOutput = QString(700, 'x') + "tail";
        const auto fallback = ConflictTranslator::translate(longOutput);
        QCOMPARE(titles(fallback), QStringList({"Composer failed"}));
        QCOMPARE(fallback[0].detail, longOutput.right(600));
        QVERIFY(ConflictTranslator::translate(" \n\t ").isEmpty());
        QVERIFY(ConflictTranslator::translate("").isEmpty());

        // Composer 2 names the missing package before the phrase.
        const auto missing = ConflictTranslator::translate(missingPackageOutput);
        QCOMPARE(titles(missing),
                 QStringList({"Composer could not resolve dependencies", "Package not found"}));
        QCOMPARE(missing[1].suggestedPackage, std::optional<QString>("acme/missing"));
        QCOMPARE(missing[1].detail,
                 QString("acme/missing is not on Packagist, or the version constraint matches "
                         "nothing. Check the vendor/name spelling."));
    }

    void realComposerFailuresYieldAdvice()
    {
        ComposerFixture fx;
        const SitePtr site = fx.installedSite("advice");

        // A package nothing provides.
        const QString missing = failureOf(fx.composer.requirePackage(site, "acme/missing", "^1.0"));
        QVERIFY2(missing.contains("could not be found in any version"), qPrintable(missing));
        const auto advice = ConflictTranslator::translate(missing);
        QVERIFY2(titles(advice).contains("Package not found"), qPrintable(titles(advice).join(" | ")));
        for (const auto& a : advice)
            if (a.title == "Package not found")
                QCOMPARE(a.suggestedPackage, std::optional<QString>("acme/missing"));

        // A package that needs a PHP from the future.
        const QString php = failureOf(fx.composer.requirePackage(site, "acme/needs-php"));
        const auto phpAdvice = ConflictTranslator::translate(php);
        QVERIFY2(titles(phpAdvice).contains("PHP version is too old for acme/needs-php"), qPrintable(php));
    }

    void failuresSayWhatComposerMeant()
    {
        const QString unreachable =
            ComposerMessage::unreachablePrefix() +
            "The \"https://repo.packagist.org/packages.json\" file could not be downloaded: "
            "php_network_getaddresses: getaddrinfo for repo.packagist.org failed: Name or service not known";
        QCOMPARE(ComposerMessage::describe(offlineOutput), unreachable);
        // The advice panel's fallback says the same, never the option synopsis.
        const auto advice = ConflictTranslator::translate(offlineOutput);
        QCOMPARE(advice.size(), 1);
        QCOMPARE(advice[0].detail, unreachable);
        QCOMPARE(ComposerMessage::describe(unreachable), unreachable);
        // Other exceptions keep their own words, on one line.
        QCOMPARE(ComposerMessage::describe(
                     "\nIn Application.php line 424:\n"
                     "                                                                     \n"
                     "  Invalid working directory specified, /nope does not exist.  \n"
                     "                                                                     \n"
                     "\noutdated [-a|--all] [-D|--direct] [--] [<package>]\n"),
                 QString("Invalid working directory specified, /nope does not exist."));

        ComposerFixture fx;
        // A package repository that never answers, as when the computer is offline.
        const SitePtr site = fx.installedSite("offline");
        QJsonObject json = ComposerFixture::manifest(ComposerFixture::standardRequire());
        json.insert("repositories",
                    QJsonArray{QJsonObject{{"type", "composer"}, {"url", "http://127.0.0.1:9"}},
                               QJsonObject{{"packagist.org", false}}});
        json.insert("config", QJsonObject{{"secure-http", false}});
        ComposerFixture::writeJSON(site->path() + "/composer.json", json);
        for (const QString& failure : {failureOf(fx.composer.requirePackage(site, "acme/other")),
                                       failureOf(fx.composer.outdated(site, true))}) {
            QVERIFY2(failure.startsWith(ComposerMessage::unreachablePrefix()), qPrintable(failure));
            QVERIFY2(failure.contains("127.0.0.1:9"), qPrintable(failure));
            QVERIFY2(!failure.contains(" line ") && !failure.contains("[--") && !failure.contains('\n'),
                     qPrintable(failure));
        }
        // The run's whole output stays with the error for the advice.
        try {
            halvik::waitFor(fx.composer.requirePackage(site, "acme/other"));
            QFAIL("an unreachable repository installed a package");
        } catch (const ComposerServiceError& error) {
            QVERIFY(error.output().contains("[--"));
        }

        // Nothing installed: Composer lists nothing and says why, and exits 0.
        const SitePtr bare = fx.laravelSite("bare");
        QCOMPARE(failureOf(fx.composer.outdated(bare, true)), ComposerMessage::notInstalled());
        QCOMPARE(runHalvik({"import", bare->path(), "--name", "Bare"}).exitCode, 0);
        const Run run = runHalvik({"outdated", "Bare"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, "halvik: " + ComposerMessage::notInstalled() + "\n");
    }

    void manifestReadsInstalledPackages()
    {
        ComposerFixture fx;
        const SitePtr site = fx.installedSite("manifest");
        const SiteManifest manifest = ComposerService::readManifest(*site);
        QCOMPARE(manifest.phpConstraint, std::optional<QString>("^8.1"));
        QCOMPARE(manifest.laravelVersion, std::optional<QString>("8.83.0"));
        QCOMPARE(manifest.quillmarVersion, std::optional<QString>("4.2.0"));
        QCOMPARE(manifest.contentStorage, ContentStorage::flatFiles);
        QStringList names;
        for (const auto& p : manifest.packages)
            names << p.name + " " + p.version;
        QCOMPARE(names, QStringList({"acme/gadget 2.1.0", "acme/widget 1.0.0", "laravel/framework 8.83.0",
                                     "quillmar/cms 4.2.0"}));
        QCOMPARE(manifest.packages[0].repositoryURL,
                 std::optional<QUrl>(QUrl("https://gitlab.com/acme/gadget")));
        QCOMPARE(manifest.packages[1].repositoryURL,
                 std::optional<QUrl>(QUrl("https://github.com/acme/widget")));
        QCOMPARE(manifest.packages[1].description, std::optional<QString>("Small widgets for fixture sites"));
        QCOMPARE(manifest.packages[2].repositoryURL,
                 std::optional<QUrl>(QUrl("https://github.com/laravel/framework")));

        // The database driver counts only when its configuration selects eloquent.
        fx.composerNow(site->path(), {"require", "quillmar/eloquent-driver"});
        QCOMPARE(ComposerService::readManifest(*site).contentStorage, ContentStorage::flatFiles);
        QDir().mkpath(site->path() + "/config/quillmar");
        QFile config(site->path() + "/config/quillmar/eloquent-driver.php");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<?php\n\nreturn [\n    \"driver\" => 'eloquent',\n];\n");
        config.close();
        QCOMPARE(ComposerService::readManifest(*site).contentStorage, ContentStorage::database);

        // Nothing there: empty values, no error.
        const SiteManifest empty = ComposerFiles::readManifest(fx.root() + "/nowhere");
        QCOMPARE(empty, SiteManifest());

        QCOMPARE(ComposerFiles::repositoryURL("git://example.org/a/b.git"),
                 std::optional<QUrl>(QUrl("https://example.org/a/b")));
        QCOMPARE(ComposerFiles::repositoryURL("  "), std::nullopt);
    }

    void outdatedFindsNewerVersionsAndCachesThem()
    {
        ComposerFixture fx;
        const SitePtr site = fx.installedSite("outdated");
        const auto outdated = halvik::waitFor(fx.composer.outdated(site));
        QCOMPARE(outdated.size(), 2);
        QCOMPARE(outdated[0].name, QString("acme/gadget"));
        QCOMPARE(outdated[0].current, std::optional<QString>("2.1.0"));
        QCOMPARE(outdated[0].latest, std::optional<QString>("3.0.0"));
        QCOMPARE(outdated[0].latestStatus, std::optional<QString>("update-possible"));
        QCOMPARE(VersionBumps::compare(*outdated[0].current, *outdated[0].latest), VersionBump::major);
        QCOMPARE(outdated[1].name, QString("acme/widget"));
        QCOMPARE(outdated[1].latest, std::optional<QString>("1.2.0"));
        QCOMPARE(VersionBumps::compare(*outdated[1].current, *outdated[1].latest), VersionBump::minor);
        QVERIFY(site->operations().isEmpty()); // a query is not an operation

        // The cached list stands until a forced refresh.
        fx.composerNow(site->path(), {"update", "acme/widget"});
        QCOMPARE(halvik::waitFor(fx.composer.outdated(site)).size(), 2);
        const auto refreshed = halvik::waitFor(fx.composer.outdated(site, true));
        QCOMPARE(refreshed.size(), 1);
        QCOMPARE(refreshed[0].name, QString("acme/gadget"));

        QCOMPARE(ComposerFiles::parseOutdated("{\"installed\": [{\"version\": \"1\"}, {\"name\": \"a/b\"}]}")
                     .size(),
                 1);
        for (const QString bad : {"", "[]", "{\"installed\": 3}", "not json"}) {
            try {
                ComposerFiles::parseOutdated(bad);
                QFAIL(qPrintable("accepted " + bad));
            } catch (const ComposerServiceError& error) {
                QCOMPARE(error.description(), QString("Composer returned data that could not be parsed."));
            }
        }
    }

    void loggedRunsRecordOperations()
    {
        ComposerFixture fx;
        const SitePtr site = fx.installedSite("logged");
        int saves = 0;
        fx.composer.setSaveHandler([&saves] { ++saves; });
        QList<std::optional<QUuid>> active;
        connect(&fx.composer, &ComposerService::activeOperationChanged, this,
                [&] { active << fx.composer.activeOperationID(); });

        const ProcessResult result = halvik::waitFor(
            fx.composer.run(site, {"show", "--no-interaction", "--format=json"}, OperationKind::composer));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(site->operations().size(), 1);
        const auto operation = site->operations().first();
        QCOMPARE(operation->command(),
                 QString("/usr/bin/php /usr/bin/composer show --no-interaction --format=json"));
        QCOMPARE(operation->kind(), std::optional<OperationKind>(OperationKind::composer));
        QCOMPARE(operation->exitCode(), std::optional<int>(0));
        QVERIFY(operation->finishedAt());
        QVERIFY(operation->log().contains("acme/widget"));
        QCOMPARE(active.size(), 2);
        QCOMPARE(active[0], std::optional<QUuid>(operation->id()));
        QCOMPARE(active[1], std::nullopt);
        QVERIFY(saves >= 1);

        const QString failure = failureOf(fx.composer.run(site, {"no-such-command"}));
        QVERIFY2(failure.contains("no-such-command"), qPrintable(failure));
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php /usr/bin/composer no-such-command --no-interaction"));
        QVERIFY(site->operations().last()->exitCode().value_or(0) != 0);

        // Without PHP nothing starts.
        RuntimeRoots bare = fx.roots();
        bare.fixedSearch = {fx.root() + "/empty"};
        RuntimeManager noPHP(fx.runner, bare);
        ComposerService none(fx.runner, noPHP, nullptr);
        QCOMPARE(
            failureOf(none.run(site, {"show"})),
            QString(
                "No PHP binary found. Bundle one with Scripts/download-runtime.sh or install Laravel Herd "
                "or Valet."));
    }

    void updateJobsReportHonestProgress()
    {
        ComposerFixture fx;
        SecretStore secrets;
        SiteStore store(secrets);
        NotificationService notifications;
        PackageUpdateCoordinator updates(fx.composer, store, notifications);
        const SitePtr site = fx.installedSite("update");

        QList<double> fractions;
        updates.start(site);
        PackageUpdateJob* job = updates.job(site->id());
        QVERIFY(job);
        QVERIFY(updates.isUpdating(site->id()));
        connect(job, &PackageUpdateJob::progressChanged, this, [&](double f) { fractions << f; });
        updates.start(site); // a second start while it runs changes nothing
        QCOMPARE(updates.job(site->id()), job);

        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 120000);
        QVERIFY2(job->succeeded(), qPrintable(job->log()));
        QCOMPARE(job->errorMessage(), std::nullopt);
        QVERIFY(job->log().startsWith("$ composer update -W --no-interaction\n"));
        QVERIFY(job->log().endsWith("\nDone."));
        QVERIFY(job->log().contains("Upgrading acme/widget (1.0.0 => 1.2.0)"));
        QVERIFY(fractions.size() > 3);
        for (qsizetype i = 0; i + 1 < fractions.size(); ++i) {
            QVERIFY(fractions[i] <= fractions[i + 1]);
            QVERIFY(fractions[i] <= PackageUpdateJob::runningCeiling);
        }
        QCOMPARE(fractions.last(), 1.0);
        QCOMPARE(job->fractionComplete(), 1.0);
        QVERIFY(job->finishedAt());
        QVERIFY(updates.runningSites().isEmpty());
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php /usr/bin/composer update -W --no-interaction --no-ansi"));
        QCOMPARE(ComposerService::readManifest(*site).packages[1].version, QString("1.2.0"));

        // A new start after the end replaces the finished job.
        updates.start(site);
        QVERIFY(updates.job(site->id()) != job);
        QTRY_VERIFY_WITH_TIMEOUT(updates.job(site->id())->isFinished(), 120000);
    }

    void progressWeightsFollowComposerLines()
    {
        QCOMPARE(PackageUpdateJob::weight(u"Loading composer repositories with package information"), 0.04);
        QCOMPARE(PackageUpdateJob::weight(u"Writing lock file"), 0.04);
        QCOMPARE(PackageUpdateJob::weight(u"Updating dependencies"), 0.06);
        QCOMPARE(PackageUpdateJob::weight(u"Upgrading a/b (1 => 2)"), 0.06);
        QCOMPARE(PackageUpdateJob::weight(u"Installing a/b (1.0)"), 0.05);
        QCOMPARE(PackageUpdateJob::weight(u"Generating optimized autoload files"), 0.08);
        QCOMPARE(PackageUpdateJob::weight(u"> @php artisan package:discover --ansi"), 0.015);
        QCOMPARE(PackageUpdateJob::weight(u"Discovered Package: x — package discovery done"), 0.08);
        QCOMPARE(PackageUpdateJob::weight(u"$ composer update"), 0.02);
        QCOMPARE(PackageUpdateJob::weight(u"anything else"), 0.015);
        QCOMPARE(PackageUpdateJob::weight(u"   "), 0.0);

        PackageUpdateJob job{QUuid::createUuid()};
        job.appendLines("Updating dependencies\n\nInstalling a/b");
        const double expected = 0.06 + 0.05 * (1 - 0.06);
        QVERIFY(qAbs(job.fractionComplete() - expected) < 1e-12);
        QCOMPARE(job.log(), QString("Updating dependencies\n\nInstalling a/b"));
        for (int i = 0; i < 500; ++i)
            job.appendLine("Updating something");
        QCOMPARE(job.fractionComplete(), PackageUpdateJob::runningCeiling);
        // A flood is added a slice per turn of the event loop, in order, and all of it.
        QString flood;
        for (int i = 0; i < 5000; ++i)
            flood += QString("Installing vendor/package-%1\n").arg(i);
        flood.chop(1);
        int announcements = 0;
        connect(&job, &PackageUpdateJob::logAppended, this, [&announcements] { ++announcements; });
        job.enqueueLines(flood);
        job.enqueueLines("after the flood");
        QVERIFY(job.hasBacklog());
        QVERIFY(!job.log().contains("package-0"));
        QTRY_VERIFY(!job.hasBacklog());
        QCOMPARE(announcements, 4); // 2,000 + 2,000 + 1,000 lines, then the second batch
        QVERIFY(job.log().endsWith("Installing vendor/package-4999\nafter the flood"));
        QCOMPARE(job.log().count('\n'), 2 + 500 + 5001);
        job.enqueueLines("queued when it ends");
        job.finish(true);
        QVERIFY(job.log().endsWith("\nqueued when it ends")); // the end takes the backlog with it
        job.appendLine("late");
        QVERIFY(!job.log().endsWith("late"));
        QCOMPARE(job.fractionComplete(), 1.0);
    }

    void cancellingAnUpdateStopsComposer()
    {
        ComposerFixture fx;
        SecretStore secrets;
        SiteStore store(secrets);
        NotificationService notifications;
        PackageUpdateCoordinator updates(fx.composer, store, notifications);
        // A root script that never finishes on its own keeps Composer busy.
        const QJsonObject scripts{
            {"scripts", QJsonObject{{"post-update-cmd",
                                     QJsonArray{"echo $$ $PPID > composer-pids; echo Waiting for the slow "
                                                "script; sleep 120"}}}}};
        const SitePtr site = fx.installedSite("cancel", scripts);
        const QString pidFile = site->path() + "/composer-pids";

        updates.start(site);
        PackageUpdateJob* job = updates.job(site->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->log().contains("Waiting for the slow script"), 120000);
        // Composer prints the script's line before it runs it: wait for what the script writes.
        QTRY_VERIFY_WITH_TIMEOUT(ComposerFixture::readText(pidFile).endsWith('\n'), 30000);
        const QStringList pids = ComposerFixture::readText(pidFile).trimmed().split(' ');
        QCOMPARE(pids.size(), 2);
        const qint64 shell = pids[0].toLongLong();
        const qint64 composer = pids[1].toLongLong();
        QVERIFY(processExists(shell) && processExists(composer));
        QVERIFY(job->fractionComplete() < PackageUpdateJob::runningCeiling + 1e-9);

        updates.cancel(site->id());
        QVERIFY(job->isFinished());
        QVERIFY(!job->succeeded());
        QCOMPARE(job->errorMessage(), std::optional<QString>("Cancelled"));
        QVERIFY(job->log().endsWith("\nUpdate cancelled."));
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(composer) && !processExists(shell), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!site->operations().last()->isRunning(), 15000);
        QCOMPARE(job->log().count("Update cancelled."), 1);
    }

    void failedUpdateExplainsItself()
    {
        ComposerFixture fx;
        SecretStore secrets;
        SiteStore store(secrets);
        NotificationService notifications;
        PackageUpdateCoordinator updates(fx.composer, store, notifications);
        const SitePtr site = fx.installedSite("failing");
        QJsonObject require = ComposerFixture::standardRequire();
        require.insert("acme/missing", "^1.0");
        ComposerFixture::writeJSON(site->path() + "/composer.json", ComposerFixture::manifest(require));

        updates.start(site);
        PackageUpdateJob* job = updates.job(site->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 120000);
        QVERIFY(!job->succeeded());
        QVERIFY(job->errorMessage());
        QVERIFY(job->errorMessage()->contains("could not be found in any version"));
        QCOMPARE(job->fractionComplete(), 1.0);
        const auto advice = ConflictTranslator::translate(*job->errorMessage());
        QCOMPARE(titles(advice),
                 QStringList({"Composer could not resolve dependencies", "Package not found"}));
        QCOMPARE(advice[1].suggestedPackage, std::optional<QString>("acme/missing"));
    }

    void packagistListsPublishedVersions()
    {
        FakeFileServer server;
        QVERIFY(server.start());
        // The service's minified form: each entry only names what changed.
        server.serve(
            "/p2/acme/widget.json",
            "{\"minified\": \"composer/2.0\", \"packages\": {\"acme/widget\": ["
            "{\"version\": \"2.0.0\", \"time\": \"2024-03-01T10:00:00+00:00\", "
            "\"require\": {\"php\": \">=8.2\"}},"
            "{\"version\": \"dev-main\", \"time\": \"2024-03-02T10:00:00+00:00\"},"
            "{\"version\": \"1.5.0\", \"time\": \"2023-01-05T08:30:00.123+00:00\"},"
            "{\"version\": \"1.0.0\", \"time\": \"2022-01-01T00:00:00+00:00\", \"require\": \"__unset\", "
            "\"abandoned\": \"acme/gizmo\"}]}}");
        server.serve("/p2/acme/gone.json", "not found", 404);
        PackagistClient client(server.url("/"));

        const auto versions = halvik::waitFor(client.versions("acme/widget"));
        QCOMPARE(versions.size(), 3);
        QCOMPARE(versions[0].version, QString("2.0.0"));
        QCOMPARE(versions[0].requirePHP, std::optional<QString>(">=8.2"));
        QCOMPARE(versions[0].time,
                 std::optional<QDateTime>(QDateTime(QDate(2024, 3, 1), QTime(10, 0), Qt::UTC)));
        QVERIFY(!versions[0].abandoned);
        QCOMPARE(versions[1].version, QString("1.5.0"));
        QCOMPARE(versions[1].requirePHP, std::optional<QString>(">=8.2")); // carried over
        QCOMPARE(versions[1].time,
                 std::optional<QDateTime>(QDateTime(QDate(2023, 1, 5), QTime(8, 30, 0, 123), Qt::UTC)));
        QCOMPARE(versions[2].requirePHP, std::nullopt);
        QVERIFY(versions[2].abandoned);
        QCOMPARE(server.requests().last().path, QByteArray("/p2/acme/widget.json"));

        try {
            halvik::waitFor(client.versions("acme/gone"));
            QFAIL("a 404 was accepted");
        } catch (const PackagistError& error) {
            QCOMPARE(error.kind(), PackagistError::Case::badServerResponse);
        }
        try {
            halvik::waitFor(client.versions("not a package"));
            QFAIL("a bad name was accepted");
        } catch (const PackagistError& error) {
            QCOMPARE(error.kind(), PackagistError::Case::badURL);
        }
        QCOMPARE(PackagistClient(QUrl("https://repo.example/mirror/"))
                     .metadataURL("a/b#c")
                     ->toString(QUrl::FullyEncoded),
                 QString("https://repo.example/mirror/p2/a/b%23c.json"));
        const QByteArray configured = qgetenv("HALVIK_PACKAGIST_URL");
        qputenv("HALVIK_PACKAGIST_URL", " http://mirror.example/packagist ");
        QCOMPARE(PackagistClient::systemRepository(), QUrl("http://mirror.example/packagist"));
        qunsetenv("HALVIK_PACKAGIST_URL");
        QCOMPARE(PackagistClient::systemRepository(), QUrl("https://repo.packagist.org"));
        qputenv("HALVIK_PACKAGIST_URL", configured);
    }

    void consoleCommandsComeFromBothConsoles()
    {
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("console");
        const auto commands = halvik::waitFor(fx.composer.listConsoleCommands(site));
        QStringList keffin;
        QStringList artisan;
        for (const auto& c : commands)
            (c.tool == "keffin" ? keffin : artisan) << c.name;
        QCOMPARE(keffin, QStringList({"make:user", "tarnel:clear", "tarnel:warm", "support:details"}));
        QVERIFY(artisan.contains("site:greet"));
        QVERIFY(artisan.contains("key:generate"));
        QVERIFY(!artisan.contains("_complete"));
        for (const auto& c : commands)
            if (c.name == "site:greet")
                QCOMPARE(c.description, QString("Greet someone from the command line"));
        QVERIFY(site->operations().isEmpty());

        // Cached per folder; without keffin only artisan answers.
        QFile::remove(site->path() + "/keffin");
        QCOMPARE(halvik::waitFor(fx.composer.listConsoleCommands(site)), commands);
        const auto artisanOnly = halvik::waitFor(fx.composer.listConsoleCommands(site, true));
        QVERIFY(!artisanOnly.isEmpty());
        for (const auto& c : artisanOnly)
            QCOMPARE(c.tool, QString("artisan"));
    }

    void phpScriptsAndShellCommandsRunInTheSite()
    {
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("scripts");
        halvik::waitFor(fx.composer.runPHP(site, "artisan", {"site:greet", "Ann"}));
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php artisan site:greet Ann --no-interaction"));
        QVERIFY(site->operations().last()->log().contains("Hello, Ann!"));

        halvik::waitFor(fx.composer.keffin(site, {"tarnel:warm"}));
        QCOMPARE(site->operations().last()->kind(), std::optional<OperationKind>(OperationKind::keffin));
        QVERIFY(site->operations().last()->log().contains("keffin tarnel:warm ran"));
        QFile::remove(site->path() + "/keffin");
        const QString noKeffin = failureOf(fx.composer.keffin(site, {"tarnel:warm"}));
        QCOMPARE(site->operations().last()->command(),
                 QString("/usr/bin/php artisan quillmar:tarnel:warm --no-interaction"));
        QVERIFY2(noKeffin.contains("quillmar"), qPrintable(noKeffin));

        QCOMPARE(ComposerFiles::normalizeShellCommand("./artisan migrate"), QString("php ./artisan migrate"));
        QCOMPARE(ComposerFiles::normalizeShellCommand("keffin tarnel:clear"),
                 QString("php keffin tarnel:clear"));
        QCOMPARE(ComposerFiles::normalizeShellCommand("php artisan about"), QString("php artisan about"));
        QCOMPARE(ComposerFiles::normalizeShellCommand("composerx"), QString("composerx"));
        QCOMPARE(ComposerFiles::normalizeShellCommand("ls -la"), QString("ls -la"));

        halvik::waitFor(fx.composer.runShell(site, "  artisan site:greet Bob  "));
        QCOMPARE(site->operations().last()->kind(), std::optional<OperationKind>(OperationKind::shell));
        QVERIFY(site->operations().last()->command().endsWith(" -lc php artisan site:greet Bob"));
        QVERIFY(site->operations().last()->log().contains("Hello, Bob!"));
        QCOMPARE(failureOf(fx.composer.runShell(site, "   ")), QString("Enter a command to run."));
        QCOMPARE(failureOf(fx.composer.runShell(site, "exit 3")), QString("Command exited with 3"));
    }

    void createUserNeverRecordsThePassword()
    {
        ComposerFixture fx;
        const SitePtr site = fx.laravelSite("users");
        QCOMPARE(failureOf(fx.composer.createUser(site, "ann@example.com", "short", true)),
                 QString("Password must be at least 8 characters."));
        QVERIFY(site->operations().isEmpty());

        const QString password = "correct horse 42";
        halvik::waitFor(fx.composer.createUser(site, "ann@example.com", password, true));
        const QString users = ComposerFixture::readText(site->path() + "/storage/users.json");
        QVERIFY(users.contains("\"password\":\"correct horse 42\"")); // the tool got it
        QVERIFY(users.contains("\"super\":true"));
        const auto operation = site->operations().last();
        QVERIFY(!operation->command().contains(password));
        QVERIFY(operation->command().contains("make:user ann@example.com --super --password=********"));
        QVERIFY(!operation->log().contains(password));
        QVERIFY(operation->log().contains("User ann@example.com created (super user)."));

        // A tool that repeats its arguments: neither the live lines nor the log see the password.
        QStringList live;
        QMutex liveLock;
        const ComposerService::OutputCallback collect = [&](const ProcessOutput& out) {
            QMutexLocker locker(&liveLock);
            live << out.line;
        };
        halvik::waitFor(fx.composer.createUser(site, "echo@example.com", password, false, collect));
        QVERIFY(site->operations().last()->log().contains(
            "Arguments: make:user echo@example.com --password=********"));
        QVERIFY(!site->operations().last()->log().contains(password));
        QVERIFY(live.join('\n').contains("--password=********"));
        QVERIFY(!live.join('\n').contains(password));

        // Through artisan (no keffin here) the command fails; neither its output nor the record holds the
        // password.
        QFile::remove(site->path() + "/storage/users.json");
        QFile::remove(site->path() + "/keffin");
        const QString failure = failureOf(fx.composer.createUser(site, "bob@example.com", password, false));
        QVERIFY(!failure.contains(password));
        QVERIFY(!site->operations().last()->log().contains(password));
        QVERIFY(site->operations().last()->command().contains(
            "quillmar:make:user bob@example.com --password=********"));
    }

    void commandLineVerbs()
    {
        ComposerFixture fx;
        const SitePtr site = fx.installedSite("cli");
        const SitePtr app = fx.laravelSite("cli-app");
        QCOMPARE(runHalvik({"import", site->path(), "--name", "Packages"}).exitCode, 0);
        const Run imported = runHalvik({"import", app->path(), "--name", "Console"});
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));

        Run run = runHalvik({"packages", "Packages"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("Laravel:  8.83.0\n"), qPrintable(run.out));
        QVERIFY(run.out.contains("acme/widget        1.0.0\n"));

        run = runHalvik({"outdated", "Packages", "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray outdated = QJsonDocument::fromJson(run.out.toUtf8())["outdated"].toArray();
        QCOMPARE(outdated.size(), 2);
        QCOMPARE(outdated[0]["bump"].toString(), QString("major"));
        QCOMPARE(outdated[1]["bump"].toString(), QString("minor"));

        run = runHalvik({"require", "Packages", "acme/missing:^2"});
        QCOMPARE(run.exitCode, 1);
        const qsizetype composerSaid = run.out.indexOf("could not be found in any version");
        QVERIFY2(composerSaid >= 0, qPrintable(run.out));
        QVERIFY(run.out.indexOf("Advice: Package not found") > composerSaid); // after Composer's own output
        QCOMPARE(run.err, QString("halvik: The command failed; its output is above.\n"));

        run = runHalvik({"update", "Packages"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("$ composer update -W --no-interaction\n"));
        QVERIFY(run.out.endsWith("Done.\nPackages updated\n"));
        QVERIFY(runHalvik({"packages", "Packages", "--json"}).out.contains("\"version\": \"1.2.0\""));

        run = runHalvik({"artisan", "Console", "site:greet", "Ann"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString("Hello, Ann!\n"));
        run = runHalvik({"commands", "Console", "--json"});
        QVERIFY(run.out.contains("\"tool\": \"keffin\""));
        QCOMPARE(runHalvik({"env", "Console", "--get", "APP_URL"}).out, QString("http://localhost\n"));
        QCOMPARE(runHalvik({"env", "Console", "--get", "NOPE"}).err,
                 QString("halvik: NOPE is not set in .env.\n"));
        QCOMPARE(runHalvik({"outdated"}).exitCode, 2);
        QCOMPARE(runHalvik({"composer", "Console"}).exitCode, 2);
    }

    void commandLineUpdateStopsOnInterrupt()
    {
        ComposerFixture fx;
        const QJsonObject scripts{
            {"scripts", QJsonObject{{"post-update-cmd",
                                     QJsonArray{"echo $$ $PPID > composer-pids; echo Waiting for the slow "
                                                "script; sleep 120"}}}}};
        const SitePtr site = fx.installedSite("cli-cancel", scripts);
        QCOMPARE(runHalvik({"import", site->path(), "--name", "Slow"}).exitCode, 0);
        QProcess update;
        update.start(halvik::test::halvikBinary(), {"update", "Slow"});
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(update.readAllStandardOutput()))
                                     .contains("Waiting for the slow script"),
                                 120000);
        const QStringList pids =
            ComposerFixture::readText(site->path() + "/composer-pids").trimmed().split(' ');
        ::kill(pid_t(update.processId()), SIGINT);
        QVERIFY(update.waitForFinished(30000));
        QCOMPARE(update.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(update.readAllStandardError()), QString("halvik: Update cancelled.\n"));
        QVERIFY((output + QString::fromUtf8(update.readAllStandardOutput())).contains("Update cancelled."));
        QTRY_VERIFY_WITH_TIMEOUT(
            !processExists(pids.value(1).toLongLong()) && !processExists(pids.value(0).toLongLong()), 15000);
    }
};

HALVIK_TEST_MAIN(ComposerTest)
#include "tst_composer.moc"
