#include "CloudRig.h"
#include "TestMain.h"

#include "platform/Browser.h"
#include "services/hosting/CallbackServer.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/CloudCommands.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

using namespace halvik;
using halvik::test::CloudRig;
using halvik::test::FakeApiServer;
using halvik::test::FakeCloud;
using halvik::test::ScopedEnv;

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

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every file under `folder`, concatenated.
QString everything(const QString& folder)
{
    QString all;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        all += readText(it.next());
    return all;
}

// Sends `request` to 127.0.0.1:port and returns the whole answer.
QByteArray ask(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return "(no connection)";
    socket.write(request);
    QByteArray answer;
    const bool closed = QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    return answer + socket.readAll() + (closed ? "" : "(still open)");
}

// Ports of the callback tests, away from the real range so a signed-in desktop can't clash.
quint16 testPort(int offset)
{
    return static_cast<quint16>(41000 + (QCoreApplication::applicationPid() % 500) * 8 + offset);
}

} // namespace

class CloudTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandFunctionsKeepBuildsOffTheDatabaseAndDeploysMigrating();
    void namesLogsAndStatusesReadAsPeopleExpect();
    void clientReadsCloudsResourcesAndExplainsItsFailures();
    void redirectsAreNeverFollowedAndOnlyWritesRetryThroughCurl();
    void callbackServerWaitsForOneCodeOneConnectionAtATime();
    void browserSignInKeepsOneAccountPerOrganization();
    void firstDeployRetriesAfterAFailedFirstBuildAndGoesLive();
    void databaseModeProvisionsMySQLAndImportProblemsDontFailTheRun();
    void storageManagedEnvironmentsAndExistingApplicationsAreReused();
    void aRejectedTokenCostsOneSignInNeverALoop();
    void stoppingAfterTheTriggerLeavesTheRecordForALaterLook();
};

void CloudTest::commandFunctionsKeepBuildsOffTheDatabaseAndDeploysMigrating()
{
    // Deploy commands end up migrating exactly once.
    QCOMPARE(CloudCommands::withMigrateDeployCommand(QStringLiteral("php artisan optimize")),
             QStringLiteral("php artisan optimize\nphp artisan migrate --force"));
    QCOMPARE(CloudCommands::withMigrateDeployCommand(QStringLiteral("php artisan migrate --seed")),
             QStringLiteral("php artisan migrate --seed"));
    QCOMPARE(CloudCommands::withMigrateDeployCommand(std::nullopt),
             QStringLiteral("php artisan migrate --force"));
    QCOMPARE(CloudCommands::withMigrateDeployCommand(QStringLiteral("  \n")),
             QStringLiteral("php artisan migrate --force"));

    const QString prefix = CloudCommands::composerEnvironmentPrefix();
    // Composer lines get the whole prefix, half-prefixed ones are completed, comments stay.
    QCOMPARE(
        CloudCommands::withSqliteComposerEnv(QStringLiteral("composer install\n# composer x\nnpm run build")),
        prefix + QStringLiteral(" composer install\n# composer x\nnpm run build"));
    QCOMPARE(CloudCommands::withSqliteComposerEnv(QStringLiteral(
                 "DB_CONNECTION=sqlite DB_DATABASE=database/database.sqlite composer install")),
             prefix + QStringLiteral(" composer install"));
    const QString full = prefix + QStringLiteral(" composer install");
    QCOMPARE(CloudCommands::withSqliteComposerEnv(full), full);

    QCOMPARE(CloudCommands::withSqliteBuildStub(QStringLiteral("composer install")),
             QStringLiteral("mkdir -p database && touch database/database.sqlite\ncomposer install"));
    QCOMPARE(CloudCommands::withSqliteBuildStub(CloudCommands::defaultBuildCommand()),
             CloudCommands::defaultBuildCommand());

    // npm is added once, and not when the command already builds assets some other way.
    QCOMPARE(CloudCommands::buildCommandEnablingNpm(QStringLiteral("composer install")),
             QStringLiteral("composer install\n\nnpm ci --audit false\nnpm run build"));
    QCOMPARE(CloudCommands::buildCommandEnablingNpm(QStringLiteral("yarn && npm run build")),
             QStringLiteral("yarn && npm run build"));
    QCOMPARE(CloudCommands::buildCommandEnablingNpm(QStringLiteral("# npm ci\ncomposer install")),
             QStringLiteral("# npm ci\ncomposer install\n\nnpm ci --audit false\nnpm run build"));

    // A prepared command is stable: preparing it again changes nothing, so Cloud isn't patched
    // on every deploy. The certificate rewrite sits right after the stub.
    const QString prepared = CloudCommands::preparedBuildCommand(QStringLiteral("composer install"), true);
    QCOMPARE(CloudCommands::preparedBuildCommand(prepared, true), prepared);
    const QStringList lines = prepared.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), CloudCommands::sqliteStubLine());
    QVERIFY(lines.value(1).startsWith(QStringLiteral("php -r '")));
    QVERIFY(lines.value(1).contains(QStringLiteral("MYSQL_ATTR_SSL_VERIFY_SERVER_CERT")));
    QCOMPARE(lines.value(2), prefix + QStringLiteral(" composer install"));
    QVERIFY(prepared.endsWith(QStringLiteral("npm run build")));
    QVERIFY(CloudCommands::preparedBuildCommand(std::nullopt, false)
                .contains(QStringLiteral("npm ci --audit false")));

    // The local rewrite changes the first two option lists only, and only once.
    const QString list = QStringLiteral("array_filter([\n  PDO::MYSQL_ATTR_SSL_CA => env('X'),\n]) : []");
    const QString config = list + QStringLiteral(",\n") + list + QStringLiteral(",\n") + list;
    const QString patched = CloudCommands::patchDatabaseConfig(config);
    QCOMPARE(patched.count(QStringLiteral("+ [PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT=>false] : []")), 2);
    QVERIFY(patched.endsWith(list));
    QCOMPARE(CloudCommands::patchDatabaseConfig(patched), patched);

    // The PHP one-liner does the same rewrite as the local patch (run for real).
    QTemporaryDir folder;
    QDir().mkpath(folder.filePath(QStringLiteral("config")));
    QFile file(folder.filePath(QStringLiteral("config/database.php")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(config.toUtf8());
    file.close();
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), lines.value(1)});
    QVERIFY(shell.waitForFinished(20000));
    QCOMPARE(shell.exitCode(), 0);
    QCOMPARE(readText(file.fileName()), patched);
}

void CloudTest::namesLogsAndStatusesReadAsPeopleExpect()
{
    QCOMPARE(CloudCommands::mysqlClusterName(QStringLiteral("My Blog!")), QStringLiteral("my-blog-db"));
    QCOMPARE(CloudCommands::mysqlClusterName(QStringLiteral("--Shop--DB")), QStringLiteral("shop-db"));
    const QString shortName = CloudCommands::mysqlClusterName(QStringLiteral("a"));
    QVERIFY(shortName.endsWith(QStringLiteral("-db")));
    QVERIFY(shortName.size() >= 6);
    const QString longName = CloudCommands::mysqlClusterName(QString(60, QLatin1Char('x')));
    QCOMPARE(longName, QString(37, QLatin1Char('x')) + QStringLiteral("-db"));

    QCOMPARE(CloudCommands::defaultApplicationName(QStringLiteral("ab"), QStringLiteral("AB")),
             QStringLiteral("quillmar-site"));
    QCOMPARE(CloudCommands::defaultApplicationName(QStringLiteral("ab"), QStringLiteral("My Blog")),
             QStringLiteral("My Blog"));
    QCOMPARE(CloudCommands::defaultApplicationName(QString(50, QLatin1Char('s')), {}).size(), 40);
    QVERIFY(!CloudCommands::isValidApplicationName(QStringLiteral("ab")));
    QVERIFY(!CloudCommands::isValidApplicationName(QString(41, QLatin1Char('a'))));

    const auto logs = nlohmann::json::parse(
        R"({"meta":{"deployment_status":"build.running"},"data":{"steps":[
            {"step":"clone","status":"succeeded","description":"Cloning","output":"done"},
            {"step":"build","status":"running","description":"Building"}]}})");
    QCOMPARE(CloudCommands::formatLogs(logs),
             QStringLiteral("build.running\n[clone] succeeded Cloning\ndone\n[build] running Building"));
    QCOMPARE(CloudCommands::formatLogs(nlohmann::json::object()), QString());

    // "fail" is looked for before "build": a failed build reads as a failure.
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("build.failed")), QStringLiteral("Failed"));
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("deployment.succeeded")),
             QStringLiteral("Deployed"));
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("Deployment.Cancelled")),
             QStringLiteral("Cancelled"));
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("build.running")), QStringLiteral("Building"));
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("deployment.running")),
             QStringLiteral("Deploying"));
    QCOMPARE(CloudDeployJob::applyCloudStatus(QStringLiteral("pending")), QStringLiteral("pending"));

    // Error bodies become one sentence.
    QCOMPARE(CloudTransport::failureMessage(R"({"errors":[{"detail":"A"},{"title":"B"}]})"),
             QStringLiteral("A B"));
    QCOMPARE(CloudTransport::failureMessage(R"({"message":"M","errors":[{"detail":"A"}]})"),
             QStringLiteral("M"));
    QCOMPARE(CloudTransport::failureMessage("plain words"), QStringLiteral("plain words"));
    QCOMPARE(CloudTransport::failureMessage(""), QStringLiteral("Unknown error"));
}

void CloudTest::clientReadsCloudsResourcesAndExplainsItsFailures()
{
    CloudRig rig;
    LaravelCloudClient& client = rig.client;
    const QString token = QString::fromLatin1(CloudRig::cloudToken);
    QCOMPARE(halvik::waitFor(client.verify(token)), QStringLiteral("Acme Studio"));
    const auto read = rig.cloud.requests().last();
    QCOMPARE(read.path, QStringLiteral("/api/meta/organization"));
    QCOMPARE(read.header("authorization"), "Bearer " + QByteArray(CloudRig::cloudToken));
    QCOMPARE(read.header("accept"), QByteArray("application/vnd.api+json"));
    QVERIFY(read.header("content-type").isEmpty());

    const auto regions = halvik::waitFor(client.regions(token));
    QCOMPARE(regions.size(), 2);
    QCOMPARE(regions.first().code, QStringLiteral("us-east-1"));
    QCOMPARE(regions.first().label, QStringLiteral("US East (N. Virginia)"));

    // A created application carries its default environment, address and first build.
    const CloudApplication created = halvik::waitFor(client.createApplication(
        QStringLiteral("shop"), QStringLiteral("octo/shop"), QStringLiteral("eu-central-1"), token));
    const auto sent = rig.cloud.find("POST", QStringLiteral("applications")).last();
    QCOMPARE(sent.header("content-type"), QByteArray("application/json"));
    QCOMPARE(sent.json(),
             (QVariantMap{{QStringLiteral("source_control_provider_type"), QStringLiteral("github")},
                          {QStringLiteral("repository"), QStringLiteral("octo/shop")},
                          {QStringLiteral("name"), QStringLiteral("shop")},
                          {QStringLiteral("region"), QStringLiteral("eu-central-1")}}));
    QCOMPARE(created.environmentID, rig.cloud.environmentOf(created.id));
    QCOMPARE(created.vanityURL, QStringLiteral("https://shop.laravel.cloud"));
    QVERIFY(created.deploymentID.has_value());

    // The same name again is the same application (422, then a look by name).
    const CloudApplication again = halvik::waitFor(client.createApplication(
        QStringLiteral("shop"), QStringLiteral("octo/shop"), QStringLiteral("eu-central-1"), token));
    QCOMPARE(again.id, created.id);
    QVERIFY(rig.cloud.calls().last().startsWith(QStringLiteral("GET applications")));
    QVERIFY(QUrl::fromPercentEncoding(rig.cloud.requests().last().query.toUtf8())
                .contains(QStringLiteral("filter[name]=shop")));

    // A body without the application is followed through its Location.
    rig.cloud.override = [&rig,
                          &created](const FakeCloud::Request& request) -> std::optional<FakeCloud::Response> {
        if (request.method != "POST")
            return std::nullopt;
        FakeCloud::Response answer = FakeCloud::Response::json(201, "{}");
        answer.headers.append(qMakePair(QByteArray("Location"),
                                        (rig.cloud.root() + "/api/applications/" + created.id).toUtf8()));
        return answer;
    };
    QCOMPARE(halvik::waitFor(client.createApplication(QStringLiteral("other"), QStringLiteral("octo/o"),
                                                      QStringLiteral("us-east-1"), token))
                 .id,
             created.id);
    rig.cloud.override = {};

    // Sentences.
    rig.cloud.denyGitHub = true;
    QCOMPARE(
        errorOf(client.createApplication(QStringLiteral("new"), QStringLiteral("octo/secret"),
                                         QStringLiteral("us-east-1"), token)),
        QStringLiteral("Cloud doesn’t have GitHub access to octo/secret. Grant the Laravel Cloud GitHub App "
                       "access to that repo (or create from a repo it can already see)."));
    QCOMPARE(client.transport().curlRetries(), 1);
    QCOMPARE(errorOf(client.regions(QStringLiteral("wrong"))),
             QStringLiteral("Laravel Cloud rejected the API token."));
    QCOMPARE(errorOf(client.application(QStringLiteral("nope"), token)),
             QStringLiteral("Laravel Cloud error 404: No application."));
    QCOMPARE(errorOf(client.environment(QStringLiteral("nope"), token)),
             QStringLiteral("Laravel Cloud error 404: No environment."));

    // Clusters: 8.4 refused, 8 created with its password, which later reads leave out.
    const CloudDatabaseCluster cluster = halvik::waitFor(
        client.createDatabaseCluster(QStringLiteral("shop-db"), QStringLiteral("us-east-1"), token));
    const auto clusterPosts = rig.cloud.find("POST", QStringLiteral("databases/clusters"));
    QCOMPARE(clusterPosts.size(), 2);
    QCOMPARE(clusterPosts.first().json().value(QStringLiteral("type")).toString(),
             QStringLiteral("laravel_mysql_84"));
    QCOMPARE(clusterPosts.last().json().value(QStringLiteral("type")).toString(),
             QStringLiteral("laravel_mysql_8"));
    const QVariantMap config = clusterPosts.last().json().value(QStringLiteral("config")).toMap();
    QCOMPARE(config.value(QStringLiteral("size")).toString(), QStringLiteral("mysql-flex-512mb"));
    QCOMPARE(config.value(QStringLiteral("is_public")).toBool(), true);
    QCOMPARE(cluster.connection->password, rig.cloud.clusterPassword);
    const CloudDatabaseCluster ready = halvik::waitFor(client.waitForDatabaseCluster(cluster.id, token));
    QCOMPARE(ready.status, QStringLiteral("available"));
    QVERIFY(ready.connection->password.isEmpty());
    QCOMPARE(ready.preservingPassword(QStringLiteral("p")).connection->password, QStringLiteral("p"));
    QCOMPARE(ready.schemaName, QStringLiteral("main"));
    QVERIFY(!ready.connection->canImport());

    // A deployment that never ends times out after its polls; a failed one gives Cloud's reason.
    rig.cloud.deploymentStatuses = {QStringLiteral("pending")};
    const CloudDeployment pending = halvik::waitFor(client.initiateDeployment(created.environmentID, token));
    rig.sleeps.clear();
    QCOMPARE(errorOf(client.waitForDeployment(pending.id, token, {})),
             QStringLiteral("Laravel Cloud error 504: Timed out waiting for deployment %1.").arg(pending.id));
    QCOMPARE(rig.sleeps.size(), 79);
    QCOMPARE(rig.sleeps.first(), std::chrono::milliseconds(4000));
    QCOMPARE(errorOf(client.waitForDeployment(*created.deploymentID, token, {})),
             QStringLiteral("Laravel Cloud error 500: Composer could not reach the database."));
}

void CloudTest::redirectsAreNeverFollowedAndOnlyWritesRetryThroughCurl()
{
    QTemporaryDir temp;
    const ScopedEnv tmpdir("TMPDIR", temp.path());
    int elsewhereHits = 0;
    FakeApiServer elsewhere([&elsewhereHits](const FakeApiServer::Request&) {
        ++elsewhereHits;
        return FakeApiServer::Response::json(200, R"({"data":[]})");
    });
    QVERIFY(elsewhere.start());
    CloudRig rig;
    const QString token = QString::fromLatin1(CloudRig::cloudToken);
    int posts = 0;
    rig.cloud.override = [&](const FakeCloud::Request& request) -> std::optional<FakeCloud::Response> {
        if (request.path == QLatin1String("/api/meta/regions")) {
            FakeCloud::Response moved{302, "", "text/html", {}};
            moved.headers.append(
                qMakePair(QByteArray("Location"), (elsewhere.root() + "/api/meta/regions").toUtf8()));
            return moved;
        }
        if (request.path == QLatin1String("/api/applications") && request.method == "GET")
            return FakeCloud::Response{200, "<!DOCTYPE html><html>login</html>", "text/html", {}};
        if (request.path.endsWith(QLatin1String("/variables")) && ++posts == 1)
            return FakeCloud::Response{200, "<html><body>Please log in</body></html>", "text/html", {}};
        return std::nullopt;
    };
    QCOMPARE(
        errorOf(rig.client.regions(token)),
        QStringLiteral("Laravel Cloud error 302: Redirected to %1/api/meta/regions").arg(elsewhere.root()));
    QCOMPARE(elsewhereHits, 0);
    // Reads are never retried, whatever they get.
    QCOMPARE(errorOf(rig.client.applications(token)),
             QStringLiteral("Laravel Cloud error 200: Cloud returned a web page instead of the API."));
    QCOMPARE(rig.client.transport().curlRetries(), 0);

    // A write answered by a page goes once more through curl, which carries the token in a file.
    QStringList curlArguments;
    rig.client.transport().setCurlObserver(
        [&curlArguments](const ProcessRequest& request) { curlArguments += request.arguments; });
    const QString app = rig.cloud.addApplication(QStringLiteral("blog"));
    const QString env = rig.cloud.environmentOf(app);
    const QList<CloudEnvironmentVariable> variables{{QStringLiteral("A"), QStringLiteral("1")}};
    halvik::waitFor(rig.client.addEnvironmentVariables(env, variables, token));
    QCOMPARE(rig.client.transport().curlRetries(), 1);
    const auto retried = rig.cloud.find("POST", QStringLiteral("environments/%1/variables").arg(env));
    QCOMPARE(retried.size(), 2);
    QCOMPARE(retried.last().header("authorization"), "Bearer " + QByteArray(CloudRig::cloudToken));
    QCOMPARE(retried.last().body, retried.first().body);
    QCOMPARE(rig.cloud.environments.value(env).value("environment_variables").toArray().size(), 1);
    QVERIFY(!curlArguments.join(QLatin1Char(' ')).contains(QLatin1String(CloudRig::cloudToken)));
    QCOMPARE(curlArguments.mid(0, 3),
             (QStringList{QStringLiteral("-sS"), QStringLiteral("--max-redirs"), QStringLiteral("0")}));
    QVERIFY(curlArguments.contains(QStringLiteral("--data-binary")));
    QVERIFY(curlArguments.filter(QStringLiteral("@")).first().contains(QStringLiteral("halvik-cloud-r-")));

    // A failing curl run and a cancelled one leave no file behind either.
    rig.client.transport().setCurl(QStringLiteral("/bin/false"));
    posts = 0;
    QVERIFY(errorOf(rig.client.addEnvironmentVariables(env, variables, token))
                .startsWith(QStringLiteral("Laravel Cloud error 0:")));
    QVERIFY(QDir(temp.path())
                .entryList(QDir::Files | QDir::Hidden)
                .filter(QStringLiteral("halvik-cloud"))
                .isEmpty());
}

void CloudTest::callbackServerWaitsForOneCodeOneConnectionAtATime()
{
    // The first free port of the range is taken.
    QList<std::shared_ptr<QTcpServer>> busy;
    for (int i = 0; i < 3; ++i) {
        busy << std::make_shared<QTcpServer>();
        QVERIFY(busy.last()->listen(QHostAddress::LocalHost, testPort(i)));
    }
    {
        CallbackServer server;
        QCOMPARE(server.listen(testPort(0), 4), testPort(3));
    }
    CallbackServer none;
    QCOMPARE(errorOf([&]() -> QCoro::Task<> {
                 none.listen(testPort(0), 3);
                 co_return;
             }()),
             QStringLiteral("Could not open a local port for Cloud sign-in."));
    busy.clear();

    // A stray request gets the failure page and the wait goes on; the code ends it.
    CallbackServer server;
    const quint16 port = server.listen(testPort(0), 4);
    QString code;
    bool done = false;
    // The lambda outlives its coroutine: its captures are read after each resumption.
    const auto wait = [&]() -> QCoro::Task<> {
        code = co_await server.waitForCode(std::chrono::seconds(20));
        done = true;
    };
    auto waiting = wait();
    const QByteArray stray = ask(port, "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n");
    const QByteArray failurePage =
        "<!doctype html><html><body style=\"font:16px system-ui;padding:48px;text-align:center\">\n"
        "<p>Sign-in failed. Close this window and try again from Halvik.</p>\n</body></html>";
    QCOMPARE(stray,
             "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
             "Content-Length: " +
                 QByteArray::number(failurePage.size()) + "\r\n\r\n" + failurePage);
    QVERIFY(!done);
    QVERIFY(ask(port, "GET /callback?exchange_code=&x=1 HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 400"));
    const QByteArray ok =
        ask(port, "GET /callback?state=1&exchange_code=a%20b%2Fc+d&next=2 HTTP/1.1\r\n\r\n");
    QVERIFY(ok.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(ok.endsWith("<p>Signed in. You can close this window and return to Halvik.</p>\n</body></html>"));
    QTRY_VERIFY(done);
    QCOMPARE(code, QStringLiteral("a b/c d"));
    QVERIFY(!server.isListening());
    QCOMPARE(ask(port, "GET / HTTP/1.1\r\n\r\n"), QByteArray("(no connection)"));

    // Time-out and cancel both close the socket and resolve once.
    CallbackServer slow;
    slow.listen(testPort(4), 4);
    QCOMPARE(errorOf(slow.waitForCode(std::chrono::milliseconds(50))),
             QStringLiteral("Cloud sign-in timed out."));
    QVERIFY(!slow.isListening());
    CallbackServer cancelled;
    cancelled.listen(testPort(4), 4);
    CancellationSource source;
    QTimer::singleShot(30, [&source] { source.cancel(); });
    QCOMPARE(errorOf(cancelled.waitForCode(std::chrono::seconds(20), source.token())),
             QStringLiteral("Cancelled"));
    QVERIFY(!cancelled.isListening());
}

void CloudTest::browserSignInKeepsOneAccountPerOrganization()
{
    CloudRig rig;
    // A browser that follows the sign-in page's redirect to the callback.
    const QString browser = rig.rig.box.path(QStringLiteral("browser.sh"));
    QFile script(browser);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n/usr/bin/curl -sL \"$1\" >/dev/null 2>&1 &\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const ScopedEnv browserEnv("BROWSER", browser);

    // An account made earlier for the same organization keeps its id.
    const HostAccountPtr earlier = rig.rig.hosts.adopt(HostProviderKind::laravelCloud,
                                                       QStringLiteral("ACME STUDIO"), QStringLiteral("old"));
    rig.cloud.extraOrganizations = {{QStringLiteral("Side Project"), "side-token"}};
    QStringList statuses;
    QUrl shown;
    CloudBrowserAuth::Options options;
    options.openBrowser = [](const QUrl& url) { return Browser::open(url); };
    options.onURL = [&shown](const QUrl& url) { shown = url; };
    options.onStatus = [&statuses](const QString& line) { statuses << line; };
    options.firstPort = testPort(0);
    options.portAttempts = 8;
    const QList<CloudSignIn> signIns = halvik::waitFor(CloudBrowserAuth::signIn(rig.client, options));
    QCOMPARE(signIns.size(), 2);
    QCOMPARE(rig.cloud.find("POST", QStringLiteral("cli/auth-sessions/exchange"))
                 .first()
                 .json()
                 .value(QStringLiteral("exchange_code")),
             QVariant(QStringLiteral("ex/ch+ange code&1")));
    QVERIFY(shown.toString().startsWith(rig.cloud.root() + QStringLiteral("/signin?port=")));
    QCOMPARE(statuses.size(), 5);
    QCOMPARE(statuses.first(), QStringLiteral("Opening a local callback on 127.0.0.1…"));
    QVERIFY(statuses.at(1).startsWith(QStringLiteral("Listening on http://127.0.0.1:")));
    QCOMPARE(statuses.at(3), QStringLiteral("Got the exchange code. Finishing sign-in…"));
    QCOMPARE(statuses.last(), QStringLiteral("Signed in to Acme Studio"));

    const QList<HostAccountPtr> hosts = rig.rig.hosts.persistCloudSignIns(signIns);
    QCOMPARE(hosts.first(), earlier);
    QCOMPARE(rig.rig.hosts.accounts(HostProviderKind::laravelCloud).size(), 2);
    QCOMPARE(*rig.rig.hosts.token(*earlier), QString::fromLatin1(CloudRig::cloudToken));
    QCOMPARE(hosts.last()->label(), QStringLiteral("Side Project"));

    // The code works once; a second exchange is told it expired.
    QCOMPARE(errorOf(rig.client.exchangeAuthCode(QStringLiteral("ex/ch+ange code&1"))),
             QStringLiteral("Sign-in code expired or already used. Click Sign in again — don’t paste an old "
                            "exchange_code."));
    rig.rig.store.flush();
    const QString stored = everything(rig.rig.box.path(QStringLiteral("store")));
    QVERIFY(stored.contains(QStringLiteral("Acme Studio")));
    QVERIFY(!stored.contains(QLatin1String(CloudRig::cloudToken)));
}

void CloudTest::firstDeployRetriesAfterAFailedFirstBuildAndGoesLive()
{
    CloudRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSiteOnGitHub(QStringLiteral("shop"));
    QFile packageJson(site->path() + QStringLiteral("/package.json"));
    QVERIFY(packageJson.open(QIODevice::WriteOnly));
    packageJson.write("{}");
    packageJson.close();
    CloudDeployJob* job = rig.rig.deploys.startCloud(site, rig.plan(host));
    QList<double> fractions;
    QStringList statuses;
    connect(job, &CloudDeployJob::fractionChanged, this, [&fractions](double value) { fractions << value; });
    connect(job, &CloudDeployJob::statusChanged, this,
            [&statuses](const QString& value) { statuses << value; });
    QVERIFY(rig.rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);

    const QStringList lines = job->lines();
    QCOMPARE(lines.first(), QStringLiteral("Creating Laravel Cloud application shop…"));
    QVERIFY(lines.contains(QStringLiteral("Waiting on Cloud’s first build…")));
    QVERIFY(lines.contains(QStringLiteral("First build failed: Composer could not reach the database.")));
    const qsizetype retry = lines.indexOf(QStringLiteral("Retrying after database/build setup…"));
    QVERIFY(retry > 0);
    QCOMPARE(lines.value(retry + 1), QStringLiteral("Starting deployment…"));
    QCOMPARE(lines.last(), QStringLiteral("Live at https://shop.laravel.cloud"));
    QVERIFY(lines.filter(QStringLiteral("database mode")).isEmpty());
    QVERIFY(statuses.contains(QStringLiteral("Waiting on deployment")));
    QVERIFY(statuses.contains(QStringLiteral("Building")));
    QCOMPARE(statuses.last(), QStringLiteral("Deployed"));
    QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
    QCOMPARE(fractions.last(), 1.0);
    QCOMPARE(job->fraction(), 1.0);

    // The environment was set up before the deployment Halvik started.
    const QString env = *site->cloudEnvId();
    const QJsonObject attributes = rig.cloud.environments.value(env);
    QVERIFY(attributes.value("build_command").toString().contains(QStringLiteral("npm run build")));
    QVERIFY(attributes.value("deploy_command").isNull());
    QCOMPARE(attributes.value("environment_variables").toArray().size(), 3);
    const QStringList calls = rig.cloud.calls();
    QVERIFY(calls.indexOf(QStringLiteral("POST environments/%1/variables").arg(env)) <
            calls.indexOf(QStringLiteral("POST environments/%1/deployments").arg(env)));
    QVERIFY(rig.cloud.find("GET", QStringLiteral("databases/clusters")).isEmpty());

    // The record and the site.
    QCOMPARE(site->cloudURL(), QStringLiteral("https://shop.laravel.cloud"));
    QCOMPARE(site->cloudHostId(), host->id());
    QVERIFY(site->cloudAppId().has_value());
    const DeploymentPtr record = job->deployment();
    QCOMPARE(record->serverName(), QStringLiteral("Laravel Cloud"));
    QCOMPARE(record->siteName(), QStringLiteral("shop"));
    QCOMPARE(record->providerRaw(), QStringLiteral("laravelCloud"));
    QCOMPARE(record->status(), QStringLiteral("finished"));
    QVERIFY(record->cloudDeploymentId().has_value());
    QVERIFY(record->log().contains(QStringLiteral("[build] succeeded Building the app")));
    QCOMPARE(rig.rig.notices, QStringList{QStringLiteral("Deployed")});

    // "Deploy now": the same application, its build command already right, followed to the end.
    rig.cloud.clear();
    CloudDeployPlan again = rig.plan(host);
    again.redeploy = true;
    CloudDeployJob* redeploy = rig.rig.deploys.startCloud(site, again);
    QVERIFY(rig.rig.waitFor(redeploy));
    QCOMPARE(redeploy->outcome(), DeployJob::Outcome::finished);
    QVERIFY(rig.cloud.find("POST", QStringLiteral("applications")).isEmpty());
    QVERIFY(rig.cloud.find("PATCH", QStringLiteral("environments/") + env).isEmpty());
    QCOMPARE(rig.cloud.find("POST", QStringLiteral("environments/%1/deployments").arg(env)).size(), 1);
    QCOMPARE(site->deployments().size(), 2);
    QCOMPARE(redeploy->lines().last(), QStringLiteral("Live at https://shop.laravel.cloud"));

    // A deployment that fails ends the run with Cloud's reason.
    rig.cloud.deploymentStatuses = {QStringLiteral("build.running"), QStringLiteral("deployment.failed")};
    CloudDeployJob* failing = rig.rig.deploys.startCloud(site, again);
    QVERIFY(rig.rig.waitFor(failing));
    QCOMPARE(failing->errorMessage(), QStringLiteral("Laravel Cloud error 500: The build failed."));
    QCOMPARE(failing->status(), QStringLiteral("Failed"));
    QCOMPARE(failing->deployment()->status(), QStringLiteral("failed"));
    QCOMPARE(rig.rig.notices.last(), QStringLiteral("Deploy failed"));
}

void CloudTest::databaseModeProvisionsMySQLAndImportProblemsDontFailTheRun()
{
    CloudRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSiteOnGitHub(QStringLiteral("journal"));
    CloudRig::makeDatabaseMode(site->path());
    // An artisan that can't reach the database, as a real one would without Cloud's network.
    QFile artisan(site->path() + QStringLiteral("/artisan"));
    QVERIFY(artisan.open(QIODevice::WriteOnly));
    artisan.write("<?php fwrite(STDERR, \"SQLSTATE[HY000] [2002] Connection refused\\n\"); exit(1);\n");
    artisan.close();
    rig.cloud.firstBuildStatuses = {QStringLiteral("deployment.succeeded")};
    rig.cloud.clusterPassword = QStringLiteral("DB_PASSWORD_CANARY_77aa");

    CloudDeployJob* job = rig.rig.deploys.startCloud(site, rig.plan(host, QStringLiteral("Journal")));
    QVERIFY(rig.rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    const QStringList lines = job->lines();
    QVERIFY(lines.contains(QStringLiteral("Quillmar is in database mode. Cloud can’t persist SQLite — "
                                          "provisioning Laravel MySQL in us-east-1…")));
    QVERIFY(lines.contains(
        QStringLiteral("Patched config/database.php so Cloud MySQL SSL doesn’t fail certificate "
                       "verify. Commit that when you can — Cloud also patches it during build.")));
    QVERIFY(lines.contains(
        QStringLiteral("Attached MySQL cluster journal-db. Deploy will run php artisan migrate --force.")));
    QVERIFY(lines.contains(QStringLiteral("Running php artisan migrate --force against Cloud MySQL…")));
    QVERIFY(!lines.filter(QStringLiteral("Couldn’t import local database: ")).isEmpty());
    QCOMPARE(lines.last(), QStringLiteral("Live at https://journal.laravel.cloud"));
    QVERIFY(lines.filter(QStringLiteral("First build failed")).isEmpty());

    // The cluster was polled until available and attached with a migrating deploy command.
    const QString env = *site->cloudEnvId();
    const QJsonObject attributes = rig.cloud.environments.value(env);
    QCOMPARE(attributes.value("deploy_command").toString(), QStringLiteral("php artisan migrate --force"));
    QVERIFY(attributes.value("database_schema_id").toString().startsWith(QStringLiteral("sch-")));
    QStringList keys;
    for (const QJsonValue& variable : attributes.value("environment_variables").toArray())
        keys << variable.toObject().value("key").toString();
    QVERIFY(keys.contains(QStringLiteral("DB_CONNECTION")));
    QVERIFY(keys.contains(QStringLiteral("MYSQL_ATTR_SSL_CA")));
    QVERIFY(
        rig.cloud.find("GET", QStringLiteral("databases/clusters/") + rig.cloud.clusters.firstKey()).size() >=
        2);
    QVERIFY(readText(site->path() + QStringLiteral("/config/database.php"))
                .contains(QStringLiteral("+ [PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT=>false] : []")));

    // The password went to PHP's environment only.
    rig.rig.store.flush();
    const QString stored = everything(rig.rig.box.path(QStringLiteral("store")));
    QVERIFY(!stored.contains(QStringLiteral("DB_PASSWORD_CANARY_77aa")));
    QVERIFY(!job->deployment()->log().contains(QStringLiteral("DB_PASSWORD_CANARY_77aa")));
    for (const auto& operation : site->operations())
        QVERIFY(!operation->command().contains(QStringLiteral("DB_PASSWORD_CANARY_77aa")));

    // Again, with the schema attached: the cluster is found, not made.
    rig.cloud.clear();
    CloudDeployJob* second = rig.rig.deploys.startCloud(site, rig.plan(host, QStringLiteral("Journal")));
    QVERIFY(rig.rig.waitFor(second));
    QVERIFY(second->lines().contains(
        QStringLiteral("Using existing MySQL cluster journal-db. Deploy command set to migrate --force.")));
    QVERIFY(rig.cloud.find("POST", QStringLiteral("databases/clusters")).isEmpty());
    QCOMPARE(rig.cloud.clusters.size(), 1);
}

void CloudTest::storageManagedEnvironmentsAndExistingApplicationsAreReused()
{
    CloudRig rig;
    const HostAccountPtr host = rig.connect(false);
    const QString app = rig.cloud.addApplication(QStringLiteral("shop"));
    const QString env = rig.cloud.environmentOf(app);
    rig.cloud.environments[env].insert(
        "environment_variables",
        QJsonArray{QJsonObject{{"key", "HALVIK_STORAGE_MANAGED"}, {"value", "true"}}});
    rig.cloud.environments[env].insert("build_command", "custom build");
    const SitePtr site = rig.addSiteOnGitHub(QStringLiteral("shop"));
    CloudRig::makeDatabaseMode(site->path());

    // Creating "shop" finds the application that already has that name.
    CloudDeployJob* job = rig.rig.deploys.startCloud(site, rig.plan(host));
    QVERIFY(rig.rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    QCOMPARE(site->cloudAppId(), app);
    QVERIFY(job->lines().contains(QStringLiteral("Using verified Cloud storage configuration.")));
    QCOMPARE(rig.cloud.environments.value(env).value("build_command").toString(),
             QStringLiteral("custom build"));
    QVERIFY(rig.cloud.find("PATCH", QStringLiteral("environments/") + env).isEmpty());
    QVERIFY(rig.cloud.find("POST", QStringLiteral("environments/%1/variables").arg(env)).isEmpty());
    QVERIFY(rig.cloud.find("POST", QStringLiteral("databases/clusters")).isEmpty());
}

void CloudTest::aRejectedTokenCostsOneSignInNeverALoop()
{
    CloudRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSiteOnGitHub(QStringLiteral("shop"));
    int signIns = 0;
    rig.rig.deploys.setCloudRenewer(
        [&signIns](HostAccountPtr, CancellationToken) -> QCoro::Task<std::optional<QString>> {
            ++signIns;
            co_return QString::fromLatin1(CloudRig::cloudToken);
        });
    rig.cloud.rejectTokens = 1;
    CloudDeployJob* job = rig.rig.deploys.startCloud(site, rig.plan(host));
    QVERIFY(rig.rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    QCOMPARE(signIns, 1);
    QVERIFY(job->lines().contains(QStringLiteral("Signed in again to Acme Studio.")));
    // The rejected request was repeated once with the new token.
    QCOMPARE(rig.cloud.find("POST", QStringLiteral("applications")).size(), 2);

    // A token rejected again after the renewal ends the run.
    rig.cloud.rejectTokens = 1000;
    CloudDeployPlan again = rig.plan(host);
    again.redeploy = true;
    CloudDeployJob* second = rig.rig.deploys.startCloud(site, again);
    QVERIFY(rig.rig.waitFor(second));
    QCOMPARE(second->errorMessage(), QStringLiteral("Laravel Cloud rejected the API token."));
    QCOMPARE(signIns, 2);
    rig.cloud.rejectTokens = 0;

    // Without a way to sign in, the first rejection ends it.
    rig.rig.deploys.setCloudRenewer({});
    rig.cloud.rejectTokens = 1;
    CloudDeployJob* third = rig.rig.deploys.startCloud(site, again);
    QVERIFY(rig.rig.waitFor(third));
    QCOMPARE(third->errorMessage(), QStringLiteral("Laravel Cloud rejected the API token."));
}

void CloudTest::stoppingAfterTheTriggerLeavesTheRecordForALaterLook()
{
    CloudRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSiteOnGitHub(QStringLiteral("shop"));
    rig.cloud.firstBuildStatuses = {QStringLiteral("deployment.succeeded")};
    CloudDeployJob* first = rig.rig.deploys.startCloud(site, rig.plan(host));
    QVERIFY(rig.rig.waitFor(first));

    // Stopped while the deployment is watched: Cloud goes on, the record stays open.
    CloudDeployPlan again = rig.plan(host);
    again.redeploy = true;
    rig.cloud.deploymentStatuses = {QStringLiteral("deployment.succeeded")};
    CloudDeployJob* job = rig.rig.deploys.startCloud(site, again);
    connect(job, &CloudDeployJob::providerStatusChanged, job, [job](const QString&) { job->stop(); });
    QVERIFY(rig.rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::watchStopped);
    QVERIFY(job->deployment()->isRunning());
    QVERIFY(job->deployment()->cloudDeploymentId().has_value());

    // A later look completes it.
    halvik::waitFor(rig.rig.deploys.completeUnfinished(site));
    QCOMPARE(job->deployment()->status(), QStringLiteral("finished"));
    QVERIFY(!job->deployment()->isRunning());

    // Stopped before Cloud was asked: the run is cancelled.
    CloudDeployJob* early = rig.rig.deploys.startCloud(site, again);
    early->stop();
    QVERIFY(rig.rig.waitFor(early));
    QCOMPARE(early->outcome(), DeployJob::Outcome::failed);
    QCOMPARE(early->errorMessage(), QStringLiteral("Cancelled."));
}

HALVIK_TEST_MAIN_CORE(CloudTest)
#include "tst_cloud.moc"
