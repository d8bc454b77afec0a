#include "NodeProject.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "services/frontend/FrontendProject.h"
#include "services/frontend/ViteDevServerError.h"

#include <QSignalSpy>

using namespace halvik;
using namespace halvik::test;

namespace {

using Kind = FrontendProject::BundlerKind;

QJsonObject package(const QJsonObject& scripts, const QJsonObject& devDependencies = {})
{
    return QJsonObject{{QStringLiteral("scripts"), scripts},
                       {QStringLiteral("devDependencies"), devDependencies}};
}

// Runs start and returns the sentence it threw, if any.
std::optional<QString> startError(ViteDevServer& dev, const SitePtr& site)
{
    try {
        halvik::waitFor(dev.start(site));
    } catch (const ViteDevServerError& error) {
        return error.description();
    }
    return std::nullopt;
}

} // namespace

class FrontendTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_state;
    QString registry() const { return m_state.filePath(QStringLiteral("dev-servers.json")); }

private Q_SLOTS:
    void inspectsBundlerAndScripts_data()
    {
        QTest::addColumn<QJsonObject>("package");
        QTest::addColumn<QString>("configFile");
        QTest::addColumn<int>("bundler");
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("build");

        const QJsonObject vite{{"vite", "^5"}};
        const QJsonObject mix{{"laravel-mix", "^6"}};
        QTest::newRow("vite dependency, dev runs vite")
            << package({{"dev", "vite"}, {"build", "vite build"}}, vite) << "" << int(Kind::vite) << "dev"
            << "build";
        QTest::newRow("vite plugin only, dev does not mention vite")
            << package({{"dev", "npm run serve"}}, {{"laravel-vite-plugin", "^1"}}) << "" << int(Kind::vite)
            << ""
            << "";
        QTest::newRow("vite wins over webpack in the same project")
            << package({{"dev", "vite"}}, {{"webpack", "^5"}, {"vite", "^5"}}) << "" << int(Kind::vite)
            << "dev"
            << "";
        QTest::newRow("mix prefers hot over watch, production over build")
            << package({{"watch", "mix watch --hot"},
                        {"hot", "mix watch --hot"},
                        {"build", "mix"},
                        {"production", "mix --production"}},
                       mix)
            << "" << int(Kind::webpack) << "hot"
            << "production";
        QTest::newRow("mix watch only when it runs a dev server")
            << package({{"watch", "mix watch"}, {"dev", "webpack-dev-server"}, {"prod", "mix -p"}}, mix) << ""
            << int(Kind::webpack) << "dev"
            << "prod";
        QTest::newRow("vite config file without dependencies")
            << package({{"dev", "vite"}, {"build", "vite build"}}) << "vite.config.mjs" << int(Kind::vite)
            << "dev"
            << "build";
        QTest::newRow("mix config file without dependencies")
            << package({{"hot", "node x --hot"}}) << "webpack.mix.js" << int(Kind::webpack) << "hot"
            << "";
        QTest::newRow("unknown bundler: first dev-server script, build before production")
            << package({{"dev", "node serve.js"},
                        {"watch", "node serve.js --hot"},
                        {"production", "x"},
                        {"build", "y"}})
            << "" << int(Kind::unknown) << "watch"
            << "build";
    }

    void inspectsBundlerAndScripts()
    {
        QFETCH(QJsonObject, package);
        QFETCH(QString, configFile);
        QFETCH(int, bundler);
        QFETCH(QString, dev);
        QFETCH(QString, build);
        NodeProject project(package, false);
        if (!configFile.isEmpty())
            project.write(configFile, "export default {}\n");
        const auto info = FrontendProject::inspect(project.path());
        QVERIFY(info);
        QCOMPARE(int(info->bundler), bundler);
        QCOMPARE(info->devScriptName.value_or(QString()), dev);
        QCOMPARE(info->buildScriptName.value_or(QString()), build);
        QCOMPARE(info->hasBuildScript, !build.isEmpty());
        QVERIFY(!info->nodeModulesPresent);

        QDir(project.path()).mkdir(QStringLiteral("node_modules"));
        QVERIFY(FrontendProject::inspect(project.path())->nodeModulesPresent);
        QFile::remove(project.dir.filePath(QStringLiteral("package.json")));
        QVERIFY(!FrontendProject::inspect(project.path()));
    }

    void findsTheDevServerAddress_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("url");
        QTest::newRow("vite banner in colour") << "  \x1b[32m➜\x1b[39m  \x1b[1mLocal\x1b[22m:   "
                                                  "\x1b[36mhttp://localhost:\x1b[1m5173\x1b[22m/\x1b[39m"
                                               << "http://localhost:5173/";
        QTest::newRow("upper case") << "  LOCAL: http://127.0.0.1:5173/"
                                    << "http://127.0.0.1:5173/";
        QTest::newRow("last announcing line wins") << "Local: http://localhost:5173/\nport in use\nLocal: "
                                                      "http://localhost:5174/\nNetwork: http://10.0.0.2:5174/"
                                                   << "http://localhost:5174/";
        QTest::newRow("webpack wording") << "<i> [webpack-dev-server] Project is running at:\n"
                                            "Loopback: nothing\n"
                                            "Project is running at https://localhost:8080/"
                                         << "https://localhost:8080/";
        QTest::newRow("listening on") << "Server listening on http://[::1]:3000"
                                      << "http://[::1]:3000";
        QTest::newRow("an address without an announcement") << "see https://vitejs.dev for docs"
                                                            << "";
        QTest::newRow("an announcement without an address") << "Local: use --host to expose"
                                                            << "";
        QTest::newRow("the banner before a flood")
            << "  Local:   http://localhost:5173/\n" +
                   QString("  hmr update /resources/js/app.js\n").repeated(50000) +
                   "see http://example.com/docs\n"
            << "http://localhost:5173/";
        QTest::newRow("two addresses on the announcing line")
            << "Local: http://localhost:5173/ (http://[::1]:5173/)"
            << "http://localhost:5173/";
    }

    void findsTheDevServerAddress()
    {
        QFETCH(QString, output);
        QFETCH(QString, url);
        const auto found = FrontendProject::parseDevServerURL(output);
        QCOMPARE(found ? found->toString() : QString(), url);
    }

    void readsTheHotFile()
    {
        NodeProject project(viteProject(QStringLiteral("vite-banner.js")));
        QVERIFY(!FrontendProject::readHotFileURL(project.path()));
        project.write(QStringLiteral("public/hot"), "http://[::1]:5173\n");
        QCOMPARE(FrontendProject::readHotFileURL(project.path())->toString(),
                 QStringLiteral("http://[::1]:5173"));
        project.write(QStringLiteral("public/hot"), "not an address");
        QVERIFY(!FrontendProject::readHotFileURL(project.path()));
    }

    // The banner's address counts as soon as it is printed; the hot file's, when only it exists.
    void runsFromWhicheverAddressComesFirst()
    {
        DevServerHarness harness(registry());
        NodeProject vite(viteProject(QStringLiteral("vite-banner.js")));
        QVERIFY(!startError(harness.dev, vite.site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(vite.site->id()).phase, ViteDevServerPhase::running,
                                  10000);
        QVERIFY2(!QFileInfo::exists(vite.hotFile()), "running before public/hot was written");
        QCOMPARE(harness.dev.session(vite.site->id()).url->toString(),
                 QStringLiteral("http://localhost:5173/"));
        const QString log = harness.dev.session(vite.site->id()).log;
        QVERIFY(log.contains(QStringLiteral("$ npm run dev")));
        QVERIFY2(log.contains(QStringLiteral("Local:   http://localhost:5173/")), qPrintable(log));
        QVERIFY2(!log.contains(QChar(0x1B)), "colour codes reached the log");
        const SiteOperationPtr operation = vite.site->operations().last();
        QCOMPARE(operation->command(), QStringLiteral("npm run dev"));
        QCOMPARE(operation->kind(), OperationKind::serve);

        QJsonObject mix{{"scripts", QJsonObject{{"hot", "node mix-hot.js"}}},
                        {"devDependencies", QJsonObject{{"laravel-mix", "^6"}}}};
        NodeProject hot(mix);
        QVERIFY(!startError(harness.dev, hot.site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(hot.site->id()).phase, ViteDevServerPhase::running,
                                  10000);
        QCOMPARE(harness.dev.session(hot.site->id()).url->toString(),
                 QStringLiteral("http://localhost:8080"));
        harness.dev.stopAll();
    }

    void refusesWithItsSentences()
    {
        DevServerHarness harness(registry());
        NodeProject noScript(package({{"dev", "node server.js"}}, {{"vite", "^5"}}));
        QCOMPARE(startError(harness.dev, noScript.site),
                 QStringLiteral("This site has no npm script for a frontend dev server (e.g. dev or hot)."));
        QCOMPARE(harness.dev.session(noScript.site->id()).phase, ViteDevServerPhase::failed);

        RuntimeRoots noNode = RuntimeRoots::system();
        noNode.inheritedPath = m_state.path();
        DevServerHarness nodeless(registry(), noNode);
        NodeProject vite(viteProject(QStringLiteral("vite-banner.js")));
        QCOMPARE(
            startError(nodeless.dev, vite.site),
            QStringLiteral("Node/npm was not found. Install Node for Halvik from Settings, or install it "
                           "with your package manager."));

        QVERIFY(!startError(harness.dev, vite.site));
        QCOMPARE(startError(harness.dev, vite.site),
                 QStringLiteral("The asset dev server is already running for this site."));
        harness.dev.stopAll();
    }

    // `npm ci` runs with the lock file's exact tree and the install environment; the dev
    // script then gets its own environment.
    void installsMissingDependenciesFirst()
    {
        // A recording npm in front of the real one, with node beside it.
        QTemporaryDir tools;
        QFile::link(QStringLiteral("/usr/bin/node"), tools.filePath(QStringLiteral("node")));
        const QString record = tools.filePath(QStringLiteral("npm-calls.txt"));
        QFile wrapper(tools.filePath(QStringLiteral("npm")));
        QVERIFY(wrapper.open(QIODevice::WriteOnly));
        wrapper.write(
            QStringLiteral("#!/bin/sh\necho \"$* CI=$CI yes=$npm_config_yes exec=$npm_node_execpath "
                           "color=$FORCE_COLOR path=$PATH\" >> %1\nexec /usr/bin/npm \"$@\"\n")
                .arg(record)
                .toUtf8());
        wrapper.close();
        wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        RuntimeRoots roots = RuntimeRoots::system();
        roots.inheritedPath = tools.path() + QStringLiteral(":/usr/bin:/bin");
        DevServerHarness harness(registry(), roots);

        QJsonObject definition = viteProject(QStringLiteral("vite-banner.js"));
        definition.insert(QStringLiteral("devDependencies"), QJsonObject{{"vite", "file:./local/vite"}});
        NodeProject project(definition, false);
        project.write(QStringLiteral("local/vite/package.json"), R"({"name":"vite","version":"5.0.0"})");
        QProcess lock;
        lock.setWorkingDirectory(project.path());
        lock.start(QStringLiteral("/usr/bin/npm"),
                   {"install", "--package-lock-only", "--offline", "--no-audit"});
        QVERIFY(lock.waitForFinished(60000));
        QVERIFY2(QFileInfo::exists(project.dir.filePath("package-lock.json")), lock.readAllStandardError());

        QSignalSpy changes(&harness.dev, &ViteDevServer::sessionChanged);
        QVERIFY(!startError(harness.dev, project.site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(project.site->id()).phase, ViteDevServerPhase::running,
                                  60000);
        QVERIFY(QFileInfo(project.dir.filePath("node_modules/vite")).exists());
        const QString log = harness.dev.session(project.site->id()).log;
        QVERIFY2(log.contains(QStringLiteral("$ npm ci")) &&
                     log.contains(QStringLiteral("Dependencies installed.")),
                 qPrintable(log));

        QFile calls(record);
        QVERIFY(calls.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(calls.readAll()).trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        const QString node = tools.filePath(QStringLiteral("node"));
        QVERIFY2(lines[0].startsWith(QStringLiteral("ci CI=1 yes=true exec=") + node +
                                     QStringLiteral(" color= path=") + tools.path() + QLatin1Char(':')),
                 qPrintable(lines[0]));
        // The dev run keeps whatever CI the user's environment has; only the install forces it.
        const QString inheritedCI = QString::fromLocal8Bit(qgetenv("CI"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("run dev CI=") + inheritedCI +
                                     QStringLiteral(" yes= exec=") + node + QStringLiteral(" color=1")),
                 qPrintable(lines[1]));
        const QStringList path = lines[1].section(QStringLiteral(" path="), 1).split(QLatin1Char(':'));
        QCOMPARE(path.first(), tools.path());
        for (const char* system : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"})
            QVERIFY2(path.contains(QLatin1String(system)), qPrintable(lines[1]));
        harness.dev.stopAll();

        // A dependency that cannot be installed fails the start with the install's sentence.
        QFile::remove(project.dir.filePath("package-lock.json"));
        QDir(project.dir.filePath("node_modules")).removeRecursively();
        project.write(QStringLiteral("local/broken.tgz"), "not a tarball");
        definition.insert(QStringLiteral("devDependencies"),
                          QJsonObject{{"vite", "file:./local/broken.tgz"}});
        project.write(QStringLiteral("package.json"), QJsonDocument(definition).toJson());
        const auto error = startError(harness.dev, project.site);
        QVERIFY(error);
        QVERIFY2(error->startsWith(QStringLiteral("npm install failed (")), qPrintable(*error));
        QCOMPARE(harness.dev.session(project.site->id()).phase, ViteDevServerPhase::failed);
        QVERIFY(!harness.dev.isActive(project.site->id()));
    }

    void recordsACrashWithItsExitCode()
    {
        DevServerHarness harness(registry());
        NodeProject project(viteProject(QStringLiteral("crash.js")));
        QVERIFY(!startError(harness.dev, project.site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(project.site->id()).phase, ViteDevServerPhase::failed,
                                  10000);
        QCOMPARE(harness.dev.session(project.site->id()).failure,
                 QStringLiteral("Asset dev server exited with code 3"));
        const SiteOperationPtr operation = project.site->operations().last();
        QTRY_COMPARE(operation->exitCode(), std::optional<int>(3));
        QVERIFY(operation->log().contains(QStringLiteral("Cannot find module")));
        QVERIFY(harness.dev.registry().entries().isEmpty());
        // A failed run can be started again.
        QVERIFY(!startError(harness.dev, project.site));
        QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(project.site->id()).phase, ViteDevServerPhase::failed,
                                  10000);
    }

    // The script's child ignores SIGTERM: stop and quit still leave nothing of the group.
    void stopAndQuitEndTheWholeGroup()
    {
        for (const bool quit : {false, true}) {
            DevServerHarness harness(registry());
            NodeProject project(viteProject(QStringLiteral("spawner.js")));
            QVERIFY(!startError(harness.dev, project.site));
            QTRY_COMPARE_WITH_TIMEOUT(harness.dev.session(project.site->id()).phase,
                                      ViteDevServerPhase::running, 10000);
            QTRY_VERIFY(QFileInfo::exists(project.dir.filePath(QStringLiteral("pids.txt"))));
            const qint64 group = harness.dev.session(project.site->id()).pid;
            QVERIFY(group > 0);
            QFile pids(project.dir.filePath(QStringLiteral("pids.txt")));
            QVERIFY(pids.open(QIODevice::ReadOnly));
            const qint64 grandchild =
                QString::fromUtf8(pids.readAll()).split(QLatin1Char(' ')).value(1).toLongLong();
            QVERIFY(!processIsGone(grandchild));

            if (quit) {
                harness.dev.stopAll();
                QVERIFY(groupIsGone(group));
            } else {
                harness.dev.stop(project.site->id());
                QCOMPARE(harness.dev.session(project.site->id()).phase, ViteDevServerPhase::idle);
                QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(group), 5000);
            }
            QVERIFY(processIsGone(grandchild));
            QVERIFY(!QFileInfo::exists(project.hotFile()));
            QVERIFY(harness.dev.registry().entries().isEmpty());
            QTRY_VERIFY(project.site->operations().last()->finishedAt().has_value());
        }
    }

    // Two services on one registry play the window and a terminal.
    void seesAndStopsAnotherProcessesDevServer()
    {
        DevServerHarness terminal(registry());
        DevServerHarness window(registry());
        window.dev.watchOtherProcesses();
        NodeProject project(viteProject(QStringLiteral("vite-banner.js")));
        QVERIFY(!startError(terminal.dev, project.site));
        QTRY_COMPARE_WITH_TIMEOUT(terminal.dev.session(project.site->id()).phase, ViteDevServerPhase::running,
                                  10000);
        const qint64 group = terminal.dev.session(project.site->id()).pid;

        QTRY_COMPARE_WITH_TIMEOUT(window.dev.session(project.site->id()).phase, ViteDevServerPhase::running,
                                  5000);
        const ViteDevSession seen = window.dev.session(project.site->id());
        QVERIFY(seen.elsewhere);
        QCOMPARE(seen.url->toString(), QStringLiteral("http://localhost:5173/"));
        QCOMPARE(seen.pid, group);
        QCOMPARE(startError(window.dev, project.site),
                 QStringLiteral("The asset dev server is already running for this site."));

        window.dev.stop(project.site->id());
        QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(group), 5000);
        // Stopped from elsewhere is no failure where it ran.
        QTRY_COMPARE_WITH_TIMEOUT(terminal.dev.session(project.site->id()).phase, ViteDevServerPhase::idle,
                                  5000);
        QCOMPARE(window.dev.session(project.site->id()).phase, ViteDevServerPhase::idle);
    }
};

HALVIK_TEST_MAIN_CORE(FrontendTest)
#include "tst_frontend.moc"
