#include "CloudDeploySupport.h"

#include "services/DotEnvFile.h"
#include "services/composer/ComposerService.h"

#include <QDir>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString driverName(const QString& connection)
{
    if (connection == QLatin1String("sqlite"))
        return s("SQLite");
    if (connection == QLatin1String("mysql"))
        return s("MySQL");
    if (connection == QLatin1String("mariadb"))
        return s("MariaDB");
    if (connection == QLatin1String("pgsql"))
        return s("PostgreSQL");
    return connection;
}

} // namespace

QMap<QString, QString> CloudDeploySupport::remoteEnvironment(const CloudDatabaseConnection& connection)
{
    return {{s("HALVIK_CLOUD_DB_HOST"), connection.hostname},
            {s("HALVIK_CLOUD_DB_PORT"), QString::number(connection.port > 0 ? connection.port : 3306)},
            {s("HALVIK_CLOUD_DB_DATABASE"), connection.database},
            {s("HALVIK_CLOUD_DB_USERNAME"), connection.username},
            {s("HALVIK_CLOUD_DB_PASSWORD"), connection.password}};
}

QString CloudDeploySupport::localDatabaseDescription(const QString& sitePath)
{
    QString connection = s("sqlite");
    QString database;
    try {
        const auto entries = DotEnvFile::entries(DotEnvFile::load(QDir(sitePath).filePath(s(".env"))));
        connection = DotEnvFile::value(s("DB_CONNECTION"), entries).value_or(connection);
        database = DotEnvFile::value(s("DB_DATABASE"), entries).value_or(QString());
    } catch (const HalvikError&) {
        // Without a .env, Laravel's default: SQLite.
    }
    if (database.isEmpty() && connection == QLatin1String("sqlite"))
        database = s("database/database.sqlite");
    const QString description = s("the local %1 database").arg(driverName(connection));
    return database.isEmpty() ? description : description + QLatin1Char(' ') + database;
}

QString CloudDeploySupport::copyScript()
{
    return s(R"PHP(
require 'vendor/autoload.php';
$app = require 'bootstrap/app.php';
$app->make(Illuminate\Contracts\Console\Kernel::class)->bootstrap();
$e = fn ($k) => getenv($k);
config(['database.connections.halvik_cloud' => [
    'driver' => 'mysql', 'host' => $e('HALVIK_CLOUD_DB_HOST'), 'port' => $e('HALVIK_CLOUD_DB_PORT'),
    'database' => $e('HALVIK_CLOUD_DB_DATABASE'), 'username' => $e('HALVIK_CLOUD_DB_USERNAME'),
    'password' => $e('HALVIK_CLOUD_DB_PASSWORD'), 'charset' => 'utf8mb4', 'collation' => 'utf8mb4_unicode_ci',
    'options' => [PDO::MYSQL_ATTR_SSL_CA => '/etc/ssl/certs/ca-certificates.crt',
                  PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT => false],
]]);
$db = app('db');
$local = $db->connection();
$remote = $db->connection('halvik_cloud');
$tables = array_map(fn ($t) => is_array($t) ? $t['name'] : ($t->name ?? reset($t)),
    $local->getDriverName() === 'sqlite'
        ? $local->select("select name from sqlite_master where type = 'table' and name not like 'sqlite_%'")
        : $local->getSchemaBuilder()->getAllTables());
$remote->statement('SET FOREIGN_KEY_CHECKS=0');
foreach ($tables as $table) {
    if ($table === 'migrations') continue;
    $remote->table($table)->truncate();
    foreach ($local->table($table)->cursor()->chunk(200) as $rows) {
        $remote->table($table)->insert($rows->map(fn ($r) => (array) $r)->all());
    }
    echo "Copied $table\n";
}
$remote->statement('SET FOREIGN_KEY_CHECKS=1');
)PHP");
}

QCoro::Task<> CloudDeploySupport::importLocalDatabaseIfNeeded(SitePtr site,
                                                              std::optional<CloudDatabaseSetup> setup,
                                                              ComposerService& composer, Log log,
                                                              CancellationToken cancel)
{
    if (!setup)
        co_return;
    const auto& connection = setup->cluster.connection;
    if (!connection || !connection->canImport()) {
        const QString what = connection ? s("public credentials") : s("credentials");
        log(s("MySQL is attached, but Cloud didn’t return %1 — schema/data weren’t copied. Run migrate in "
              "Cloud or import from TablePlus.")
                .arg(what));
        co_return;
    }
    QMap<QString, QString> environment = remoteEnvironment(*connection);
    try {
        log(s("Running php artisan migrate --force against Cloud MySQL…"));
        QMap<QString, QString> migrateEnvironment{
            {s("DB_CONNECTION"), s("mysql")},
            {s("DB_HOST"), connection->hostname},
            {s("DB_PORT"), environment.value(s("HALVIK_CLOUD_DB_PORT"))},
            {s("DB_DATABASE"), connection->database},
            {s("DB_USERNAME"), connection->username},
            {s("DB_PASSWORD"), connection->password},
            {s("MYSQL_ATTR_SSL_CA"), s("/etc/ssl/certs/ca-certificates.crt")}};
        const QStringList migrate{s("migrate"), s("--force")};
        const ProcessResult migrated = co_await composer.runPHP(
            site, s("artisan"), migrate, OperationKind::artisan, migrateEnvironment, {}, cancel);
        if (migrated.exitCode != 0)
            throw HalvikError(migrated.combined().trimmed());
        log(s("Copying %1…").arg(localDatabaseDescription(site->path())));
        const QStringList copy{copyScript()};
        const ProcessResult copied =
            co_await composer.runPHP(site, s("-r"), copy, OperationKind::artisan, environment, {}, cancel);
        if (copied.exitCode != 0)
            throw HalvikError(copied.combined().trimmed());
    } catch (const CancelledError&) {
        throw;
    } catch (const HalvikError& error) {
        log(s("Couldn’t import local database: %1").arg(error.description()));
    }
}

} // namespace halvik
