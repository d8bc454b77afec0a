#include "CliRun.h"
#include "FakeForge.h"
#include "ForgeRig.h"
#include "TestMain.h"
#include "TestPaths.h"

#include "platform/AppDataDir.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <csignal>

using namespace halvik;
using halvik::test::FakeForge;
using halvik::test::FakeGitHub;
using halvik::test::GitSandbox;
using halvik::test::ScopedEnv;

using halvik::test::CliRun;
using halvik::test::runHalvik;

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class DeployCliTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deployFromTheCommandLineKeepsTheTokenInSecretsOnly();
};

void DeployCliTest::deployFromTheCommandLineKeepsTheTokenInSecretsOnly()
{
    GitSandbox box;
    GitSandbox::configureIdentity();
    const QByteArray canary = "FORGE_CANARY_5b0c93e1";
    FakeForge forge(canary);
    QVERIFY(forge.start());
    forge.servers =
        QJsonArray{FakeForge::server(11, QStringLiteral("web-1")),
                   FakeForge::server(12, QStringLiteral("web-2"), QStringLiteral("198.51.100.4"))};
    forge.statuses = {QStringLiteral("finished")};
    FakeGitHub github(box, "ghp_cli_token_88");
    QVERIFY(github.start());
    const QString trace = box.path(QStringLiteral("git-trace.log"));
    const ScopedEnv forgeURL("HALVIK_FORGE_URL", forge.root());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", github.apiRoot());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", github.gitRoot());
    const ScopedEnv gitTrace("GIT_TRACE", trace);

    const QString folder = box.path(QStringLiteral("Corner Shop"));
    QDir().mkpath(folder);
    box.write(folder, QStringLiteral("composer.json"), "{}\n");
    box.write(folder, QStringLiteral(".env"), "APP_NAME=Shop\n");

    QStringList outputs;
    const auto step = [&outputs](const QStringList& args, const QByteArray& input = {},
                                 const QString& interruptWhen = {}) {
        const CliRun run = runHalvik(args, input, interruptWhen);
        outputs << run.output << run.diagnostics;
        return run;
    };
    QCOMPARE(step({QStringLiteral("import"), folder}).exitCode, 0);
    QCOMPARE(step({QStringLiteral("accounts"), QStringLiteral("connect"), QStringLiteral("github"),
                   QStringLiteral("--token-stdin")},
                  "ghp_cli_token_88\n")
                 .exitCode,
             0);
    const CliRun wrong = step({QStringLiteral("hosts"), QStringLiteral("connect"), QStringLiteral("forge"),
                               QStringLiteral("--token-stdin")},
                              "not-it\n");
    QCOMPARE(wrong.exitCode, 1);
    QCOMPARE(wrong.diagnostics.trimmed(), QStringLiteral("halvik: Forge rejected the API token."));
    const CliRun connected = step({QStringLiteral("hosts"), QStringLiteral("connect"),
                                   QStringLiteral("forge"), QStringLiteral("--token-stdin")},
                                  canary + "\n");
    QCOMPARE(connected.exitCode, 0);
    QCOMPARE(connected.output.trimmed(), QStringLiteral("Connected to Laravel Forge as Taylor"));

    const CliRun listed = step({QStringLiteral("hosts"), QStringLiteral("--json")});
    const QJsonArray hosts = QJsonDocument::fromJson(listed.output.toUtf8()).array();
    QCOMPARE(hosts.size(), 1);
    QCOMPARE(hosts.at(0)[QStringLiteral("provider")].toString(), QStringLiteral("forge"));
    QCOMPARE(hosts.at(0)[QStringLiteral("label")].toString(), QStringLiteral("Taylor"));
    QVERIFY(!hosts.at(0)[QStringLiteral("lastVerifiedAt")].isNull());

    // Two servers: the first deploy must say which.
    const CliRun ambiguous = step({QStringLiteral("deploy"), QStringLiteral("Corner Shop"),
                                   QStringLiteral("--target"), QStringLiteral("forge")});
    QCOMPARE(ambiguous.exitCode, 2);
    QVERIFY2(ambiguous.diagnostics.contains(QStringLiteral("web-1, web-2")),
             qPrintable(ambiguous.diagnostics));
    const CliRun noTarget = step({QStringLiteral("deploy"), QStringLiteral("Corner Shop")});
    QCOMPARE(noTarget.exitCode, 2);

    const CliRun deployed =
        step({QStringLiteral("deploy"), QStringLiteral("Corner Shop"), QStringLiteral("--target"),
              QStringLiteral("forge"), QStringLiteral("--server"), QStringLiteral("web-2"),
              QStringLiteral("--json")});
    QVERIFY2(deployed.exitCode == 0, qPrintable(deployed.output + deployed.diagnostics));
    const QJsonObject document = QJsonDocument::fromJson(deployed.output.toUtf8()).object();
    QCOMPARE(document[QStringLiteral("target")].toString(), QStringLiteral("forge"));
    QCOMPARE(document[QStringLiteral("status")].toString(), QStringLiteral("finished"));
    QCOMPARE(document[QStringLiteral("serverName")].toString(), QStringLiteral("web-2"));
    QCOMPARE(document[QStringLiteral("siteName")].toString(), QStringLiteral("corner-shop.com"));
    QCOMPARE(document[QStringLiteral("forgeDeploymentId")].toInteger(), 9001);
    QVERIFY(!document[QStringLiteral("finishedAt")].isNull());
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Creating Forge site corner-shop.com…")));
    QVERIFY(forge.find("POST", QStringLiteral("servers/12/sites")));
    QCOMPARE(box.git(github.bare(QStringLiteral("octo/corner-shop")),
                     {QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%s"),
                      QStringLiteral("main")})
                 .trimmed(),
             QStringLiteral("Initial commit from Halvik"));

    // Deployed again, and stopped while Forge works: Forge goes on, the history completes it.
    forge.statuses = {QStringLiteral("deploying"), QStringLiteral("finished")};
    const CliRun stopped = step({QStringLiteral("deploy"), QStringLiteral("Corner Shop")}, {},
                                QStringLiteral("Forge: deploying"));
    QCOMPARE(stopped.exitCode, 1);
    QCOMPARE(stopped.diagnostics.trimmed(),
             QStringLiteral(
                 "halvik: Stopped watching; Forge goes on deploying. `halvik deployments Corner Shop` shows "
                 "how it ends."));
    const CliRun history =
        step({QStringLiteral("deployments"), QStringLiteral("Corner Shop"), QStringLiteral("--json")});
    const QJsonArray records = QJsonDocument::fromJson(history.output.toUtf8()).array();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0)[QStringLiteral("forgeDeploymentId")].toInteger(), 9002);
    QCOMPARE(records.at(1)[QStringLiteral("forgeDeploymentId")].toInteger(), 9001);
    QCOMPARE(records.at(0)[QStringLiteral("status")].toString(), QStringLiteral("finished"));
    QVERIFY(!records.at(0)[QStringLiteral("finishedAt")].isNull());
    const CliRun log =
        step({QStringLiteral("deployments"), QStringLiteral("Corner Shop"), QStringLiteral("--log")});
    QVERIFY2(log.output.startsWith(QStringLiteral("Triggering deployment…\nOutput:\nstep 0 line 1")),
             qPrintable(log.output));

    const CliRun shown = step(
        {QStringLiteral("hosts"), QStringLiteral("show"), QStringLiteral("forge"), QStringLiteral("--json")});
    const QJsonObject detail = QJsonDocument::fromJson(shown.output.toUtf8()).object();
    const QJsonArray servers = detail[QStringLiteral("servers")].toArray();
    QCOMPARE(servers.size(), 2);
    QCOMPARE(servers.at(0)[QStringLiteral("sites")].toArray().size(), 0);
    QCOMPARE(servers.at(1)[QStringLiteral("ipAddress")].toString(), QStringLiteral("198.51.100.4"));
    QCOMPARE(servers.at(1)[QStringLiteral("sites")].toArray().size(), 1);

    // Where the token belongs, and nowhere else.
    const QString data = AppDataDir::directory();
    const QString secretsFile = data + QStringLiteral("/secrets.json");
    QVERIFY(readText(secretsFile).contains(QString::fromUtf8(canary)));
    QCOMPARE(step({QStringLiteral("hosts"), QStringLiteral("disconnect"), QStringLiteral("Taylor")}).exitCode,
             0);
    QVERIFY(!readText(secretsFile).contains(QString::fromUtf8(canary)));
    QVERIFY(step({QStringLiteral("hosts")}).output.contains(QStringLiteral("No hosts connected.")));
    int searched = 0;
    int hits = 0;
    const auto search = [&](const QString& where, const QString& text) {
        ++searched;
        if (text.contains(QString::fromUtf8(canary))) {
            ++hits;
            qWarning() << "token found in" << where;
        }
    };
    for (QDirIterator it(data, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        search(path, readText(path));
    }
    for (const QString& output : std::as_const(outputs))
        search(QStringLiteral("command output"), output);
    QVERIFY(readText(trace).contains(QStringLiteral("git")));
    search(trace, readText(trace));
    QVERIFY(readText(data + QStringLiteral("/store.json")).contains(QStringLiteral("\"forgeDeploymentId\"")));
    QVERIFY(searched > 10);
    QCOMPARE(hits, 0);
}

HALVIK_TEST_MAIN_CORE(DeployCliTest)
#include "tst_deploycli.moc"
