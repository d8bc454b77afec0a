#include "ForgeRig.h"

#include <QTest>

namespace halvik::test {

ScopedEnv::ScopedEnv(const char* name, const QString& value)
    : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
{
    qputenv(name, value.toUtf8());
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

FakeGitHub::FakeGitHub(GitSandbox& box, QByteArray token)
    : m_box(box), m_token(std::move(token)), m_projects(box.path(QStringLiteral("served"))),
      m_git(gitHttpBackend(m_projects, m_token, &m_accepted))
{
    QDir().mkpath(m_projects);
    m_api.setHandler([this](const FakeApiServer::Request& r) {
        if (r.header("authorization") != "Bearer " + m_token)
            return FakeApiServer::Response::json(401, "{}");
        if (r.path == QLatin1String("/user"))
            return FakeApiServer::Response::json(200, "{\"login\":\"octo\"}");
        const QString name = r.json().value(QStringLiteral("name")).toString();
        const QString full = QStringLiteral("octo/") + name;
        makeBare(full);
        ++m_created;
        return FakeApiServer::Response::json(
            201,
            QStringLiteral("{\"full_name\":\"%1\",\"clone_url\":\"%2\"}").arg(full, cloneURL(full)).toUtf8());
    });
}

void FakeGitHub::makeBare(const QString& fullName) const
{
    m_box.git(m_projects, {QStringLiteral("init"), QStringLiteral("--bare"), QStringLiteral("-b"),
                           QStringLiteral("main"), fullName + QStringLiteral(".git")});
}

ForgeRig::ForgeRig()
    : secrets(box.path(QStringLiteral("secrets.json"))), store(secrets, box.path(QStringLiteral("store"))),
      git(runner), sourceControl(store, secrets, runner),
      notifications(std::make_unique<RecordingNotifier>(&notices)), hosts(store, secrets),
      deploys(client, hosts, git, sourceControl, store, notifications)
{
    GitSandbox::configureIdentity();
    QVERIFY(forge.start());
    QVERIFY(github.start());
    forge.servers = QJsonArray{FakeForge::server(11, QStringLiteral("web-1"))};
    forgeURL = std::make_unique<ScopedEnv>("HALVIK_FORGE_URL", forge.root());
    githubAPI = std::make_unique<ScopedEnv>("HALVIK_GITHUB_API", github.apiRoot());
    githubWeb = std::make_unique<ScopedEnv>("HALVIK_GITHUB_WEB", github.gitRoot());
    git.setCredentialSource(
        [this](const QString& url) { return sourceControl.gitCredentialEnvironment(url); });
    ForgeClient& forgeClient = client;
    hosts.setVerifier(HostProviderKind::forge,
                      [&forgeClient](QString token) { return forgeClient.verify(token); });
    ForgeDeployJob::Timing timing;
    timing.sleep = [this](std::chrono::milliseconds duration, CancellationToken cancel) -> QCoro::Task<> {
        sleeps << duration;
        cancel.throwIfCancelled();
        co_return;
    };
    deploys.setForgeTiming(timing);
}

ForgeRig::~ForgeRig()
{
    deploys.stopAll();
}

HostAccountPtr ForgeRig::connect(bool withGitHub)
{
    if (withGitHub)
        halvik::waitFor(
            sourceControl.connect(SourceControlProvider::github, QString::fromLatin1(githubToken)));
    return halvik::waitFor(hosts.connect(HostProviderKind::forge, QString::fromLatin1(forgeToken)));
}

SitePtr ForgeRig::addSite(const QString& name, const QString& folder)
{
    auto site = std::make_shared<Site>(name, folder);
    store.insertSite(site);
    return site;
}

bool ForgeRig::waitFor(DeployJob* job)
{
    return QTest::qWaitFor([job] { return job->isFinished(); }, 60000);
}

ForgeDeployPlan ForgeRig::plan(const HostAccountPtr& host, const QString& repository) const
{
    ForgeDeployPlan plan;
    plan.host = host;
    plan.serverID = 11;
    plan.serverName = QStringLiteral("web-1");
    plan.domain = QStringLiteral("shop.com");
    plan.repositoryName = repository;
    return plan;
}

} // namespace halvik::test
