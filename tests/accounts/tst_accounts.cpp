#include "FakeApiServer.h"
#include "FakePrompts.h"
#include "GitSandbox.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "app/GitWorkspace.h"
#include "gitcore/GitCredentials.h"
#include "gitcore/GitHosts.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/ProcessRunner.h"
#include "services/accounts/BitbucketClient.h"
#include "services/accounts/GitHubCLI.h"
#include "services/accounts/GitHubClient.h"
#include "services/accounts/GitLabClient.h"
#include "services/accounts/HttpJson.h"
#include "services/accounts/OriginClient.h"
#include "services/accounts/SourceControlErrors.h"
#include "services/accounts/SourceControlService.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace halvik;
using halvik::test::FakeApiServer;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;
using Request = FakeApiServer::Request;
using Response = FakeApiServer::Response;

namespace {

// Sets an environment variable for as long as it lives.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value.toUtf8());
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

void writeScript(const QString& path, const QByteArray& body)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

template <typename Task> QString errorOf(Task&& task)
{
    try {
        halvik::waitFor(std::forward<Task>(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

// A fake clock for the device sign-in: sleeping moves it on at once and is recorded.
struct FakeClock
{
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
    QList<qint64> sleeps;

    GitHubClient::Timing timing()
    {
        GitHubClient::Timing timing;
        timing.now = [this] { return now; };
        timing.sleep = [this](std::chrono::seconds duration) -> QCoro::Task<> {
            sleeps << duration.count();
            now = now.addSecs(duration.count());
            co_return;
        };
        return timing;
    }
};

} // namespace

class AccountsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void githubClientSendsAndReads();
    void githubRepositoryOwner();
    void deviceFlowTiming();
    void deviceFlowAnswers();
    void gitlabClient();
    void bitbucketClient();
    void githubCLI();
    void originClient();
    void connectStoresTokenWhereItBelongs();
    void accountsThroughTheCLIs();
    void credentialEnvironment();
    void createRemoteAndPushEndToEnd();
    void canaryTokenStaysWhereItBelongs();
    void unreachableProvidersSayWhy();
    void aRequestOutlivedByItsManagerEnds();
};

void AccountsTest::githubClientSendsAndReads()
{
    FakeApiServer api([](const Request& r) {
        if (r.header("authorization") == "Bearer good")
            return Response::json(200, "{\"login\":\"octo\"}");
        if (r.header("authorization") == "Bearer broken")
            return Response::json(500, "boom");
        return Response::json(401, "{\"message\":\"Bad credentials\"}");
    });
    QVERIFY(api.start());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root() + QStringLiteral("/"));
    GitHubClient client;

    QCOMPARE(halvik::waitFor(client.authenticatedUser(QStringLiteral("good"))), QStringLiteral("octo"));
    const Request& sent = api.requests().first();
    QCOMPARE(sent.method, QByteArray("GET"));
    QCOMPARE(sent.path, QStringLiteral("/user"));
    QCOMPARE(sent.header("accept"), QByteArray("application/vnd.github+json"));

    QCOMPARE(errorOf(client.authenticatedUser(QStringLiteral("bad"))),
             QStringLiteral("GitHub rejected the token."));
    QCOMPARE(errorOf(client.authenticatedUser(QStringLiteral("broken"))),
             QStringLiteral("GitHub error 500: boom"));
}

void AccountsTest::githubRepositoryOwner()
{
    FakeApiServer api([](const Request& r) {
        if (r.path == QLatin1String("/orgs/acme/repos"))
            return Response::json(422, "{\"message\":\"name already exists\"}");
        return Response::json(
            201, "{\"full_name\":\"Octo/site\",\"clone_url\":\"https://github.com/Octo/site.git\","
                 "\"html_url\":\"https://github.com/Octo/site\"}");
    });
    QVERIFY(api.start());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root());
    QTemporaryDir dir;
    SecretStore secrets(dir.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, dir.path());
    ProcessRunner runner;
    SourceControlService service(store, secrets, runner);

    // Without a token nothing is sent.
    QCOMPARE(errorOf(service.createRepository(SourceControlProvider::github, QStringLiteral("site"), true)),
             QStringLiteral("Connect a source control account first."));
    QVERIFY(api.requests().isEmpty());

    secrets.set(QStringLiteral("tok"), QStringLiteral("sourceControl.github"));
    store.upsertSourceControl(
        {QStringLiteral("github"), QStringLiteral("Octo"), QDateTime::currentDateTimeUtc()});

    // The login in another letter case is the person, not an organisation.
    const auto repo = halvik::waitFor(service.createRepository(
        SourceControlProvider::github, QStringLiteral("site"), true, QStringLiteral(" octo ")));
    QCOMPARE(repo.name, QStringLiteral("site")); // not in the answer: the requested name
    QCOMPARE(repo.fullName, QStringLiteral("Octo/site"));
    QCOMPARE(repo.cloneURL, QStringLiteral("https://github.com/Octo/site.git"));
    const Request& sent = api.requests().last();
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.path, QStringLiteral("/user/repos"));
    QCOMPARE(sent.header("authorization"), QByteArray("Bearer tok"));
    QCOMPARE(sent.header("content-type"), QByteArray("application/json"));
    QCOMPARE(sent.json().value(QStringLiteral("name")).toString(), QStringLiteral("site"));
    QCOMPARE(sent.json().value(QStringLiteral("private")).toBool(), true);
    QCOMPARE(sent.json().value(QStringLiteral("auto_init")), QVariant(false));

    QCOMPARE(errorOf(service.createRepository(SourceControlProvider::github, QStringLiteral("site"), false,
                                              QStringLiteral("acme"))),
             QStringLiteral("GitHub error 422: {\"message\":\"name already exists\"}"));
    QCOMPARE(api.requests().last().path, QStringLiteral("/orgs/acme/repos"));
    QCOMPARE(api.requests().last().json().value(QStringLiteral("private")).toBool(), false);

    const auto before = api.requests().size();
    QCOMPARE(errorOf(service.createRepository(SourceControlProvider::github, QStringLiteral("site"), true,
                                              QStringLiteral("-acme"))),
             QStringLiteral("GitHub error 422: Enter a valid GitHub organization name."));
    QCOMPARE(api.requests().size(), before);
}

void AccountsTest::deviceFlowTiming()
{
    QList<QByteArray> answers;
    FakeApiServer web([&answers](const Request& r) {
        if (r.path == QLatin1String("/login/device/code"))
            return Response::json(
                200, "{\"device_code\":\"dev-1\",\"user_code\":\"ABCD-1234\",\"verification_uri\":"
                     "\"https://github.com/login/device\",\"interval\":2,\"expires_in\":900}");
        return Response::json(200, answers.isEmpty() ? QByteArray("{\"error\":\"authorization_pending\"}")
                                                     : answers.takeFirst());
    });
    QVERIFY(web.start());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", web.root());
    GitHubClient client;

    const auto code = halvik::waitFor(client.requestDeviceCode(QStringLiteral("client-9")));
    QCOMPARE(code.userCode, QStringLiteral("ABCD-1234"));
    QCOMPARE(code.interval, 2);
    const Request first = web.requests().first();
    QCOMPARE(first.method, QByteArray("POST"));
    QCOMPARE(first.header("accept"), QByteArray("application/json"));
    QCOMPARE(first.json().value(QStringLiteral("client_id")).toString(), QStringLiteral("client-9"));
    QCOMPARE(first.json().value(QStringLiteral("scope")).toString(),
             QStringLiteral("repo workflow read:user read:packages"));

    // Interval 2 polls every 5 s; each slow-down adds 5 s.
    answers = {"{\"error\":\"authorization_pending\"}", "{\"error\":\"slow_down\"}",
               "{\"error\":\"slow_down\"}", "{\"access_token\":\"gho_new\"}"};
    FakeClock clock;
    QStringList progress;
    const auto record = [&progress](const QString& line) { progress << line; };
    QCOMPARE(
        halvik::waitFor(client.waitForDeviceToken(QStringLiteral("client-9"), code, clock.timing(), record)),
        QStringLiteral("gho_new"));
    QCOMPARE(clock.sleeps, (QList<qint64>{5, 5, 10, 15}));
    QCOMPARE(progress, (QStringList{QStringLiteral("Waiting for authorization…"),
                                    QStringLiteral("Still waiting…"), QStringLiteral("Still waiting…")}));
    const Request poll = web.requests().last();
    QCOMPARE(poll.path, QStringLiteral("/login/oauth/access_token"));
    QCOMPARE(poll.json().value(QStringLiteral("device_code")).toString(), QStringLiteral("dev-1"));
    QCOMPARE(poll.json().value(QStringLiteral("grant_type")).toString(),
             QStringLiteral("urn:ietf:params:oauth:grant-type:device_code"));

    // A code that expires while pending fails before the next poll.
    GitHubDeviceCode shortLived = code;
    shortLived.expiresIn = 12;
    FakeClock clock2;
    const auto polls = web.requests().size();
    QCOMPARE(errorOf(client.waitForDeviceToken(QStringLiteral("client-9"), shortLived, clock2.timing())),
             QStringLiteral("GitHub sign-in expired. Start again."));
    QCOMPARE(clock2.sleeps, (QList<qint64>{5, 5, 5}));
    QCOMPARE(web.requests().size(), polls + 3);
}

void AccountsTest::deviceFlowAnswers()
{
    QByteArray answer;
    int status = 200;
    FakeApiServer web([&](const Request&) { return Response::json(status, answer); });
    QVERIFY(web.start());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", web.root());
    GitHubClient client;
    const auto poll = [&client] { return client.pollAccessToken(QStringLiteral("c"), QStringLiteral("d")); };

    answer = "{\"error\":\"access_denied\"}";
    QCOMPARE(errorOf(poll()), QStringLiteral("GitHub sign-in expired. Start again."));
    answer = "{\"error\":\"authorization_pending\"}";
    QCOMPARE(errorOf(poll()), QStringLiteral("Waiting for GitHub authorization."));
    answer = "{\"error\":\"slow_down\"}";
    QCOMPARE(errorOf(poll()), QStringLiteral("GitHub asked us to poll more slowly."));
    answer = "{\"error\":\"incorrect_client\",\"error_description\":\"The client is wrong.\"}";
    status = 400;
    QCOMPARE(errorOf(poll()), QStringLiteral("GitHub error 400: The client is wrong."));
    answer = "{}";
    QCOMPARE(errorOf(poll()), QStringLiteral("GitHub error 400: {}"));
    answer = "<html>down</html>";
    status = 502;
    QCOMPARE(errorOf(poll()), QStringLiteral("GitHub error 502: <html>down</html>"));

    // A device code whose timing fields are not numbers fails with a sentence, not a hang.
    answer = "{\"device_code\":\"d\",\"user_code\":\"U\",\"verification_uri\":\"https://x\","
             "\"interval\":\"soon\",\"expires_in\":900}";
    status = 200;
    QCOMPARE(errorOf(client.requestDeviceCode(QStringLiteral("c"))),
             QStringLiteral("GitHub error 200: ") + QString::fromUtf8(answer));
    answer = "{\"device_code\":\"d\",\"user_code\":\"U\",\"verification_uri\":\"https://x\","
             "\"interval\":\"7\",\"expires_in\":[1]}";
    QCOMPARE(errorOf(client.requestDeviceCode(QStringLiteral("c"))),
             QStringLiteral("GitHub error 200: ") + QString::fromUtf8(answer));

    // A denied device sign-in ends the waiting loop at once.
    answer = "{\"error\":\"access_denied\"}";
    status = 200;
    FakeClock clock;
    GitHubDeviceCode code{QStringLiteral("d"), QStringLiteral("U"), QStringLiteral("https://x"), 5, 900};
    QCOMPARE(errorOf(client.waitForDeviceToken(QStringLiteral("c"), code, clock.timing())),
             QStringLiteral("GitHub sign-in expired. Start again."));
    QCOMPARE(clock.sleeps.size(), 1);

    // A wait given up (the sheet closed) polls no more.
    answer = "{\"error\":\"authorization_pending\"}";
    CancellationSource cancel;
    FakeClock clock2;
    GitHubClient::Timing timing = clock2.timing();
    timing.sleep = [&clock2, &cancel](std::chrono::seconds duration) -> QCoro::Task<> {
        clock2.sleeps << duration.count();
        if (clock2.sleeps.size() == 2)
            cancel.cancel();
        co_return;
    };
    const auto polled = web.requests().size();
    QCOMPARE(errorOf(client.waitForDeviceToken(QStringLiteral("c"), code, timing, {}, cancel.token())),
             QStringLiteral("Cancelled"));
    QCOMPARE(web.requests().size(), polled + 1);
}

void AccountsTest::gitlabClient()
{
    FakeApiServer api([](const Request& r) {
        if (r.header("authorization") != "Bearer glpat")
            return Response::json(401, "{}");
        if (r.method == "GET" && r.path == QLatin1String("/api/v4/user"))
            return Response::json(200, "{\"username\":\"gina\"}");
        if (r.json().value(QStringLiteral("name")) == QStringLiteral("taken"))
            return Response::json(422, "{\"message\":\"has already been taken\"}");
        if (r.method == "POST" && r.path == QLatin1String("/api/v4/projects"))
            return Response::json(
                201, "{\"name\":\"Site\",\"path_with_namespace\":\"gina/site\",\"http_url_to_repo\":"
                     "\"https://gitlab.com/gina/site.git\",\"web_url\":\"https://gitlab.com/gina/site\"}");
        return Response::json(500, "nope");
    });
    QVERIFY(api.start());
    const ScopedEnv root("HALVIK_GITLAB_URL", api.root());
    GitLabClient client;
    QCOMPARE(halvik::waitFor(client.authenticatedUser(QStringLiteral("glpat"))), QStringLiteral("gina"));
    QCOMPARE(errorOf(client.authenticatedUser(QStringLiteral("x"))),
             QStringLiteral("GitLab rejected the token."));
    const auto repo =
        halvik::waitFor(client.createRepository(QStringLiteral("Site"), false, QStringLiteral("glpat")));
    QCOMPARE(repo, (GitRemoteRepository{QStringLiteral("Site"), QStringLiteral("gina/site"),
                                        QStringLiteral("https://gitlab.com/gina/site.git"),
                                        QStringLiteral("https://gitlab.com/gina/site")}));
    const QVariantMap body = api.requests().last().json();
    QCOMPARE(body.value(QStringLiteral("visibility")).toString(), QStringLiteral("public"));
    QCOMPARE(body.value(QStringLiteral("initialize_with_readme")), QVariant(false));
    QCOMPARE(api.requests().last().header("content-type"), QByteArray("application/json"));
    QCOMPARE(errorOf(client.createRepository(QStringLiteral("taken"), true, QStringLiteral("glpat"))),
             QStringLiteral("GitLab error 422: {\"message\":\"has already been taken\"}"));
    QCOMPARE(errorOf(client.createRepository(QStringLiteral("Site"), true, QStringLiteral("expired"))),
             QStringLiteral("GitLab rejected the token."));
}

void AccountsTest::bitbucketClient()
{
    const QByteArray basic = "Basic " + QByteArray("dev:app-pass").toBase64();
    FakeApiServer api([basic](const Request& r) {
        const QByteArray auth = r.header("authorization");
        const bool ok = auth == "Bearer api-token" || auth == basic;
        if (!ok)
            return Response::json(401, "{}");
        if (r.path == QLatin1String("/2.0/user"))
            return Response::json(200, "{\"nickname\":\"dev\"}");
        if (r.path == QLatin1String("/2.0/repositories/dev/my-site"))
            return Response::json(
                200, "{\"full_name\":\"dev/my-site\",\"links\":{\"html\":{\"href\":"
                     "\"https://bitbucket.org/dev/my-site\"},\"clone\":[{\"name\":\"ssh\",\"href\":"
                     "\"git@bitbucket.org:dev/my-site.git\"},{\"name\":\"https\",\"href\":"
                     "\"https://dev@bitbucket.org/dev/my-site.git\"}]}}");
        return Response::json(500, "server trouble");
    });
    QVERIFY(api.start());
    const ScopedEnv root("HALVIK_BITBUCKET_API", api.root());
    const ScopedEnv web("HALVIK_BITBUCKET_WEB", QStringLiteral("https://bb.example"));
    BitbucketClient client;

    QCOMPARE(BitbucketClient::slug(QStringLiteral("My Site")), QStringLiteral("my-site"));
    QCOMPARE(errorOf(client.authenticatedUser(QStringLiteral("app-pass"))),
             QStringLiteral("Bitbucket app passwords need your username too."));
    QCOMPARE(api.requests().size(), 1);
    api.clear();
    QCOMPARE(halvik::waitFor(client.authenticatedUser(QStringLiteral("app-pass"), QStringLiteral(" dev "))),
             QStringLiteral("dev"));
    QCOMPARE(api.requests().size(), 2);
    QCOMPARE(api.requests().at(0).header("authorization"), QByteArray("Bearer app-pass"));
    QCOMPARE(api.requests().at(1).header("authorization"), basic);
    QCOMPARE(errorOf(client.authenticatedUser(QStringLiteral("wrong"), QStringLiteral("dev"))),
             QStringLiteral("Bitbucket rejected the token."));

    api.clear();
    const auto repo = halvik::waitFor(client.createRepository(
        QStringLiteral("My Site"), true, QStringLiteral("app-pass"), QStringLiteral("dev")));
    QCOMPARE(repo.cloneURL, QStringLiteral("https://dev@bitbucket.org/dev/my-site.git"));
    QCOMPARE(repo.htmlURL, QStringLiteral("https://bitbucket.org/dev/my-site"));
    const Request post = api.requests().last();
    QCOMPARE(post.method, QByteArray("POST"));
    QCOMPARE(post.path, QStringLiteral("/2.0/repositories/dev/my-site"));
    QCOMPARE(post.header("authorization"), basic);
    QCOMPARE(post.json().value(QStringLiteral("scm")).toString(), QStringLiteral("git"));
    QCOMPARE(post.json().value(QStringLiteral("is_private")).toBool(), true);
    QCOMPARE(post.json().value(QStringLiteral("name")).toString(), QStringLiteral("My Site"));

    // An API token keeps Bearer; without clone links the URL is built on the web host.
    api.setHandler([](const Request& r) {
        if (r.header("authorization") != "Bearer api-token")
            return Response::json(401, "{}");
        if (r.path == QLatin1String("/2.0/user"))
            return Response::json(200, "{\"username\":\"dev\"}");
        return Response::json(200, "{\"full_name\":\"dev/other\"}");
    });
    const auto other = halvik::waitFor(client.createRepository(
        QStringLiteral("Other"), false, QStringLiteral("api-token"), QStringLiteral("dev")));
    QCOMPARE(other.cloneURL, QStringLiteral("https://bb.example/dev/other.git"));
    QCOMPARE(api.requests().last().header("authorization"), QByteArray("Bearer api-token"));

    api.setHandler([](const Request& r) {
        return r.path == QLatin1String("/2.0/user") ? Response::json(200, "{\"username\":\"dev\"}")
                                                    : Response::json(500, "server trouble");
    });
    QCOMPARE(errorOf(client.createRepository(QStringLiteral("Other"), false, QStringLiteral("api-token"))),
             QStringLiteral("Bitbucket error 500: server trouble"));
}

void AccountsTest::githubCLI()
{
    QTemporaryDir dir;
    const QString gh = dir.filePath(QStringLiteral("bin/gh"));
    const QString brew = dir.filePath(QStringLiteral("brew/brew"));
    const QString log = dir.filePath(QStringLiteral("log"));
    const QString state = dir.filePath(QStringLiteral("signed-in"));
    const QByteArray ghBody = "echo \"gh $* prompt=$GH_PROMPT_DISABLED\" >> '" + log.toUtf8() +
                              "'\n"
                              "if [ \"$1 $2\" = 'auth token' ]; then\n"
                              "  if [ -f '" +
                              state.toUtf8() +
                              "' ]; then echo gho_cli; exit 0; fi\n"
                              "  echo 'no oauth token' >&2; exit 1\n"
                              "fi\n"
                              "if [ \"$1 $2\" = 'auth login' ]; then touch '" +
                              state.toUtf8() +
                              "'; exit 0; fi\n"
                              "exit 2\n";
    ProcessRunner runner;
    GitHubCLI cli(runner);
    cli.setCandidates({gh}, false);
    cli.setBrewCandidates({brew});

    QVERIFY(!cli.cliPath());
    QCOMPARE(errorOf(cli.login()),
             QStringLiteral("The GitHub CLI isn’t installed. Halvik can install it with Homebrew, or paste a "
                            "personal access token."));
    QCOMPARE(
        errorOf(cli.install()),
        QStringLiteral("Homebrew isn’t installed. Install the GitHub CLI with your package manager (sudo apt "
                       "install gh), or paste a personal access token."));

    writeScript(brew, "echo \"brew $* $HOMEBREW_NO_AUTO_UPDATE$NONINTERACTIVE\" >> '" + log.toUtf8() +
                          "'\nexit 1\n");
    QCOMPARE(errorOf(cli.install()), QStringLiteral("Couldn’t install GitHub CLI."));
    writeScript(brew, "mkdir -p '" + QFileInfo(gh).path().toUtf8() + "'\ncat > '" + gh.toUtf8() +
                          "' <<'SCRIPT'\n#!/bin/sh\n" + ghBody + "SCRIPT\nchmod +x '" + gh.toUtf8() +
                          "'\necho installed\n");
    halvik::waitFor(cli.install());
    QCOMPARE(cli.cliPath(), std::optional<QString>(gh));

    QCOMPARE(errorOf(cli.token()),
             QStringLiteral("Not signed in to GitHub. Sign in with your GitHub account."));
    QCOMPARE(halvik::waitFor(cli.login()), QStringLiteral("gho_cli"));
    const QStringList lines = readText(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), QStringLiteral("brew install gh 11"));
    QVERIFY(lines.contains(
        QStringLiteral("gh auth login --hostname github.com --git-protocol https --web --scopes "
                       "repo,workflow,read:packages prompt=1")));
    QVERIFY(lines.contains(QStringLiteral("gh auth token --hostname github.com prompt=1")));
}

void AccountsTest::originClient()
{
    QCOMPARE(
        OriginClient::parseLogin(QStringLiteral("origin.cursor.com\n  ✓ Logged in as @dev.user (keyring)\n")),
        QStringLiteral("dev.user"));
    QCOMPARE(OriginClient::parseLogin(QStringLiteral("Account:\nsomeone\n")), QStringLiteral("Account:"));
    QCOMPARE(errorOf([]() -> QCoro::Task<> {
                 OriginClient::parseLogin(QStringLiteral("You are not logged in. Run origin auth login"));
                 co_return;
             }()),
             QStringLiteral("Not signed in to Cursor Origin. Sign in with your Cursor account."));
    QCOMPARE(errorOf([]() -> QCoro::Task<> {
                 OriginClient::parseLogin(QStringLiteral("a long sentence with blanks only\n"));
                 co_return;
             }()),
             QStringLiteral("Couldn’t read Origin login."));

    const ScopedEnv host("HALVIK_ORIGIN_HOST", QStringLiteral("origin.test"));
    const ScopedEnv web("HALVIK_CURSOR_WEB_ROOT", QStringLiteral("https://cursor.test/"));
    QTemporaryDir dir;
    const QString origin = dir.filePath(QStringLiteral("origin"));
    const QString log = dir.filePath(QStringLiteral("log"));
    ProcessRunner runner;
    OriginClient client(runner);
    client.setCandidates({origin});
    QCOMPARE(
        errorOf(client.createRepository(QStringLiteral("site"))),
        QStringLiteral("The Origin CLI isn’t installed. Halvik can install it from Cursor’s Origin download "
                       "site."));
    writeScript(origin,
                "echo \"$*\" >> '" + log.toUtf8() +
                    "'\n"
                    "case \"$*\" in\n"
                    "  'repo create site') echo 'Created https://origin.test/acme/site.git';;\n"
                    "  'repo create quiet') echo 'done';;\n"
                    "  'repo view quiet --json org,name') echo '{\"owner\":\"team\",\"name\":\"quiet\"}';;\n"
                    "  'repo create broken') exit 3;;\n"
                    "  'auth status') echo 'Logged in as dev';;\n"
                    "  *) exit 0;;\n"
                    "esac\n");
    const auto repo = halvik::waitFor(client.createRepository(QStringLiteral(" site ")));
    QCOMPARE(repo, (GitRemoteRepository{QStringLiteral("site"), QStringLiteral("acme/site"),
                                        QStringLiteral("https://origin.test/acme/site.git"),
                                        QStringLiteral("https://cursor.test/codebase/acme/site")}));
    QCOMPARE(halvik::waitFor(client.createRepository(QStringLiteral("quiet"))).fullName,
             QStringLiteral("team/quiet"));
    QCOMPARE(errorOf(client.createRepository(QStringLiteral("broken"))),
             QStringLiteral("Couldn’t create the Origin repo."));
    QCOMPARE(errorOf(client.createRepository(QStringLiteral("  "))),
             QStringLiteral("Repository name is empty."));
    QCOMPARE(halvik::waitFor(client.login()), QStringLiteral("dev"));
    QVERIFY(readText(log).contains(QStringLiteral("auth login\nauth setup-git\nauth status\n")));
}

void AccountsTest::connectStoresTokenWhereItBelongs()
{
    FakeApiServer api([](const Request& r) {
        if (r.header("authorization") == "Bearer ghp_good")
            return Response::json(200, "{\"login\":\"octo\"}");
        return Response::json(401, "{}");
    });
    QVERIFY(api.start());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root());
    QTemporaryDir dir;
    SecretStore secrets(dir.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, dir.path());
    ProcessRunner runner;
    SourceControlService service(store, secrets, runner);
    QFile::remove(SourceControlService::composerAuthPath());

    // A token that fails verification changes nothing.
    QCOMPARE(errorOf(service.connect(SourceControlProvider::github, QStringLiteral("ghp_bad"))),
             QStringLiteral("GitHub rejected the token."));
    QVERIFY(!secrets.get(QStringLiteral("sourceControl.github")));
    QVERIFY(store.sourceControlAccounts().isEmpty());
    QVERIFY(!QFile::exists(SourceControlService::composerAuthPath()));

    halvik::waitFor(service.connect(SourceControlProvider::github, QStringLiteral("ghp_good")));
    QCOMPARE(store.sourceControlAccount(SourceControlProvider::github)->login, QStringLiteral("octo"));
    for (const char* key : {"sourceControl.github", "github.default", "composer.github"})
        QCOMPARE(secrets.get(QLatin1String(key)), std::optional<QString>(QStringLiteral("ghp_good")));
    QCOMPARE(readText(SourceControlService::composerAuthPath()),
             QStringLiteral("{\n    \"github-oauth\": {\n        \"github.com\": \"ghp_good\"\n    }\n}"));
    QCOMPARE(QFile::permissions(SourceControlService::composerAuthPath()),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser);

    service.disconnect(SourceControlProvider::github);
    QVERIFY(store.sourceControlAccounts().isEmpty());
    for (const char* key : {"sourceControl.github", "github.default", "composer.github"})
        QVERIFY(!secrets.get(QLatin1String(key)));

    // A legacy copy left by an older version is connected at start-up, once.
    secrets.set(QStringLiteral("ghp_good"), QStringLiteral("composer.github"));
    halvik::waitFor(service.migrateLegacyGitHubIfNeeded());
    QCOMPARE(store.sourceControlAccount(SourceControlProvider::github)->login, QStringLiteral("octo"));
    const auto requests = api.requests().size();
    halvik::waitFor(service.migrateLegacyGitHubIfNeeded());
    QCOMPARE(api.requests().size(), requests);
}

void AccountsTest::accountsThroughTheCLIs()
{
    FakeApiServer api([](const Request& r) {
        return r.header("authorization") == "Bearer gho_from_cli"
                   ? Response::json(200, "{\"login\":\"octo\"}")
                   : Response::json(401, "{}");
    });
    QVERIFY(api.start());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root());
    QTemporaryDir dir;
    SecretStore secrets(dir.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, dir.path());
    ProcessRunner runner;
    SourceControlService service(store, secrets, runner);
    const QString gh = dir.filePath(QStringLiteral("gh"));
    const QString origin = dir.filePath(QStringLiteral("origin"));
    const QString status = dir.filePath(QStringLiteral("status"));
    const QString log = dir.filePath(QStringLiteral("origin.log"));
    service.githubCLI().setCandidates({gh}, false);
    service.origin().setCandidates({origin});

    // Without the CLI, or with it signed out, nothing is imported.
    QVERIFY(!halvik::waitFor(service.importGitHubFromCLIIfAvailable()));
    writeScript(gh, "exit 1\n");
    QVERIFY(!halvik::waitFor(service.importGitHubFromCLIIfAvailable()));
    writeScript(gh, "echo gho_from_cli\n");
    QVERIFY(halvik::waitFor(service.importGitHubFromCLIIfAvailable()));
    QCOMPARE(store.sourceControlAccount(SourceControlProvider::github)->login, QStringLiteral("octo"));

    // Origin keeps no secret; its login follows `origin auth status`.
    writeScript(origin, "echo \"$*\" >> '" + log.toUtf8() + "'\ncat '" + status.toUtf8() + "'\n");
    QFile file(status);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Logged in as @dev.user\n");
    file.close();
    halvik::waitFor(service.connectOrigin());
    QCOMPARE(store.sourceControlAccount(SourceControlProvider::origin)->login, QStringLiteral("dev.user"));
    QVERIFY(!secrets.get(QStringLiteral("sourceControl.origin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("origin.cursor.com\n  You are not logged in.\n");
    file.close();
    halvik::waitFor(service.refreshOriginAccount());
    QVERIFY(!store.sourceControlAccount(SourceControlProvider::origin));

    QCOMPARE(errorOf(service.connect(SourceControlProvider::origin, QStringLiteral("ignored"))),
             QStringLiteral("Not signed in to Cursor Origin. Sign in with your Cursor account."));
    QVERIFY(!store.sourceControlAccount(SourceControlProvider::origin));
    service.disconnect(SourceControlProvider::origin);
    QTRY_VERIFY(readText(log).endsWith(QStringLiteral("auth logout\n")));
}

void AccountsTest::credentialEnvironment()
{
    const ScopedEnv web("HALVIK_GITHUB_WEB", QStringLiteral("http://127.0.0.1:4567/"));
    QCOMPARE(gitcore::GitHosts::githubHost(), QStringLiteral("127.0.0.1:4567"));
    QTemporaryDir dir;
    SecretStore secrets(dir.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, dir.path());
    ProcessRunner runner;
    SourceControlService service(store, secrets, runner);
    secrets.set(QStringLiteral("s3cret"), QStringLiteral("sourceControl.github"));

    const auto env = service.gitCredentialEnvironment(QStringLiteral("http://127.0.0.1:4567/o/r.git"));
    QCOMPARE(env.value(QStringLiteral("GIT_ASKPASS")), SourceControlService::askpassPath());
    QVERIFY(!readText(SourceControlService::askpassPath()).contains(QStringLiteral("s3cret")));
    QCOMPARE(env.value(QStringLiteral("HALVIK_GIT_SECRET")), QStringLiteral("s3cret"));
    QCOMPARE(env.value(QStringLiteral("HALVIK_GIT_USERNAME")), QStringLiteral("x-access-token"));
    QCOMPARE(env.value(QStringLiteral("GIT_TERMINAL_PROMPT")), QStringLiteral("0"));
    // The token itself is in no value Git would log or pass on as an argument.
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        if (it.key() != QLatin1String("HALVIK_GIT_SECRET"))
            QVERIFY2(!it.value().contains(QStringLiteral("s3cret")), qPrintable(it.key()));
    // Another host, an SSH remote, or a provider without a token get nothing.
    QVERIFY(service.gitCredentialEnvironment(QStringLiteral("https://github.com/o/r.git")).isEmpty());
    QVERIFY(service.gitCredentialEnvironment(QStringLiteral("git@127.0.0.1:o/r.git")).isEmpty());
    QVERIFY(service.gitCredentialEnvironment(QStringLiteral("https://gitlab.com/o/r.git")).isEmpty());
}

void AccountsTest::createRemoteAndPushEndToEnd()
{
    GitSandbox box;
    GitSandbox::configureIdentity();
    const QString projects = box.path(QStringLiteral("served"));
    QDir().mkpath(projects);
    const QByteArray token = "ghp_e2e_token_5150";
    int accepted = 0;
    FakeApiServer gitServer(test::gitHttpBackend(projects, token, &accepted));
    QVERIFY(gitServer.start());
    // The API creates a bare repository that the Git server then serves.
    FakeApiServer api([&](const Request& r) {
        if (r.header("authorization") != "Bearer " + token)
            return Response::json(401, "{}");
        if (r.path == QLatin1String("/user"))
            return Response::json(200, "{\"login\":\"octo\"}");
        const QString name = r.json().value(QStringLiteral("name")).toString();
        box.git(projects, {QStringLiteral("init"), QStringLiteral("--bare"), QStringLiteral("-b"),
                           QStringLiteral("main"), QStringLiteral("octo/") + name + QStringLiteral(".git")});
        const QString clone = gitServer.root() + QStringLiteral("/octo/") + name + QStringLiteral(".git");
        return Response::json(
            201, QStringLiteral("{\"full_name\":\"octo/%1\",\"clone_url\":\"%2\",\"html_url\":\"%3\"}")
                     .arg(name, clone, gitServer.root() + QStringLiteral("/octo/") + name)
                     .toUtf8());
    });
    QVERIFY(api.start());
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", gitServer.root());

    const QString repo =
        box.makeRepo(QStringLiteral("site"), {{QStringLiteral("index.php"), "<?php echo 1;\n"}});
    SecretStore secrets(box.path(QStringLiteral("secrets.json")));
    SiteStore store(secrets, box.path(QStringLiteral("store")));
    ProcessRunner runner;
    GitService git(runner);
    SourceControlService accounts(store, secrets, runner);
    git.setCredentialSource(
        [&accounts](const QString& url) { return accounts.gitCredentialEnvironment(url); });
    FakePrompts prompts;
    const SitePtr site = std::make_shared<Site>(QStringLiteral("site"), repo);
    {
        GitWorkspace workspace(git, store, prompts, site);
        workspace.setRemoteCreator(&accounts.remoteCreator());
        halvik::waitFor(accounts.connect(SourceControlProvider::github, QString::fromUtf8(token)));
        halvik::waitFor(workspace.createRemote(SourceControlProvider::github, QStringLiteral("site"),
                                               std::nullopt, true));
        QVERIFY2(!workspace.noticeFailed(), qPrintable(workspace.notice().value_or(QString())));
        QVERIFY(!workspace.isOperating());
    }
    QVERIFY(accepted > 0);
    const QString served = projects + QStringLiteral("/octo/site.git");
    QCOMPARE(box.git(served, {QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%s"),
                              QStringLiteral("main")})
                 .trimmed(),
             box.git(repo, {QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%s")})
                 .trimmed());
    const QString config = readText(repo + QStringLiteral("/.git/config"));
    QVERIFY(config.contains(gitServer.root() + QStringLiteral("/octo/site.git")));
    QVERIFY(!config.contains(QString::fromUtf8(token)));
    for (const auto& operation : site->operations())
        QVERIFY(!operation->command().contains(QString::fromUtf8(token)) &&
                !operation->log().contains(QString::fromUtf8(token)));

    // The server really demands the token: without the account the same push is refused.
    accounts.disconnect(SourceControlProvider::github);
    box.write(repo, QStringLiteral("more.txt"), "more\n");
    box.commitAll(repo, QStringLiteral("More"));
    QCOMPARE(errorOf(git.push(site)).isEmpty(), false);
    QVERIFY(errorOf(git.push(site)) != QLatin1String("(no error)"));
}

namespace {

struct CliRun
{
    int exitCode = -1;
    QString output; // standard output and error
};

// Runs the halvik command line while this process keeps serving the fakes.
CliRun runHalvik(const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(halvik::test::halvikBinary(), args);
    process.write(input);
    process.closeWriteChannel();
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 120000))
        process.kill();
    process.waitForFinished(5000);
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

} // namespace

void AccountsTest::canaryTokenStaysWhereItBelongs()
{
    GitSandbox box;
    GitSandbox::configureIdentity();
    const QString projects = box.path(QStringLiteral("served"));
    QDir().mkpath(projects);
    const QByteArray canary = "ghp_CANARY_0d9f3a7c41";
    int accepted = 0;
    FakeApiServer gitServer(test::gitHttpBackend(projects, canary, &accepted));
    QVERIFY(gitServer.start());
    FakeApiServer api([&](const Request& r) {
        if (r.header("authorization") != "Bearer " + canary)
            return Response::json(401, "{}");
        if (r.path == QLatin1String("/user"))
            return Response::json(200, "{\"login\":\"octo\"}");
        box.git(projects, {QStringLiteral("init"), QStringLiteral("--bare"), QStringLiteral("-b"),
                           QStringLiteral("main"), QStringLiteral("octo/canary.git")});
        const QString clone = gitServer.root() + QStringLiteral("/octo/canary.git");
        return Response::json(
            201, QStringLiteral("{\"full_name\":\"octo/canary\",\"clone_url\":\"%1\"}").arg(clone).toUtf8());
    });
    QVERIFY(api.start());
    const QString trace = box.path(QStringLiteral("git-trace.log"));
    const ScopedEnv apiRoot("HALVIK_GITHUB_API", api.root());
    const ScopedEnv webRoot("HALVIK_GITHUB_WEB", gitServer.root());
    const ScopedEnv gitTrace("GIT_TRACE", trace);
    const QString repo =
        box.makeRepo(QStringLiteral("canary-site"), {{QStringLiteral("composer.json"), "{}\n"}});

    QStringList outputs;
    const auto step = [&outputs](const QStringList& args, const QByteArray& input = {}) {
        const CliRun run = runHalvik(args, input);
        outputs << run.output;
        return run;
    };
    const CliRun imported = step({QStringLiteral("import"), repo});
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.output));
    // A token given on the command line itself is refused: there is no such option.
    QCOMPARE(step({QStringLiteral("accounts"), QStringLiteral("connect"), QStringLiteral("github"),
                   QStringLiteral("--token"), QString::fromUtf8(canary)})
                 .exitCode,
             2);
    outputs.removeLast(); // that output echoes the refused argument back, as any usage error would
    const CliRun wrong = step({QStringLiteral("accounts"), QStringLiteral("connect"),
                               QStringLiteral("github"), QStringLiteral("--token-stdin")},
                              "not-the-token\n");
    QCOMPARE(wrong.exitCode, 1);
    QVERIFY2(wrong.output.contains(QStringLiteral("GitHub rejected the token.")), qPrintable(wrong.output));
    const CliRun connected = step({QStringLiteral("accounts"), QStringLiteral("connect"),
                                   QStringLiteral("github"), QStringLiteral("--token-stdin")},
                                  canary + "\n");
    QCOMPARE(connected.exitCode, 0);
    QVERIFY2(connected.output.contains(QStringLiteral("Connected to GitHub as @octo")),
             qPrintable(connected.output));
    const CliRun listed = step({QStringLiteral("accounts"), QStringLiteral("--json")});
    QVERIFY(listed.output.contains(QStringLiteral("\"login\": \"octo\"")));
    const CliRun created =
        step({QStringLiteral("git"), QStringLiteral("create-remote"), QStringLiteral("canary-site"),
              QStringLiteral("--provider"), QStringLiteral("github"), QStringLiteral("--name"),
              QStringLiteral("canary")});
    QVERIFY2(created.exitCode == 0, qPrintable(created.output));
    QVERIFY(accepted > 0);
    QCOMPARE(box.git(projects + QStringLiteral("/octo/canary.git"),
                     {QStringLiteral("rev-parse"), QStringLiteral("main")}),
             box.git(repo, {QStringLiteral("rev-parse"), QStringLiteral("HEAD")}));
    step({QStringLiteral("git"), QStringLiteral("status"), QStringLiteral("canary-site"),
          QStringLiteral("--json")});

    // Where the token belongs...
    const QString data =
        QFileInfo(SourceControlService::composerAuthPath()).absolutePath() + QStringLiteral("/..");
    const QString secretsFile = QDir(data).absoluteFilePath(QStringLiteral("secrets.json"));
    QVERIFY(readText(secretsFile).contains(QString::fromUtf8(canary)));
    QVERIFY(readText(SourceControlService::composerAuthPath()).contains(QString::fromUtf8(canary)));
    // ...and nowhere else: the application folder (store, logs, operation histories), the
    // repository's Git folder, every command's output and every command line Git ran.
    QStringList searched;
    int hits = 0;
    const auto search = [&](const QString& path, const QString& text) {
        searched << path;
        if (text.contains(QString::fromUtf8(canary))) {
            ++hits;
            qWarning() << "token found in" << path;
        }
    };
    for (QDirIterator it(QDir(data).absolutePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = QFileInfo(it.next()).canonicalFilePath();
        if (path == QFileInfo(secretsFile).canonicalFilePath() ||
            path == QFileInfo(SourceControlService::composerAuthPath()).canonicalFilePath())
            continue;
        search(path, readText(path));
    }
    for (QDirIterator it(repo + QStringLiteral("/.git"), QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        if (!path.contains(QStringLiteral("/objects/")))
            search(path, readText(path));
    }
    for (const QString& output : std::as_const(outputs))
        search(QStringLiteral("command output"), output);
    const QString traced = readText(trace);
    QVERIFY(traced.contains(QStringLiteral("git-remote-http")));
    search(trace, traced);
    QVERIFY(searched.size() > 10);
    QVERIFY(searched.join(QLatin1Char(' ')).contains(QStringLiteral("store.json")));
    QCOMPARE(hits, 0);
}

void AccountsTest::unreachableProvidersSayWhy()
{
    // Nothing listens on the discard port: the connection is refused before any answer.
    const QString closed = QStringLiteral("http://127.0.0.1:9");
    const ScopedEnv github("HALVIK_GITHUB_API", closed);
    const ScopedEnv gitlab("HALVIK_GITLAB_URL", closed);
    const ScopedEnv bitbucket("HALVIK_BITBUCKET_API", closed);
    const QList<QPair<QString, QString>> failures{
        {errorOf(GitHubClient().authenticatedUser(QStringLiteral("t"))), QStringLiteral("GitHub")},
        {errorOf(GitLabClient().authenticatedUser(QStringLiteral("t"))), QStringLiteral("GitLab")},
        {errorOf(BitbucketClient().authenticatedUser(QStringLiteral("t"), QStringLiteral("dev"))),
         QStringLiteral("Bitbucket")}};
    for (const auto& [sentence, provider] : failures) {
        QVERIFY2(sentence.startsWith(provider + QStringLiteral(" could not be reached: ")),
                 qPrintable(sentence));
        QVERIFY2(sentence.contains(QLatin1String("refused"), Qt::CaseInsensitive), qPrintable(sentence));
        QVERIFY2(!sentence.contains(QLatin1String("error 0")), qPrintable(sentence));
    }
}

// At quit the network manager goes with its replies still waiting: every request must end then,
// or its caller waits for ever (and holds what it owns).
void AccountsTest::aRequestOutlivedByItsManagerEnds()
{
    halvik::test::FakeApiServer slow([](const halvik::test::FakeApiServer::Request&) {
        return halvik::test::FakeApiServer::Response::json(200, "{}");
    });
    QVERIFY(slow.start());
    slow.setDelay(30000);
    auto manager = std::make_unique<QNetworkAccessManager>();
    bool ended = false;
    QString outcome;
    const auto observe = [&](QCoro::Task<HttpAnswer> request) -> QCoro::Task<> {
        try {
            co_await std::move(request);
            outcome = QStringLiteral("answered");
        } catch (const CancelledError&) {
            outcome = QStringLiteral("cancelled");
        }
        ended = true;
    };
    QCoro::Task<> watching = observe(
        sendHttp(*manager, "GET", QUrl(slow.root() + "/user"), {}, std::nullopt, std::chrono::seconds(60)));
    QTRY_COMPARE(slow.requests().size(), 1);
    QVERIFY(!ended);
    manager.reset();
    QTRY_VERIFY(ended);
    QCOMPARE(outcome, QString("cancelled"));
}

HALVIK_TEST_MAIN(AccountsTest)
#include "tst_accounts.moc"
