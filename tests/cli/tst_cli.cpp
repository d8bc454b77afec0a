#include "TestMain.h"
#include "TestPaths.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "platform/AppDataDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace halvik;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the real executable inside the test's home.
Run runHalvik(const QStringList& args)
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A fixture store written through the store itself, as the window would leave it.
QList<SitePtr> writeFixtureStore()
{
    SecretStore secrets;
    SiteStore store(secrets);
    const QString root = QDir::homePath() + "/Sites";
    QList<SitePtr> sites;
    const QStringList names{"blog", "shop", "twin", "twin"};
    for (int i = 0; i < names.size(); ++i) {
        QDir().mkpath(root + QString("/%1-%2").arg(names[i]).arg(i));
        auto site = std::make_shared<Site>(names[i], root + QString("/%1-%2").arg(names[i]).arg(i));
        site->setCreatedAt(QDateTime(QDate(2026, 1, 1 + i), QTime(12, 0), Qt::UTC));
        if (i == 1)
            site->setGithubRepo("acme/shop");
        store.insertSite(site);
        sites.prepend(site);
    }
    return sites; // newest first, like the store
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QDir(AppDataDir::directory()).removeRecursively(); }

    void versionAndHelp()
    {
        const Run version = runHalvik({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out.trimmed(), QString("halvik ") + HALVIK_VERSION);
        const Run help = runHalvik({"help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("sites [--json]"));
        QVERIFY(help.out.contains("Exit status: 0 on success; 1 when the command failed"));
    }

    // The window and the verbs that draw images are handed to halvik-gui; everything else starts
    // without the GUI libraries, whose loading once made up a third of a command's start.
    void theCommandLineLoadsNoGuiLibrary()
    {
        const auto loadedBy = [](const QString& program) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            // The dynamic loader lists what it maps and exits before the program runs.
            environment.insert("LD_TRACE_LOADED_OBJECTS", "1");
            process.setProcessEnvironment(environment);
            process.start(program, {"--version"});
            return process.waitForFinished(30000) ? QString::fromUtf8(process.readAllStandardOutput())
                                                  : QString();
        };
        // halvik itself only picks one of the two programs, before loading any of Qt.
        const QString launcher = loadedBy(halvik::test::halvikBinary());
        QVERIFY2(launcher.contains("libc.so") && !launcher.contains("libQt6"), qPrintable(launcher));
        const QString commandLine = loadedBy(halvik::test::halvikBinary() + "-cli");
        QVERIFY2(commandLine.contains("libQt6Core"), qPrintable(commandLine));
        for (const char* gui : {"libQt6Gui", "libQt6Widgets", "libQt6Svg", "libX11", "libEGL"})
            QVERIFY2(!commandLine.contains(gui), gui);
        const QString window = loadedBy(halvik::test::halvikBinary() + "-gui");
        QVERIFY2(window.contains("libQt6Widgets"), qPrintable(window));
    }

    void sitesListsTheStoreNewestFirst()
    {
        const QList<SitePtr> sites = writeFixtureStore();
        const Run run = runHalvik({"sites", "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray list = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(list.size(), 4);
        const QJsonObject shop = list.at(2).toObject();
        QCOMPARE(shop["id"].toString(), uuidString(sites.at(2)->id()));
        QCOMPARE(shop["name"].toString(), QString("shop"));
        QCOMPARE(shop["displayName"].toString(), QString("shop"));
        QCOMPARE(shop["createdAt"].toString(), QString("2026-01-02T12:00:00Z"));
        QCOMPARE(shop["phpSource"].toString(), QString("automatic"));
        QCOMPARE(shop["herdLinked"].toBool(true), false);
        QCOMPARE(shop["usesSSG"].toBool(true), false);
        QCOMPARE(shop["githubRepo"].toString(), QString("acme/shop"));
        QVERIFY(list.at(0).toObject().contains("githubRepo") && list.at(0).toObject()["githubRepo"].isNull());
        QCOMPARE(list.at(3).toObject()["name"].toString(), QString("blog"));

        const Run plain = runHalvik({"sites"});
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(plain.out.split('\n').at(2).startsWith("shop"));
    }

    void removeBySiteIdPathOrUniqueName()
    {
        const QList<SitePtr> sites = writeFixtureStore(); // twin, twin, shop, blog
        const Run ambiguous = runHalvik({"remove", "twin"});
        QCOMPARE(ambiguous.exitCode, 1);
        QVERIFY(ambiguous.err.contains("2 sites are named “twin”"));
        QCOMPARE(runHalvik({"remove", "nothing"}).exitCode, 1);

        QCOMPARE(runHalvik({"remove", "blog"}).exitCode, 0);
        QVERIFY(QFile::exists(sites.at(3)->path())); // remove keeps the folder
        QCOMPARE(runHalvik({"remove", uuidString(sites.at(0)->id()).toLower()}).exitCode, 0);
        const Run byPath = runHalvik({"remove", sites.at(2)->path() + "/", "--delete-files"});
        QCOMPARE(byPath.exitCode, 0);
        QVERIFY(!QFile::exists(sites.at(2)->path()));

        // Only one twin is left, so its name now matches exactly one site.
        const Run left = runHalvik({"sites", "--json"});
        const QJsonArray list = QJsonDocument::fromJson(left.out.toUtf8()).array();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.first().toObject()["path"].toString(), sites.at(1)->path());

        // A folder that can't go to the Trash: one line on stderr, the site stays.
        QDir(sites.at(1)->path()).removeRecursively();
        const Run failed = runHalvik({"remove", "twin", "--delete-files"});
        QCOMPARE(failed.exitCode, 1);
        QVERIFY(failed.err.startsWith("halvik: Couldn’t delete site files: twin: "));
        QCOMPARE(failed.err.count('\n'), 1);
        QCOMPARE(QJsonDocument::fromJson(runHalvik({"sites", "--json"}).out.toUtf8()).array().size(), 1);
    }

    void failuresAndUsageErrorsTakeTheOneErrorPath()
    {
        writeFixtureStore();
        struct Case
        {
            QStringList args;
            int exitCode;
            QString sentence;
        };
        const QString missing = QDir::homePath() + "/no-such-folder";
        const QList<Case> cases{
            {{"frobnicate"}, 2, "Unknown command “frobnicate”."},
            {{"sites", "--wide"}, 2, "Unknown option --wide for sites."},
            {{"remove"}, 2, "Name one site to remove: halvik remove <site> [--delete-files]."},
            {{"import", "--name"}, 2, "--name needs a name."},
            {{"import-all"}, 2, "Name the folder to scan: halvik import-all <folder> [--json]."},
            {{"git", "log", "blog", "-n", "zero"}, 2, "-n needs a positive number."},
            {{"probe"}, 2, "Name one address to probe: halvik probe <url>."},
            {{"remove", "nothing"}, 1, "No site matches “nothing”."},
            {{"import", missing}, 1, "That folder doesn’t exist."},
            {{"git", "status", missing}, 1, "No site matches “" + missing + "”."},
        };
        for (const Case& c : cases) {
            const Run run = runHalvik(c.args);
            const QString what = c.args.join(' ');
            QVERIFY2(run.exitCode == c.exitCode,
                     qPrintable(what + " exited " + QString::number(run.exitCode)));
            const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
            QVERIFY2(!lines.isEmpty(), qPrintable(what));
            QCOMPARE(lines.first(), "halvik: " + c.sentence);
            // A usage error adds one hint line; a failure is exactly one line.
            QCOMPARE(lines.size(), c.exitCode == 2 ? 2 : 1);
            QVERIFY(run.out.isEmpty());
        }
    }

    void aSaveTheDiskRefusesIsOneSentenceAndChangesNothing()
    {
        writeFixtureStore();
        const QString storePath = AppDataDir::directory() + "/store.json";
        QFile stored(storePath);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray before = stored.readAll();
        stored.close();
        const QString folder = QDir::homePath() + "/Sites/refused";
        QDir().mkpath(folder);
        for (const char* name : {"composer.json", "artisan"}) {
            QFile file(folder + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{}\n");
        }

        // No file may grow past zero bytes, as on a full disk.
        QProcess process;
        process.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" import \"$1\"",
                                  halvik::test::halvikBinary(), folder});
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 1);
        const QString last = err.trimmed().section('\n', -1);
        QVERIFY2(last.startsWith("halvik: Halvik couldn’t save your changes (") &&
                     last.endsWith("); they are kept and will be saved with the next change.") &&
                     err.count("couldn’t save") == 1 && !err.contains("Sanitizer"),
                 qPrintable(err));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), before);
        stored.close();

        // With room again, the folder imports.
        const Run again = runHalvik({"import", folder});
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
    }

    void aComposerProjectThatIsNotLaravelImportsWithAWarning()
    {
        const QString folder = QDir::homePath() + "/Sites/library";
        QDir().mkpath(folder);
        QFile manifest(folder + "/composer.json");
        QVERIFY(manifest.open(QIODevice::WriteOnly));
        manifest.write("{\"name\": \"acme/library\"}\n");
        manifest.close();
        const QString reason = "This folder is a Composer project but not a Laravel application (it has no "
                               "artisan file), so Halvik can’t run artisan or serve it here.";

        const Run imported = runHalvik({"import", folder, "--json"});
        QCOMPARE(imported.exitCode, 0);
        QCOMPARE(imported.err, "halvik: warning: " + reason + "\n");
        QVERIFY(QJsonDocument::fromJson(imported.out.toUtf8()).isObject()); // the JSON stays clean

        // What needs artisan says why it is off.
        for (const QStringList& command :
             {QStringList{"serve", folder}, QStringList{"artisan", folder, "list"}}) {
            const Run refused = runHalvik(command);
            QCOMPARE(refused.exitCode, 1);
            QCOMPARE(refused.err, "halvik: " + reason + "\n");
        }
    }

    void parallelImportsKeepEverySite()
    {
        SecretStore secrets;
        SiteStore before(secrets);
        before.load();
        const qsizetype existing = before.sites().size();

        QTemporaryDir folders;
        std::vector<std::unique_ptr<QProcess>> imports;
        for (int i = 0; i < 20; ++i) {
            const QString folder = folders.path() + QStringLiteral("/parallel-%1").arg(i);
            QDir().mkpath(folder);
            QFile composer(folder + "/composer.json");
            QVERIFY(composer.open(QIODevice::WriteOnly) && composer.write("{}") == 2);
            composer.close();
            auto process = std::make_unique<QProcess>();
            process->start(halvik::test::halvikBinary(), {"import", folder});
            imports.push_back(std::move(process));
        }
        for (auto& process : imports) {
            QVERIFY(process->waitForFinished(60000));
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        }

        SiteStore after(secrets);
        after.load();
        QCOMPARE(after.sites().size(), existing + 20);
        for (int i = 0; i < 20; ++i)
            QVERIFY(after.siteAtPath(folders.path() + QStringLiteral("/parallel-%1").arg(i)));
    }

    void oneWindowPerUserAndSignalsQuitThroughTheQuitSequence()
    {
        writeFixtureStore();
        const QString storePath = AppDataDir::directory() + "/store.json";
        const QString socketPath =
            qEnvironmentVariable("XDG_RUNTIME_DIR") + "/halvik-window-" + QString::number(::getuid());

        // A socket file left behind by a window that crashed: bound, never listened on.
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(fd >= 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(socketPath);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
            QVERIFY(QFileInfo::exists(socketPath));
        }

        QProcess first;
        auto stopFirst = qScopeGuard([&first] {
            if (first.state() != QProcess::NotRunning) {
                first.kill();
                first.waitForFinished(5000);
            }
        });
        first.start(halvik::test::halvikBinary(), {});
        QVERIFY(first.waitForStarted());
        const auto answers = [&socketPath] {
            QLocalSocket probe;
            probe.connectToServer(socketPath);
            return probe.waitForConnected(200);
        };
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 30000);

        // A second start hands over to the running window and leaves at once, successfully.
        QElapsedTimer clock;
        clock.start();
        const Run second = runHalvik({});
        QCOMPARE(second.exitCode, 0);
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(second.err.contains("already open"));
        QCOMPARE(first.state(), QProcess::Running);
        QString log;
        const auto logged = [&](const QString& line) {
            log += QString::fromUtf8(first.readAllStandardError());
            return log.contains(line);
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged("bringing the window to the front"), 10000);

        // A site imported from the command line while the window runs survives the window's quit.
        QTemporaryDir beside;
        QDir(beside.path()).mkpath("imported-beside");
        QFile composer(beside.path() + "/imported-beside/composer.json");
        QVERIFY(composer.open(QIODevice::WriteOnly) && composer.write("{}") == 2);
        composer.close();
        const Run imported = runHalvik({"import", beside.path() + "/imported-beside"});
        QCOMPARE(imported.exitCode, 0);

        // SIGTERM goes through the normal quit and the process ends with 0.
        clock.restart();
        QCOMPARE(::kill(pid_t(first.processId()), SIGTERM), 0);
        QVERIFY(first.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        log += QString::fromUtf8(first.readAllStandardError());
        QVERIFY2(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0, qPrintable(log));
        QVERIFY2(log.contains("received signal 15"), qPrintable(log));
        SecretStore secrets;
        SiteStore reloaded(secrets);
        reloaded.load();
        QCOMPARE(reloaded.sites().size(), 5);
        QVERIFY(reloaded.siteAtPath(beside.path() + "/imported-beside"));
        QVERIFY(!QFileInfo::exists(socketPath));
    }
};

HALVIK_TEST_MAIN_CORE(CliTest)
#include "tst_cli.moc"
