#include "CloudRig.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace halvik::test {

namespace {

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

CloudRig::CloudRig()
{
    QVERIFY(cloud.start());
    cloudURL = std::make_unique<ScopedEnv>("HALVIK_CLOUD_URL", cloud.root());
    LaravelCloudClient::Timing timing;
    timing.sleep = [this](std::chrono::milliseconds duration, CancellationToken cancel) -> QCoro::Task<> {
        sleeps << duration;
        cancel.throwIfCancelled();
        co_return;
    };
    client.setTiming(timing);
    LaravelCloudClient& cloudClient = client;
    rig.hosts.setVerifier(HostProviderKind::laravelCloud,
                          [&cloudClient](QString token) { return cloudClient.verify(token); });
    rig.deploys.attachCloud(client, &composer);
}

CloudRig::~CloudRig()
{
    rig.deploys.stopAll();
}

HostAccountPtr CloudRig::connect(bool github)
{
    if (github)
        halvik::waitFor(rig.sourceControl.connect(SourceControlProvider::github,
                                                  QString::fromLatin1(ForgeRig::githubToken)));
    return rig.hosts.persistCloudSignIns({CloudSignIn{cloud.organization, QString::fromLatin1(cloudToken)}})
        .first();
}

CloudDeployPlan CloudRig::plan(const HostAccountPtr& host, const QString& name) const
{
    CloudDeployPlan plan;
    plan.host = host;
    plan.applicationName = name;
    plan.repositoryName = name;
    return plan;
}

SitePtr CloudRig::addSiteOnGitHub(const QString& name)
{
    const QString folder = rig.box.path(name);
    QDir().mkpath(folder);
    write(folder + QStringLiteral("/index.php"), "<?php echo 'hi';\n");
    const SitePtr site = rig.addSite(name, folder);
    site->setGithubRepo(QStringLiteral("octo/") + name);
    return site;
}

void CloudRig::makeDatabaseMode(const QString& folder)
{
    write(folder + QStringLiteral("/vendor/composer/installed.json"),
          R"({"packages":[{"name":"quillmar/eloquent-driver","version":"4.0.0"}]})");
    write(folder + QStringLiteral("/config/quillmar/eloquent-driver.php"),
          "<?php return ['driver' => 'eloquent'];\n");
    write(folder + QStringLiteral("/config/database.php"),
          "<?php return ['connections' => [\n"
          "  'mysql' => ['options' => extension_loaded('pdo_mysql') ? array_filter([\n"
          "      PDO::MYSQL_ATTR_SSL_CA => env('MYSQL_ATTR_SSL_CA'),\n"
          "  ]) : []],\n"
          "  'mariadb' => ['options' => extension_loaded('pdo_mysql') ? array_filter([\n"
          "      PDO::MYSQL_ATTR_SSL_CA => env('MYSQL_ATTR_SSL_CA'),\n"
          "  ]) : []],\n"
          "]];\n");
}

} // namespace halvik::test
