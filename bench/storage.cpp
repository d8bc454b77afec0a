// storage: the content-storage worker against the least a script must do for the same move.
//   storage-copy-database  "copy-database" of a prepared working copy with 10,000 entries into an
//                          empty PostgreSQL database, against a PDO script inserting the same rows
//                          into the same schema in one transaction without verifying (goal ≤ 2.0)
//   storage-copy-assets    "copy-assets" of 2,000 files (8 MB) to the fake bucket, against a PHP
//                          curl loop PUTting the same files (goal ≤ 2.5; the worker reads each back)
//   storage-worker-memory  the worker's peak resident memory copying 100,000 rows, against
//                          copying 10,000 (goal ≤ 1.25)
// Starts its own PostgreSQL and bucket on 127.0.0.1.
#include "BenchReport.h"

#include "FakeBucket.h"
#include "PostgresServer.h"
#include "WaitFor.h"

#include "models/SecretStore.h"
#include "services/ProcessRunner.h"
#include "services/hosting/CloudStorageSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace halvik;
using halvik::test::FakeBucket;
using halvik::test::PostgresServer;

namespace {

const QString kSource = QStringLiteral(HALVIK_SOURCE_DIR);

struct Run
{
    double seconds = 0;
    int exitCode = -1;
    QByteArray output;
};

// Runs a program while this process's event loop keeps serving the fake bucket.
Run run(const QString& program, const QStringList& arguments, const QByteArray& input,
        const QString& folder = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    Run result;
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput() + process.readAllStandardError();
    return result;
}

// The plain copy: every row of every table, prepared inserts, one transaction, no checks.
const char* kPlainCopy = R"PHP(
$in = json_decode(stream_get_contents(STDIN), true);
$d = $in['plan']['database'];
$source = new PDO('sqlite:' . $in['source']);
$target = new PDO("pgsql:host={$d['host']};port={$d['port']};dbname={$d['name']};sslmode=disable", $d['username'], $d['password']);
$target->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
$tables = $source->query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' AND name != 'migrations'")->fetchAll(PDO::FETCH_COLUMN);
$target->beginTransaction();
foreach ($tables as $table) {
    $target->exec("TRUNCATE \"{$table}\"");
    $insert = null;
    foreach ($source->query("SELECT * FROM \"{$table}\"", PDO::FETCH_ASSOC) as $row) {
        if ($insert === null) {
            $columns = implode(', ', array_map(fn ($c) => "\"{$c}\"", array_keys($row)));
            $marks = implode(', ', array_fill(0, count($row), '?'));
            $insert = $target->prepare("INSERT INTO \"{$table}\" ({$columns}) VALUES ({$marks})");
        }
        $insert->execute(array_map(fn ($v) => $v === null ? null : (string) $v, array_values($row)));
    }
}
$target->commit();
)PHP";

// The plain upload: every file PUT once with curl over one connection, signed as the bucket
// requires, nothing read back.
const char* kPlainUpload = R"PHP(
$in = json_decode(stream_get_contents(STDIN), true);
$root = $in['root'];
$files = new RecursiveIteratorIterator(new RecursiveDirectoryIterator($root, FilesystemIterator::SKIP_DOTS));
$curl = curl_init();
$host = parse_url($in['endpoint'], PHP_URL_HOST) . ':' . parse_url($in['endpoint'], PHP_URL_PORT);
foreach ($files as $file) {
    $body = file_get_contents($file->getPathname());
    $path = '/' . $in['bucket'] . '/' . implode('/', array_map('rawurlencode', explode('/', 'baseline/' . substr($file->getPathname(), strlen($root) + 1))));
    $now = gmdate('Ymd\THis\Z');
    $day = substr($now, 0, 8);
    $payload = hash('sha256', $body);
    $canonical = "PUT\n{$path}\n\nhost:{$host}\nif-none-match:*\nx-amz-content-sha256:{$payload}\nx-amz-date:{$now}\n\nhost;if-none-match;x-amz-content-sha256;x-amz-date\n{$payload}";
    $scope = "{$day}/auto/s3/aws4_request";
    $k = hash_hmac('sha256', 'aws4_request', hash_hmac('sha256', 's3', hash_hmac('sha256', 'auto', hash_hmac('sha256', $day, 'AWS4' . $in['secret'], true), true), true), true);
    $signature = hash_hmac('sha256', "AWS4-HMAC-SHA256\n{$now}\n{$scope}\n" . hash('sha256', $canonical), $k);
    curl_setopt_array($curl, [
        CURLOPT_URL => $in['endpoint'] . $path,
        CURLOPT_CUSTOMREQUEST => 'PUT',
        CURLOPT_POSTFIELDS => $body,
        CURLOPT_RETURNTRANSFER => true,
        CURLOPT_HTTPHEADER => ["Authorization: AWS4-HMAC-SHA256 Credential={$in['key']}/{$scope}, SignedHeaders=host;if-none-match;x-amz-content-sha256;x-amz-date, Signature={$signature}",
                               'If-None-Match: *', "x-amz-content-sha256: {$payload}", "x-amz-date: {$now}", 'Expect:'],
    ]);
    curl_exec($curl);
}
)PHP";

// Peak resident memory, in kB, of one run of the worker (a fresh parent, so nothing else counts).
const char* kPeakMemory =
    "import resource, subprocess, sys\n"
    "subprocess.run(sys.argv[2:], stdin=open(sys.argv[1], 'rb'), stdout=subprocess.DEVNULL,\n"
    "               stderr=subprocess.DEVNULL, check=True)\n"
    "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("COMPOSER_HOME", (dir.path() + QStringLiteral("/composer")).toUtf8());
    qputenv("COMPOSER_ALLOW_SUPERUSER", "1");
    PostgresServer postgres;
    if (const QString failed = postgres.start(); !failed.isEmpty()) {
        std::fprintf(stderr, "storage: PostgreSQL did not start: %s\n", qPrintable(failed));
        return 1;
    }
    FakeBucket bucket(QStringLiteral("site-assets"), QStringLiteral("AKIABENCH"), "bench-secret");
    bucket.start();

    const QString site = dir.path() + QStringLiteral("/site");
    const Run made = run(kSource + QStringLiteral("/tests/fixtures/make-quillmar-site"),
                         {site, QStringLiteral("--entries"), QStringLiteral("10000"),
                          QStringLiteral("--assets"), QStringLiteral("2")},
                         {});
    if (made.exitCode != 0) {
        std::fprintf(stderr, "storage: the fixture site was not made: %s\n", made.output.constData());
        return 1;
    }
    auto record = std::make_shared<Site>(QStringLiteral("Bench"), site);
    record->setCloudAppId(QStringLiteral("app-1"));
    record->setCloudEnvId(QStringLiteral("env-1"));
    record->setCloudHostId(QUuid::createUuid());
    ProcessRunner runner;
    SecretStore secrets(dir.path() + QStringLiteral("/secrets.json"));
    CloudStorageSession::Tools tools;
    tools.runner = &runner;
    tools.secrets = &secrets;
    tools.php = QStringLiteral("/usr/bin/php");
    tools.composer = QStandardPaths::findExecutable(QStringLiteral("composer"));
    tools.setupsFolder = dir.path() + QStringLiteral("/setups");
    tools.workerScript = kSource + QStringLiteral("/resources/storage-worker.php");
    CloudStorageSession session(record, tools);
    CloudStoragePlan plan;
    plan.database = CloudStoragePlan::Database{};
    plan.database->host = QStringLiteral("127.0.0.1");
    plan.database->port = postgres.port();
    plan.database->name = PostgresServer::database();
    plan.database->username = PostgresServer::user();
    plan.database->password = PostgresServer::password();
    plan.database->sslmode = QStringLiteral("disable");
    plan.bucket = CloudStoragePlan::Bucket{bucket.endpoint(),
                                           QStringLiteral("auto"),
                                           bucket.bucket,
                                           bucket.key,
                                           QString::fromLatin1(bucket.secret),
                                           bucket.publicURL()};
    plan.repositories = {QStringLiteral("entries"), QStringLiteral("terms"), QStringLiteral("assets")};
    plan.users = true;
    plan.assets = true;
    plan.containers = {QStringLiteral("assets")};
    session.setPlan(plan);
    try {
        halvik::waitFor(session.inspect());
        halvik::waitFor(session.check());
        halvik::waitFor(session.prepare());
    } catch (const HalvikError& error) {
        std::fprintf(stderr, "storage: the working copy was not prepared: %s\n",
                     qPrintable(error.description()));
        return 1;
    }
    const QString copy = session.workingCopy();
    const QString worker = tools.workerScript;
    const auto request = [&](const char* action, nlohmann::json extra = nlohmann::json::object()) {
        nlohmann::json json{{"action", action},
                            {"plan", plan.toJson(CloudStoragePlan::Secrets::included)},
                            {"folder", copy.toStdString()},
                            {"runID", "BENCH"}};
        json.update(extra);
        return QByteArray::fromStdString(json.dump());
    };

    // Database: the worker (migrations, copy, verification) against the plain inserts.
    const QByteArray copyDatabase = request("copy-database");
    const double worker10k = bench::bestOf(3, [&] {
        postgres.recreate();
        const Run once = run(QStringLiteral("/usr/bin/php"), {worker}, copyDatabase, copy);
        if (once.exitCode != 0)
            std::fprintf(stderr, "storage: copy-database failed: %s\n", once.output.constData());
        return once.seconds;
    });
    const QByteArray plainInput =
        request("plain", {{"source", (copy + QStringLiteral("/database/database.sqlite")).toStdString()}});
    const double plain10k = bench::bestOf(3, [&] {
        return run(QStringLiteral("/usr/bin/php"), {QStringLiteral("-r"), QString::fromLatin1(kPlainCopy)},
                   plainInput, copy)
            .seconds;
    });
    bench::report(
        QStringLiteral("storage-copy-database"), worker10k, QStringLiteral("s"), plain10k,
        QStringLiteral("10,000 entries into PostgreSQL, migrations and row-by-row verification included"));

    // Assets: 2,000 files of 4 KB, each uploaded only when absent and read back.
    const QString assets = copy + QStringLiteral("/public/assets");
    QDir(assets).removeRecursively();
    const QByteArray body(4096, 'a');
    for (int i = 0; i < 2000; ++i) {
        const QString path = QStringLiteral("%1/f%2/asset-%3.bin").arg(assets).arg(i % 20).arg(i);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::number(i) + body);
    }
    const QByteArray copyAssets = request("copy-assets");
    const double workerAssets = bench::bestOf(3, [&] {
        bucket.objects.clear();
        const Run once = run(QStringLiteral("/usr/bin/php"), {worker}, copyAssets, copy);
        if (once.exitCode != 0)
            std::fprintf(stderr, "storage: copy-assets failed: %s\n", once.output.constData());
        return once.seconds;
    });
    const QByteArray uploadInput = QByteArray::fromStdString(nlohmann::json{
        {"root", assets.toStdString()},
        {"endpoint", bucket.endpoint().toStdString()},
        {"bucket", bucket.bucket.toStdString()},
        {"key", bucket.key.toStdString()},
        {"secret", bucket.secret.toStdString()}}.dump());
    const double plainAssets = bench::bestOf(3, [&] {
        bucket.objects.clear();
        return run(QStringLiteral("/usr/bin/php"), {QStringLiteral("-r"), QString::fromLatin1(kPlainUpload)},
                   uploadInput, copy)
            .seconds;
    });
    if (bucket.objects.size() != 2000 || !bucket.rejected.isEmpty()) {
        std::fprintf(stderr, "storage: the plain upload stored %lld files\n",
                     qlonglong(bucket.objects.size()));
        return 1;
    }
    bench::report(QStringLiteral("storage-copy-assets"), workerAssets, QStringLiteral("s"), plainAssets,
                  QStringLiteral("2,000 files of 4 KB, each read back and compared"));

    // Memory: the same copy with ten times the rows.
    const QString requestFile = dir.path() + QStringLiteral("/request.json");
    QFile requestOut(requestFile);
    requestOut.open(QIODevice::WriteOnly);
    requestOut.write(copyDatabase);
    requestOut.close();
    const auto peak = [&] {
        postgres.recreate();
        const Run once = run(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), QString::fromLatin1(kPeakMemory), requestFile,
                              QStringLiteral("/usr/bin/php"), worker},
                             {}, copy);
        return once.output.trimmed().toDouble();
    };
    const double peak10k = peak();
    const Run grown =
        run(QStringLiteral("/usr/bin/php"),
            {QStringLiteral("-r"),
             QStringLiteral("$db = new PDO('sqlite:database/database.sqlite'); $db->beginTransaction(); "
                            "$insert = $db->prepare('INSERT INTO entries (id, collection, slug, title, "
                            "published, data) VALUES (?, ?, ?, ?, ?, ?)'); for ($i = 0; $i < 90000; "
                            "$i++) { $insert->execute(['bench-' . $i, 'blog', 'bench-' . $i, 'Bench ' . "
                            "$i, $i % 2, json_encode(['body' => str_repeat('x', 200), 'n' => $i])]); } "
                            "$db->commit();")},
            {}, copy);
    if (grown.exitCode != 0) {
        std::fprintf(stderr, "storage: the rows were not added: %s\n", grown.output.constData());
        return 1;
    }
    const double peak100k = peak();
    bench::report(QStringLiteral("storage-worker-memory"), peak100k, QStringLiteral("kB"), peak10k,
                  QStringLiteral("peak resident memory copying 100,000 rows against 10,000"));
    return 0;
}
