#include "TestMain.h"
#include "newsite/NewSiteMachine.h"

#include "app/SiteCloneCoordinator.h"
#include "models/SiteStore.h"
#include "services/cloning/FolderCopier.h"

#include <QJsonDocument>
#include <QProcess>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace halvik;
using namespace halvik::test;

namespace {

#define QVERIFY_RETURN(condition)                                                                            \
    do {                                                                                                     \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__))               \
            return nullptr;                                                                                  \
    } while (false)

// What a link says, unresolved.
QString linkText(const QString& path)
{
    char target[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(target, int(length)));
}

// A site made from the serving fixture, with a Git repository, a nested one inside vendor, an
// absolute storage link, a relative link, an executable, and a socket.
SitePtr makeSource(AppServices& services, const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QProcess copy;
    copy.start("cp", {"-a", fixturesDir() + "/laravel-app", path});
    copy.waitForFinished();
    QVERIFY_RETURN(QFile::exists(path + "/artisan"));
    NewSiteMachine::writeText(path + "/.env",
                              NewSiteMachine::readText(path + "/.env").toUtf8() + "APP_KEY=\n");
    NewSiteMachine::writeText(path + "/storage/app/public/logo.txt", "logo");
    QFile::link(path + "/storage/app/public", path + "/public/storage");
    QFile::link("../artisan", path + "/public/artisan-link");
    QFile::link("/usr/share/php", path + "/vendor/system-php");
    NewSiteMachine::writeText(path + "/public/hot", "http://127.0.0.1:5173");
    NewSiteMachine::writeText(path + "/bin/tool", "#!/bin/sh\necho tool\n");
    ::chmod(QFile::encodeName(path + "/bin/tool").constData(), 0750);
    NewSiteMachine::writeText(path + "/vendor/acme/nested/README", "nested package");
    for (const QString& repo : {path, path + "/vendor/acme/nested"}) {
        NewSiteMachine::git(repo, {"init", "-q"});
        NewSiteMachine::git(repo, {"-c", "user.name=A", "-c", "user.email=a@example.com", "commit", "-q",
                                   "--allow-empty", "-m", "start"});
    }
    NewSiteMachine::git(path, {"remote", "add", "origin", "https://github.com/acme/shop.git"});
    auto site = std::make_shared<Site>("Shop", path);
    site->setUsesSSG(true);
    services.store().insertSite(site);
    return site;
}

SitePtr startClone(AppServices& services, const SitePtr& source, const QString& destination, bool removeGit)
{
    auto target = std::make_shared<Site>(source->displayName() + " Copy", destination);
    services.store().insertSite(target);
    CloneRequest request;
    request.sourceSiteID = source->id();
    request.targetSiteID = target->id();
    request.sourcePath = source->path();
    request.destination = QUrl::fromLocalFile(destination);
    request.slug = QFileInfo(destination).fileName();
    request.removeGit = removeGit;
    request.regenerateAppKey = true;
    request.usesSSG = source->usesSSG();
    services.clones().start(request);
    return target;
}

} // namespace

class CloningTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copierKeepsModesAndLinksAndNeverPointsBackIntoTheSource()
    {
        QTemporaryDir dir;
        const QString source = dir.path() + "/src";
        NewSiteMachine::writeText(source + "/a/b/file.txt", "hello");
        ::chmod(QFile::encodeName(source + "/a/b/file.txt").constData(), 0640);
        NewSiteMachine::writeText(source + "/run.sh", "#!/bin/sh\n");
        ::chmod(QFile::encodeName(source + "/run.sh").constData(), 0755);
        QFile::link(source + "/a/b", source + "/absolute-inside");
        QFile::link(source, source + "/a/root-link");
        QFile::link("b/file.txt", source + "/a/relative");
        QFile::link("/etc/hostname", source + "/outside");
        QFile::link(source + "/nowhere", source + "/dangling");
        NewSiteMachine::writeText(source + "/.git/HEAD", "ref");
        NewSiteMachine::writeText(source + "/a/.git/HEAD", "ref");
        QVERIFY(::mkfifo(QFile::encodeName(source + "/pipe").constData(), 0600) == 0);
        const QByteArray before = NewSiteMachine::treeDigest(source);

        std::atomic<bool> stop{false};
        QList<std::pair<qint64, qint64>> reports;
        FolderCopier::Options options{source, dir.path() + "/copy", {".git"}};
        const auto result = FolderCopier::copy(options, stop, [&](qint64 done, qint64 total) {
            reports.append({done, total});
        });
        QVERIFY2(!result.error, qPrintable(result.error.value_or("")));
        const QString copy = options.destination;
        QCOMPARE(NewSiteMachine::readText(copy + "/a/b/file.txt"), QString("hello"));
        QCOMPARE(QFile::permissions(copy + "/a/b/file.txt"), QFile::permissions(source + "/a/b/file.txt"));
        QVERIFY(QFileInfo(copy + "/run.sh").isExecutable());
        QCOMPARE(QFileInfo(copy + "/absolute-inside").symLinkTarget(), copy + "/a/b");
        QCOMPARE(QFile::symLinkTarget(copy + "/a/root-link"), copy);
        QCOMPARE(linkText(copy + "/a/relative"), QString("b/file.txt"));
        QCOMPARE(linkText(copy + "/outside"), QString("/etc/hostname"));
        QCOMPARE(linkText(copy + "/dangling"), copy + "/nowhere");
        QVERIFY(!QFileInfo::exists(copy + "/.git") && !QFileInfo::exists(copy + "/a/.git"));
        QVERIFY(!QFileInfo::exists(copy + "/pipe"));
        QCOMPARE(result.notes, QStringList{"Skipped pipe (not a file, folder or link)."});
        QCOMPARE(result.bytes, result.totalBytes);
        QVERIFY(!reports.isEmpty() && reports.last().first == result.totalBytes);
        QCOMPARE(NewSiteMachine::treeDigest(source), before);

        // Into a folder that exists: refused, nothing touched.
        const auto again = FolderCopier::copy(options, stop);
        QVERIFY(again.error.has_value());
        QCOMPARE(FolderCopier::repointedLink("/srv/siteX/a", "/srv/site", "/srv/copy"),
                 QString("/srv/siteX/a"));
    }

    void cloneMakesAWorkingCopyAndLeavesTheSourceAlone()
    {
        NewSiteMachine m;
        const SitePtr source = makeSource(*m.services, m.sitesFolder() + "/shop");
        const QByteArray before = NewSiteMachine::treeDigest(source->path());
        const QString destination = m.sitesFolder() + "/copies/shop-copy";
        const SitePtr target = startClone(*m.services, source, destination, false);
        CloneJob* job = m.services->clones().job(target->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY2(job->succeeded(), qPrintable(job->log()));
        QCOMPARE(job->stepLabel(), QString("Ready"));

        QCOMPARE(NewSiteMachine::treeDigest(source->path()), before);
        QVERIFY(!QFile::exists(destination + "/public/hot"));
        QCOMPARE(QFile::symLinkTarget(destination + "/public/storage"), destination + "/storage/app/public");
        QVERIFY(QFileInfo(destination + "/vendor/acme/nested/.git").isDir()); // history kept
        QCOMPARE(target->githubRepo(), std::optional<QString>("acme/shop"));
        const QString env = NewSiteMachine::readText(destination + "/.env");
        QVERIFY2(env.contains(QString("APP_URL=http://127.0.0.1:%1\n").arg(target->localPort().value_or(-1))),
                 qPrintable(env));
        QVERIFY(env.contains("APP_KEY=base64:"));
        QVERIFY(NewSiteMachine::readText(source->path() + "/.env").endsWith("\nAPP_KEY=\n"));
        for (const char* line : {"Copying shop…", "Configuring clone…", "Regenerating APP_KEY…",
                                 "Clearing caches…", "Clone complete."})
            QVERIFY2(job->log().contains(line), line);
    }

    void removingGitHistoryDropsEveryNestedRepository()
    {
        NewSiteMachine m;
        const SitePtr source = makeSource(*m.services, m.sitesFolder() + "/shop");
        const QString destination = m.sitesFolder() + "/bare-copy";
        const SitePtr target = startClone(*m.services, source, destination, true);
        CloneJob* job = m.services->clones().job(target->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY2(job->succeeded(), qPrintable(job->log()));
        QDirIterator it(destination, {".git"}, QDir::AllEntries | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!it.hasNext(), qPrintable(it.hasNext() ? it.next() : QString()));
        QCOMPARE(target->githubRepo(), std::nullopt);
    }

    void failuresRollBackOnlyWhatTheCloneMade()
    {
        NewSiteMachine m;
        const SitePtr source = makeSource(*m.services, m.sitesFolder() + "/shop");
        // An existing folder: refused at once, and it stays with its contents.
        const QString existing = m.sitesFolder() + "/existing";
        NewSiteMachine::writeText(existing + "/mine.txt", "keep me");
        const SitePtr refused = startClone(*m.services, source, existing, false);
        CloneJob* job = m.services->clones().job(refused->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 10000);
        QCOMPARE(job->errorMessage(), std::optional<QString>("A folder already exists at that path."));
        QCOMPARE(job->stepLabel(), QString("Failed"));
        QCOMPARE(NewSiteMachine::readText(existing + "/mine.txt"), QString("keep me"));
        QVERIFY(!m.services->store().site(refused->id()));
        QVERIFY(!job->log().contains("Removed incomplete clone folder."));

        // A failing console command after the copy: the copy and the record go again.
        NewSiteMachine::writeText(source->path() + "/keffin",
                                  "<?php fwrite(STDERR, \"index locked\\n\"); exit(3);\n");
        const QString destination = m.sitesFolder() + "/doomed";
        const SitePtr doomed = startClone(*m.services, source, destination, false);
        job = m.services->clones().job(doomed->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY(!job->succeeded());
        QVERIFY2(job->log().contains("Removed incomplete clone folder."), qPrintable(job->log()));
        QVERIFY(!QFileInfo::exists(destination));
        QVERIFY(!m.services->store().site(doomed->id()));
        QVERIFY(m.services->store().site(source->id()));
    }

    void cancellingMidCopyLeavesNothingBehind()
    {
        NewSiteMachine m;
        const SitePtr source = makeSource(*m.services, m.sitesFolder() + "/shop");
        // Enough to still be copying when the cancel lands.
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 400; ++i)
            NewSiteMachine::writeText(source->path() + QString("/vendor/big/file-%1.bin").arg(i), block);
        const QString destination = m.sitesFolder() + "/cancelled";
        const SitePtr target = startClone(*m.services, source, destination, false);
        CloneJob* job = m.services->clones().job(target->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->fractionComplete() > 0.1 || job->isFinished(), 30000);
        QVERIFY(!job->isFinished());
        m.services->clones().cancel(target->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 30000);
        QCOMPARE(job->errorMessage(), std::optional<QString>("Cancelled"));
        QVERIFY(job->log().contains("Clone cancelled."));
        QVERIFY(!QFileInfo::exists(destination));
        QVERIFY(!m.services->store().site(target->id()));
    }

    void aCopyInAParkedFolderIsNotLinkedAgain()
    {
        NewSiteMachine m;
        const QString parked = m.sitesFolder();
        QDir().mkpath(parked);
        m.engine.installValet(QJsonObject{{"tld", "test"}, {"paths", QJsonArray{parked}}});
        m.services->herd().refresh();
        QVERIFY(m.services->herd().engine().has_value());
        const SitePtr source = makeSource(*m.services, parked + "/shop");
        const SitePtr target = startClone(*m.services, source, parked + "/shop-copy", false);
        CloneJob* job = m.services->clones().job(target->id());
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY2(job->succeeded(), qPrintable(job->log()));
        QVERIFY(job->log().contains("Site is in a parked Valet folder — no link needed."));
        for (const ToolCall& call : m.engine.calls())
            QVERIFY2(!call.arguments.contains("link"), qPrintable(call.arguments.join(' ')));
        QVERIFY(
            NewSiteMachine::readText(parked + "/shop-copy/.env").contains("APP_URL=http://shop-copy.test\n"));
    }

    void duplicateFromTheCommandLine()
    {
        NewSiteMachine m;
        const SitePtr source = makeSource(*m.services, m.sitesFolder() + "/shop");
        m.services->store().flush();
        const auto run = [](const QStringList& args) {
            QProcess process;
            process.start(halvikBinary(), args);
            process.waitForFinished(120000);
            return std::tuple{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                              QString::fromUtf8(process.readAllStandardError())};
        };
        auto [code, out, err] = run({"duplicate", "Shop", source->path() + "/inner"});
        QCOMPARE(code, 1);
        QCOMPARE(err.trimmed(), QString("halvik: Choose a folder outside the site you are copying."));

        const QString destination = m.sitesFolder() + "/twin";
        std::tie(code, out, err) = run({"duplicate", "Shop", destination, "--remove-git", "--json"});
        QCOMPARE(code, 0);
        const QJsonObject site = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(site["name"].toString(), QString("Shop Copy"));
        QCOMPARE(site["usesSSG"].toBool(), true);
        QVERIFY(site["localPort"].toInt() > 0);
        QVERIFY(!QFileInfo::exists(destination + "/.git"));
        QVERIFY(err.contains("Clone complete."));

        std::tie(code, out, err) = run({"duplicate", "Shop", destination});
        QCOMPARE(code, 1);
        QCOMPARE(err.trimmed(), QString("halvik: Halvik already has a site at this path."));
    }
};

HALVIK_TEST_MAIN_CORE(CloningTest)
#include "tst_cloning.moc"
