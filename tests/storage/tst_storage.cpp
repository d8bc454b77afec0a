#include "CliRun.h"
#include "FakeBucket.h"
#include "FakeCloud.h"
#include "ForgeRig.h"
#include "MariaDbServer.h"
#include "PostgresServer.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "models/SecretStore.h"
#include "platform/FileLock.h"
#include "platform/ProcessProbe.h"
#include "services/ProcessRunner.h"
#include "services/composer/ComposerFiles.h"
#include "services/hosting/CloudStorageSession.h"
#include "services/hosting/LaravelCloudClient.h"
#include "views/accounts/AccountWidgets.h"
#include "views/deploy/CloudStorageSheet.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik;
using halvik::test::CliRun;
using halvik::test::FakeBucket;
using halvik::test::FakeCloud;
using halvik::test::PostgresServer;
using halvik::test::runHalvik;
using halvik::test::ScopedEnv;

namespace {

const char* kCloudToken = "cloud-token-storage-canary-4e1a";
const char* kBucketSecret = "bucket-secret-canary-3b9e";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file under `folder` with its bytes' digest and its mode: equal maps mean byte-identical.
QMap<QString, QString> snapshot(const QString& folder)
{
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(
            base.relativeFilePath(path),
            QString::fromLatin1(QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex()) +
                QLatin1Char(' ') + QString::number(int(QFileInfo(path).permissions()), 16));
    }
    return files;
}

// Files under `folder` whose text contains `needle`.
QStringList filesContaining(const QString& folder, const QByteArray& needle)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (readAll(path).contains(needle))
            found << path;
    }
    return found;
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

// A fixture site on Cloud, a PostgreSQL server, a bucket and the session's tools.
struct StorageRig
{
    StorageRig()
    {
        cloud.start();
        bucket.start();
        cloudURL = std::make_unique<ScopedEnv>("HALVIK_CLOUD_URL", cloud.root());
        client = std::make_unique<LaravelCloudClient>(&runner);
    }

    // A site of `entries` entries and `assets` asset files.
    QString makeSite(int entries, int assets, const QStringList& options = {})
    {
        return makeSite(QStringList{QStringLiteral("--entries"), QString::number(entries),
                                    QStringLiteral("--assets"), QString::number(assets)} +
                        options);
    }

    QString makeSite(const QStringList& options = {})
    {
        const QString path = dir.path() + QStringLiteral("/site");
        QProcess maker;
        maker.setProcessChannelMode(QProcess::MergedChannels);
        maker.start(test::fixturesDir() + QStringLiteral("/make-quillmar-site"), QStringList{path} + options);
        maker.waitForFinished(120000);
        if (maker.exitCode() != 0)
            return QString::fromUtf8(maker.readAll());
        site = std::make_shared<Site>(QStringLiteral("Shop"), path);
        const QString app = cloud.addApplication(QStringLiteral("shop"));
        site->setCloudAppId(app);
        site->setCloudEnvId(cloud.environmentOf(app));
        site->setCloudHostId(QUuid::createUuid());
        return {};
    }

    CloudStorageSession::Tools tools(const QString& php = QStringLiteral("/usr/bin/php"))
    {
        CloudStorageSession::Tools tools;
        tools.runner = &runner;
        tools.secrets = &secrets;
        tools.cloud = client.get();
        tools.cloudToken = [] { return std::optional<QString>(QString::fromLatin1(kCloudToken)); };
        tools.php = php;
        tools.composer = QStandardPaths::findExecutable(QStringLiteral("composer"));
        tools.setupsFolder = dir.path() + QStringLiteral("/Storage Setups");
        tools.workerScript = test::fixturesDir() + QStringLiteral("/../../resources/storage-worker.php");
        return tools;
    }

    CloudStoragePlan plan() const
    {
        CloudStoragePlan plan;
        CloudStoragePlan::Database database;
        database.host = QStringLiteral("127.0.0.1");
        database.port = postgres.port();
        database.name = PostgresServer::database();
        database.username = PostgresServer::user();
        database.password = PostgresServer::password();
        database.sslmode = QStringLiteral("disable");
        plan.database = database;
        CloudStoragePlan::Bucket b;
        b.endpoint = bucket.endpoint();
        b.name = bucket.bucket;
        b.key = bucket.key;
        b.secret = QString::fromLatin1(kBucketSecret);
        b.url = bucket.publicURL();
        plan.bucket = b;
        plan.repositories = {QStringLiteral("entries"), QStringLiteral("terms"), QStringLiteral("assets")};
        plan.users = true;
        plan.assets = true;
        plan.containers = {QStringLiteral("assets")};
        return plan;
    }

    std::unique_ptr<CloudStorageSession> session(const QString& php = QStringLiteral("/usr/bin/php"))
    {
        auto made = std::make_unique<CloudStorageSession>(site, tools(php));
        made->setPlan(plan());
        return made;
    }

    QTemporaryDir dir;
    PostgresServer postgres;
    FakeCloud cloud{kCloudToken};
    FakeBucket bucket{QStringLiteral("site-assets"), QStringLiteral("AKIAHALVIKTEST"), kBucketSecret};
    std::unique_ptr<ScopedEnv> cloudURL;
    ProcessRunner runner;
    SecretStore secrets{dir.path() + QStringLiteral("/secrets.json")};
    std::unique_ptr<LaravelCloudClient> client;
    SitePtr site;
};

// Puts the imported site on the Cloud account's application, as the deploy flow would.
bool linkToCloud(const QString& sitePath, const QString& hostID, const QString& app, const QString& env)
{
    const QString path = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Halvik/store.json");
    QJsonObject store = QJsonDocument::fromJson(readAll(path)).object();
    QJsonArray sites = store.value(QStringLiteral("sites")).toArray();
    bool found = false;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        QJsonObject site = sites.at(i).toObject();
        if (site.value(QStringLiteral("path")).toString() != sitePath)
            continue;
        site.insert(QStringLiteral("cloudAppId"), app);
        site.insert(QStringLiteral("cloudEnvId"), env);
        site.insert(QStringLiteral("cloudHostId"), hostID);
        sites[i] = site;
        found = true;
    }
    store.insert(QStringLiteral("sites"), sites);
    QFile file(path);
    return found && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(QJsonDocument(store).toJson()) > 0;
}

} // namespace

class StorageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void planRulesAndWhatIsSaved();
    void movesTheFixtureSiteIntoPostgresAndTheBucket();
    void anInterruptedAssetCopyResumesWithoutCopyingTwice();
    void refusesOccupiedDestinationsWithoutTouchingThem();
    void usersTheSetupCannotMoveStopBeforeTheSiteChanges();
    void sitesTheSetupCannotTakeAreRefusedUntouched();
    void anInterruptedApplyRestoresByteForByte();
    void aMissingDriverAndAnUnconfirmedCloudStop();
    void aSecondRunOfTheSameSetupIsRefused();
    void migrateContentFromTheCommandLine();
    void theSheetAtEachStep();
    void movesIntoMariaDbOverVerifiedTls();
    void aStalledCopyTimesOutAndResumes();
    void closingTheSheetLeavesItsStepRunning();
    void theSheetKeepsStoredRepositoriesInThePlan();
    void cancellingACopyFromTheSheetResumesFromItsCheckpoint();
};

void StorageTest::planRulesAndWhatIsSaved()
{
    CloudStoragePlan::Bucket bucket{QStringLiteral("https://s3.example.com"),
                                    QStringLiteral("auto"),
                                    QStringLiteral("b"),
                                    QStringLiteral("k"),
                                    QStringLiteral("sec"),
                                    QStringLiteral("https://cdn.example.com")};
    QVERIFY(bucket.isValid());
    bucket.endpoint = QStringLiteral("http://s3.example.com");
    QVERIFY2(!bucket.isValid(), "plain http to another host carries the secret in the clear");
    bucket.endpoint = QStringLiteral("http://127.0.0.1:9000");
    bucket.url = QStringLiteral("http://localhost:9000/public");
    QVERIFY(bucket.isValid());
    bucket.secret.clear();
    QVERIFY(!bucket.isValid());

    CloudStoragePlan plan;
    plan.database = CloudStoragePlan::Database{};
    plan.database->host = QStringLiteral("db.example.com");
    plan.database->name = QStringLiteral("content");
    plan.database->username = QStringLiteral("user");
    plan.database->password = QStringLiteral("pw-1");
    bucket.secret = QStringLiteral("sec-2");
    plan.bucket = bucket;
    plan.assets = true;
    QVERIFY2(!plan.isValid(), "assets without a container to copy");
    plan.containers = {QStringLiteral("assets")};
    QVERIFY(plan.isValid());

    const std::string masked = plan.toJson(CloudStoragePlan::Secrets::masked).dump();
    QVERIFY(masked.find("pw-1") == std::string::npos && masked.find("sec-2") == std::string::npos);
    QVERIFY(QString::fromStdString(masked).contains(QStringLiteral("••••••")));
    CloudStorageCheckpoint checkpoint;
    checkpoint.plan = plan;
    const std::string saved = checkpoint.toJson().dump();
    QVERIFY(saved.find("pw-1") == std::string::npos && saved.find("sec-2") == std::string::npos);
    const CloudStorageCheckpoint back = CloudStorageCheckpoint::fromJson(checkpoint.toJson());
    QCOMPARE(back.plan.database->host, QStringLiteral("db.example.com"));
    QCOMPARE(back.plan.containers, plan.containers);
}

void StorageTest::movesTheFixtureSiteIntoPostgresAndTheBucket()
{
    StorageRig rig;
    const QString failed = rig.postgres.start();
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    QCOMPARE(rig.makeSite(), QString());
    const QString sitePath = rig.site->path();
    const QByteArray localDatabase = readAll(sitePath + QStringLiteral("/database/database.sqlite"));
    QCOMPARE(ComposerFiles::readManifest(sitePath).contentStorage, ContentStorage::flatFiles);
    const QByteArray envBefore = readAll(sitePath + QStringLiteral("/.env"));

    auto session = rig.session();
    QStringList statuses;
    connect(session.get(), &CloudStorageSession::changed, this, [&] {
        if (statuses.value(statuses.size() - 1) != session->status())
            statuses << session->status();
    });
    const QString error = errorOf(session->runToEnd(false));
    if (error != QStringLiteral("(no error)"))
        for (const QString& line : session->log())
            qWarning().noquote() << line;
    QCOMPARE(error, QStringLiteral("(no error)"));
    QCOMPARE(session->stage(), CloudStorageStage::complete);
    QCOMPARE(session->status(), QStringLiteral("Review and push the prepared code changes to deploy."));
    QVERIFY(statuses.contains(QStringLiteral("Copying and verifying assets (20 of 20)…")));

    // The content, users and the site's own table, in PostgreSQL with their values intact.
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM entries")), QStringLiteral("20"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM taxonomy_terms")), QStringLiteral("3"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM assets_meta")), QStringLiteral("10"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT email FROM halvik_users WHERE super")),
             QStringLiteral("user1@example.test"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT role_id FROM halvik_role_user")),
             QStringLiteral("editor"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT enabled FROM site_settings WHERE name = 'banner'")),
             QStringLiteral("f"));
    QCOMPARE(session->checkpoint().result.tables.value(QStringLiteral("entries")), 20);

    // Every file and side file in the bucket under its disk, once, signed.
    QCOMPARE(rig.bucket.rejected, QStringList());
    QCOMPARE(rig.bucket.objects.size(), 20);
    QVERIFY(rig.bucket.objects.contains(QStringLiteral("assets/team photo.png")));
    QVERIFY(rig.bucket.objects.contains(QStringLiteral("assets/photos/.meta/harbour.jpg.yaml")));
    QCOMPARE(rig.bucket.objects.value(QStringLiteral("assets/photos/harbour.jpg")),
             readAll(sitePath + QStringLiteral("/public/assets/photos/harbour.jpg")));
    QCOMPARE(rig.bucket.puts.size(), 21); // the 20 files and the access check's test file
    QVERIFY(std::none_of(rig.bucket.objects.keyBegin(), rig.bucket.objects.keyEnd(), [](const QString& key) {
        return key.startsWith(QStringLiteral(".halvik-check/"));
    }));

    // Cloud has the variables and the commands.
    const QString env = *rig.site->cloudEnvId();
    const QJsonObject environment = rig.cloud.environments.value(env);
    QStringList keys;
    for (const QJsonValue& variable : environment.value(QStringLiteral("environment_variables")).toArray())
        keys << variable.toObject().value(QStringLiteral("key")).toString();
    for (const char* key :
         {"HALVIK_DATABASE", "HALVIK_DB_PASSWORD", "HALVIK_S3_SECRET", "HALVIK_STORAGE_MANAGED"})
        QVERIFY2(keys.contains(QLatin1String(key)), key);
    QVERIFY(environment.value(QStringLiteral("build_command"))
                .toString()
                .startsWith(QStringLiteral("export HALVIK_STORAGE_BUILD=true")));
    QVERIFY(environment.value(QStringLiteral("deploy_command"))
                .toString()
                .contains(QStringLiteral("php artisan migrate --force")));

    // The local site: the prepared code in, .env edited in place, its own database untouched.
    QCOMPARE(readAll(sitePath + QStringLiteral("/database/database.sqlite")), localDatabase);
    QVERIFY(QFileInfo::exists(sitePath + QStringLiteral("/database/halvik-cloud.sqlite")));
    QVERIFY(QFileInfo::exists(sitePath + QStringLiteral("/app/Providers/HalvikStorageServiceProvider.php")));
    QVERIFY(readAll(sitePath + QStringLiteral("/bootstrap/providers.php"))
                .contains("HalvikStorageServiceProvider"));
    const QByteArray envAfter = readAll(sitePath + QStringLiteral("/.env"));
    QVERIFY(envAfter.startsWith("APP_NAME=\"Quillmar Fixture\"\nAPP_ENV=local\n# Content lives in files"));
    QVERIFY(envAfter.contains("DB_DATABASE=database/halvik-cloud.sqlite\n"));
    QVERIFY(envBefore != envAfter);
    QCOMPARE(ComposerFiles::readManifest(sitePath).contentStorage,
             ContentStorage::database); // the Overview's "Database"

    // The site as Cloud runs it: with the variables Cloud was given, the provider written into it
    // makes the copied PostgreSQL database its default; during Cloud's build it stays out of the way.
    QProcessEnvironment cloud = QProcessEnvironment::systemEnvironment();
    cloud.insert(QStringLiteral("HALVIK_DATABASE"), QStringLiteral("true"));
    cloud.insert(QStringLiteral("HALVIK_DB_DRIVER"), QStringLiteral("pgsql"));
    cloud.insert(QStringLiteral("HALVIK_DB_HOST"), QStringLiteral("127.0.0.1"));
    cloud.insert(QStringLiteral("HALVIK_DB_PORT"), QString::number(rig.postgres.port()));
    cloud.insert(QStringLiteral("HALVIK_DB_DATABASE"), PostgresServer::database());
    cloud.insert(QStringLiteral("HALVIK_DB_USERNAME"), PostgresServer::user());
    cloud.insert(QStringLiteral("HALVIK_DB_PASSWORD"), PostgresServer::password());
    cloud.insert(QStringLiteral("HALVIK_DB_SSLMODE"), QStringLiteral("disable"));
    const QString report =
        QStringLiteral("require 'vendor/autoload.php'; $app = require 'bootstrap/app.php';"
                       "$app->make(Illuminate\\Contracts\\Console\\Kernel::class)->bootstrap();"
                       "$db = Illuminate\\Support\\Facades\\DB::class;"
                       "echo config('database.default'), ' ', $db::connection()->getDriverName(), ' ', "
                       "$db::table('entries')->count();");
    for (const bool building : {false, true}) {
        QProcess php;
        QProcessEnvironment variables = cloud;
        if (building)
            variables.insert(QStringLiteral("HALVIK_STORAGE_BUILD"), QStringLiteral("true"));
        php.setProcessEnvironment(variables);
        php.setWorkingDirectory(sitePath);
        php.start(QStringLiteral("php"), {QStringLiteral("-r"), report});
        QVERIFY(php.waitForFinished(60000));
        QVERIFY2(php.exitCode() == 0, php.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(php.readAllStandardOutput()),
                 building ? QStringLiteral("sqlite sqlite 20") : QStringLiteral("halvik_cloud pgsql 20"));
    }

    // The secrets: in secrets.json and nowhere else Halvik wrote.
    for (const QByteArray& canary : {PostgresServer::password().toUtf8(), QByteArray(kBucketSecret)}) {
        QStringList found = filesContaining(rig.dir.path() + QStringLiteral("/Storage Setups"), canary);
        found += filesContaining(sitePath, canary);
        QCOMPARE(found, QStringList());
        QVERIFY(readAll(rig.dir.path() + QStringLiteral("/secrets.json")).contains(canary));
    }
    for (const QString& line : session->log())
        QVERIFY(!line.contains(PostgresServer::password()) && !line.contains(QLatin1String(kBucketSecret)));
    const QDir temp(QDir::tempPath());
    QCOMPARE(temp.entryList({QStringLiteral("halvik-storage-*.php")}), QStringList());
}

void StorageTest::anInterruptedAssetCopyResumesWithoutCopyingTwice()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(), QString());
    const auto before = snapshot(rig.site->path());
    rig.bucket.failAfterStores = 6; // the check's file and five assets
    {
        auto session = rig.session();
        QCOMPARE(errorOf(session->runToEnd(false)),
                 QStringLiteral(
                     "Storage operation failed (RuntimeException). Check connectivity, permissions, and "
                     "site compatibility, then retry."));
        QVERIFY(session->checkpoint().copiedDatabase);
        QVERIFY(!session->checkpoint().copiedAssets);
        QVERIFY(!session->checkpoint().applied);
    }
    QCOMPARE(snapshot(rig.site->path()), before);
    QCOMPARE(rig.bucket.objects.size(), 5);

    // A new session (another window, a later command) resumes from the checkpoint.
    rig.bucket.failAfterStores = -1;
    const QStringList putsBefore = rig.bucket.puts;
    const QStringList storedBefore = rig.bucket.objects.keys();
    CloudStorageSession resumed(rig.site, rig.tools());
    QCOMPARE(resumed.stage(), CloudStorageStage::copyAndConfigure);
    QCOMPARE(errorOf(resumed.runToEnd(false)), QStringLiteral("(no error)"));
    // Only what the bucket did not keep is sent again; what it kept is read back.
    const QStringList resent = rig.bucket.puts.mid(putsBefore.size());
    QCOMPARE(resent.size(), 15);
    for (const QString& key : resent) {
        QVERIFY2(!storedBefore.contains(key), qPrintable(key));
        QCOMPARE(resent.count(key), 1);
    }
    QCOMPARE(rig.bucket.objects.size(), 20);
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM entries")), QStringLiteral("20"));
}

void StorageTest::refusesOccupiedDestinationsWithoutTouchingThem()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(), QString());
    const auto before = snapshot(rig.site->path());

    rig.postgres.sql(QStringLiteral("CREATE TABLE leftovers (id int)"));
    auto session = rig.session();
    QCOMPARE(errorOf(session->runToEnd(true)),
             QStringLiteral("Choose an empty database. This database already contains tables."));
    QCOMPARE(
        rig.postgres.sql(QStringLiteral("SELECT string_agg(tablename, ',') FROM pg_tables WHERE schemaname = "
                                        "'public'")),
        QStringLiteral("leftovers"));

    // An empty database passes the dry run, which leaves both destinations as they were.
    rig.postgres.recreate();
    QCOMPARE(errorOf(session->runToEnd(true)), QStringLiteral("(no error)"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
             QStringLiteral("0"));
    QVERIFY(rig.bucket.objects.isEmpty());

    // The same bytes already in the bucket count as copied; other bytes stop the copy.
    const QString site = rig.site->path();
    rig.bucket.objects.insert(QStringLiteral("assets/image-4.jpg"),
                              readAll(site + QStringLiteral("/public/assets/image-4.jpg")));
    rig.bucket.objects.insert(QStringLiteral("assets/image-9.jpg"), QByteArray("someone else's file"));
    QCOMPARE(errorOf(session->runToEnd(false)),
             QStringLiteral("An existing bucket file differs: assets/image-9.jpg. Nothing was overwritten."));
    QCOMPARE(rig.bucket.objects.value(QStringLiteral("assets/image-9.jpg")),
             QByteArray("someone else's file"));
    QCOMPARE(rig.bucket.objects.value(QStringLiteral("assets/image-4.jpg")),
             readAll(site + QStringLiteral("/public/assets/image-4.jpg")));
    QCOMPARE(snapshot(site), before);

    // Another run's marker: the destination is someone else's now.
    CloudStorageSession other(rig.site, rig.tools());
    other.discardForRestart();
    other.setPlan(rig.plan());
    rig.bucket.objects.clear();
    QCOMPARE(errorOf(other.runToEnd(true)),
             QStringLiteral("Choose an empty database. This database already contains tables."));
    QCOMPARE(snapshot(site), before);
}

void StorageTest::usersTheSetupCannotMoveStopBeforeTheSiteChanges()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(4, 3), QString());
    const QString site = rig.site->path();
    const auto replace = [](const QString& path, const QByteArray& from, const QByteArray& to) {
        QByteArray text = readAll(path);
        QVERIFY2(text.contains(from), qPrintable(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.replace(from, to));
    };
    // Each refusal comes from the working copy, after the dependencies went in there; the site,
    // the destination database and the bucket stay as they were.
    const auto refusedUntouched = [&](CloudStorageSession& session, const QString& sentence) {
        const auto before = snapshot(site);
        QCOMPARE(errorOf(session.runToEnd(false)), sentence);
        QCOMPARE(session.stage(), CloudStorageStage::prepare);
        QCOMPARE(snapshot(site), before);
        QCOMPARE(
            rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
            QStringLiteral("0"));
        QVERIFY(rig.bucket.objects.isEmpty());
    };

    const QString user3 = site + QStringLiteral("/users/user3.yaml");
    const QByteArray plainUser = readAll(user3);
    replace(user3, "email:", "favourite_colour: teal\nemail:");
    {
        auto session = rig.session();
        refusedUntouched(*session,
                         QStringLiteral("Custom user fields need database columns before migration: "
                                        "favourite_colour"));
        session->discardForRestart();
    }
    replace(user3, "favourite_colour: teal\n", "");
    QCOMPARE(readAll(user3), plainUser);

    // Users kept in the database already: not planned by default, refused when asked for.
    const QString usersConfig = site + QStringLiteral("/config/quillmar/users.php");
    replace(usersConfig, "'repository' => 'file'", "'repository' => 'eloquent'");
    {
        CloudStoragePlan destination = rig.plan();
        destination.repositories.clear();
        destination.users = false;
        CloudStorageSession session(rig.site, rig.tools());
        session.setPlan(destination);
        halvik::waitFor(session.inspect());
        QCOMPARE(session.checkpoint().inventory->userRepository, QStringLiteral("eloquent"));
        QVERIFY(!session.plan().users);
        QCOMPARE(session.plan().repositories,
                 (QStringList{QStringLiteral("entries"), QStringLiteral("terms"), QStringLiteral("assets")}));
        CloudStoragePlan asked = session.plan();
        asked.users = true;
        session.setPlan(asked);
        refusedUntouched(session,
                         QStringLiteral("User migration currently requires file-based Quillmar users."));
        session.discardForRestart();

        // On files they are planned by default.
        replace(usersConfig, "'repository' => 'eloquent'", "'repository' => 'file'");
        session.setPlan(destination);
        halvik::waitFor(session.inspect());
        QVERIFY(session.plan().users);
        session.discardForRestart();
    }

    // Users on files but signed in through an authentication provider of the site's own.
    replace(site + QStringLiteral("/config/auth.php"), "'driver' => 'quillmar'", "'driver' => 'ldap'");
    auto session = rig.session();
    refusedUntouched(*session,
                     QStringLiteral("The custom authentication provider needs a manual migration."));
}

void StorageTest::sitesTheSetupCannotTakeAreRefusedUntouched()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    // Collections already live in the local database; the rig's plan leaves them out.
    QCOMPARE(rig.makeSite(2, 1, {QStringLiteral("--database-repositories"), QStringLiteral("collections")}),
             QString());
    const QString site = rig.site->path();
    struct Case
    {
        const char* what;
        std::function<void()> change;
        std::function<void()> undo;
        QString sentence;
        CloudStoragePlan plan{};
        bool beforeInspect = false; // the change is something inspect reads
    };
    const QString providers = site + QStringLiteral("/bootstrap/providers.php");
    const QString database = site + QStringLiteral("/database/database.sqlite");
    const QString prepared = site + QStringLiteral("/database/halvik-cloud.sqlite");
    const QString driverConfig = site + QStringLiteral("/config/quillmar/eloquent-driver.php");
    const QByteArray collectionsOnly = readAll(driverConfig);
    const auto writeDriverConfig = [&](const QByteArray& text) {
        QFile file(driverConfig);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    CloudStoragePlan withCollections = rig.plan();
    withCollections.repositories << QStringLiteral("collections");
    CloudStoragePlan withEverything = withCollections;
    withEverything.repositories << QStringLiteral("seo_reports");
    const QString includeEvery =
        QStringLiteral("Include every repository already stored in the local database.");
    const QString additional = QStringLiteral(
        "This site has additional database repositories. Their migration needs to be configured before using "
        "this setup.");
    const QList<Case> cases{
        {"a stored repository left out of the plan", [] {}, [] {}, includeEvery, rig.plan()},
        {"a stored repository the setup cannot move, even when planned",
         [&] {
             writeDriverConfig("<?php\n\nreturn ['collections' => ['driver' => 'eloquent'], 'seo_reports' => "
                               "['driver' => 'eloquent']];\n");
         },
         [&] { writeDriverConfig(collectionsOnly); }, additional, withEverything, true},
        {"no bootstrap/providers.php", [&] { QFile::rename(providers, providers + QStringLiteral(".off")); },
         [&] { QFile::rename(providers + QStringLiteral(".off"), providers); },
         QStringLiteral("This setup requires Laravel 11 or newer with bootstrap/providers.php.")},
        {"no local SQLite database", [&] { QFile::rename(database, database + QStringLiteral(".off")); },
         [&] { QFile::rename(database + QStringLiteral(".off"), database); },
         QStringLiteral("This setup currently supports flat-file sites with a local SQLite database. An "
                        "existing MySQL or PostgreSQL source needs a separate migration.")},
        {"a prepared database already there", [&] { QFile::copy(database, prepared); },
         [&] { QFile::remove(prepared); },
         QStringLiteral("This site already has a prepared storage database. Resume its saved setup instead "
                        "of creating another copy.")},
    };
    // Each is found by the check that comes before the working copy is made.
    for (Case c : cases) {
        if (c.plan.repositories.isEmpty())
            c.plan = withCollections;
        auto session = rig.session();
        session->setPlan(c.plan);
        if (c.beforeInspect)
            c.change();
        halvik::waitFor(session->inspect());
        if (!c.beforeInspect)
            c.change();
        const auto before = snapshot(site);
        QCOMPARE(errorOf(session->check()), c.sentence);
        QVERIFY2(snapshot(site) == before, c.what);
        QVERIFY2(!QFileInfo::exists(session->workingCopy()), c.what);
        QCOMPARE(
            rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
            QStringLiteral("0"));
        QVERIFY(rig.bucket.objects.isEmpty());
        QVERIFY(rig.bucket.puts.isEmpty());
        session->discardForRestart();
        c.undo();
    }

    // With the stored repository in the plan the same site passes the check.
    auto session = rig.session();
    session->setPlan(withCollections);
    QCOMPARE(errorOf(session->runToEnd(true)), QStringLiteral("(no error)"));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
             QStringLiteral("0"));
}

void StorageTest::anInterruptedApplyRestoresByteForByte()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(4, 3), QString());
    const QString site = rig.site->path();
    QFile::setPermissions(site + QStringLiteral("/bootstrap/providers.php"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto before = snapshot(site);
    auto session = rig.session();
    halvik::waitFor(session->inspect());
    halvik::waitFor(session->check());
    halvik::waitFor(session->prepare());

    bool stopped = false;
    try {
        session->applyToSite(3);
    } catch (const CloudStorageError&) {
        stopped = true;
    }
    QVERIFY(stopped);
    QVERIFY(session->checkpoint().applying);
    QVERIFY(snapshot(site) != before);
    const QString interrupted =
        QStringLiteral("Applying the local files was interrupted. Open the backup and restore "
                       "the site before starting again.");
    CloudStorageSession again(rig.site, rig.tools());
    QCOMPARE(errorOf(again.copyAndConfigure()), interrupted);

    halvik::waitFor(again.restoreBackup());
    QCOMPARE(snapshot(site), before);
    QVERIFY(!again.checkpoint().applying);

    // A finished apply restores the same way, its new files removed and modes kept.
    session = std::make_unique<CloudStorageSession>(rig.site, rig.tools());
    session->applyToSite();
    QVERIFY(QFileInfo::exists(site + QStringLiteral("/database/halvik-cloud.sqlite")));
    QCOMPARE(QFileInfo(site + QStringLiteral("/bootstrap/providers.php")).permissions(),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser);
    halvik::waitFor(session->restoreBackup());
    QCOMPARE(snapshot(site), before);

    // A journal that names a backup no longer there stops before anything is put back.
    session->applyToSite();
    QFile::remove(session->folder() + QStringLiteral("/before/.env"));
    QCOMPARE(errorOf(session->restoreBackup()),
             QStringLiteral("A backup file is missing. Open the setup folder before continuing."));
}

void StorageTest::aMissingDriverAndAnUnconfirmedCloudStop()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(2, 2, {QStringLiteral("--users"), QStringLiteral("1")}), QString());
    const auto before = snapshot(rig.site->path());

    // The system's PHP with every extension but PostgreSQL's.
    const QString scan = rig.dir.path() + QStringLiteral("/php-conf.d");
    QDir().mkpath(scan);
    const QDir system(QStringLiteral("/etc/php/8.2/cli/conf.d"));
    for (const QString& ini : system.entryList({QStringLiteral("*.ini")}, QDir::Files))
        if (!ini.contains(QStringLiteral("pgsql")))
            QFile::copy(system.filePath(ini), scan + QLatin1Char('/') + ini);
    const QString bare = rig.dir.path() + QStringLiteral("/php-without-pgsql");
    QFile script(bare);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nPHP_INI_SCAN_DIR='" + scan.toUtf8() + "' exec /usr/bin/php \"$@\"\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    {
        auto session = rig.session(bare);
        QCOMPARE(errorOf(session->runToEnd(true)),
                 QStringLiteral(
                     "The selected PHP runtime is missing the pgsql database driver. Choose another PHP "
                     "version in Halvik."));
    }
    QCOMPARE(snapshot(rig.site->path()), before);

    // Cloud accepts the variables but never keeps them.
    rig.cloud.override = [](const FakeCloud::Request& request) -> std::optional<FakeCloud::Response> {
        if (request.method == "POST" && request.path.endsWith(QStringLiteral("/variables")))
            return FakeCloud::Response::json(200, "{}");
        return std::nullopt;
    };
    CloudStorageSession session(rig.site, rig.tools());
    QCOMPARE(errorOf(session.runToEnd(false)),
             QStringLiteral("Cloud has not confirmed the saved storage configuration. Retry this step before "
                            "deploying."));
    QCOMPARE(session.stage(), CloudStorageStage::copyAndConfigure);
    QVERIFY(session.checkpoint().applied);

    // A rejected token stops a new setup before anything is copied.
    rig.cloud.override = {};
    rig.cloud.rejectTokens = 100;
    halvik::waitFor(session.restoreBackup());
    session.discardForRestart();
    rig.postgres.recreate();
    rig.bucket.objects.clear();
    session.setPlan(rig.plan());
    QCOMPARE(errorOf(session.runToEnd(false)), QStringLiteral("Laravel Cloud rejected the API token."));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
             QStringLiteral("0"));
    QCOMPARE(rig.bucket.objects.size(), 0);
    QCOMPARE(snapshot(rig.site->path()), before);
}

void StorageTest::aSecondRunOfTheSameSetupIsRefused()
{
    StorageRig rig;
    QCOMPARE(rig.makeSite(1, 1, {QStringLiteral("--users"), QStringLiteral("1")}), QString());
    auto session = rig.session();
    FileLock other(session->folder() + QStringLiteral("/.lock"));
    QCOMPARE(errorOf(session->inspect()),
             QStringLiteral("This site’s storage setup is running in another Halvik window or command."));
    QVERIFY(session->checkpoint().inventory == std::nullopt);

    // Not connected to Cloud: the first step says so.
    CloudStorageSession unlinked(
        std::make_shared<Site>(QStringLiteral("Local"), rig.site->path() + QStringLiteral("x")), rig.tools());
    unlinked.setPlan(rig.plan());
    QCOMPARE(errorOf(unlinked.inspect()),
             QStringLiteral("Connect this site to Laravel Cloud before setting up storage."));
}

void StorageTest::migrateContentFromTheCommandLine()
{
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(6, 4), QString());
    const QString site = rig.site->path();
    const auto before = snapshot(site);
    QCOMPARE(runHalvik({QStringLiteral("import"), site}).exitCode, 0);
    QCOMPARE(runHalvik({QStringLiteral("cloud"), QStringLiteral("login"), QStringLiteral("--token-stdin")},
                       QByteArray(kCloudToken) + '\n')
                 .exitCode,
             0);
    const QJsonArray hosts =
        QJsonDocument::fromJson(
            runHalvik({QStringLiteral("hosts"), QStringLiteral("--json")}).output.toUtf8())
            .array();
    QCOMPARE(hosts.size(), 1);
    QVERIFY(linkToCloud(site, hosts.at(0)[QStringLiteral("id")].toString(), *rig.site->cloudAppId(),
                        *rig.site->cloudEnvId()));

    const CliRun usage = runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--db"),
                                    QStringLiteral("oracle://me@db/content")});
    QCOMPARE(usage.exitCode, 2);
    const CliRun none = runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--status")});
    QCOMPARE(none.diagnostics.trimmed(), QStringLiteral("halvik: This site has no storage setup."));

    const QStringList run{QStringLiteral("migrate-content"),
                          site,
                          QStringLiteral("--db"),
                          QStringLiteral("pgsql://%1@127.0.0.1:%2/%3?sslmode=disable")
                              .arg(PostgresServer::user())
                              .arg(rig.postgres.port())
                              .arg(PostgresServer::database()),
                          QStringLiteral("--bucket"),
                          rig.bucket.endpoint() + QLatin1Char('/') + rig.bucket.bucket,
                          QStringLiteral("--bucket-key"),
                          rig.bucket.key,
                          QStringLiteral("--bucket-url"),
                          rig.bucket.publicURL(),
                          QStringLiteral("--secrets-stdin"),
                          QStringLiteral("--dry-run")};
    const QByteArray secrets = PostgresServer::password().toUtf8() + '\n' + kBucketSecret + '\n';
    const CliRun dry = runHalvik(run, secrets);
    QVERIFY2(dry.exitCode == 0, qPrintable(dry.output + dry.diagnostics));
    QVERIFY(dry.output.contains(QStringLiteral("Bucket read, write, and delete verified")));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
             QStringLiteral("0"));

    // Ctrl-C in the middle of the asset copy stops the worker and leaves the setup to resume.
    rig.bucket.server().setDelay(3000);
    const CliRun stopped = runHalvik({QStringLiteral("migrate-content"), site}, {},
                                     QStringLiteral("Copying and verifying assets"));
    rig.bucket.server().setDelay(0);
    QCOMPARE(stopped.exitCode, 1);
    QCOMPARE(stopped.diagnostics.trimmed(), QStringLiteral("halvik: Cancelled."));
    QVERIFY(stopped.output.contains(QStringLiteral("Database copied and verified")));
    QCOMPARE(QDir::temp().entryList({QStringLiteral("halvik-storage-*")}, QDir::AllEntries | QDir::Hidden),
             QStringList());
    QCOMPARE(snapshot(site), before);

    // The saved setup resumes with no options; its secrets come from the secret store.
    const CliRun finished = runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--json")});
    QVERIFY2(finished.exitCode == 0, qPrintable(finished.output + finished.diagnostics));
    QCOMPARE(finished.diagnostics, QString());
    const QString json = finished.output.mid(finished.output.lastIndexOf(QStringLiteral("\n{")));
    const QJsonObject result = QJsonDocument::fromJson(json.toUtf8()).object();
    QCOMPARE(result[QStringLiteral("stage")].toString(), QStringLiteral("complete"));
    QCOMPARE(
        result[QStringLiteral("plan")][QStringLiteral("database")][QStringLiteral("password")].toString(),
        QStringLiteral("••••••"));
    QCOMPARE(result[QStringLiteral("inventory")][QStringLiteral("contentCounts")][QStringLiteral("entries")]
                 .toInt(),
             6);
    QCOMPARE(result[QStringLiteral("result")][QStringLiteral("files")].toInt(), 8);
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM entries")), QStringLiteral("6"));
    for (const QString& text : {dry.output, finished.output}) {
        QVERIFY(!text.contains(PostgresServer::password()));
        QVERIFY(!text.contains(QLatin1String(kBucketSecret)));
    }
    const QString data = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Halvik");
    QVERIFY(readAll(data + QStringLiteral("/secrets.json")).contains(kBucketSecret));
    QCOMPARE(filesContaining(data + QStringLiteral("/Storage Setups"), kBucketSecret), QStringList());
    QCOMPARE(filesContaining(data, PostgresServer::password().toUtf8()),
             QStringList{data + QStringLiteral("/secrets.json")});

    const CliRun status = runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--status")});
    QVERIFY(status.output.contains(QStringLiteral("Stage: complete")));
    QCOMPARE(runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--restore")}).exitCode, 0);
    QCOMPARE(snapshot(site), before);
    QCOMPARE(runHalvik({QStringLiteral("migrate-content"), site, QStringLiteral("--start-over")}).exitCode,
             0);
    QVERIFY(!readAll(data + QStringLiteral("/secrets.json")).contains(kBucketSecret));

    // Repositories already in the local database cannot be left out of --repositories.
    QFile driverConfig(site + QStringLiteral("/config/quillmar/eloquent-driver.php"));
    QVERIFY(driverConfig.open(QIODevice::WriteOnly));
    driverConfig.write("<?php\n\nreturn ['taxonomies' => ['driver' => 'eloquent']];\n");
    driverConfig.close();
    const auto configured = snapshot(site);
    const QString tables =
        rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"));
    const qsizetype putCount = rig.bucket.puts.size();
    QStringList leftOut = run;
    leftOut << QStringLiteral("--repositories") << QStringLiteral("entries,terms,assets");
    const CliRun refused = runHalvik(leftOut, secrets);
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.diagnostics.trimmed(),
             QStringLiteral("halvik: Include every repository already stored in the local database."));
    QCOMPARE(snapshot(site), configured);
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")),
             tables);
    QCOMPARE(rig.bucket.puts.size(), putCount);
}

void StorageTest::theSheetAtEachStep()
{
    using views::CloudStorageSheet;
    StorageRig rig;
    QVERIFY(rig.postgres.start().isEmpty());
    QCOMPARE(rig.makeSite(6, 4), QString());
    {
        auto local = std::make_shared<Site>(QStringLiteral("Local"), rig.site->path());
        CloudStorageSession session(local, rig.tools());
        CloudStorageSheet sheet(session, false);
        sheet.resize(760, 720);
        QVERIFY(!sheet.continueButton()->isEnabled());
        QCOMPARE(sheet.statusLabel()->text(),
                 QStringLiteral("Connect this site to Laravel Cloud before setting up storage."));
        QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-not-connected")));
    }

    CloudStorageSession session(rig.site, rig.tools());
    CloudStorageSheet sheet(session, true);
    sheet.resize(760, 860);
    sheet.show();
    const CloudStoragePlan plan = rig.plan();
    sheet.field(QStringLiteral("host"))->setText(plan.database->host);
    sheet.portBox()->setValue(plan.database->port);
    sheet.field(QStringLiteral("name"))->setText(plan.database->name);
    sheet.field(QStringLiteral("username"))->setText(plan.database->username);
    sheet.field(QStringLiteral("password"))->setText(plan.database->password);
    sheet.field(QStringLiteral("sslmode"))->setText(plan.database->sslmode);
    sheet.field(QStringLiteral("endpoint"))->setText(plan.bucket->endpoint);
    sheet.field(QStringLiteral("bucket"))->setText(plan.bucket->name);
    sheet.field(QStringLiteral("key"))->setText(plan.bucket->key);
    sheet.field(QStringLiteral("secret"))->setText(plan.bucket->secret);
    sheet.field(QStringLiteral("url"))->setText(QStringLiteral("http://cdn.example.com/assets"));
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-1-working-copy")));
    const auto step = [&sheet] {
        sheet.continueSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 240000);
    };
    step();
    QCOMPARE(sheet.stepLabel(0)->property("state").toString(), QStringLiteral("complete"));
    QCOMPARE(sheet.stepLabel(1)->property("state").toString(), QStringLiteral("current"));
    // A public address on plain http to another host is refused before anything is checked.
    QVERIFY(!sheet.continueButton()->isEnabled());
    sheet.field(QStringLiteral("url"))->setText(plan.bucket->url);
    QVERIFY(sheet.continueButton()->isEnabled());
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-2-destination")));

    rig.postgres.sql(QStringLiteral("CREATE TABLE leftovers (id int)"));
    step();
    QCOMPARE(sheet.errorLabel()->text(),
             QStringLiteral("Choose an empty database. This database already contains tables."));
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-failed")));
    rig.postgres.recreate();
    step();
    QCOMPARE(sheet.stepLabel(2)->property("state").toString(), QStringLiteral("current"));
    QVERIFY(sheet.errorLabel()->isHidden());
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-3-prepare")));
    step();
    QCOMPARE(sheet.continueButton()->text(), QStringLiteral("Copy and configure"));
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-4-copy")));
    step();
    QCOMPARE(sheet.statusLabel()->text(),
             QStringLiteral("Review and push the prepared code changes to deploy."));
    QVERIFY(!sheet.continueButton()->isEnabled());
    QVERIFY(sheet.restoreButton()->isVisible());
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-complete")));
    QCOMPARE(rig.postgres.sql(QStringLiteral("SELECT count(*) FROM entries")), QStringLiteral("6"));
}

void StorageTest::movesIntoMariaDbOverVerifiedTls()
{
    StorageRig rig;
    test::MariaDbServer maria;
    const QString failed = maria.start();
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    QCOMPARE(rig.makeSite(5, 2), QString());
    CloudStoragePlan plan = rig.plan();
    plan.database->driver = QStringLiteral("mysql");
    plan.database->port = maria.port();
    plan.database->name = test::MariaDbServer::database();
    plan.database->username = test::MariaDbServer::user();
    plan.database->password = test::MariaDbServer::password();
    plan.database->sslmode = QStringLiteral("require");
    auto session = std::make_unique<CloudStorageSession>(rig.site, rig.tools());
    session->setPlan(plan);

    // The server's certificate is checked: with the system's authorities alone it is refused.
    {
        const ScopedEnv systemCAs("SSL_CERT_FILE", QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
        QCOMPARE(errorOf(session->runToEnd(true)),
                 QStringLiteral(
                     "Storage operation failed (PDOException). Check connectivity, permissions, and site "
                     "compatibility, then retry."));
    }
    const ScopedEnv testCA("SSL_CERT_FILE", maria.caFile());
    const QString error = errorOf(session->runToEnd(false));
    if (error != QStringLiteral("(no error)"))
        for (const QString& line : session->log())
            qWarning().noquote() << line;
    QCOMPARE(error, QStringLiteral("(no error)"));
    QCOMPARE(maria.sql(QStringLiteral("SELECT COUNT(*) FROM content.entries")), QStringLiteral("5"));
    QCOMPARE(maria.sql(QStringLiteral("SELECT email FROM content.halvik_users WHERE super = 1")),
             QStringLiteral("user1@example.test"));
    QCOMPARE(maria.sql(QStringLiteral("SELECT value FROM content.site_settings WHERE name = 'theme'")),
             QStringLiteral("{\"b\":1,\"a\":[2,3]}"));
    QCOMPARE(rig.bucket.objects.size(), 4);
}

void StorageTest::aStalledCopyTimesOutAndResumes()
{
    StorageRig rig;
    QCOMPARE(rig.makeSite(2, 3, {QStringLiteral("--users"), QStringLiteral("1")}), QString());
    const auto before = snapshot(rig.site->path());
    CloudStoragePlan plan = rig.plan();
    plan.database.reset(); // assets only: the bucket is what stalls
    plan.repositories.clear();
    plan.users = false;
    {
        CloudStorageSession session(rig.site, rig.tools());
        session.setPlan(plan);
        QCOMPARE(errorOf(session.runToEnd(true)), QStringLiteral("(no error)"));
        QCOMPARE(errorOf(session.prepare()), QStringLiteral("(no error)"));
    }
    auto tools = rig.tools();
    tools.timeLimit = std::chrono::milliseconds(1500);
    rig.bucket.server().setDelay(2500);
    CloudStorageSession stalled(rig.site, tools);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorOf(stalled.copyAndConfigure()),
             QStringLiteral(
                 "This step timed out. Check the connection and retry; completed copies will be verified "
                 "before continuing."));
    QVERIFY(timer.elapsed() < 15000);
    QVERIFY(!stalled.checkpoint().copiedAssets);
    QCOMPARE(snapshot(rig.site->path()), before);
    QCOMPARE(QDir::temp().entryList({QStringLiteral("halvik-storage-*")}, QDir::AllEntries | QDir::Hidden),
             QStringList());

    rig.bucket.server().setDelay(0);
    CloudStorageSession resumed(rig.site, rig.tools());
    QCOMPARE(errorOf(resumed.copyAndConfigure()), QStringLiteral("(no error)"));
    QCOMPARE(rig.bucket.objects.size(), 6);
    QCOMPARE(resumed.stage(), CloudStorageStage::complete);
}

void StorageTest::closingTheSheetLeavesItsStepRunning()
{
    using views::CloudStorageSheet;
    StorageRig rig;
    QCOMPARE(rig.makeSite(3, 2), QString());
    CloudStorageSession session(rig.site, rig.tools());
    session.setPlan(rig.plan());
    {
        CloudStorageSheet sheet(session, true);
        sheet.continueSetup();
        QVERIFY(session.isRunning());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!session.isRunning(), 60000);
    QCOMPARE(session.stage(), CloudStorageStage::check);

    // Opened again, the sheet shows what the step found.
    CloudStorageSheet again(session, true);
    QCOMPARE(again.stepLabel(1)->property("state").toString(), QStringLiteral("current"));
    QVERIFY(again.findChild<QCheckBox*>() != nullptr);
    QVERIFY(again.continueButton()->isEnabled());
}

void StorageTest::theSheetKeepsStoredRepositoriesInThePlan()
{
    using views::CloudStorageSheet;
    StorageRig rig;
    QCOMPARE(
        rig.makeSite(3, 2,
                     {QStringLiteral("--database-repositories"), QStringLiteral("collections,taxonomies"),
                      QStringLiteral("--users-repository"), QStringLiteral("eloquent")}),
        QString());
    CloudStoragePlan destination = rig.plan();
    destination.database.reset();
    destination.repositories.clear();
    destination.users = false;
    CloudStorageSession session(rig.site, rig.tools());
    session.setPlan(destination);
    CloudStorageSheet sheet(session, true);
    sheet.resize(760, 900);
    sheet.show();
    const auto step = [&sheet] {
        sheet.continueSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 120000);
    };
    step();
    QCOMPARE(sheet.stepLabel(1)->property("state").toString(), QStringLiteral("current"));

    // Stored in the database: in the plan and not to be taken out; the rest stays a choice.
    for (const QString& stored : {QStringLiteral("collections"), QStringLiteral("taxonomies")}) {
        QCheckBox* box = sheet.repositoryBox(stored);
        QVERIFY2(box, qPrintable(stored));
        QVERIFY(box->isChecked());
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->toolTip(),
                 QStringLiteral("Include every repository already stored in the local database."));
        QVERIFY(sheet.formPlan().repositories.contains(stored));
    }
    QVERIFY(sheet.repositoryBox(QStringLiteral("entries"))->isEnabled());
    sheet.repositoryBox(QStringLiteral("entries"))->setChecked(false);
    QVERIFY(!sheet.formPlan().repositories.contains(QStringLiteral("entries")));
    // Users in the database already: not moved, and no way to ask for it here.
    QCheckBox* users = nullptr;
    for (QCheckBox* box : sheet.findChildren<QCheckBox*>())
        if (box->text().startsWith(QStringLiteral("Users")))
            users = box;
    QVERIFY(users);
    QVERIFY(!users->isChecked() && !users->isEnabled());
    QVERIFY(sheet.findChild<QLabel*>(QStringLiteral("storageRepositoriesProblem")) == nullptr);
    sheet.findChild<QScrollArea*>()->ensureWidgetVisible(users);
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-stored-repositories")));
    step();
    QCOMPARE(sheet.errorLabel()->text(), QString());
    QCOMPARE(sheet.stepLabel(2)->property("state").toString(), QStringLiteral("current"));

    // One the setup cannot move is named before the check refuses it.
    QFile driverConfig(rig.site->path() + QStringLiteral("/config/quillmar/eloquent-driver.php"));
    QVERIFY(driverConfig.open(QIODevice::WriteOnly | QIODevice::Truncate));
    driverConfig.write("<?php\n\nreturn ['collections' => ['driver' => 'eloquent'], 'seo_reports' => "
                       "['driver' => 'eloquent']];\n");
    driverConfig.close();
    sheet.startOver();
    step();
    const QString additional = QStringLiteral(
        "This site has additional database repositories. Their migration needs to be configured before using "
        "this setup.");
    auto* problem = sheet.findChild<QLabel*>(QStringLiteral("storageRepositoriesProblem"));
    QVERIFY(problem);
    QCOMPARE(problem->text(), additional);
    QVERIFY(sheet.repositoryBox(QStringLiteral("seo_reports")) == nullptr);
    sheet.findChild<QScrollArea*>()->ensureWidgetVisible(problem);
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-unmovable-repositories")));
    const auto before = snapshot(rig.site->path());
    step();
    QCOMPARE(sheet.errorLabel()->text(), additional);
    QCOMPARE(snapshot(rig.site->path()), before);
    QCOMPARE(rig.bucket.puts.size(), 1); // only the first check's test file
}

namespace {

// The worker the test started and is still running: the child of this process running a
// "halvik-storage-" script.
qint64 runningWorker()
{
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() != self)
            continue;
        if (readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains("halvik-storage-"))
            return pid;
    }
    return 0;
}

} // namespace

void StorageTest::cancellingACopyFromTheSheetResumesFromItsCheckpoint()
{
    using views::CloudStorageSheet;
    StorageRig rig;
    QCOMPARE(rig.makeSite(2, 12, {QStringLiteral("--users"), QStringLiteral("1")}), QString());
    const QString site = rig.site->path();
    const auto before = snapshot(site);
    CloudStoragePlan plan = rig.plan();
    plan.database.reset(); // the bucket is what is slow
    plan.repositories.clear();
    plan.users = false;
    // Composer as the session runs it, made slow on demand: it waits in a child of its own.
    auto tools = rig.tools();
    const QString slow = rig.dir.path() + QStringLiteral("/composer-slow");
    const QString composerPid = rig.dir.path() + QStringLiteral("/composer.pid");
    const QString composer = rig.dir.path() + QStringLiteral("/composer");
    QFile script(composer);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(
        QStringLiteral("<?php\n"
                       "if (is_file('%1')) {\n"
                       "    file_put_contents('%2', (string) getmypid());\n"
                       "    passthru('sleep 60');\n"
                       "    exit(1);\n"
                       "}\n"
                       "$arguments = array_map('escapeshellarg', array_slice($argv, 1));\n"
                       "passthru(escapeshellarg(PHP_BINARY) . ' %3 ' . implode(' ', $arguments), $status);\n"
                       "exit($status);\n")
            .arg(slow, composerPid, tools.composer)
            .toUtf8());
    script.close();
    tools.composer = composer;
    CloudStorageSession session(rig.site, tools);
    session.setPlan(plan);
    QCOMPARE(errorOf(session.runToEnd(true)), QStringLiteral("(no error)"));

    CloudStorageSheet sheet(session, true);
    sheet.resize(760, 860);
    sheet.show();
    QVERIFY(sheet.cancelButton()->isHidden());

    // Cancelling the preparation stops Composer and what it started.
    QVERIFY(QFile(slow).open(QIODevice::WriteOnly));
    sheet.continueSetup();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(composerPid), 60000);
    const qint64 composerGroup = readAll(composerPid).toLongLong();
    QVERIFY(ProcessProbe::groupExists(composerGroup));
    sheet.cancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 15000);
    QCOMPARE(sheet.statusLabel()->text(), QStringLiteral("Cancelled."));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessProbe::groupExists(composerGroup), 2000);
    QCOMPARE(session.stage(), CloudStorageStage::prepare);
    QFile::remove(slow);
    sheet.continueSetup();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 120000);
    QCOMPARE(sheet.errorLabel()->text(), QString());
    QCOMPARE(session.stage(), CloudStorageStage::copyAndConfigure);

    rig.bucket.server().setDelay(1200);
    sheet.continueSetup();
    // 24 files in batches of eight: the first batch stored and verified, the second sent (the
    // bucket keeps it) and waiting for its answers; the access check sent one more.
    QTRY_COMPARE_WITH_TIMEOUT(rig.bucket.puts.size(), 17, 60000);
    QTRY_COMPARE(sheet.statusLabel()->text(), QStringLiteral("Copying and verifying assets (8 of 24)…"));
    const qint64 worker = runningWorker();
    QVERIFY(worker > 0);
    QVERIFY(!sheet.cancelButton()->isHidden());
    QVERIFY(sheet.cancelButton()->isEnabled());
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-copying")));
    sheet.cancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 15000);
    rig.bucket.server().setDelay(0);
    QCOMPARE(sheet.statusLabel()->text(), QStringLiteral("Cancelled."));
    QVERIFY(sheet.errorLabel()->isHidden());
    QVERIFY(sheet.cancelButton()->isHidden());
    QVERIFY(sheet.continueButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessProbe::groupExists(worker), 2000);
    QCOMPARE(runningWorker(), 0);
    QVERIFY(test::saveLightAndDark(&sheet, QStringLiteral("cloud-storage-cancelled")));

    // The checkpoint, as a later session reads it: the copy to do again, the site untouched.
    const QStringList journaled =
        QString::fromUtf8(readAll(session.folder() + QStringLiteral("/copied-assets.txt")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(journaled.size(), 8);
    {
        CloudStorageSession reread(rig.site, rig.tools());
        QCOMPARE(reread.stage(), CloudStorageStage::copyAndConfigure);
        QVERIFY(!reread.checkpoint().copiedAssets);
        QVERIFY(!reread.checkpoint().applied && !reread.checkpoint().applying);
        QVERIFY(reread.checkpoint().remoteStarted);
        QVERIFY(!reread.error());
    }
    QCOMPARE(snapshot(site), before);

    // Continue copies the rest once; the apply cannot be cancelled once it starts.
    const qsizetype putsBefore = rig.bucket.puts.size();
    bool sawApply = false;
    bool cancellableDuringApply = false;
    connect(&session, &CloudStorageSession::changed, &sheet, [&] {
        if (!session.checkpoint().applying)
            return;
        sawApply = true;
        cancellableDuringApply = cancellableDuringApply || sheet.cancelButton()->isEnabled();
        session.cancel();
    });
    sheet.continueSetup();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 60000);
    QCOMPARE(sheet.errorLabel()->text(), QString());
    QCOMPARE(session.stage(), CloudStorageStage::complete);
    QVERIFY(sawApply);
    QVERIFY(!cancellableDuringApply);
    QVERIFY(session.checkpoint().applied);
    const QStringList resent = rig.bucket.puts.mid(putsBefore);
    for (const QString& key : resent) {
        QVERIFY2(!journaled.contains(key), qPrintable(key));
        QCOMPARE(resent.count(key), 1);
    }
    QCOMPARE(rig.bucket.objects.size(), 24);
    QCOMPARE(rig.bucket.stores, 25); // every file once, and the access check's test file
    QCOMPARE(rig.bucket.rejected, QStringList());
}

HALVIK_TEST_MAIN(StorageTest)
#include "tst_storage.moc"
