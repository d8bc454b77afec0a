// read-manifest: ComposerService::readManifest of a site with 300 installed packages (a full
// Composer 2 installed.json); baseline: reading and parsing the same two files with QJsonDocument
// and nothing else.
// update-log-stall: the longest main-thread stall while a whole-site update streams 200,000
// Composer-like lines into its job and into the Packages tab showing the live log and progress
// bar; baseline: the same child drained by a plain QProcess read loop on the main thread.
#include "BenchReport.h"
#include "StallMeter.h"

#include "WaitFor.h"
#include "app/NotificationService.h"
#include "app/PackageUpdateCoordinator.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/ProcessRunner.h"
#include "services/composer/ComposerService.h"
#include "services/composer/PackagistClient.h"
#include "services/runtime/RuntimeManager.h"
#include "views/site/PackagesTab.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

using namespace halvik;

namespace {

constexpr int packageCount = 300;
constexpr int lineCount = 200'000;

int emitLines()
{
    std::string out;
    out.reserve(size_t(lineCount) * 64);
    const char* const kinds[] = {"  - Downloading acme/package-%d (1.%d.0)\n",
                                 "  - Installing acme/package-%d (1.%d.0): Extracting archive\n",
                                 "    %d/%d [===========>----------------]  42%%\n",
                                 "Updating acme/package-%d (%d.0.0 => 2.0.0)\n"};
    char line[160];
    out += "Loading composer repositories with package information\n";
    for (int i = 0; i < lineCount - 2; ++i) {
        std::snprintf(line, sizeof line, kinds[i % 4], i, i % 97);
        out += line;
    }
    out += "Generating optimized autoload files\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

void writeSite(const QString& path)
{
    QDir().mkpath(path + QStringLiteral("/vendor/composer"));
    QJsonArray packages;
    for (int i = 0; i < packageCount; ++i) {
        const QString name = QStringLiteral("vendor%1/package-%2").arg(i % 40).arg(i);
        const QString version = QStringLiteral("v%1.%2.%3").arg(i % 9 + 1).arg(i % 13).arg(i % 7);
        QJsonObject require;
        for (int r = 0; r < 6; ++r)
            require.insert(QStringLiteral("vendor%1/package-%2").arg(r).arg((i + r * 37) % packageCount),
                           QStringLiteral("^1.0|^2.0"));
        require.insert(QStringLiteral("php"), QStringLiteral("^8.1"));
        packages.append(QJsonObject{
            {"name", name},
            {"version", version},
            {"version_normalized", version.mid(1) + QStringLiteral(".0")},
            {"source", QJsonObject{{"type", "git"},
                                   {"url", QStringLiteral("https://github.com/%1.git").arg(name)},
                                   {"reference", QStringLiteral("0123456789abcdef0123456789abcdef%1")
                                                     .arg(i, 8, 10, QLatin1Char('0'))}}},
            {"dist",
             QJsonObject{
                 {"type", "zip"},
                 {"url",
                  QStringLiteral("https://api.github.com/repos/%1/zipball/0123456789abcdef").arg(name)},
                 {"reference", "0123456789abcdef0123456789abcdef01234567"},
                 {"shasum", ""}}},
            {"require", require},
            {"require-dev", QJsonObject{{"phpunit/phpunit", "^10.0"}, {"mockery/mockery", "^1.6"}}},
            {"time", "2024-05-01T12:00:00+00:00"},
            {"type", "library"},
            {"installation-source", "dist"},
            {"autoload",
             QJsonObject{{"psr-4", QJsonObject{{QStringLiteral("Vendor%1\\Package%2\\").arg(i % 40).arg(i),
                                                "src/"}}}}},
            {"notification-url", "https://packagist.org/downloads/"},
            {"license", QJsonArray{"MIT"}},
            {"authors", QJsonArray{QJsonObject{{"name", "Ann Example"}, {"email", "ann@example.com"}}}},
            {"description", QStringLiteral("Package number %1, which does one thing well.").arg(i)},
            {"keywords", QJsonArray{"one", "thing", "well"}},
            {"support",
             QJsonObject{{"issues", QStringLiteral("https://github.com/%1/issues").arg(name)},
                         {"source", QStringLiteral("https://github.com/%1/tree/%2").arg(name, version)}}},
            {"install-path", QStringLiteral("../%1").arg(name)}});
    }
    QFile installed(path + QStringLiteral("/vendor/composer/installed.json"));
    installed.open(QIODevice::WriteOnly);
    installed.write(
        QJsonDocument(QJsonObject{{"packages", packages}, {"dev", true}, {"dev-package-names", QJsonArray()}})
            .toJson());
    QFile composer(path + QStringLiteral("/composer.json"));
    composer.open(QIODevice::WriteOnly);
    composer.write(R"({"name": "bench/site", "require": {"php": "^8.2", "laravel/framework": "^11.0"}})");
}

double plainReadLoopStall(bench::StallMeter& meter, const QString& emitter)
{
    QProcess process;
    qint64 received = 0;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&] { received += process.readAllStandardOutput().size(); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    meter.start();
    process.start(emitter, {});
    loop.exec();
    return meter.stopMilliseconds();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--emit") == 0)
        return emitLines();
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    QApplication app(argc, argv);
    QTemporaryDir dir;

    // --- read-manifest ---------------------------------------------------------------------------
    const QString sitePath = dir.path() + QStringLiteral("/site");
    writeSite(sitePath);
    const Site site(QStringLiteral("bench"), sitePath);
    qsizetype found = 0;
    const double manifest =
        bench::bestSeconds(30, [&] { found = ComposerService::readManifest(site).packages.size(); });
    if (found != packageCount)
        qFatal("readManifest found %lld packages", qlonglong(found));
    const double parseOnly = bench::bestSeconds(30, [&] {
        for (const char* file : {"/composer.json", "/vendor/composer/installed.json"}) {
            QFile f(sitePath + QLatin1String(file));
            f.open(QIODevice::ReadOnly);
            if (QJsonDocument::fromJson(f.readAll()).isNull())
                qFatal("unparsable fixture");
        }
    });
    bench::report(
        QStringLiteral("read-manifest"), manifest * 1000, QStringLiteral("ms"), parseOnly * 1000,
        QStringLiteral("300 installed packages (installed.json %1 KB); goal <= 20 ms; baseline: read and "
                       "parse both files with QJsonDocument")
            .arg(QFileInfo(sitePath + QStringLiteral("/vendor/composer/installed.json")).size() / 1024));

    // --- update-log-stall ------------------------------------------------------------------------
    // A machine whose `composer` prints the lines: php is the real one.
    const QString bin = dir.path() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    QFile::link(QStringLiteral("/usr/bin/php"), bin + QStringLiteral("/php"));
    const QString emitter = bin + QStringLiteral("/composer");
    {
        QFile script(emitter);
        script.open(QIODevice::WriteOnly);
        // `outdated`, which the tab asks after an update, answers as Composer would.
        script.write(
            "#!/bin/sh\nif [ \"$1\" = outdated ]; then echo '{\"installed\": []}'; exit 0; fi\nexec '" +
            QCoreApplication::applicationFilePath().toUtf8() + "' --emit\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    RuntimeRoots roots;
    roots.support = dir.path() + QStringLiteral("/support");
    roots.home = dir.path();
    roots.fixedSearch = {bin};
    ProcessRunner runner;
    RuntimeManager runtime(runner, roots);
    ComposerService composer(runner, runtime, nullptr);
    SecretStore secrets;
    SiteStore store(secrets);
    NotificationService notifications;
    PackageUpdateCoordinator updates(composer, store, notifications);
    PackagistClient packagist(QUrl(QStringLiteral("http://127.0.0.1:9")));
    auto updatedSite = std::make_shared<Site>(QStringLiteral("bench"), sitePath);
    views::PackagesTab tab(composer, updates, packagist, updatedSite);
    tab.resize(1000, 700);
    tab.show();

    bench::StallMeter meter;
    double baselineStall = 0;
    double jobStall = 0;
    constexpr int runs = 3;
    for (int i = 0; i < runs; ++i) {
        baselineStall = std::max(baselineStall, plainReadLoopStall(meter, emitter));
        meter.start();
        updates.start(updatedSite);
        PackageUpdateJob* job = updates.job(updatedSite->id());
        QEventLoop loop;
        QObject::connect(job, &PackageUpdateJob::finished, &loop, &QEventLoop::quit);
        if (!job->isFinished())
            loop.exec();
        jobStall = std::max(jobStall, meter.stopMilliseconds());
        const qsizetype lines = job->log().count(QLatin1Char('\n')) + 1;
        if (!job->succeeded() || lines != lineCount + 2 || job->fractionComplete() != 1.0)
            qFatal("the update lost lines or failed: %lld lines, %s", qlonglong(lines),
                   qPrintable(job->errorMessage().value_or(QString())));
    }
    bench::report(
        QStringLiteral("update-log-stall"), jobStall, QStringLiteral("ms"), baselineStall,
        QStringLiteral("200,000 lines through a whole-site update into its job, the live log and the "
                       "progress bar of a shown Packages tab (worst of %1 runs); goal <= 50 ms; baseline: "
                       "the same child drained by a plain QProcess read loop")
            .arg(runs));
    return 0;
}
