#include "CloudStorageSession.h"

#include "CloudCommands.h"
#include "LaravelCloudClient.h"

#include "models/SecretStore.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "services/DotEnvFile.h"
#include "services/ProcessRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent>

#include <QCoroFuture>
#include <QUuid>

#include <algorithm>

namespace halvik {

using Json = nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

const char* kTimedOut = "This step timed out. Check the connection and retry; completed copies will be "
                        "verified before continuing.";
const char* kUntouched = "The original site has not been changed.";

QString sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QString uuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Paths the working copy never carries, so the apply never writes them either.
bool isExcluded(const QString& relative)
{
    static const QStringList prefixes{s(".git/"), s("node_modules/"), s("storage/logs/"),
                                      s("storage/framework/")};
    for (const QString& prefix : prefixes)
        if (relative.startsWith(prefix) || relative + QLatin1Char('/') == prefix)
            return true;
    if (relative.startsWith(s("bootstrap/cache/")) && relative.endsWith(s(".php")))
        return true;
    return relative == QLatin1String("database/database.sqlite") ||
           relative == QLatin1String("database/database.sqlite-wal") ||
           relative == QLatin1String("database/database.sqlite-shm") || relative == QLatin1String(".env");
}

// Every file below `root`, relative to it, excluded paths left out.
QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        if (!isExcluded(relative) && !QFileInfo(it.filePath()).isSymLink())
            files << relative;
    }
    files.sort();
    return files;
}

void makePrivateFolder(const QString& path)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void writeOrThrow(const QString& path, const QByteArray& bytes,
                  std::optional<QFileDevice::Permissions> mode = {})
{
    if (const auto error = writeFileAtomically(path, bytes, mode))
        throw CloudStorageError(*error);
}

QString envValue(const QString& value)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:@+-]*$"));
    if (plain.match(value).hasMatch())
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Sets, removes and keeps `.env` lines in place, so comments and order survive.
QString editEnv(const QString& text, const QList<QPair<QString, QString>>& set, const QStringList& remove)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QStringList out;
    QStringList done;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        const QString key = trimmed.section(QLatin1Char('='), 0, 0).remove(s("export ")).trimmed();
        if (trimmed.startsWith(QLatin1Char('#')) || !trimmed.contains(QLatin1Char('='))) {
            out << line;
            continue;
        }
        if (remove.contains(key))
            continue;
        bool replaced = false;
        for (const auto& [name, value] : set)
            if (name == key) {
                if (!done.contains(name))
                    out << name + QLatin1Char('=') + envValue(value);
                done << name;
                replaced = true;
            }
        if (!replaced)
            out << line;
    }
    for (const auto& [name, value] : set)
        if (!done.contains(name))
            out << name + QLatin1Char('=') + envValue(value);
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

struct CloudStorageSession::Lock
{
    explicit Lock(const QString& path) : file(path, FileLock::Wait::tryOnce) {}
    FileLock file;
};

CloudStorageSession::CloudStorageSession(SitePtr site, Tools tools, QObject* parent)
    : QObject(parent), m_site(std::move(site)), m_tools(std::move(tools))
{
    if (m_tools.rsync.isEmpty())
        m_tools.rsync = locateTool(s("rsync"));
    if (m_tools.sqlite3.isEmpty())
        m_tools.sqlite3 = locateTool(s("sqlite3"));
    m_setupID = findSetup(m_tools.setupsFolder, m_site->path()).value_or(uuidText());
    load();
}

CloudStorageSession::~CloudStorageSession() = default;

QString CloudStorageSession::locateTool(const QString& name)
{
    const QString system = s("/usr/bin/") + name;
    if (QFileInfo(system).isExecutable())
        return system;
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? system : found;
}

std::optional<QString> CloudStorageSession::findSetup(const QString& setupsFolder, const QString& sitePath)
{
    const QDir root(setupsFolder);
    for (const QString& id : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile file(root.filePath(id + s("/session.json")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const Json json = Json::parse(file.readAll().toStdString(), nullptr, false);
        if (json.is_object() && CloudStorageCheckpoint::fromJson(json).sitePath == sitePath)
            return id;
    }
    return std::nullopt;
}

QString CloudStorageSession::folder() const
{
    return m_tools.setupsFolder + QLatin1Char('/') + m_setupID;
}

bool CloudStorageSession::exists() const
{
    return QFileInfo::exists(folder() + s("/session.json"));
}

bool CloudStorageSession::hasBackup() const
{
    return QFileInfo::exists(folder() + s("/changes.json"));
}

QString CloudStorageSession::secretKey(const char* kind) const
{
    return s("storage.%1.%2").arg(m_setupID, QString::fromLatin1(kind));
}

CloudStoragePlan CloudStorageSession::plan() const
{
    CloudStoragePlan plan = m_checkpoint.plan;
    if (plan.database)
        plan.database->password = m_tools.secrets->get(secretKey("password")).value_or(QString());
    if (plan.bucket)
        plan.bucket->secret = m_tools.secrets->get(secretKey("secret")).value_or(QString());
    return plan;
}

void CloudStorageSession::setPlan(const CloudStoragePlan& plan)
{
    if (plan.database && !plan.database->password.isEmpty())
        m_tools.secrets->set(plan.database->password, secretKey("password"));
    if (plan.bucket && !plan.bucket->secret.isEmpty())
        m_tools.secrets->set(plan.bucket->secret, secretKey("secret"));
    m_checkpoint.plan = plan;
    if (m_checkpoint.plan.database)
        m_checkpoint.plan.database->password.clear();
    if (m_checkpoint.plan.bucket)
        m_checkpoint.plan.bucket->secret.clear();
    save();
}

void CloudStorageSession::load()
{
    QFile file(folder() + s("/session.json"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const Json json = Json::parse(file.readAll().toStdString(), nullptr, false);
    if (json.is_object())
        m_checkpoint = CloudStorageCheckpoint::fromJson(json);
}

void CloudStorageSession::save()
{
    makePrivateFolder(m_tools.setupsFolder);
    makePrivateFolder(folder());
    if (m_checkpoint.sitePath.isEmpty())
        m_checkpoint.sitePath = m_site->path();
    writeOrThrow(folder() + s("/session.json"), QByteArray::fromStdString(m_checkpoint.toJson().dump(2)),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    Q_EMIT changed();
}

void CloudStorageSession::addLog(const QString& line)
{
    m_log << line;
    Q_EMIT logLine(line);
    Q_EMIT changed();
}

void CloudStorageSession::setStatus(const QString& status)
{
    m_status = status;
    Q_EMIT changed();
}

void CloudStorageSession::complete(CloudStorageStage stage)
{
    if (!m_checkpoint.completed.contains(stageName(stage)))
        m_checkpoint.completed << stageName(stage);
    m_checkpoint.stage = CloudStorageStage(int(stage) + 1);
    save();
}

std::unique_ptr<CloudStorageSession::Lock> CloudStorageSession::lock()
{
    makePrivateFolder(folder());
    auto held = std::make_unique<Lock>(folder() + s("/.lock"));
    if (!held->file.held())
        throw CloudStorageError(
            s("This site’s storage setup is running in another Halvik window or command."));
    return held;
}

template <typename Step>
QCoro::Task<> CloudStorageSession::runStep(CloudStorageStage stage, CancellationToken cancel,
                                           const Step& step)
{
    if (m_running)
        throw CloudStorageError(
            s("This site’s storage setup is running in another Halvik window or command."));
    const auto held = lock();
    load();
    if (m_checkpoint.applying)
        throw CloudStorageError(s("Applying the local files was interrupted. Open the backup and restore the "
                                  "site before starting again."));
    if (int(m_checkpoint.stage) > int(stage))
        co_return;
    // The step stops on the caller's token or on cancel(), whichever comes first.
    CancellationSource stop;
    QObject link;
    cancel.onCancelled(&link, [stop]() mutable { stop.cancel(); });
    m_stop = stop;
    m_running = true;
    m_cancelled = false;
    m_error.reset();
    Q_EMIT changed();
    const CancellationToken token = stop.token();
    try {
        co_await step(token);
        m_running = false;
        m_stop.reset();
        complete(stage);
    } catch (const CancelledError&) {
        // Nothing is wrong: the checkpoint holds what finished, and the step runs again.
        m_running = false;
        m_stop.reset();
        m_cancelled = true;
        addLog(s("Cancelled."));
        save();
        throw;
    } catch (const HalvikError& error) {
        m_running = false;
        m_stop.reset();
        m_error = error.description();
        addLog(error.description());
        save();
        throw;
    }
}

bool CloudStorageSession::canCancel() const
{
    return m_running && m_stop && !m_checkpoint.applying;
}

void CloudStorageSession::cancel()
{
    // The apply runs whole or, interrupted by a crash, is restored from its journal: a cancel
    // never cuts it off half-way.
    if (canCancel())
        m_stop->cancel();
}

QCoro::Task<nlohmann::json> CloudStorageSession::call(const QString& action, const QString& folder,
                                                      CancellationToken cancel, bool copies)
{
    const QString script =
        QDir::tempPath() +
        s("/halvik-storage-%1.php").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QFile source(m_tools.workerScript);
    if (!source.open(QIODevice::ReadOnly))
        throw CloudStorageError(s("Storage check failed."));
    writeOrThrow(script, source.readAll(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    struct Remove
    {
        QString path;
        ~Remove() { QFile::remove(path); }
    } removeScript{script};

    const Json input{{"action", action.toStdString()},
                     {"plan", plan().toJson(CloudStoragePlan::Secrets::included)},
                     {"folder", folder.toStdString()},
                     {"expectedUsers", m_checkpoint.sourceUsers},
                     {"expectedContent", Json{{"entries", m_checkpoint.sourceContent.value(s("entries"))},
                                              {"terms", m_checkpoint.sourceContent.value(s("terms"))},
                                              {"assets", m_checkpoint.sourceContent.value(s("assets"))}}},
                     {"runID", m_checkpoint.runID.toStdString()}};
    ProcessRequest request;
    request.executable = m_tools.php;
    request.arguments = {script};
    request.workingDirectory = folder;
    request.stdin = QByteArray::fromStdString(input.dump());
    // The site's framework caches go here, so the site's own bootstrap/cache is never written.
    QTemporaryDir caches(QDir::tempPath() + s("/halvik-storage-cache-XXXXXX"));
    request.environment.insert(s("HALVIK_STORAGE_CACHE"), caches.path());
    request.environment.insert(s("HALVIK_STORAGE_ASSETS_JOURNAL"), this->folder() + s("/copied-assets.txt"));

    // A copy may go on as long as it makes progress; everything else has one limit in all.
    CancellationSource stop;
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(m_tools.timeLimit);
    connect(&timer, &QTimer::timeout, this, [&] {
        timedOut = true;
        stop.cancel();
    });
    cancel.onCancelled(&timer, [&stop] { stop.cancel(); });
    QPointer<CloudStorageSession> self(this);
    const QString label = m_status;
    QPointer<QTimer> watchdog(&timer);
    const CancellationToken stopToken = stop.token();
    const ProcessRunner::OutputCallback onOutput = [self, copies, label,
                                                    watchdog](const ProcessOutput& output) {
        static const QString marker = s("HALVIK_PROGRESS ");
        if (output.isStdout() || !output.line.startsWith(marker))
            return;
        const QStringList parts = output.line.mid(marker.size()).split(QLatin1Char(' '));
        const qlonglong done = parts.value(0).toLongLong();
        const qlonglong total = parts.value(1).toLongLong();
        QMetaObject::invokeMethod(self, [self, copies, label, done, total, watchdog] {
            if (!self)
                return;
            if (copies && watchdog)
                watchdog->start();
            QString base = label;
            if (base.endsWith(QChar(0x2026)))
                base.chop(1);
            const QLocale locale(QLocale::English);
            self->setStatus(s("%1 (%2 of %3)…").arg(base, locale.toString(done), locale.toString(total)));
        });
    };
    timer.start();
    ProcessResult result;
    try {
        result = co_await m_tools.runner->run(request, onOutput, stopToken);
    } catch (const ProcessRunnerError& error) {
        if (error.kind() == ProcessRunnerError::Case::cancelled) {
            if (timedOut)
                throw CloudStorageError(s(kTimedOut));
            throw CancelledError();
        }
        throw CloudStorageError(error.description());
    }
    timer.stop();
    if (timedOut)
        throw CloudStorageError(s(kTimedOut));
    if (result.exitCode != 0) {
        QStringList sentence;
        for (const QString& line : result.stderr.text().split(QLatin1Char('\n')))
            if (!line.startsWith(s("HALVIK_PROGRESS ")) && !line.trimmed().isEmpty())
                sentence << line.trimmed();
        throw CloudStorageError(sentence.isEmpty() ? s("Storage check failed.")
                                                   : sentence.join(QLatin1Char(' ')));
    }
    const Json answer = Json::parse(result.stdout.text().toStdString(), nullptr, false);
    if (!answer.is_object())
        throw CloudStorageError(s("The storage check returned an unexpected result."));
    co_return answer;
}

QCoro::Task<> CloudStorageSession::runTool(const QString& executable, const QStringList& arguments,
                                           const QString& folder, const QString& failure,
                                           CancellationToken cancel)
{
    ProcessRequest request;
    request.executable = executable;
    request.arguments = arguments;
    request.workingDirectory = folder;
    const ProcessRunner::OutputCallback ignoreOutput = [](const ProcessOutput&) {};
    ProcessResult result;
    try {
        result = co_await m_tools.runner->run(request, ignoreOutput, cancel);
    } catch (const ProcessRunnerError& error) {
        if (error.kind() == ProcessRunnerError::Case::cancelled)
            throw CancelledError();
        throw CloudStorageError(failure);
    }
    for (const QString& line : result.combined().split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            addLog(line);
    if (result.exitCode != 0)
        throw CloudStorageError(failure);
}

QCoro::Task<> CloudStorageSession::artisan(const QStringList& arguments, const QString& name,
                                           CancellationToken cancel)
{
    QStringList all = arguments;
    all.prepend(s("artisan"));
    const QString failure = s("The %1 step failed in the working copy. %2").arg(name, s(kUntouched));
    const QString copyFolder = workingCopy();
    co_await runTool(m_tools.php, all, copyFolder, failure, cancel);
}

QMap<QString, QString> CloudStorageSession::fingerprintOf(const QString& sitePath)
{
    QMap<QString, QString> prints;
    for (const QString& relative : filesBelow(sitePath))
        prints.insert(relative, sha256Of(sitePath + QLatin1Char('/') + relative));
    const QString env = sitePath + s("/.env");
    if (QFileInfo::exists(env))
        prints.insert(s(".env"), sha256Of(env));
    const QString db = sitePath + s("/database/database.sqlite");
    if (QFileInfo::exists(db))
        prints.insert(s("database/database.sqlite"), sha256Of(db));
    return prints;
}

QStringList CloudStorageSession::preparedChanges(const QString& sitePath, const QString& workingCopy)
{
    QStringList changed;
    for (const QString& relative : filesBelow(workingCopy)) {
        const QString target = sitePath + QLatin1Char('/') + relative;
        if (!QFileInfo::exists(target) ||
            sha256Of(target) != sha256Of(workingCopy + QLatin1Char('/') + relative))
            changed << relative;
    }
    return changed;
}

QCoro::Task<> CloudStorageSession::inspect(CancellationToken cancel)
{
    const auto work = [this](CancellationToken stop) -> QCoro::Task<> {
        const QString copyFolder = workingCopy();
        setStatus(s("Reading site…"));
        if (!m_site->cloudHostId() || !m_site->cloudAppId() || !m_site->cloudEnvId())
            throw CloudStorageError(s("Connect this site to Laravel Cloud before setting up storage."));
        m_checkpoint.sitePath = m_site->path();
        m_checkpoint.hostID = m_site->cloudHostId()->toString(QUuid::WithoutBraces).toUpper();
        m_checkpoint.environmentID = *m_site->cloudEnvId();
        if (m_checkpoint.runID.isEmpty())
            m_checkpoint.runID = uuidText();
        const QString text1 = s("inspect");
        const QString sitePath = m_site->path();
        const Json answer = co_await call(text1, sitePath, stop);
        const CloudStorageInventory inventory = CloudStorageInventory::fromJson(answer);
        m_checkpoint.inventory = inventory;
        m_checkpoint.sourceUsers = inventory.users;
        m_checkpoint.sourceContent = {{s("entries"), inventory.entries},
                                      {s("terms"), inventory.terms},
                                      {s("assets"), inventory.assets}};
        // The defaults a person starts from: every eligible repository, users when they are
        // files, every local container.
        CloudStoragePlan defaults = plan();
        if (defaults.repositories.isEmpty()) {
            defaults.repositories = {s("entries"), s("terms"), s("assets")};
            for (const QString& repository : inventory.configuredRepositories)
                if (movableRepositories().contains(repository) && !defaults.repositories.contains(repository))
                    defaults.repositories << repository;
        }
        defaults.users = defaults.users || inventory.userRepository == QLatin1String("file");
        if (defaults.containers.isEmpty())
            for (const CloudStorageContainer& container : inventory.containers)
                defaults.containers << container.id;
        defaults.assets = defaults.assets || !defaults.containers.isEmpty();
        setPlan(defaults);
        addLog(s("Site read: %1 entries, %2 terms, %3 assets, %4 users")
                   .arg(inventory.entries)
                   .arg(inventory.terms)
                   .arg(inventory.assets)
                   .arg(inventory.users));
    };
    co_await runStep(CloudStorageStage::inspect, cancel, work);
}

void CloudStorageSession::createWorkingCopyEnv()
{
    const QString path = workingCopy() + s("/.env");
    const QString snapshot = workingCopy() + s("/database/database.sqlite");
    const QString text = readText(path);
    const QString edited = editEnv(text,
                                   {{s("DB_CONNECTION"), s("sqlite")},
                                    {s("DB_DATABASE"), snapshot},
                                    {s("QUEUE_CONNECTION"), s("sync")},
                                    {s("CACHE_STORE"), s("array")},
                                    {s("SESSION_DRIVER"), s("array")},
                                    {s("HALVIK_DATABASE"), s("false")},
                                    {s("HALVIK_OBJECT_STORAGE"), s("false")},
                                    {s("HALVIK_STORAGE_MANAGED"), s("false")}},
                                   {s("DB_URL"), s("DATABASE_URL")});
    writeOrThrow(path, edited.toUtf8());
}

QCoro::Task<> CloudStorageSession::check(CancellationToken cancel)
{
    const auto work = [this](CancellationToken stop) -> QCoro::Task<> {
        const QString copyFolder = workingCopy();
        const CloudStoragePlan current = plan();
        if (!current.isValid())
            throw CloudStorageError(s("Fill in the destination before checking connections."));
        const QString site = m_site->path();
        if (m_checkpoint.workspace.isEmpty() || !QFileInfo::exists(workingCopy() + s("/artisan"))) {
            setStatus(s("Preparing a working copy…"));
            if (!QFileInfo::exists(site + s("/bootstrap/providers.php")))
                throw CloudStorageError(
                    s("This setup requires Laravel 11 or newer with bootstrap/providers.php."));
            const QString driver =
                m_checkpoint.inventory ? m_checkpoint.inventory->databaseDriver : s("sqlite");
            if (driver != QLatin1String("sqlite") ||
                !QFileInfo::exists(site + s("/database/database.sqlite")))
                throw CloudStorageError(s(
                    "This setup currently supports flat-file sites with a local SQLite database. An existing "
                    "MySQL or PostgreSQL source needs a separate migration."));
            if (QFileInfo::exists(site + s("/database/halvik-cloud.sqlite")))
                throw CloudStorageError(
                    s("This site already has a prepared storage database. Resume its saved "
                      "setup instead of creating another copy."));
            if (m_checkpoint.inventory)
                if (const auto problem = configuredRepositoriesProblem(
                        m_checkpoint.inventory->configuredRepositories, current.repositories))
                    throw CloudStorageError(*problem);
            // Whatever an interrupted check left here is made again from the start.
            QDir(workingCopy()).removeRecursively();
            makePrivateFolder(workingCopy());
            const QStringList rsync{s("-a"),
                                    s("--safe-links"),
                                    s("--exclude=.git"),
                                    s("--exclude=node_modules"),
                                    s("--exclude=storage/logs"),
                                    s("--exclude=storage/framework"),
                                    s("--exclude=bootstrap/cache/*.php"),
                                    s("--exclude=/database/database.sqlite-wal"),
                                    s("--exclude=/database/database.sqlite-shm"),
                                    site + QLatin1Char('/'),
                                    workingCopy() + QLatin1Char('/')};
            try {
                const QString text2 = s("Could not create the working copy.");
                co_await runTool(m_tools.rsync, rsync, site, text2, stop);
                QDir().mkpath(workingCopy() + s("/storage/framework/views"));
                QDir().mkpath(workingCopy() + s("/storage/logs"));
                const QString snapshot = workingCopy() + s("/database/database.sqlite");
                QFile::remove(snapshot);
                const QStringList backupArgs{site + s("/database/database.sqlite"),
                                             s(".backup '%1'").arg(snapshot)};
                const QString snapshotFailure = s("Could not snapshot the local database.");
                co_await runTool(m_tools.sqlite3, backupArgs, site, snapshotFailure, stop);
            } catch (const HalvikError&) {
                QDir(workingCopy()).removeRecursively();
                throw;
            }
            createWorkingCopyEnv();
            m_checkpoint.workspace = workingCopy();
            // Hashing a site with its vendor folder takes a while: not on the main thread.
            QFuture<QMap<QString, QString>> prints =
                QtConcurrent::run(&CloudStorageSession::fingerprintOf, site);
            m_checkpoint.baseline = co_await prints;
            save();
            addLog(s("Working copy created"));
        }
        if (current.database) {
            setStatus(s("Checking database connection…"));
            const QString text3 = s("check-database");
            co_await call(text3, copyFolder, stop);
            addLog(s("Database connected · empty destination"));
        }
        if (current.assets) {
            setStatus(s("Checking bucket access…"));
            const QString text4 = s("check-bucket");
            co_await call(text4, copyFolder, stop);
            addLog(s("Bucket read, write, and delete verified"));
        }
    };
    co_await runStep(CloudStorageStage::check, cancel, work);
}

QCoro::Task<> CloudStorageSession::prepare(CancellationToken cancel)
{
    const auto work = [this](CancellationToken stop) -> QCoro::Task<> {
        const QString copyFolder = workingCopy();
        const CloudStoragePlan current = plan();
        setStatus(s("Preparing content…"));
        const QString composerFailure =
            s("Dependencies could not be installed in the working copy. Check the "
              "site's Composer constraints and package access.");
        QStringList require{m_tools.composer, s("require"), s("quillmar/eloquent-driver")};
        if (current.assets)
            require << s("league/flysystem-aws-s3-v3:^3.0");
        require << s("--no-interaction");
        co_await runTool(m_tools.php, require, copyFolder, composerFailure, stop);
        const QString text5 = s("package:discover");
        const QString text6 = s("package:discover");
        const QStringList list7{text5};
        co_await artisan(list7, text6, stop);
        if (!current.repositories.isEmpty()) {
            const QString text8 = s("quillmar:install:eloquent-driver");
            const QString text9 = s("--without-messages");
            const QString text10 = s("--repositories=");
            const QString text11 = s("--import");
            const QString text12 = s("quillmar:install:eloquent-driver");
            const QStringList list13{text8, text9, text10 + current.repositories.join(QLatin1Char(',')),
                                     text11};
            co_await artisan(list13, text12, stop);
            addLog(s("Selected content prepared"));
        }
        static const QRegularExpression diskName(s("^[A-Za-z0-9_-]+$"));
        if (m_checkpoint.inventory)
            for (const CloudStorageContainer& container : m_checkpoint.inventory->containers)
                if (current.containers.contains(container.id) && !diskName.match(container.disk).hasMatch())
                    throw CloudStorageError(
                        s("Asset disk names must contain only letters, numbers, underscores, and hyphens."));
        // The provider that points the site at Cloud's database and bucket when deployed.
        QFile shipped(QFileInfo(m_tools.workerScript).absolutePath() +
                      s("/HalvikStorageServiceProvider.php"));
        if (!shipped.open(QIODevice::ReadOnly))
            throw CloudStorageError(s("Storage check failed."));
        QString providerText = QString::fromUtf8(shipped.readAll());
        QStringList disks;
        if (m_checkpoint.inventory)
            for (const CloudStorageContainer& container : m_checkpoint.inventory->containers)
                if (current.containers.contains(container.id))
                    disks << s("'%1'").arg(container.disk);
        providerText.replace(s("/*HALVIK_DISKS*/"), disks.join(s(", ")));
        QDir().mkpath(workingCopy() + s("/app/Providers"));
        writeOrThrow(workingCopy() + s("/app/Providers/HalvikStorageServiceProvider.php"),
                     providerText.toUtf8());
        const QString providers = workingCopy() + s("/bootstrap/providers.php");
        QString list = readText(providers);
        const QString entry = s("App\\Providers\\HalvikStorageServiceProvider::class");
        if (!list.contains(entry)) {
            const qsizetype close = list.lastIndexOf(QLatin1Char(']'));
            if (close < 0)
                throw CloudStorageError(
                    s("This setup requires Laravel 11 or newer with bootstrap/providers.php."));
            list.insert(close, s("    ") + entry + s(",\n"));
            writeOrThrow(providers, list.toUtf8());
        }
        if (current.users) {
            setStatus(s("Preparing users…"));
            const QString text14 = s("prepare-users");
            co_await call(text14, copyFolder, stop);
            const QStringList dumpArgs{m_tools.composer, s("dump-autoload"), s("--no-scripts"),
                                       s("--no-interaction")};
            co_await runTool(m_tools.php, dumpArgs, copyFolder, composerFailure, stop);
            const QString text15 = s("migrate");
            const QString text16 = s("--force");
            const QString text17 = s("migrate");
            const QStringList list18{text15, text16};
            co_await artisan(list18, text17, stop);
            const QString text19 = s("quillmar:eloquent:import-users");
            const QString text20 = s("quillmar:eloquent:import-users");
            const QStringList list21{text19};
            co_await artisan(list21, text20, stop);
            addLog(s("Users and permissions prepared"));
        }
        const QString text22 = s("verify-prepared");
        const Json verified = co_await call(text22, copyFolder, stop);
        m_checkpoint.result.tables = CloudStorageResult::fromJson(verified).tables;
        addLog(s("Prepared data verified"));
    };
    co_await runStep(CloudStorageStage::prepare, cancel, work);
}

QCoro::Task<> CloudStorageSession::copyAndConfigure(CancellationToken cancel)
{
    const auto work = [this](CancellationToken stop) -> QCoro::Task<> {
        const QString copyFolder = workingCopy();
        const CloudStoragePlan current = plan();
        const bool resuming = m_checkpoint.remoteStarted;
        const QString sitePath = m_site->path();
        QFuture<QMap<QString, QString>> prints =
            QtConcurrent::run(&CloudStorageSession::fingerprintOf, sitePath);
        const QMap<QString, QString> nowPrints = co_await prints;
        if (!m_checkpoint.applied && nowPrints != m_checkpoint.baseline)
            throw CloudStorageError(
                s("The local site changed. Close this setup and start again to include those changes."));
        const QString host = m_site->cloudHostId()
                                 ? m_site->cloudHostId()->toString(QUuid::WithoutBraces).toUpper()
                                 : QString();
        if (m_checkpoint.sitePath != m_site->path() || m_checkpoint.hostID != host ||
            m_checkpoint.environmentID != m_site->cloudEnvId().value_or(QString()))
            throw CloudStorageError(resuming
                                        ? s("This site's folder or Cloud connection changed. Restore its "
                                            "original connection to resume this setup.")
                                        : s("This site's folder or Cloud connection changed. Start setup "
                                            "again for the new destination."));
        const std::optional<QString> token = m_tools.cloudToken ? m_tools.cloudToken() : std::nullopt;
        if (!token)
            throw CloudStorageError(s("Connect this site to its Laravel Cloud account first."));
        const QString tokenText = *token;
        const QString environmentID = m_checkpoint.environmentID;
        // A rejected token or a missing environment stops here, before anything is copied.
        setStatus(s("Reading the Cloud environment…"));
        try {
            co_await m_tools.cloud->environment(environmentID, tokenText, stop);
        } catch (const CancelledError&) {
            throw;
        } catch (const HalvikError& error) {
            throw CloudStorageError(error.description());
        }

        m_checkpoint.remoteStarted = true;
        save();
        if (current.database && !m_checkpoint.copiedDatabase) {
            setStatus(s("Copying and verifying database…"));
            const QString text23 = s("copy-database");
            const Json copied = co_await call(text23, copyFolder, stop, true);
            m_checkpoint.result.tables = CloudStorageResult::fromJson(copied).tables;
            m_checkpoint.copiedDatabase = true;
            save();
            addLog(s("Database copied and verified (%1 tables)").arg(m_checkpoint.result.tables.size()));
        }
        if (current.assets && !m_checkpoint.copiedAssets) {
            setStatus(s("Copying and verifying assets…"));
            const QString text24 = s("copy-assets");
            const Json copied = co_await call(text24, copyFolder, stop, true);
            m_checkpoint.result.files = CloudStorageResult::fromJson(copied).files;
            m_checkpoint.copiedAssets = true;
            save();
            addLog(s("Assets copied and verified (%1 files)").arg(m_checkpoint.result.files));
        }
        if (!m_checkpoint.applied) {
            setStatus(s("Updating local site…"));
            QFuture<QStringList> changing =
                QtConcurrent::run(&CloudStorageSession::preparedChanges, sitePath, copyFolder);
            const QStringList changes = co_await changing;
            // Last chance to stop: from here the apply runs to its end.
            stop.throwIfCancelled();
            applyToSite(std::nullopt, changes);
            addLog(s("Local site updated · backup saved"));
        }
        setStatus(s("Saving Cloud configuration…"));
        co_await saveCloudConfiguration(tokenText, stop);
        addLog(s("Cloud configuration saved"));
        setStatus(s("Review and push the prepared code changes to deploy."));
    };
    co_await runStep(CloudStorageStage::copyAndConfigure, cancel, work);
}

QCoro::Task<> CloudStorageSession::saveCloudConfiguration(const QString& token, CancellationToken cancel)
{
    const CloudStoragePlan current = plan();
    QList<CloudEnvironmentVariable> variables;
    if (current.database) {
        const auto& db = *current.database;
        variables << CloudEnvironmentVariable{s("HALVIK_DATABASE"), s("true")}
                  << CloudEnvironmentVariable{s("HALVIK_DB_DRIVER"), db.driver}
                  << CloudEnvironmentVariable{s("HALVIK_DB_HOST"), db.host}
                  << CloudEnvironmentVariable{s("HALVIK_DB_PORT"), QString::number(db.port)}
                  << CloudEnvironmentVariable{s("HALVIK_DB_DATABASE"), db.name}
                  << CloudEnvironmentVariable{s("HALVIK_DB_USERNAME"), db.username}
                  << CloudEnvironmentVariable{s("HALVIK_DB_PASSWORD"), db.password}
                  << CloudEnvironmentVariable{s("HALVIK_DB_SSLMODE"), db.sslmode};
    }
    if (current.assets && current.bucket) {
        const auto& b = *current.bucket;
        variables << CloudEnvironmentVariable{s("HALVIK_OBJECT_STORAGE"), s("true")}
                  << CloudEnvironmentVariable{s("HALVIK_S3_ENDPOINT"), b.endpoint}
                  << CloudEnvironmentVariable{s("HALVIK_S3_REGION"), b.region}
                  << CloudEnvironmentVariable{s("HALVIK_S3_BUCKET"), b.name}
                  << CloudEnvironmentVariable{s("HALVIK_S3_KEY"), b.key}
                  << CloudEnvironmentVariable{s("HALVIK_S3_SECRET"), b.secret}
                  << CloudEnvironmentVariable{s("HALVIK_S3_URL"), b.url};
    }
    variables << CloudEnvironmentVariable{s("HALVIK_STORAGE_MANAGED"), s("true")};
    LaravelCloudClient& cloud = *m_tools.cloud;
    const QString env = m_checkpoint.environmentID;
    try {
        co_await cloud.addEnvironmentVariables(env, variables, token, cancel);
        const CloudEnvironment environment = co_await cloud.environment(env, token, cancel);
        const QString exportLine = s("export HALVIK_STORAGE_BUILD=true");
        QString build = environment.buildCommand.value_or(QString());
        if (!build.contains(exportLine))
            build = build.isEmpty() ? exportLine : exportLine + QLatin1Char('\n') + build;
        const std::optional<QString> buildCommand = build;
        const std::optional<QString> deployCommand =
            CloudCommands::withMigrateDeployCommand(environment.deployCommand);
        const std::optional<QString> schema;
        co_await cloud.updateEnvironment(env, token, buildCommand, deployCommand, schema, cancel);
        const CloudEnvironment saved = co_await cloud.environment(env, token, cancel);
        for (const CloudEnvironmentVariable& variable : variables) {
            const bool present =
                std::any_of(saved.environmentVariables.begin(), saved.environmentVariables.end(),
                            [&](const CloudEnvironmentVariable& v) { return v.key == variable.key; });
            if (!present)
                throw CloudStorageError(
                    s("Cloud has not confirmed the saved storage configuration. Retry this "
                      "step before deploying."));
        }
    } catch (const CloudStorageError&) {
        throw;
    } catch (const CancelledError&) {
        throw;
    } catch (const HalvikError& error) {
        throw CloudStorageError(error.description());
    }
}

void CloudStorageSession::applyToSite(std::optional<int> failAfter, std::optional<QStringList> prepared)
{
    const QString site = m_site->path();
    const QString backup = folder() + s("/before");
    const QString journalPath = folder() + s("/changes.json");
    if (QFileInfo::exists(site + s("/database/halvik-cloud.sqlite")))
        throw CloudStorageError(
            s("This site already has a prepared storage database. Keep the existing setup "
              "and review its configuration."));
    m_checkpoint.applying = true;
    save();

    // What the working copy changed: every file that differs from the site or is new.
    struct Change
    {
        QString relative;
        QString from; // the prepared file
    };
    QList<Change> changes;
    for (const QString& relative : prepared ? *prepared : preparedChanges(site, workingCopy()))
        changes << Change{relative, workingCopy() + QLatin1Char('/') + relative};
    changes << Change{s("database/halvik-cloud.sqlite"), workingCopy() + s("/database/database.sqlite")};
    changes << Change{s(".env"), QString()};
    changes << Change{s("bootstrap/cache/config.php"), QString()};

    Json journal = Json::array();
    makePrivateFolder(backup);
    int applied = 0;
    for (const Change& change : changes) {
        const QString target = site + QLatin1Char('/') + change.relative;
        const QFileInfo info(target);
        const bool existed = info.exists();
        if (change.from.isEmpty() && !existed && change.relative != QLatin1String(".env"))
            continue;
        if (existed) {
            const QString saved = backup + QLatin1Char('/') + change.relative;
            QDir().mkpath(QFileInfo(saved).absolutePath());
            QFile::remove(saved);
            if (!QFile::copy(target, saved))
                throw CloudStorageError(s("Could not back up %1.").arg(change.relative));
        }
        journal.push_back(Json{{"path", change.relative.toStdString()}, {"existed", existed}});
        writeOrThrow(journalPath, QByteArray::fromStdString(journal.dump(2)),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (failAfter && applied == *failAfter)
            throw CloudStorageError(s("Applying stopped."));
        const auto mode = existed ? info.permissions()
                                  : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther;
        if (change.relative == QLatin1String("bootstrap/cache/config.php")) {
            QFile::remove(target);
        } else if (change.relative == QLatin1String(".env")) {
            const QString edited = editEnv(readText(target),
                                           {{s("DB_CONNECTION"), s("sqlite")},
                                            {s("DB_DATABASE"), s("database/halvik-cloud.sqlite")},
                                            {s("QUILLMAR_ELOQUENT_CONNECTION"), s("sqlite")}},
                                           {s("DB_URL"), s("DATABASE_URL")});
            writeOrThrow(target, edited.toUtf8(), mode);
        } else {
            QFile from(change.from);
            if (!from.open(QIODevice::ReadOnly))
                throw CloudStorageError(s("Could not read the prepared %1.").arg(change.relative));
            writeOrThrow(target, from.readAll(), mode);
        }
        ++applied;
    }
    m_checkpoint.applying = false;
    m_checkpoint.applied = true;
    save();
}

QCoro::Task<> CloudStorageSession::restoreBackup()
{
    const auto held = lock();
    load();
    setStatus(s("Restoring local files…"));
    const QString site = m_site->path();
    if (!m_checkpoint.sitePath.isEmpty() && m_checkpoint.sitePath != site)
        throw CloudStorageError(
            s("The site folder moved. Restore its original path before restoring this backup."));
    QFile file(folder() + s("/changes.json"));
    if (!file.open(QIODevice::ReadOnly))
        throw CloudStorageError(s("The backup journal is invalid. Open the setup folder before continuing."));
    const Json journal = Json::parse(file.readAll().toStdString(), nullptr, false);
    if (!journal.is_array())
        throw CloudStorageError(s("The backup journal is invalid. Open the setup folder before continuing."));
    QList<BackupChange> changes;
    for (const Json& item : journal) {
        if (!item.is_object() || !item.contains("path") || !item["path"].is_string())
            throw CloudStorageError(
                s("The backup journal is invalid. Open the setup folder before continuing."));
        const QString path = QString::fromStdString(item["path"].get<std::string>());
        if (path.startsWith(QLatin1Char('/')) || path.split(QLatin1Char('/')).contains(s("..")))
            throw CloudStorageError(
                s("The backup journal is invalid. Open the setup folder before continuing."));
        changes << BackupChange{path, item.value("existed", false)};
    }
    for (const BackupChange& change : changes)
        if (change.existed && !QFileInfo::exists(folder() + s("/before/") + change.path))
            throw CloudStorageError(s("A backup file is missing. Open the setup folder before continuing."));
    for (const BackupChange& change : changes) {
        const QString target = site + QLatin1Char('/') + change.path;
        if (!change.existed) {
            QFile::remove(target);
            continue;
        }
        const QString saved = folder() + s("/before/") + change.path;
        QFile from(saved);
        if (!from.open(QIODevice::ReadOnly))
            throw CloudStorageError(s("A backup file is missing. Open the setup folder before continuing."));
        writeOrThrow(target, from.readAll(), QFileInfo(saved).permissions());
    }
    QFile::remove(folder() + s("/changes.json"));
    m_checkpoint.applying = false;
    m_checkpoint.applied = false;
    if (int(m_checkpoint.stage) > int(CloudStorageStage::copyAndConfigure))
        m_checkpoint.stage = CloudStorageStage::copyAndConfigure;
    m_checkpoint.completed.removeAll(stageName(CloudStorageStage::copyAndConfigure));
    save();
    addLog(s("Local files restored"));
    if (m_checkpoint.baseline.isEmpty())
        co_return;
    auto hashing = QtConcurrent::run(&CloudStorageSession::fingerprintOf, site);
    const QMap<QString, QString> now = co_await hashing;
    if (now != m_checkpoint.baseline)
        throw CloudStorageError(
            s("Setup files were restored, but other local files have changed. Keep the backup "
              "and review those changes before continuing."));
}

void CloudStorageSession::discardForRestart()
{
    {
        const auto held = lock();
        load();
        if (m_checkpoint.applying)
            throw CloudStorageError(
                s("Applying the local files was interrupted. Open the backup and restore the "
                  "site before starting again."));
        QDir(folder()).removeRecursively();
    }
    QDir(folder()).removeRecursively();
    m_tools.secrets->remove(secretKey("password"));
    m_tools.secrets->remove(secretKey("secret"));
    m_setupID = uuidText();
    m_checkpoint = {};
    m_log.clear();
    m_error.reset();
    m_cancelled = false;
    Q_EMIT changed();
}

QCoro::Task<> CloudStorageSession::runToEnd(bool dryRun, CancellationToken cancel)
{
    co_await inspect(cancel);
    co_await check(cancel);
    if (dryRun)
        co_return;
    co_await prepare(cancel);
    co_await copyAndConfigure(cancel);
}

} // namespace halvik
