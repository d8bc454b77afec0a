#include "ForgeRig.h"
#include "TestMain.h"

#include "async/Sleep.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>

using namespace halvik;
using halvik::test::FakeForge;
using halvik::test::ForgeRig;

namespace {

QString errorOf(QCoro::Task<> task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

template <typename T> QString errorOf(QCoro::Task<T> task)
{
    try {
        halvik::waitFor(std::move(task));
    } catch (const HalvikError& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

QVariantMap bodyOf(const std::optional<FakeForge::Request>& request)
{
    return request ? request->json() : QVariantMap{{QStringLiteral("missing"), true}};
}

// The script Forge must run, as a person would write it out.
const char* const kScript =
    "cd $FORGE_SITE_PATH\n"
    "git pull origin main\n"
    "\n"
    "$FORGE_COMPOSER install --no-interaction --prefer-dist --optimize-autoloader --no-dev\n"
    "\n"
    "( flock -w 10 9 || exit 1\n"
    "    echo 'Reloading PHP...'\n"
    "    sudo -S service $FORGE_PHP_FPM reload ) 9>/tmp/fpmlock\n"
    "\n"
    "if [ -f artisan ]; then\n"
    "    $FORGE_PHP artisan migrate --force\n"
    "    $FORGE_PHP keffin cache:clear\n"
    "    $FORGE_PHP keffin tarnel:warm || true\n"
    "fi";

} // namespace

class ForgeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clientSpeaksForgesApiAndExplainsItsFailures();
    void hostAccountsKeepOneAccountPerLabelAndTheTokenOnlyInSecrets();
    void firstDeployFromAFolderWithoutGitSendsEverythingInOrder();
    void followingEndsOnFinishFailureOrThePollLimit();
    void existingRepositoriesAreDeployedFromGitHubsMain();
    void stoppingCancelsBeforeTheTriggerAndOnlyStopsWatchingAfter();
    void deployNowTellsOfCommitsNotOnGitHub();
};

void ForgeTest::clientSpeaksForgesApiAndExplainsItsFailures()
{
    FakeForge forge("tok");
    QVERIFY(forge.start());
    const test::ScopedEnv url("HALVIK_FORGE_URL", forge.root());
    ForgeClient client;
    forge.servers = QJsonArray{FakeForge::server(7, QStringLiteral("alpha")),
                               QJsonObject{{QStringLiteral("name"), QStringLiteral("no id")}},
                               QJsonObject{{QStringLiteral("id"), 9}}};

    QCOMPARE(halvik::waitFor(client.verify(QStringLiteral("tok"))), QStringLiteral("Taylor"));
    const auto sent = forge.requests().last();
    QCOMPARE(sent.path, QStringLiteral("/api/v1/user"));
    QCOMPARE(sent.header("authorization"), QByteArray("Bearer tok"));
    QCOMPARE(sent.header("accept"), QByteArray("application/json"));
    QCOMPARE(sent.header("content-type"), QByteArray("application/json"));
    forge.userName.clear();
    QCOMPARE(halvik::waitFor(client.verify(QStringLiteral("tok"))), QStringLiteral("taylor@example.com"));

    // Servers missing an id or a name are skipped; the fields are read under Forge's names.
    const auto servers = halvik::waitFor(client.servers(QStringLiteral("tok")));
    QCOMPARE(servers.size(), 1);
    QCOMPARE(servers.first().id, 7);
    QCOMPARE(servers.first().ipAddress, QStringLiteral("203.0.113.7"));
    QCOMPARE(servers.first().phpVersion, QStringLiteral("php83"));
    QVERIFY(servers.first().isReady);

    // The site body carries exactly the four fields when no PHP version is asked for.
    const auto site = halvik::waitFor(client.createSite(
        7, QStringLiteral("shop.com"), QStringLiteral("/public"), std::nullopt, QStringLiteral("tok")));
    QCOMPARE(site.id, 501);
    QCOMPARE(site.status, QStringLiteral("installing"));
    const QVariantMap body = bodyOf(forge.find("POST", QStringLiteral("servers/7/sites")));
    QCOMPARE(body.keys(), (QStringList{QStringLiteral("directory"), QStringLiteral("domain"),
                                       QStringLiteral("isolated"), QStringLiteral("project_type")}));
    QCOMPARE(body.value(QStringLiteral("isolated")), QVariant(false));
    QCOMPARE(body.value(QStringLiteral("project_type")), QVariant(QStringLiteral("php")));

    // Failures, each as the one sentence a person reads.
    QCOMPARE(errorOf(client.user(QStringLiteral("wrong"))), QStringLiteral("Forge rejected the API token."));
    using Response = FakeForge::Response;
    const auto answerWith = [&forge](Response response) {
        forge.override = [response](const FakeForge::Request&) { return std::optional<Response>(response); };
    };
    answerWith(Response::json(
        422,
        R"({"message":"The given data was invalid.","errors":{"domain":["The domain has already been taken.","x"]}})"));
    QCOMPARE(
        errorOf(client.createSite(7, QStringLiteral("shop.com"), QStringLiteral("/public"), std::nullopt,
                                  QStringLiteral("tok"))),
        QStringLiteral("Forge error 422: The given data was invalid. The domain has already been taken."));
    answerWith(Response::json(500, "  " + QByteArray(400, 'e') + "  "));
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge error 500: ") + QString(300, u'e'));
    answerWith(FakeForge::webPage(503));
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge error 503: Forge returned a web page instead of the API."));
    answerWith(FakeForge::webPage(200));
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge error 200: Forge returned a web page instead of the API."));
    answerWith(Response::json(200, "[1,2]"));
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge error 200: Unexpected answer from Forge."));
    answerWith(Response::json(200, "{}"));
    QCOMPARE(errorOf(client.createSite(7, QStringLiteral("a.com"), QStringLiteral("/public"), std::nullopt,
                                       QStringLiteral("tok"))),
             QStringLiteral("Forge error 200: Missing site in response"));
    // An empty success is an empty object, not a failure.
    answerWith(Response::json(200, ""));
    QCOMPARE(errorOf(client.deploy(7, 501, QStringLiteral("tok"))), QStringLiteral("(no error)"));
    QVERIFY(halvik::waitFor(client.servers(QStringLiteral("tok"))).isEmpty());

    // A slow answer can be abandoned: the request ends at once, as cancelled.
    forge.override = {};
    forge.server().setDelay(5000);
    CancellationSource cancel;
    QTimer::singleShot(100, [&cancel] { cancel.cancel(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(errorOf(client.deploy(7, 501, QStringLiteral("tok"), cancel.token())),
             QStringLiteral("Cancelled"));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

    // One that never comes ends at the time-out with what happened, not "error 0".
    client.setRequestTimeout(std::chrono::milliseconds(300));
    clock.restart();
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge could not be reached: No answer within a second."));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    // Nothing listening: the network's own reason.
    forge.server().setDelay(0);
    const test::ScopedEnv closed("HALVIK_FORGE_URL", QStringLiteral("http://127.0.0.1:9"));
    QCOMPARE(errorOf(client.servers(QStringLiteral("tok"))),
             QStringLiteral("Forge could not be reached: Connection refused."));
}

void ForgeTest::hostAccountsKeepOneAccountPerLabelAndTheTokenOnlyInSecrets()
{
    ForgeRig rig;
    QSignalSpy changed(&rig.hosts, &HostAccountService::accountsChanged);
    QCOMPARE(errorOf(rig.hosts.connect(HostProviderKind::forge, QStringLiteral("nope"))),
             QStringLiteral("Forge rejected the API token."));
    QVERIFY(rig.store.hosts().isEmpty());

    const HostAccountPtr host = rig.connect(false);
    QCOMPARE(host->label(), QStringLiteral("Taylor"));
    QVERIFY(host->lastVerifiedAt().has_value());
    QCOMPARE(rig.secrets.get(QStringLiteral("forge.") + uuidString(host->id())),
             QString::fromLatin1(ForgeRig::forgeToken));
    const SitePtr site = rig.addSite(QStringLiteral("Shop"), rig.box.path(QStringLiteral("shop")));
    site->setForgeHostId(host->id());

    // The same account under a new token, its name in another case: still one account.
    rig.forge.token = "forge-token-rotated";
    rig.forge.userName = QStringLiteral("TAYLOR");
    const HostAccountPtr again =
        halvik::waitFor(rig.hosts.connect(HostProviderKind::forge, QStringLiteral("forge-token-rotated")));
    QCOMPARE(again->id(), host->id());
    QCOMPARE(rig.store.hosts().size(), 1);
    QCOMPARE(rig.hosts.token(*host), QStringLiteral("forge-token-rotated"));
    QCOMPARE(rig.hosts.sitesUsing(*host), QList<SitePtr>{site});
    // A second account of another name is added beside it.
    rig.forge.userName = QStringLiteral("Otis");
    const HostAccountPtr other =
        halvik::waitFor(rig.hosts.connect(HostProviderKind::forge, QStringLiteral("forge-token-rotated")));
    QVERIFY(other->id() != host->id());
    QCOMPARE(changed.count(), 3);

    // References: a label in any case, an id prefix, the provider only when it is unambiguous.
    QCOMPARE(rig.hosts.resolve(QStringLiteral("otis")), other);
    QCOMPARE(rig.hosts.resolve(uuidString(host->id()).left(8)), host);
    QVERIFY(errorOf([&]() -> QCoro::Task<> {
                rig.hosts.resolve(QStringLiteral("forge"));
                co_return;
            }())
                .startsWith(QStringLiteral("“forge” matches several host accounts")));

    rig.store.flush();
    QFile file(rig.store.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    QVERIFY(stored.contains("TAYLOR"));
    QVERIFY(!stored.contains("forge-token"));

    // Disconnecting forgets the token; the site keeps naming the account.
    rig.hosts.disconnect(host);
    QVERIFY(!rig.hosts.token(*host));
    QCOMPARE(rig.hosts.resolve(QStringLiteral("forge")), other);
    QCOMPARE(site->forgeHostId(), host->id());
}

void ForgeTest::firstDeployFromAFolderWithoutGitSendsEverythingInOrder()
{
    ForgeRig rig;
    const HostAccountPtr host = rig.connect();
    const QString folder = rig.box.path(QStringLiteral("shop"));
    QDir().mkpath(folder);
    const QByteArray env = "APP_NAME=Shop\nAPP_KEY=base64:abc=\n# ünïcode comment\n";
    rig.box.write(folder, QStringLiteral(".env"), env);
    rig.box.write(folder, QStringLiteral("index.php"), "<?php echo 'shop';\n");
    const SitePtr site = rig.addSite(QStringLiteral("Shop"), folder);
    rig.forge.statuses = {QStringLiteral("queued"), QStringLiteral("deploying"), QStringLiteral("finished")};

    DeployJob* job = rig.deploys.startForge(site, rig.plan(host));
    QVERIFY(rig.waitFor(job));
    QVERIFY2(job->outcome() == DeployJob::Outcome::finished,
             qPrintable(job->errorMessage().value_or(QString())));

    QCOMPARE(rig.forge.calls(), (QStringList{
                                    QStringLiteral("GET user"),
                                    QStringLiteral("POST servers/11/sites"),
                                    QStringLiteral("POST servers/11/sites/501/git"),
                                    QStringLiteral("PUT servers/11/sites/501/deployment/script"),
                                    QStringLiteral("PUT servers/11/sites/501/env"),
                                    QStringLiteral("POST servers/11/sites/501/deployment"),
                                    QStringLiteral("POST servers/11/sites/501/certificates/letsencrypt"),
                                    QStringLiteral("POST servers/11/sites/501/deployment/deploy"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history/9001/output"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history/9001/output"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history"),
                                    QStringLiteral("GET servers/11/sites/501/deployment-history/9001/output"),
                                }));
    QCOMPARE(bodyOf(rig.forge.find("POST", QStringLiteral("servers/11/sites/501/git"))),
             (QVariantMap{{QStringLiteral("provider"), QStringLiteral("github")},
                          {QStringLiteral("repository"), QStringLiteral("octo/shop")},
                          {QStringLiteral("branch"), QStringLiteral("main")},
                          {QStringLiteral("composer"), true}}));
    QCOMPARE(bodyOf(rig.forge.find("PUT", QStringLiteral("servers/11/sites/501/deployment/script")))
                 .value(QStringLiteral("content"))
                 .toString()
                 .toUtf8(),
             QByteArray(kScript));
    QCOMPARE(bodyOf(rig.forge.find("PUT", QStringLiteral("servers/11/sites/501/env")))
                 .value(QStringLiteral("content"))
                 .toString()
                 .toUtf8(),
             env);
    QCOMPARE(bodyOf(rig.forge.find("POST", QStringLiteral("servers/11/sites/501/certificates/letsencrypt"))),
             (QVariantMap{{QStringLiteral("domains"), QVariantList{QStringLiteral("shop.com")}}}));

    // The first poll waits one interval after the trigger, then one between each.
    QCOMPARE(rig.sleeps, (QList<std::chrono::milliseconds>(3, std::chrono::milliseconds(3000))));

    // The code is on GitHub's main, .env left out of it.
    QCOMPARE(rig.box
                 .git(rig.github.bare(QStringLiteral("octo/shop")),
                      {QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%s"),
                       QStringLiteral("main")})
                 .trimmed(),
             QStringLiteral("Initial commit from Halvik"));
    const QString tree =
        rig.box.git(rig.github.bare(QStringLiteral("octo/shop")),
                    {QStringLiteral("ls-tree"), QStringLiteral("--name-only"), QStringLiteral("main")});
    QVERIFY(tree.contains(QStringLiteral("index.php")));
    QVERIFY(!tree.split(QLatin1Char('\n')).contains(QStringLiteral(".env")));

    // The site and its record.
    QCOMPARE(site->githubRepo(), QStringLiteral("octo/shop"));
    QCOMPARE(site->forgeServerId(), 11);
    QCOMPARE(site->forgeSiteId(), 501);
    QCOMPARE(site->forgeHostId(), host->id());
    const DeploymentPtr record = site->deployments().last();
    QCOMPARE(record->status(), QStringLiteral("finished"));
    QVERIFY(record->finishedAt());
    QCOMPARE(record->forgeDeploymentId(), 9001);
    QCOMPARE(record->providerRaw(), QStringLiteral("forge"));
    QCOMPARE(record->serverName(), QStringLiteral("web-1"));
    QCOMPARE(record->siteName(), QStringLiteral("shop.com"));
    const QStringList lines = record->log().split(QLatin1Char('\n'));
    QCOMPARE(
        lines.mid(0, 10),
        (QStringList{QStringLiteral("Creating GitHub repository…"), QStringLiteral("Pushing octo/shop…"),
                     QStringLiteral("Creating Forge site shop.com…"), QStringLiteral("Installing git repo…"),
                     QStringLiteral("Writing Quillmar deploy script…"), QStringLiteral("Syncing .env…"),
                     QStringLiteral("Enabling quick deploy…"), QStringLiteral("Requesting Let's Encrypt…"),
                     QStringLiteral("Triggering first deployment…"), QStringLiteral("Output:")}));
    // Forge's output replaced at each poll: six lines after three polls, never repeated.
    QCOMPARE(lines.mid(10).size(), 6);
    QCOMPARE(lines.last(), QStringLiteral("step 2 line 6"));
    QCOMPARE(rig.notices, QStringList{QStringLiteral("Deployed")});
    QCOMPARE(rig.notifications.badge(), QString());
}

void ForgeTest::followingEndsOnFinishFailureOrThePollLimit()
{
    ForgeRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSite(QStringLiteral("Linked"), rig.box.path(QStringLiteral("linked")));
    QDir().mkpath(site->path());
    site->setForgeServerId(11);
    site->setForgeSiteId(501);
    site->setForgeHostId(host->id());
    site->setGithubRepo(QStringLiteral("octo/linked"));
    const auto historyLooks = [&rig] {
        return rig.forge.calls().filter(QRegularExpression(QStringLiteral("deployment-history$"))).size();
    };

    rig.forge.statuses = {QStringLiteral("finished")};
    DeployJob* job = rig.deploys.startForge(site, rig.plan(host));
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    QCOMPARE(historyLooks(), 1);
    QCOMPARE(rig.forge.calls().first(), QStringLiteral("GET user"));
    QCOMPARE(rig.forge.calls().at(1), QStringLiteral("POST servers/11/sites/501/deployment/deploy"));

    // Never finishing: forty looks, then counted as deployed.
    rig.forge.server().clear();
    rig.forge.statuses = {QStringLiteral("deploying")};
    job = rig.deploys.startForge(site, rig.plan(host));
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    QCOMPARE(historyLooks(), 40);
    QCOMPARE(site->deployments().last()->status(), QStringLiteral("finished"));
    QCOMPARE(site->deployments().size(), 2);

    rig.forge.server().clear();
    rig.forge.statuses = {QStringLiteral("deploying"), QStringLiteral("failed")};
    job = rig.deploys.startForge(site, rig.plan(host));
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::failed);
    QCOMPARE(job->errorMessage(), QStringLiteral("Forge deployment failed."));
    QCOMPARE(historyLooks(), 2);
    QCOMPARE(site->deployments().last()->status(), QStringLiteral("failed"));
    QVERIFY(site->deployments().last()->log().endsWith(QStringLiteral("Forge deployment failed.")));
    QCOMPARE(rig.notices.last(), QStringLiteral("Deploy failed"));

    // The token revoked while Forge deploys.
    rig.forge.server().clear();
    rig.forge.statuses = {QStringLiteral("deploying")};
    const int looksBefore = rig.forge.historyLooks();
    rig.forge.override =
        [&rig, looksBefore](const FakeForge::Request& request) -> std::optional<FakeForge::Response> {
        if (rig.forge.historyLooks() > looksBefore &&
            request.path.endsWith(QLatin1String("deployment-history")))
            return FakeForge::Response::json(401, "{}");
        return std::nullopt;
    };
    job = rig.deploys.startForge(site, rig.plan(host));
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->errorMessage(), QStringLiteral("Forge rejected the API token."));
    QCOMPARE(site->deployments().last()->forgeDeploymentId(), rig.forge.nextDeploymentId - 1);

    // Without the token nothing starts.
    rig.forge.override = {};
    rig.hosts.disconnect(host);
    QCOMPARE(errorOf([&]() -> QCoro::Task<> {
                 rig.deploys.startForge(site, rig.plan(host));
                 co_return;
             }()),
             QStringLiteral("Connect Forge first."));
    QCOMPARE(site->deployments().size(), 4);
}

void ForgeTest::existingRepositoriesAreDeployedFromGitHubsMain()
{
    ForgeRig rig;
    const HostAccountPtr host = rig.connect();
    rig.forge.statuses = {QStringLiteral("finished")};

    // Commits on another branch, one change left uncommitted.
    const QString work = rig.box.makeRepo(QStringLiteral("work"), {{QStringLiteral("a.txt"), "a\n"}});
    rig.box.git(work, {QStringLiteral("switch"), QStringLiteral("-c"), QStringLiteral("feature")});
    rig.box.write(work, QStringLiteral("b.txt"), "b\n");
    rig.box.commitAll(work, QStringLiteral("Feature work"));
    rig.box.write(work, QStringLiteral("a.txt"), "changed\n");
    const SitePtr site = rig.addSite(QStringLiteral("Work"), work);
    DeployJob* job = rig.deploys.startForge(site, rig.plan(host, QStringLiteral("work")));
    QVERIFY(rig.waitFor(job));
    QVERIFY2(job->outcome() == DeployJob::Outcome::finished,
             qPrintable(job->errorMessage().value_or(QString())));
    QCOMPARE(rig.box.git(rig.github.bare(QStringLiteral("octo/work")),
                         {QStringLiteral("rev-parse"), QStringLiteral("main")}),
             rig.box.git(work, {QStringLiteral("rev-parse"), QStringLiteral("HEAD")}));
    QVERIFY(job->lines().contains(
        QStringLiteral("1 uncommitted change was left out; Forge deploys your commits.")));
    QCOMPARE(rig.box.git(work, {QStringLiteral("status"), QStringLiteral("--porcelain")}).trimmed(),
             QStringLiteral("M a.txt"));

    // An origin already on GitHub is used as it is: nothing is created there.
    rig.github.makeBare(QStringLiteral("octo/kept"));
    const QString kept = rig.box.makeRepo(QStringLiteral("kept"), {{QStringLiteral("k.txt"), "k\n"}});
    rig.box.git(kept, {QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"),
                       rig.github.cloneURL(QStringLiteral("octo/kept"))});
    const int createdBefore = rig.github.created();
    const SitePtr keptSite = rig.addSite(QStringLiteral("Kept"), kept);
    job = rig.deploys.startForge(keptSite, rig.plan(host, QStringLiteral("kept")));
    QVERIFY(rig.waitFor(job));
    QVERIFY2(job->outcome() == DeployJob::Outcome::finished,
             qPrintable(job->errorMessage().value_or(QString())));
    QCOMPARE(rig.github.created(), createdBefore);
    QCOMPARE(keptSite->githubRepo(), QStringLiteral("octo/kept"));
    QCOMPARE(rig.box.git(rig.github.bare(QStringLiteral("octo/kept")),
                         {QStringLiteral("rev-parse"), QStringLiteral("main")}),
             rig.box.git(kept, {QStringLiteral("rev-parse"), QStringLiteral("HEAD")}));

    // An origin elsewhere stops the run before anything exists anywhere.
    const QString elsewhere =
        rig.box.makeRepo(QStringLiteral("elsewhere"), {{QStringLiteral("e.txt"), "e\n"}});
    rig.box.git(elsewhere, {QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"),
                            QStringLiteral("https://gitlab.example.org/team/elsewhere.git")});
    rig.forge.server().clear();
    const SitePtr away = rig.addSite(QStringLiteral("Elsewhere"), elsewhere);
    job = rig.deploys.startForge(away, rig.plan(host, QStringLiteral("elsewhere")));
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->errorMessage(),
             QStringLiteral("This site’s origin isn’t on GitHub. Forge deploys from GitHub."));
    QVERIFY(rig.forge.calls().isEmpty());
    QCOMPARE(rig.github.created(), createdBefore);
    QVERIFY(!away->forgeSiteId());
}

void ForgeTest::stoppingCancelsBeforeTheTriggerAndOnlyStopsWatchingAfter()
{
    ForgeRig rig;
    const HostAccountPtr host = rig.connect(false);
    const SitePtr site = rig.addSite(QStringLiteral("Stop"), rig.box.path(QStringLiteral("stop")));
    QDir().mkpath(site->path());
    site->setGithubRepo(QStringLiteral("octo/stop"));

    // Stopped while Forge creates the site: the request ends and the record says so.
    rig.forge.server().setDelay(3000);
    DeployJob* job = rig.deploys.startForge(site, rig.plan(host));
    QTRY_VERIFY(!rig.forge.calls().filter(QStringLiteral("POST servers/11/sites")).isEmpty());
    QElapsedTimer clock;
    clock.start();
    rig.deploys.stop(site->id());
    QVERIFY(rig.waitFor(job));
    QVERIFY(clock.elapsed() < 2500);
    QCOMPARE(job->outcome(), DeployJob::Outcome::failed);
    QCOMPARE(job->errorMessage(), QStringLiteral("Cancelled."));
    QCOMPARE(site->deployments().last()->status(), QStringLiteral("failed"));
    QVERIFY(site->deployments().last()->finishedAt());
    QVERIFY(!site->forgeSiteId());
    rig.forge.server().setDelay(0);

    // Stopped after the trigger: only the watching ends; the next look completes the record.
    site->setForgeServerId(11);
    site->setForgeSiteId(501);
    site->setForgeHostId(host->id());
    rig.forge.statuses = {QStringLiteral("deploying"), QStringLiteral("finished")};
    ForgeDeployJob::Timing timing;
    timing.sleep = [](std::chrono::milliseconds, CancellationToken cancel) -> QCoro::Task<> {
        co_await sleepFor(std::chrono::milliseconds(20), cancel);
    };
    timing.interval = std::chrono::milliseconds(20);
    rig.deploys.setForgeTiming(timing);
    bool stopped = false;
    job = rig.deploys.startForge(site, rig.plan(host));
    QObject::connect(job, &DeployJob::providerStatusChanged, job, [&](const QString& status) {
        if (status == QLatin1String("deploying") && !stopped) {
            stopped = true;
            rig.deploys.stop(site->id());
        }
    });
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::watchStopped);
    const DeploymentPtr open = site->deployments().last();
    QVERIFY(!open->finishedAt());
    QCOMPARE(open->forgeDeploymentId(), 9001);
    QCOMPARE(rig.forge.historyLooks(), 1);
    QVERIFY(!rig.notices.contains(QStringLiteral("Deployed")));

    halvik::waitFor(rig.deploys.completeUnfinished(site));
    QCOMPARE(open->status(), QStringLiteral("finished"));
    QVERIFY(open->finishedAt());
    QVERIFY(rig.forge.find("GET", QStringLiteral("servers/11/sites/501/deployment-history/9001")));
    QVERIFY(open->log().startsWith(QStringLiteral("Triggering deployment…\nOutput:\nstep 0 line 1")));
    // The cancelled record is left as it was.
    QCOMPARE(site->deployments().first()->status(), QStringLiteral("failed"));
}

void ForgeTest::deployNowTellsOfCommitsNotOnGitHub()
{
    ForgeRig rig;
    const HostAccountPtr host = rig.connect();
    rig.forge.statuses = {QStringLiteral("finished")};
    rig.github.makeBare(QStringLiteral("octo/live"));
    const QString live = rig.box.makeRepo(QStringLiteral("live"), {{QStringLiteral("l.txt"), "l\n"}});
    rig.box.git(live, {QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"),
                       rig.github.cloneURL(QStringLiteral("octo/live"))});
    const SitePtr site = rig.addSite(QStringLiteral("Live"), live);
    DeployJob* first = rig.deploys.startForge(site, rig.plan(host, QStringLiteral("live")));
    QVERIFY(rig.waitFor(first));
    QCOMPARE(first->outcome(), DeployJob::Outcome::finished);
    QVERIFY(!first->lines().join(QLatin1Char('\n')).contains(QStringLiteral("aren’t on GitHub")));

    rig.box.write(live, QStringLiteral("m.txt"), "m\n");
    rig.box.commitAll(live, QStringLiteral("Two"));
    rig.box.write(live, QStringLiteral("n.txt"), "n\n");
    rig.box.commitAll(live, QStringLiteral("Three"));
    ForgeDeployPlan again;
    again.host = host;
    auto* job = rig.deploys.startForge(site, again);
    QVERIFY(job->isRedeploy());
    QVERIFY(rig.waitFor(job));
    QCOMPARE(job->outcome(), DeployJob::Outcome::finished);
    QCOMPARE(job->lines().first(),
             QStringLiteral("2 local commits aren’t on GitHub yet; Forge deploys what’s on GitHub."));
    QCOMPARE(site->deployments().size(), 2);
    QCOMPARE(site->deployments().last()->serverName(), QStringLiteral("web-1"));
    QCOMPARE(site->deployments().last()->siteName(), QStringLiteral("shop.com"));
    // Nothing was pushed for it.
    QVERIFY(rig.box.git(rig.github.bare(QStringLiteral("octo/live")),
                        {QStringLiteral("rev-parse"), QStringLiteral("main")}) !=
            rig.box.git(live, {QStringLiteral("rev-parse"), QStringLiteral("HEAD")}));
}

HALVIK_TEST_MAIN_CORE(ForgeTest)
#include "tst_forge.moc"
