<?php
// Halvik's content-storage worker. Reads one JSON request on standard input:
//   {"action", "plan", "folder", "expectedUsers", "expectedContent", "runID"}
// and answers with one JSON object on standard output (exit 0) or one sentence on standard
// error (exit 1). Progress goes to standard error as "HALVIK_PROGRESS <done> <total>" lines.
// Driver and HTTP messages can carry credentials, so only this worker's own sentences are
// ever printed.

declare(strict_types=1);

final class HalvikFailure extends Exception
{
}

set_error_handler(function (int $level, string $message, string $file = '', int $line = 0): bool {
    if (!(error_reporting() & $level)) {
        return false;
    }
    throw new ErrorException($message, 0, $level, $file, $line);
});

function fail(string $sentence): never
{
    throw new HalvikFailure($sentence);
}

// At most every 100 ms (and always the last, or when `now`), so a fast copy does not flood its
// reader.
function progress(int $done, int $total, bool $now = false): void
{
    static $last = 0.0;
    $time = microtime(true);
    if (!$now && $done < $total && $done > 0 && $time - $last < 0.1) {
        return;
    }
    $last = $time;
    fwrite(STDERR, "HALVIK_PROGRESS {$done} {$total}\n");
}

// ---------------------------------------------------------------------------------------------
// The site

final class Site
{
    private static ?string $cacheFolder = null;

    // Boots the site's console kernel with every framework cache pointed at a private
    // temporary folder, so the site's own bootstrap/cache is neither used nor written.
    public static function boot(string $folder)
    {
        if (!is_file($folder . '/vendor/autoload.php') || !is_file($folder . '/bootstrap/app.php')) {
            fail('The site is missing its Laravel bootstrap or Composer dependencies. Run Composer install and retry.');
        }
        // Halvik hands over a folder it removes itself, even when it has to stop the worker.
        $given = getenv('HALVIK_STORAGE_CACHE');
        if (is_string($given) && $given !== '' && is_dir($given)) {
            self::$cacheFolder = $given;
        } else {
            self::$cacheFolder = sys_get_temp_dir() . '/halvik-storage-cache-' . bin2hex(random_bytes(8));
            mkdir(self::$cacheFolder, 0700);
            register_shutdown_function(function () {
                Site::removeCaches();
            });
        }
        foreach (['CONFIG' => '.config', 'SERVICES' => 'services', 'PACKAGES' => 'packages', 'ROUTES' => 'routes', 'EVENTS' => 'events'] as $name => $file) {
            $path = self::$cacheFolder . '/' . $file . '.php';
            putenv("APP_{$name}_CACHE={$path}");
            $_ENV["APP_{$name}_CACHE"] = $path;
            $_SERVER["APP_{$name}_CACHE"] = $path;
        }
        chdir($folder);
        require $folder . '/vendor/autoload.php';
        $app = require $folder . '/bootstrap/app.php';
        $app->make(Illuminate\Contracts\Console\Kernel::class)->bootstrap();
        return $app;
    }

    public static function removeCaches(): void
    {
        if (self::$cacheFolder === null || !is_dir(self::$cacheFolder)) {
            return;
        }
        foreach (glob(self::$cacheFolder . '/{,.}*', GLOB_BRACE) ?: [] as $file) {
            if (is_file($file)) {
                @unlink($file);
            }
        }
        @rmdir(self::$cacheFolder);
    }
}

// A small reader for the flat files' YAML: "key: value" pairs and "- item" lists, enough for
// container and user files. The site's own parser is used when it has one.
function readYaml(string $path): array
{
    $text = file_get_contents($path);
    if (class_exists(Symfony\Component\Yaml\Yaml::class)) {
        $data = Symfony\Component\Yaml\Yaml::parse($text);
        return is_array($data) ? $data : [];
    }
    $data = [];
    $lastKey = null;
    foreach (preg_split('/\R/', $text) as $line) {
        if (trim($line) === '' || str_starts_with(trim($line), '#') || trim($line) === '---') {
            continue;
        }
        if (preg_match('/^\s+-\s*(.*)$/', $line, $m) && $lastKey !== null) {
            $data[$lastKey] = is_array($data[$lastKey] ?? null) ? $data[$lastKey] : [];
            $data[$lastKey][] = trim($m[1], " '\"");
            continue;
        }
        if (preg_match('/^([A-Za-z0-9_]+):\s*(.*)$/', $line, $m)) {
            $lastKey = $m[1];
            $value = trim($m[2]);
            $data[$lastKey] = $value === '' ? null : (in_array($value, ['true', 'false'], true) ? $value === 'true' : trim($value, "'\""));
        }
    }
    return $data;
}

function filesUnder(string $root): array
{
    if (!is_dir($root)) {
        return [];
    }
    $files = [];
    $iterator = new RecursiveIteratorIterator(new RecursiveDirectoryIterator($root, FilesystemIterator::SKIP_DOTS));
    foreach ($iterator as $file) {
        if ($file->isFile()) {
            $files[] = substr($file->getPathname(), strlen(rtrim($root, '/')) + 1);
        }
    }
    sort($files, SORT_STRING);
    return $files;
}

function countFiles(string $pattern): int
{
    return count(glob($pattern) ?: []);
}

// The asset containers the site defines, by handle: title, disk and the disk's settings.
function assetContainers(): array
{
    $containers = [];
    foreach (glob(base_path('content/assets/*.yaml')) ?: [] as $file) {
        $handle = basename($file, '.yaml');
        $data = readYaml($file);
        $disk = (string) ($data['disk'] ?? $handle);
        $containers[$handle] = [
            'id' => $handle,
            'title' => (string) ($data['title'] ?? ucfirst($handle)),
            'disk' => $disk,
            'config' => config("filesystems.disks.{$disk}"),
        ];
    }
    ksort($containers);
    return $containers;
}

function isAssetMetadata(string $relative): bool
{
    return str_contains('/' . $relative, '/.meta/');
}

// Repositories as the plan names them, mapped to the driver's configuration keys.
function driverKey(string $repository): string
{
    return [
        'globals' => 'global_sets',
        'global_variables' => 'global_set_variables',
        'navs' => 'navigations',
        'nav_trees' => 'navigation_trees',
    ][$repository] ?? $repository;
}

function planName(string $driverKey): string
{
    foreach (['globals', 'global_variables', 'navs', 'nav_trees'] as $name) {
        if (driverKey($name) === $driverKey) {
            return $name;
        }
    }
    return $driverKey;
}

// The tables a repository keeps its rows in, and what its count is compared with.
const REPOSITORY_TABLES = [
    'entries' => ['entries', 'entries'],
    'terms' => ['taxonomy_terms', 'terms'],
    'assets' => ['assets_meta', 'assets'],
];

function inspect(): array
{
    $containers = [];
    $assetCount = 0;
    foreach (assetContainers() as $container) {
        $config = $container['config'];
        if (!is_array($config) || ($config['driver'] ?? '') !== 'local') {
            continue;
        }
        $files = filesUnder((string) $config['root']);
        $assetCount += count(array_filter($files, fn ($f) => !isAssetMetadata($f)));
        $containers[] = ['id' => $container['id'], 'title' => $container['title'], 'disk' => $container['disk'], 'files' => count($files)];
    }
    $configured = [];
    foreach ((array) config('quillmar.eloquent-driver', []) as $key => $settings) {
        if (is_array($settings) && ($settings['driver'] ?? null) === 'eloquent') {
            $configured[] = planName((string) $key);
        }
    }
    $default = config('database.default');
    return [
        'containers' => $containers,
        'users' => countFiles(base_path('users/*.yaml')),
        'userRepository' => (string) config('quillmar.users.repository', 'file'),
        'databaseDriver' => (string) (config("database.connections.{$default}.driver") ?? 'sqlite'),
        'configuredRepositories' => $configured,
        'contentCounts' => [
            'entries' => countFiles(base_path('content/collections/*/*.md')),
            'terms' => countFiles(base_path('content/taxonomies/*/*.yaml')),
            'assets' => $assetCount,
        ],
    ];
}

// ---------------------------------------------------------------------------------------------
// The destination database

function caFile(): string
{
    $file = getenv('SSL_CERT_FILE');
    return is_string($file) && $file !== '' ? $file : '/etc/ssl/certs/ca-certificates.crt';
}

function connectionSettings(array $database): array
{
    $driver = (string) ($database['driver'] ?? 'pgsql');
    $settings = [
        'driver' => $driver,
        'host' => (string) $database['host'],
        'port' => (int) ($database['port'] ?? ($driver === 'mysql' ? 3306 : 5432)),
        'database' => (string) $database['name'],
        'username' => (string) $database['username'],
        'password' => (string) ($database['password'] ?? ''),
        'prefix' => '',
    ];
    if ($driver === 'mysql') {
        return $settings + [
            'charset' => 'utf8mb4',
            'collation' => 'utf8mb4_unicode_ci',
            'options' => [
                PDO::ATTR_TIMEOUT => 15,
                PDO::MYSQL_ATTR_SSL_CA => caFile(),
                PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT => true,
            ],
        ];
    }
    return $settings + ['charset' => 'utf8', 'schema' => 'public', 'search_path' => 'public', 'sslmode' => (string) ($database['sslmode'] ?? 'require')];
}

function requireDriver(string $driver): void
{
    if (!in_array($driver, PDO::getAvailableDrivers(), true)) {
        fail("The selected PHP runtime is missing the {$driver} database driver. Choose another PHP version in Halvik.");
    }
}

function targetPdo(array $database): PDO
{
    $s = connectionSettings($database);
    requireDriver($s['driver']);
    if ($s['driver'] === 'mysql') {
        $dsn = "mysql:host={$s['host']};port={$s['port']};dbname={$s['database']};charset=utf8mb4";
        $pdo = new PDO($dsn, $s['username'], $s['password'], $s['options']);
    } else {
        $dsn = "pgsql:host={$s['host']};port={$s['port']};dbname={$s['database']};sslmode={$s['sslmode']};connect_timeout=15";
        $pdo = new PDO($dsn, $s['username'], $s['password']);
    }
    $pdo->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
    return $pdo;
}

function targetTables(PDO $pdo): array
{
    if ($pdo->getAttribute(PDO::ATTR_DRIVER_NAME) === 'mysql') {
        return $pdo->query('SHOW TABLES')->fetchAll(PDO::FETCH_COLUMN);
    }
    return $pdo->query("SELECT tablename FROM pg_tables WHERE schemaname = 'public'")->fetchAll(PDO::FETCH_COLUMN);
}

function quoteName(PDO $pdo, string $name): string
{
    $driver = $pdo->getAttribute(PDO::ATTR_DRIVER_NAME);
    return $driver === 'mysql' ? '`' . str_replace('`', '``', $name) . '`' : '"' . str_replace('"', '""', $name) . '"';
}

function checkDatabase(array $plan): array
{
    $pdo = targetPdo($plan['database']);
    $pdo->query('SELECT 1')->fetchAll();
    if (count(targetTables($pdo)) > 0) {
        fail('Choose an empty database. This database already contains tables.');
    }
    return ['tables' => new stdClass()];
}

// A row as both sides agree on it: keys sorted, booleans as "1"/"0", every value a string,
// JSON re-encoded with sorted keys.
function normalizedRow(array $row): string
{
    ksort($row, SORT_STRING);
    foreach ($row as $key => $value) {
        if (is_bool($value)) {
            $row[$key] = $value ? '1' : '0';
        } elseif ($value === null) {
            $row[$key] = null;
        } else {
            $text = (string) $value;
            $first = $text[0] ?? '';
            if ($first === '{' || $first === '[') {
                $decoded = json_decode($text, true);
                if (is_array($decoded)) {
                    $text = json_encode(sortedKeys($decoded), JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE);
                }
            }
            $row[$key] = $text;
        }
    }
    return json_encode($row, JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE);
}

function sortedKeys(array $value): array
{
    if (!array_is_list($value)) {
        ksort($value, SORT_STRING);
    }
    foreach ($value as $k => $v) {
        if (is_array($v)) {
            $value[$k] = sortedKeys($v);
        }
    }
    return $value;
}

// The rows of a table as one order-free digest: the SHA-256 of every normalized row, summed
// lane by lane. Equal multisets of rows give equal digests, and no row is kept in memory.
function tableDigest(PDO $pdo, string $table): array
{
    $lanes = array_fill(0, 8, 0);
    $count = 0;
    eachRow($pdo, $table, function (array $row) use (&$lanes, &$count) {
        $parts = unpack('N8', hash('sha256', normalizedRow($row), true));
        for ($i = 0; $i < 8; $i++) {
            $lanes[$i] += $parts[$i + 1];
        }
        $count++;
    });
    return [$count, implode('.', $lanes)];
}

// Calls $visit with every row of a table without the driver holding the whole result: a
// server-side cursor on PostgreSQL, an unbuffered query on MySQL; SQLite steps row by row.
function eachRow(PDO $pdo, string $table, callable $visit): void
{
    $driver = $pdo->getAttribute(PDO::ATTR_DRIVER_NAME);
    $from = 'SELECT * FROM ' . quoteName($pdo, $table);
    if ($driver === 'pgsql') {
        $own = !$pdo->inTransaction();
        if ($own) {
            $pdo->beginTransaction();
        }
        $pdo->exec("DECLARE halvik_rows NO SCROLL CURSOR FOR {$from}");
        do {
            $rows = $pdo->query('FETCH FORWARD 1000 FROM halvik_rows')->fetchAll(PDO::FETCH_ASSOC);
            foreach ($rows as $row) {
                $visit($row);
            }
        } while (count($rows) === 1000);
        $pdo->exec('CLOSE halvik_rows');
        if ($own) {
            $pdo->commit();
        }
        return;
    }
    if ($driver === 'mysql') {
        $pdo->setAttribute(PDO::MYSQL_ATTR_USE_BUFFERED_QUERY, false);
    }
    try {
        $statement = $pdo->query($from);
        while (($row = $statement->fetch(PDO::FETCH_ASSOC)) !== false) {
            $visit($row);
        }
        $statement->closeCursor();
    } finally {
        if ($driver === 'mysql') {
            $pdo->setAttribute(PDO::MYSQL_ATTR_USE_BUFFERED_QUERY, true);
        }
    }
}

function rowCount(PDO $pdo, string $table): int
{
    return (int) $pdo->query('SELECT COUNT(*) FROM ' . quoteName($pdo, $table))->fetchColumn();
}

function booleanColumns(PDO $pdo, string $table): array
{
    if ($pdo->getAttribute(PDO::ATTR_DRIVER_NAME) !== 'pgsql') {
        return [];
    }
    $statement = $pdo->prepare("SELECT column_name FROM information_schema.columns WHERE table_schema = 'public' AND table_name = ? AND data_type = 'boolean'");
    $statement->execute([$table]);
    return array_flip($statement->fetchAll(PDO::FETCH_COLUMN));
}

function sourceTables(PDO $source): array
{
    $tables = $source->query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name")->fetchAll(PDO::FETCH_COLUMN);
    return array_values(array_filter($tables, fn ($t) => $t !== 'migrations'));
}

function sourcePdo(): PDO
{
    $path = (string) config('database.connections.sqlite.database');
    if ($path === '' || !is_file($path)) {
        fail('Could not snapshot the local database.');
    }
    $pdo = new PDO('sqlite:' . $path);
    $pdo->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
    return $pdo;
}

// Rows go in as multi-row inserts of up to 200 rows: a round trip per row is most of a copy's time.
function copyTable(PDO $source, PDO $target, string $table, int &$done, int $total): void
{
    $booleans = booleanColumns($target, $table);
    $rows = $source->query('SELECT * FROM ' . quoteName($source, $table));
    $columns = null;
    $batchSize = 1;
    $statements = [];
    $pending = [];
    $flush = function () use (&$pending, &$statements, &$columns, $target, $table, $booleans) {
        $count = count($pending);
        if ($count === 0) {
            return;
        }
        if (!isset($statements[$count])) {
            $names = implode(', ', array_map(fn ($c) => quoteName($target, $c), $columns));
            $tuple = '(' . implode(', ', array_fill(0, count($columns), '?')) . ')';
            $statements[$count] = $target->prepare('INSERT INTO ' . quoteName($target, $table) . " ({$names}) VALUES "
                . implode(', ', array_fill(0, $count, $tuple)));
        }
        $insert = $statements[$count];
        $i = 1;
        foreach ($pending as $row) {
            foreach ($columns as $column) {
                $value = $row[$column];
                if ($value === null) {
                    $insert->bindValue($i++, null, PDO::PARAM_NULL);
                } elseif (isset($booleans[$column])) {
                    $insert->bindValue($i++, (bool) $value, PDO::PARAM_BOOL);
                } elseif (is_int($value)) {
                    $insert->bindValue($i++, $value, PDO::PARAM_INT);
                } else {
                    $insert->bindValue($i++, (string) $value, PDO::PARAM_STR);
                }
            }
        }
        $insert->execute();
        $pending = [];
    };
    while (($row = $rows->fetch(PDO::FETCH_ASSOC)) !== false) {
        if ($columns === null) {
            $columns = array_keys($row);
            $batchSize = max(1, min(200, intdiv(30000, count($columns))));
        }
        $pending[] = $row;
        if (count($pending) >= $batchSize) {
            $flush();
        }
        progress(++$done, $total);
    }
    $flush();
    $rows->closeCursor();
}

function verifyTable(PDO $source, PDO $target, string $table, bool $rollBack): void
{
    [$sourceCount, $sourceDigest] = tableDigest($source, $table);
    [$targetCount, $targetDigest] = tableDigest($target, $table);
    if ($sourceCount !== $targetCount) {
        if ($rollBack) {
            $target->rollBack();
        }
        fail("Verification failed for {$table}.");
    }
    if ($sourceDigest !== $targetDigest) {
        if ($rollBack) {
            $target->rollBack();
            fail("Destination data differs in {$table}. The copy was rolled back.");
        }
        fail("Destination data differs in {$table}. Nothing was overwritten.");
    }
}

function resetSequence(PDO $target, string $table): void
{
    if ($target->getAttribute(PDO::ATTR_DRIVER_NAME) !== 'pgsql') {
        return;
    }
    $statement = $target->prepare("SELECT pg_get_serial_sequence(?, 'id')");
    try {
        $statement->execute([quoteName($target, $table)]);
    } catch (PDOException $e) {
        return; // no id column
    }
    $sequence = $statement->fetchColumn();
    if (!$sequence) {
        return;
    }
    $max = $target->query('SELECT MAX(id) FROM ' . quoteName($target, $table))->fetchColumn();
    if ($max !== null) {
        $target->prepare('SELECT setval(?, ?)')->execute([$sequence, (int) $max]);
    }
}

function copyDatabase(array $request): array
{
    $plan = $request['plan'];
    $runID = (string) $request['runID'];
    $target = targetPdo($plan['database']);
    $existing = targetTables($target);
    $marker = quoteName($target, 'halvik_storage_import');
    if (count($existing) > 0) {
        $ours = false;
        if (in_array('halvik_storage_import', $existing, true)) {
            $statement = $target->prepare("SELECT COUNT(*) FROM {$marker} WHERE run_id = ?");
            $statement->execute([$runID]);
            $ours = (int) $statement->fetchColumn() > 0;
        }
        if (!$ours) {
            fail('The destination changed. Choose an empty database.');
        }
    } else {
        $target->exec("CREATE TABLE {$marker} (run_id VARCHAR(64) PRIMARY KEY)");
        $target->prepare("INSERT INTO {$marker} (run_id) VALUES (?)")->execute([$runID]);
    }

    Site::boot($request['folder']);
    config(['database.connections.halvik_target' => connectionSettings($plan['database'])]);
    $status = Illuminate\Support\Facades\Artisan::call('migrate', ['--database' => 'halvik_target', '--force' => true]);
    if ($status !== 0) {
        fail('The migrate step failed in the working copy. The original site has not been changed.');
    }

    $source = sourcePdo();
    $tables = sourceTables($source);
    $total = 0;
    foreach ($tables as $table) {
        $total += rowCount($source, $table);
    }
    $done = 0;
    progress(0, $total);
    $counts = [];
    foreach ($tables as $table) {
        if (!in_array($table, targetTables($target), true)) {
            fail("Verification failed for {$table}.");
        }
        if (rowCount($target, $table) === 0) {
            $target->beginTransaction();
            copyTable($source, $target, $table, $done, $total);
            verifyTable($source, $target, $table, true);
            $target->commit();
        } else {
            // Filled by an earlier attempt: verified, never copied again.
            verifyTable($source, $target, $table, false);
            $done += rowCount($source, $table);
        }
        resetSequence($target, $table);
        $counts[$table] = rowCount($target, $table);
        progress($done, $total);
    }
    return ['tables' => $counts ?: new stdClass()];
}

// ---------------------------------------------------------------------------------------------
// The bucket: S3 spoken directly (path-style, Signature Version 4), since the first check runs
// before the working copy has any S3 package.

final class Bucket
{
    public function __construct(private array $b)
    {
    }

    private function url(string $key): array
    {
        $endpoint = rtrim((string) $this->b['endpoint'], '/');
        $parts = parse_url($endpoint);
        $host = $parts['host'] . (isset($parts['port']) ? ':' . $parts['port'] : '');
        $base = rtrim($parts['path'] ?? '', '/');
        $path = $base . '/' . rawurlencode((string) $this->b['name']) . '/' . implode('/', array_map('rawurlencode', explode('/', $key)));
        return [$parts['scheme'] . '://' . $host . $path, $host, $path];
    }

    // Returns [status, body].
    public function request(string $method, string $key, string $body = '', array $extra = []): array
    {
        [$url, $lines] = $this->signed($method, $key, $body, $extra);
        return self::send($method, $url, $lines, $body, 120);
    }

    // The address and the header lines of one signed request.
    private function signed(string $method, string $key, string $body, array $extra): array
    {
        [$url, $host, $path] = $this->url($key);
        $now = gmdate('Ymd\THis\Z');
        $day = substr($now, 0, 8);
        $region = (string) (($this->b['region'] ?? '') ?: 'auto');
        $payload = hash('sha256', $body);
        $headers = ['host' => $host, 'x-amz-content-sha256' => $payload, 'x-amz-date' => $now];
        foreach ($extra as $name => $value) {
            $headers[strtolower($name)] = trim((string) $value);
        }
        ksort($headers, SORT_STRING);
        $canonicalHeaders = '';
        foreach ($headers as $name => $value) {
            $canonicalHeaders .= "{$name}:{$value}\n";
        }
        $signed = implode(';', array_keys($headers));
        $canonical = "{$method}\n{$path}\n\n{$canonicalHeaders}\n{$signed}\n{$payload}";
        $scope = "{$day}/{$region}/s3/aws4_request";
        $toSign = "AWS4-HMAC-SHA256\n{$now}\n{$scope}\n" . hash('sha256', $canonical);
        $key = hash_hmac('sha256', $day, 'AWS4' . $this->b['secret'], true);
        $key = hash_hmac('sha256', $region, $key, true);
        $key = hash_hmac('sha256', 's3', $key, true);
        $key = hash_hmac('sha256', 'aws4_request', $key, true);
        $signature = hash_hmac('sha256', $toSign, $key);
        $lines = ["Authorization: AWS4-HMAC-SHA256 Credential={$this->b['key']}/{$scope}, SignedHeaders={$signed}, Signature={$signature}"];
        foreach ($headers as $name => $value) {
            if ($name !== 'host') {
                $lines[] = "{$name}: {$value}";
            }
        }
        $lines[] = 'Expect:';
        return [$url, $lines];
    }

    private static $multi = null;
    private static $pool = [];

    // Several requests at once over a few kept-open connections; [status, body] of each, in
    // order. Each item is [method, key, body, extra headers].
    public function many(array $requests): array
    {
        if (self::$multi === null) {
            self::$multi = curl_multi_init();
        }
        $handles = [];
        foreach (array_values($requests) as $i => [$method, $key, $body, $extra]) {
            if (!isset(self::$pool[$i])) {
                self::$pool[$i] = curl_init();
            }
            $curl = self::$pool[$i];
            [$url, $lines] = $this->signed($method, $key, $body, $extra);
            curl_setopt_array($curl, [
                CURLOPT_URL => $url,
                CURLOPT_HTTPHEADER => $lines,
                CURLOPT_RETURNTRANSFER => true,
                CURLOPT_CONNECTTIMEOUT => 15,
                CURLOPT_TIMEOUT => 120,
                CURLOPT_FOLLOWLOCATION => false,
                CURLOPT_CAINFO => caFile(),
            ]);
            if ($method === 'PUT') {
                curl_setopt_array($curl, [CURLOPT_CUSTOMREQUEST => 'PUT', CURLOPT_POSTFIELDS => $body]);
            } else {
                curl_setopt_array($curl, [CURLOPT_HTTPGET => true, CURLOPT_CUSTOMREQUEST => $method === 'GET' ? null : $method]);
            }
            curl_multi_add_handle(self::$multi, $curl);
            $handles[] = $curl;
        }
        do {
            $status = curl_multi_exec(self::$multi, $running);
            if ($running > 0) {
                curl_multi_select(self::$multi, 1.0);
            }
        } while ($running > 0 && $status === CURLM_OK);
        $answers = [];
        $failed = false;
        foreach ($handles as $curl) {
            $failed = $failed || curl_errno($curl) !== 0;
            $answers[] = [(int) curl_getinfo($curl, CURLINFO_RESPONSE_CODE), (string) curl_multi_getcontent($curl)];
            curl_multi_remove_handle(self::$multi, $curl);
        }
        if ($failed) {
            throw new RuntimeException('transfer failed');
        }
        return $answers;
    }

    // One handle for every request, so the connection to the bucket is kept open between them.
    private static $handle = null;

    public static function send(string $method, string $url, array $headers, string $body, int $timeout): array
    {
        if (self::$handle === null) {
            self::$handle = curl_init();
            curl_setopt_array(self::$handle, [
                CURLOPT_RETURNTRANSFER => true,
                CURLOPT_CONNECTTIMEOUT => 15,
                CURLOPT_FOLLOWLOCATION => false,
                CURLOPT_CAINFO => caFile(),
            ]);
        }
        $curl = self::$handle;
        curl_setopt_array($curl, [CURLOPT_URL => $url, CURLOPT_HTTPHEADER => $headers, CURLOPT_TIMEOUT => $timeout]);
        if ($method === 'PUT') {
            curl_setopt_array($curl, [CURLOPT_CUSTOMREQUEST => 'PUT', CURLOPT_POSTFIELDS => $body]);
        } else {
            // Back to a bodiless request, then the method.
            curl_setopt_array($curl, [CURLOPT_HTTPGET => true, CURLOPT_CUSTOMREQUEST => $method === 'GET' ? null : $method]);
        }
        $answer = curl_exec($curl);
        if ($answer === false) {
            throw new RuntimeException('transfer failed');
        }
        $status = (int) curl_getinfo($curl, CURLINFO_RESPONSE_CODE);
        return [$status, (string) $answer];
    }

    // Writes only when the key is absent: true when written, false when something was there.
    public function putIfAbsent(string $key, string $body, string $type): bool
    {
        [$status] = $this->request('PUT', $key, $body, ['If-None-Match' => '*', 'Content-Type' => $type]);
        if ($status === 412 || $status === 409) {
            return false;
        }
        if ($status < 200 || $status >= 300) {
            throw new RuntimeException("PUT answered {$status}");
        }
        return true;
    }

    public function get(string $key): ?string
    {
        [$status, $body] = $this->request('GET', $key);
        if ($status === 404) {
            return null;
        }
        if ($status < 200 || $status >= 300) {
            throw new RuntimeException("GET answered {$status}");
        }
        return $body;
    }

    public function delete(string $key): void
    {
        $this->request('DELETE', $key);
    }
}

function checkBucket(array $plan): array
{
    $bucket = new Bucket($plan['bucket']);
    $key = '.halvik-check/' . bin2hex(random_bytes(16));
    $value = bin2hex(random_bytes(32));
    try {
        $bucket->putIfAbsent($key, $value, 'text/plain');
        if ($bucket->get($key) !== $value) {
            fail('The bucket did not return the uploaded test file.');
        }
        $public = rtrim((string) $plan['bucket']['url'], '/') . '/' . $key;
        try {
            [$status, $body] = Bucket::send('GET', $public, [], '', 15);
        } catch (RuntimeException $e) {
            $status = 0;
            $body = '';
        }
        if ($status !== 200 || $body !== $value) {
            fail('The public bucket URL did not return the test file. Check bucket visibility and its public URL.');
        }
    } finally {
        try {
            $bucket->delete($key);
        } catch (Throwable $e) {
            // The check's own answer matters more than its clean-up.
        }
    }
    return ['files' => 0];
}

// The type a browser needs to show the file, from its name (reading every file's magic bytes
// costs more than the upload itself).
function contentType(string $path): string
{
    return [
        'jpg' => 'image/jpeg', 'jpeg' => 'image/jpeg', 'png' => 'image/png', 'gif' => 'image/gif',
        'webp' => 'image/webp', 'avif' => 'image/avif', 'svg' => 'image/svg+xml', 'ico' => 'image/x-icon',
        'pdf' => 'application/pdf', 'mp4' => 'video/mp4', 'webm' => 'video/webm', 'mp3' => 'audio/mpeg',
        'txt' => 'text/plain', 'md' => 'text/markdown', 'csv' => 'text/csv', 'yaml' => 'text/yaml',
        'yml' => 'text/yaml', 'json' => 'application/json', 'css' => 'text/css', 'js' => 'text/javascript',
        'html' => 'text/html', 'zip' => 'application/zip', 'woff2' => 'font/woff2', 'woff' => 'font/woff',
    ][strtolower(pathinfo($path, PATHINFO_EXTENSION))] ?? 'application/octet-stream';
}

function copyAssets(array $request): array
{
    $plan = $request['plan'];
    Site::boot($request['folder']);
    $containers = assetContainers();
    $bucket = new Bucket($plan['bucket']);
    $jobs = [];
    foreach ((array) ($plan['containers'] ?? []) as $handle) {
        $container = $containers[$handle] ?? null;
        if ($container === null) {
            fail('An asset container no longer exists.');
        }
        $config = $container['config'];
        if (!is_array($config) || ($config['driver'] ?? '') !== 'local') {
            fail('Only local asset containers can be copied.');
        }
        $root = rtrim((string) $config['root'], '/');
        foreach (filesUnder($root) as $relative) {
            $jobs[] = [$container['disk'] . '/' . $relative, $root . '/' . $relative];
        }
    }
    $total = count($jobs);
    progress(0, $total);
    $done = 0;
    // Keys an earlier attempt already stored and verified: read back, never sent again.
    $journalPath = getenv('HALVIK_STORAGE_ASSETS_JOURNAL');
    $copied = [];
    if (is_string($journalPath) && $journalPath !== '' && is_file($journalPath)) {
        $copied = array_flip(array_filter(explode("\n", file_get_contents($journalPath))));
    }
    $journal = is_string($journalPath) && $journalPath !== '' ? fopen($journalPath, 'a') : null;
    // A few files at a time: their uploads together, then their read-backs together.
    $stopped = null;
    foreach (array_chunk($jobs, 8) as $batch) {
        $bodies = [];
        $puts = [];
        foreach ($batch as $i => [$key, $path]) {
            $bodies[$i] = file_get_contents($path);
            if (!isset($copied[$key])) {
                // Refused when the key exists: whatever is there is compared below, never replaced.
                $puts[$i] = ['PUT', $key, $bodies[$i], ['If-None-Match' => '*', 'Content-Type' => contentType($path)]];
            }
        }
        $written = array_combine(array_keys($puts), $puts ? $bucket->many($puts) : []);
        $reads = [];
        foreach ($batch as $i => [$key]) {
            $status = isset($written[$i]) ? $written[$i][0] : 200;
            if (($status >= 200 && $status < 300) || $status === 412 || $status === 409) {
                $reads[$i] = ['GET', $key, '', []];
            } else {
                $stopped = "PUT answered {$status}";
            }
        }
        $stored = array_combine(array_keys($reads), $reads ? $bucket->many($reads) : []);
        foreach ($stored as $i => [$status, $body]) {
            $key = $batch[$i][0];
            if ($status !== 200 || !hash_equals(hash('sha256', $bodies[$i]), hash('sha256', $body))) {
                if ($status !== 200 && $status !== 404) {
                    throw new RuntimeException("GET answered {$status}");
                }
                fail("An existing bucket file differs: {$key}. Nothing was overwritten.");
            }
            if ($journal !== null && !isset($copied[$key])) {
                fwrite($journal, $key . "\n");
                fflush($journal);
            }
            progress(++$done, $total);
        }
        // A slow bucket answers a batch at a time: each batch's end is shown as it comes.
        progress($done, $total, true);
        // What this batch stored is recorded before a refused upload ends the copy.
        if ($stopped !== null) {
            throw new RuntimeException($stopped);
        }
    }
    return ['files' => $done];
}

// ---------------------------------------------------------------------------------------------
// Users and the prepared copy

const USER_FIELDS = ['id', 'name', 'email', 'password', 'password_hash', 'super', 'avatar', 'preferences', 'last_login', 'roles', 'groups', 'passkeys', 'two_factor_secret', 'two_factor_recovery_codes', 'two_factor_confirmed_at', 'two_factor_completed', 'two_factor_locked'];

function prepareUsers(): array
{
    if ((string) config('quillmar.users.repository', 'file') !== 'file') {
        fail('User migration currently requires file-based Quillmar users.');
    }
    if ((string) config('auth.providers.users.driver', 'quillmar') !== 'quillmar') {
        fail('The custom authentication provider needs a manual migration.');
    }
    $extra = [];
    foreach (glob(base_path('users/*.yaml')) ?: [] as $file) {
        foreach (array_keys(readYaml($file)) as $field) {
            if (!in_array($field, USER_FIELDS, true)) {
                $extra[$field] = true;
            }
        }
    }
    if ($extra) {
        $fields = array_keys($extra);
        sort($fields);
        fail('Custom user fields need database columns before migration: ' . implode(', ', $fields));
    }

    @mkdir(base_path('app/Models'), 0755, true);
    file_put_contents(base_path('app/Models/HalvikCloudUser.php'), <<<'PHP'
<?php

namespace App\Models;

use Illuminate\Database\Eloquent\Concerns\HasUuids;
use Illuminate\Database\Eloquent\Model;

// Quillmar's users, kept in the database once the site runs on Laravel Cloud.
class HalvikCloudUser extends Model
{
    protected $table = 'halvik_users';
    protected $keyType = 'string';
    public $incrementing = false;
    protected $guarded = [];
    protected $casts = ['super' => 'boolean', 'preferences' => 'json', 'passkeys' => 'json'];
}

PHP);

    $configFile = base_path('config/quillmar/users.php');
    $users = is_file($configFile) ? require $configFile : [];
    $users['repository'] = 'eloquent';
    $users['model'] = 'App\\Models\\HalvikCloudUser';
    $users['tables'] = [
        'users' => 'halvik_users',
        'role_user' => 'halvik_role_user',
        'group_user' => 'halvik_group_user',
        'webauthn' => 'halvik_webauthn',
    ];
    @mkdir(dirname($configFile), 0755, true);
    file_put_contents($configFile, "<?php\n\nreturn " . var_export($users, true) . ";\n");

    @mkdir(base_path('database/migrations'), 0755, true);
    file_put_contents(base_path('database/migrations/2026_01_01_000001_halvik_cloud_users.php'), <<<'PHP'
<?php

use Illuminate\Database\Migrations\Migration;
use Illuminate\Database\Schema\Blueprint;
use Illuminate\Support\Facades\Schema;

return new class extends Migration
{
    public function up()
    {
        Schema::create('halvik_users', function (Blueprint $table) {
            $table->uuid('id')->primary();
            $table->string('name')->nullable();
            $table->string('email')->unique();
            $table->string('password')->nullable();
            $table->boolean('super')->default(false);
            $table->string('avatar')->nullable();
            $table->json('preferences')->nullable();
            $table->timestamp('last_login')->nullable();
            $table->json('passkeys')->nullable();
            $table->text('two_factor_secret')->nullable();
            $table->text('two_factor_recovery_codes')->nullable();
            $table->timestamp('two_factor_confirmed_at')->nullable();
            $table->timestamps();
        });
        Schema::create('halvik_role_user', function (Blueprint $table) {
            $table->increments('id');
            $table->uuid('user_id');
            $table->string('role_id');
        });
        Schema::create('halvik_group_user', function (Blueprint $table) {
            $table->increments('id');
            $table->uuid('user_id');
            $table->string('group_id');
        });
        Schema::create('halvik_webauthn', function (Blueprint $table) {
            $table->string('id')->primary();
            $table->uuid('user_id');
            $table->text('json');
            $table->timestamp('last_login')->nullable();
            $table->timestamps();
        });
    }

    public function down()
    {
        Schema::dropIfExists('halvik_webauthn');
        Schema::dropIfExists('halvik_group_user');
        Schema::dropIfExists('halvik_role_user');
        Schema::dropIfExists('halvik_users');
    }
};

PHP);
    return [];
}

function verifyPrepared(array $request): array
{
    $source = sourcePdo();
    $tables = sourceTables($source);
    $counts = [];
    foreach ($tables as $table) {
        $counts[$table] = rowCount($source, $table);
    }
    if (!empty($request['plan']['users'])) {
        if (($counts['halvik_users'] ?? -1) !== (int) $request['expectedUsers']) {
            fail('User counts do not match. The original site has not been changed.');
        }
    }
    foreach ((array) ($request['plan']['repositories'] ?? []) as $repository) {
        $mapping = REPOSITORY_TABLES[driverKey((string) $repository)] ?? null;
        if ($mapping === null) {
            continue;
        }
        [$table, $countKey] = $mapping;
        if (($counts[$table] ?? -1) !== (int) ($request['expectedContent'][$countKey] ?? 0)) {
            fail("Prepared {$repository} count does not match the source.");
        }
    }
    return ['tables' => $counts ?: new stdClass()];
}

// ---------------------------------------------------------------------------------------------

function handle(array $request): array
{
    $action = (string) ($request['action'] ?? '');
    $plan = is_array($request['plan'] ?? null) ? $request['plan'] : [];
    $request['plan'] = $plan;
    $folder = (string) ($request['folder'] ?? getcwd());
    $request['folder'] = $folder;
    switch ($action) {
        case 'inspect':
            Site::boot($folder);
            return inspect();
        case 'check-database':
            return checkDatabase($plan);
        case 'check-bucket':
            return checkBucket($plan);
        case 'prepare-users':
            Site::boot($folder);
            return prepareUsers();
        case 'verify-prepared':
            Site::boot($folder);
            return verifyPrepared($request);
        case 'copy-database':
            return copyDatabase($request);
        case 'copy-assets':
            return copyAssets($request);
    }
    fail('Unknown storage operation.');
}

$request = json_decode((string) stream_get_contents(STDIN), true);
try {
    if (!is_array($request)) {
        fail('Unknown storage operation.');
    }
    $result = handle($request);
    echo json_encode($result ?: new stdClass(), JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE), "\n";
    exit(0);
} catch (HalvikFailure $failure) {
    fwrite(STDERR, $failure->getMessage() . "\n");
} catch (Throwable $error) {
    fwrite(STDERR, 'Storage operation failed (' . get_class($error) . '). Check connectivity, permissions, and site compatibility, then retry.' . "\n");
}
exit(1);
