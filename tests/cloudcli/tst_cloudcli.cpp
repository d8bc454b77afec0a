#include "CliRun.h"
#include "CloudRig.h"
#include "FakeCloud.h"
#include "ForgeRig.h"
#include "TestMain.h"
#include "TestPaths.h"

#include "platform/AppDataDir.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>

#include <csignal>

using namespace halvik;
using halvik::test::FakeCloud;
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

class CloudCliTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signInDeployEditAndUnlinkFromTheCommandLine();
    void aDatabaseModeSiteGoesLiveOnCloudMySQLFromTheCommandLine();
};

void CloudCliTest::signInDeployEditAndUnlinkFromTheCommandLine()
{
    GitSandbox box;
    GitSandbox::configureIdentity();
    const QByteArray canary = "CLOUD_CANARY_0e4d71";
    FakeCloud cloud(canary);
    QVERIFY(cloud.start());
    cloud.firstBuildStatuses = {QStringLiteral("build.failed")};
    FakeGitHub github(box, "ghp_cli_token_91");
    QVERIFY(github.start());
    const QString browser = box.path(QStringLiteral("browser.sh"));
    box.write(box.path(QString()), QStringLiteral("browser.sh"),
              "#!/bin/sh\n/usr/bin/curl -sL \"$1\" >/dev/null 2>&1 &\n");
    QFile::setPermissions(browser, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const ScopedEnv cloudURL("HALVIK_CLOUD_URL", cloud.root());
    const ScopedEnv poll("HALVIK_CLOUD_POLL_MS", QStringLiteral("0"));
    const ScopedEnv browserEnv("BROWSER", browser);
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", github.apiRoot());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", github.gitRoot());
    const QString trace = box.path(QStringLiteral("git-trace.log"));
    const ScopedEnv gitTrace("GIT_TRACE", trace);

    const QString folder = box.path(QStringLiteral("Corner Shop"));
    QDir().mkpath(folder);
    box.write(folder, QStringLiteral("composer.json"), "{}\n");
    box.write(folder, QStringLiteral(".env"), "APP_NAME=Shop\n");

    QStringList outputs;
    const auto step = [&outputs](const QStringList& args, const QByteArray& input = {}) {
        const CliRun run = runHalvik(args, input);
        outputs << run.output << run.diagnostics;
        return run;
    };
    QCOMPARE(step({QStringLiteral("import"), folder}).exitCode, 0);
    QCOMPARE(step({QStringLiteral("accounts"), QStringLiteral("connect"), QStringLiteral("github"),
                   QStringLiteral("--token-stdin")},
                  "ghp_cli_token_91\n")
                 .exitCode,
             0);

    // The browser sign-in prints its address and each status line, ending signed in.
    const CliRun login = step({QStringLiteral("cloud"), QStringLiteral("login")});
    QVERIFY2(login.exitCode == 0, qPrintable(login.output + login.diagnostics));
    QVERIFY(login.output.contains(QStringLiteral("Open this address if no browser opens: ") + cloud.root() +
                                  QStringLiteral("/signin?port=")));
    QVERIFY(login.output.contains(QStringLiteral("Got the exchange code. Finishing sign-in…")));
    QCOMPARE(login.output.trimmed().split(QLatin1Char('\n')).last(),
             QStringLiteral("Signed in to Acme Studio"));
    // A browser that never comes back: Ctrl-C stops the wait and closes the callback.
    {
        const ScopedEnv idle("BROWSER", QStringLiteral("/bin/true"));
        const CliRun stopped = runHalvik({QStringLiteral("cloud"), QStringLiteral("login")}, {},
                                         QStringLiteral("Browser opened."));
        QCOMPARE(stopped.exitCode, 1);
        QCOMPARE(stopped.diagnostics.trimmed(), QStringLiteral("halvik: Sign-in cancelled."));
        const qsizetype at = stopped.output.indexOf(QStringLiteral("127.0.0.1:"));
        const quint16 port = static_cast<quint16>(stopped.output.mid(at + 10, 5).toUInt());
        QVERIFY(port >= 49513 && port <= 49612);
        QTcpServer again;
        QVERIFY(again.listen(QHostAddress::LocalHost, port));
    }
    const QJsonArray hosts =
        QJsonDocument::fromJson(step({QStringLiteral("hosts"), QStringLiteral("--json")}).output.toUtf8())
            .array();
    QCOMPARE(hosts.size(), 1);
    QCOMPARE(hosts.at(0)[QStringLiteral("provider")].toString(), QStringLiteral("laravelCloud"));

    // An unknown region is a usage error naming the ones Cloud has.
    const CliRun mars =
        step({QStringLiteral("deploy"), QStringLiteral("Corner Shop"), QStringLiteral("--target"),
              QStringLiteral("cloud"), QStringLiteral("--region"), QStringLiteral("mars-1")});
    QCOMPARE(mars.exitCode, 2);
    QVERIFY2(mars.diagnostics.contains(QStringLiteral("us-east-1, eu-central-1")),
             qPrintable(mars.diagnostics));

    // A first deploy: repository, push, application, first build failing, the retry, live.
    const CliRun deployed =
        step({QStringLiteral("deploy"), QStringLiteral("Corner Shop"), QStringLiteral("--target"),
              QStringLiteral("cloud"), QStringLiteral("--region"), QStringLiteral("eu-central-1"),
              QStringLiteral("--json")});
    QVERIFY2(deployed.exitCode == 0, qPrintable(deployed.output + deployed.diagnostics));
    const QJsonObject document = QJsonDocument::fromJson(deployed.output.toUtf8()).object();
    QCOMPARE(document[QStringLiteral("target")].toString(), QStringLiteral("laravelCloud"));
    QCOMPARE(document[QStringLiteral("status")].toString(), QStringLiteral("finished"));
    QCOMPARE(document[QStringLiteral("serverName")].toString(), QStringLiteral("Laravel Cloud"));
    QCOMPARE(document[QStringLiteral("siteName")].toString(), QStringLiteral("corner-shop"));
    QCOMPARE(document[QStringLiteral("url")].toString(), QStringLiteral("https://corner-shop.laravel.cloud"));
    QVERIFY(!document[QStringLiteral("cloudDeploymentId")].toString().isEmpty());
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Retrying after database/build setup…")));
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Laravel Cloud: Starting deployment (48%)")));
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Live at https://corner-shop.laravel.cloud")));
    QCOMPARE(
        cloud.find("POST", QStringLiteral("applications")).first().json().value(QStringLiteral("region")),
        QVariant(QStringLiteral("eu-central-1")));
    QCOMPARE(box.git(github.bare(QStringLiteral("octo/corner-shop")),
                     {QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%s"),
                      QStringLiteral("main")})
                 .trimmed(),
             QStringLiteral("Initial commit from Halvik"));

    const QJsonObject detail =
        QJsonDocument::fromJson(step({QStringLiteral("hosts"), QStringLiteral("show"),
                                      QStringLiteral("cloud"), QStringLiteral("--json")})
                                    .output.toUtf8())
            .object();
    const QJsonArray applications = detail[QStringLiteral("applications")].toArray();
    QCOMPARE(applications.size(), 1);
    QCOMPARE(applications.at(0)[QStringLiteral("region")].toString(), QStringLiteral("eu-central-1"));
    QCOMPARE(applications.at(0)[QStringLiteral("sites")].toArray().size(), 1);

    // The environment's variables, edited.
    const CliRun env =
        step({QStringLiteral("cloud"), QStringLiteral("env"), QStringLiteral("Corner Shop"),
              QStringLiteral("--set"), QStringLiteral("FEATURE=on"), QStringLiteral("MODE=a=b"),
              QStringLiteral("--unset"), QStringLiteral("CACHE_STORE"), QStringLiteral("--json")});
    QVERIFY2(env.exitCode == 0, qPrintable(env.diagnostics));
    QStringList pairs;
    for (const QJsonValue& value :
         QJsonDocument::fromJson(env.output.toUtf8())[QStringLiteral("variables")].toArray())
        pairs << value[QStringLiteral("key")].toString() + QLatin1Char('=') +
                     value[QStringLiteral("value")].toString();
    QVERIFY(pairs.contains(QStringLiteral("FEATURE=on")));
    QVERIFY(pairs.contains(QStringLiteral("MODE=a=b")));
    QVERIFY(pairs.filter(QStringLiteral("CACHE_STORE")).isEmpty());

    // Deploy now, its token rejected once: one sign-in, the request repeated, done.
    cloud.rejectTokens = 1;
    cloud.exchangeCode = QStringLiteral("second code");
    const CliRun renewed = step({QStringLiteral("deploy"), QStringLiteral("Corner Shop")});
    QVERIFY2(renewed.exitCode == 0, qPrintable(renewed.output + renewed.diagnostics));
    QVERIFY(renewed.diagnostics.contains(QStringLiteral("Signed in to Acme Studio")));
    QCOMPARE(cloud.find("POST", QStringLiteral("cli/auth-sessions/exchange")).size(), 2);
    // Refused without a sign-in.
    cloud.rejectTokens = 1;
    const CliRun refused =
        step({QStringLiteral("deploy"), QStringLiteral("Corner Shop"), QStringLiteral("--no-sign-in")});
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.diagnostics.trimmed().split(QLatin1Char('\n')).last(),
             QStringLiteral("halvik: Laravel Cloud rejected the API token."));

    const QJsonArray records =
        QJsonDocument::fromJson(
            step({QStringLiteral("deployments"), QStringLiteral("Corner Shop"), QStringLiteral("--json")})
                .output.toUtf8())
            .array();
    QCOMPARE(records.size(), 3);
    QCOMPARE(records.at(0)[QStringLiteral("status")].toString(), QStringLiteral("failed"));
    QCOMPARE(records.at(1)[QStringLiteral("status")].toString(), QStringLiteral("finished"));

    // Unlinking forgets the application here only.
    const CliRun unlinked =
        step({QStringLiteral("cloud"), QStringLiteral("unlink"), QStringLiteral("Corner Shop")});
    QCOMPARE(unlinked.exitCode, 0);
    const QString data = AppDataDir::directory();
    QVERIFY(!readText(data + QStringLiteral("/store.json")).contains(QStringLiteral("cloudAppId")));
    QCOMPARE(cloud.applications.size(), 1);

    // The token is in secrets.json and nowhere else.
    QVERIFY(readText(data + QStringLiteral("/secrets.json")).contains(QString::fromUtf8(canary)));
    int hits = 0;
    int searched = 0;
    const auto search = [&](const QString& where, const QString& text) {
        ++searched;
        if (text.contains(QString::fromUtf8(canary))) {
            ++hits;
            qWarning() << "token found in" << where;
        }
    };
    for (QDirIterator it(data, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String("/secrets.json")))
            search(path, readText(path));
    }
    for (const QString& output : std::as_const(outputs))
        search(QStringLiteral("command output"), output);
    search(trace, readText(trace));
    QVERIFY(searched > 10);
    QCOMPARE(hits, 0);
}

void CloudCliTest::aDatabaseModeSiteGoesLiveOnCloudMySQLFromTheCommandLine()
{
    GitSandbox box;
    GitSandbox::configureIdentity();
    const QByteArray token = "CLOUD_DB_TOKEN_CANARY_61b0";
    const QString password = QStringLiteral("DB_PASSWORD_CANARY_3e9f");
    FakeCloud cloud(token);
    QVERIFY(cloud.start());
    cloud.firstBuildStatuses = {QStringLiteral("deployment.succeeded")};
    cloud.clusterPassword = password;
    FakeGitHub github(box, "ghp_db_token_44");
    QVERIFY(github.start());
    const ScopedEnv cloudURL("HALVIK_CLOUD_URL", cloud.root());
    const ScopedEnv poll("HALVIK_CLOUD_POLL_MS", QStringLiteral("0"));
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", github.apiRoot());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", github.gitRoot());

    const QString folder = box.path(QStringLiteral("Journal"));
    QDir().mkpath(folder);
    box.write(folder, QStringLiteral("composer.json"), "{}\n");
    box.write(folder, QStringLiteral(".env"), "APP_NAME=Journal\nDB_CONNECTION=sqlite\n");
    halvik::test::CloudRig::makeDatabaseMode(folder);
    // An artisan that cannot reach the database, as a real one could not outside Cloud's network.
    box.write(folder, QStringLiteral("artisan"),
              "<?php fwrite(STDERR, \"SQLSTATE[HY000] [2002] Connection refused\\n\"); exit(1);\n");

    QStringList outputs;
    const auto step = [&outputs](const QStringList& args, const QByteArray& input = {}) {
        const CliRun run = runHalvik(args, input);
        outputs << run.output << run.diagnostics;
        return run;
    };
    QCOMPARE(step({QStringLiteral("import"), folder}).exitCode, 0);
    QCOMPARE(step({QStringLiteral("accounts"), QStringLiteral("connect"), QStringLiteral("github"),
                   QStringLiteral("--token-stdin")},
                  "ghp_db_token_44\n")
                 .exitCode,
             0);
    const CliRun login = step(
        {QStringLiteral("cloud"), QStringLiteral("login"), QStringLiteral("--token-stdin")}, token + "\n");
    QVERIFY2(login.exitCode == 0, qPrintable(login.output + login.diagnostics));

    const CliRun deployed =
        step({QStringLiteral("deploy"), QStringLiteral("Journal"), QStringLiteral("--target"),
              QStringLiteral("cloud"), QStringLiteral("--json")});
    QVERIFY2(deployed.exitCode == 0, qPrintable(deployed.output + deployed.diagnostics));
    const QJsonObject document = QJsonDocument::fromJson(deployed.output.toUtf8()).object();
    QCOMPARE(document[QStringLiteral("status")].toString(), QStringLiteral("finished"));
    QCOMPARE(document[QStringLiteral("url")].toString(), QStringLiteral("https://journal.laravel.cloud"));
    // MySQL provisioned, attached and migrating; the failed import is reported, not fatal.
    QVERIFY(deployed.diagnostics.contains(QStringLiteral(
        "Quillmar is in database mode. Cloud can’t persist SQLite — provisioning Laravel MySQL "
        "in us-east-1…")));
    QVERIFY(deployed.diagnostics.contains(
        QStringLiteral("Attached MySQL cluster journal-db. Deploy will run php artisan migrate --force.")));
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Couldn’t import local database: ")));
    QVERIFY(deployed.diagnostics.contains(QStringLiteral("Live at https://journal.laravel.cloud")));
    QCOMPARE(cloud.clusters.size(), 1);
    const QJsonObject environment = cloud.environments.first();
    QCOMPARE(environment.value("deploy_command").toString(), QStringLiteral("php artisan migrate --force"));
    QVERIFY(readText(folder + QStringLiteral("/config/database.php"))
                .contains(QStringLiteral("PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT")));

    // The Cloud token stays in the secret store; the database password reaches no file and no output.
    const QString data = AppDataDir::directory();
    QVERIFY(readText(data + QStringLiteral("/secrets.json")).contains(QString::fromUtf8(token)));
    QStringList leaks;
    for (QDirIterator it(data, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QString text = readText(path);
        if (text.contains(password) ||
            (!path.endsWith(QLatin1String("/secrets.json")) && text.contains(QString::fromUtf8(token))))
            leaks << path;
    }
    for (const QString& output : std::as_const(outputs))
        if (output.contains(password) || output.contains(QString::fromUtf8(token)))
            leaks << QStringLiteral("command output");
    QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QStringLiteral(", "))));
}

HALVIK_TEST_MAIN_CORE(CloudCliTest)
#include "tst_cloudcli.moc"
