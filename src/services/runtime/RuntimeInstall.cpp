// The download-and-install flows of RuntimeManager: extra PHP lines and the managed Node.
#include "RuntimeError.h"
#include "RuntimeFiles.h"
#include "RuntimeManager.h"

#include "services/ProcessRunner.h"

#include "platform/PlatformTexts.h"
#include "platform/RuntimePlatform.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QUuid>
#include <QtConcurrent>

namespace halvik {

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Deletes the whole folder once, off the main thread.
void removeInBackground(const QString& path)
{
    if (!path.isEmpty() && QFileInfo::exists(path))
        (void)QtConcurrent::run([path] { QDir(path).removeRecursively(); });
}

// A scratch folder that is gone when the flow ends, however it ends.
class ScratchFolder
{
public:
    ScratchFolder(const QString& parent, const QString& prefix)
        : m_path(parent + QLatin1Char('/') + prefix + newUuid())
    {
        if (!QDir().mkpath(m_path))
            throw std::runtime_error(
                QStringLiteral("Couldn’t create the folder %1.").arg(m_path).toStdString());
    }
    // Takes charge of a folder something else created.
    explicit ScratchFolder(QString existing) : m_path(std::move(existing)) {}
    ~ScratchFolder() { removeInBackground(m_path); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const QString& path() const { return m_path; }
    // Keeps the folder: it has been moved into place.
    void release() { m_path.clear(); }

private:
    QString m_path;
};

void ensureAlive(const LifeToken& alive)
{
    if (!alive)
        throw CancelledError();
}

QString progressText(const QString& what, qint64 received, qint64 total)
{
    if (total > 0)
        return QStringLiteral("%1 %2%").arg(what).arg(received * 100 / total);
    return QStringLiteral("%1 %2 MB").arg(what).arg(double(received) / (1024 * 1024), 0, 'f', 1);
}

QUrl childUrl(const QUrl& root, const QString& path)
{
    QString base = root.toString();
    if (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path, QUrl::StrictMode);
}

QString tarPath()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("tar"));
    return found.isEmpty() ? QStringLiteral("/usr/bin/tar") : found;
}

} // namespace

void RuntimeManager::cancelPHPInstall()
{
    if (m_isInstallingPHP)
        m_phpCancel.cancel();
}

void RuntimeManager::cancelNodeInstall()
{
    if (m_isInstallingNode)
        m_nodeCancel.cancel();
}

QCoro::Task<> RuntimeManager::installManagedPHP(QString requested)
{
    if (m_isInstallingPHP)
        co_return;
    const QString line = RuntimeFiles::normalizedPHPLine(requested);
    if (!RuntimeFiles::offeredPHPLines().contains(line))
        throw RuntimeError::phpInstallFailed(QStringLiteral("Halvik doesn’t offer PHP %1.").arg(line));

    const LifeToken alive = m_life.token();
    m_phpCancel = CancellationSource();
    const CancellationToken token = m_phpCancel.token();
    setPHPInstall(true, line, QStringLiteral("Looking up PHP %1…").arg(line));
    try {
        co_await installPHPLine(line, token);
    } catch (...) {
        if (alive)
            setPHPInstall(false, std::nullopt, std::nullopt);
        throw;
    }
    ensureAlive(alive);
    setPHPInstall(false, std::nullopt, std::nullopt);
}

QCoro::Task<> RuntimeManager::installPHPLine(QString line, CancellationToken token)
{
    const LifeToken alive = m_life.token();
    const QString suffix = RuntimePlatform::currentArchiveNames().phpSuffix;
    // The archives sit beside the list, whether the configured address ends in a slash or not.
    QUrl listUrl = m_roots.phpDownloads;
    if (!listUrl.path().endsWith(QLatin1Char('/')))
        listUrl.setPath(listUrl.path() + QLatin1Char('/'));
    const HttpFetcher::Reply list = co_await m_http.get(listUrl, token);
    ensureAlive(alive);
    if (!list.ok())
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("Couldn’t load the PHP download list (HTTP %1).").arg(list.status));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString page = utf8.decode(list.body);
    if (utf8.hasError())
        throw RuntimeError::phpInstallFailed(QStringLiteral("Couldn’t read the PHP download list."));
    const std::optional<QString> version = RuntimeFiles::newestPHPBuild(page, line, suffix);
    if (!version)
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("No static PHP %1 build for %2.").arg(line, PlatformTexts::thisComputer()));

    const QString archiveName = QStringLiteral("php-%1-cli-%2.tar.gz").arg(*version, suffix);
    const QUrl url(listUrl.toString() + archiveName, QUrl::StrictMode);
    if (!url.isValid())
        throw RuntimeError::phpInstallFailed(QStringLiteral("Bad PHP download URL."));

    const ScratchFolder scratch(QDir::tempPath(), QStringLiteral("halvik-php-"));
    const QString what = QStringLiteral("Downloading PHP %1…").arg(*version);
    setPHPProgress(what);
    const QString archive = scratch.path() + QLatin1Char('/') + archiveName;
    const HttpFetcher::Progress progress = [this, what](qint64 received, qint64 total) {
        setPHPProgress(progressText(what, received, total));
    };
    const HttpFetcher::Download download = co_await m_http.download(url, archive, progress, token);
    ensureAlive(alive);
    if (!download.ok())
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("PHP download failed (HTTP %1).").arg(download.status));

    setPHPProgress(QStringLiteral("Unpacking PHP %1…").arg(*version));
    const std::optional<QString> unpackError = co_await unpack(archive, scratch.path(), token);
    ensureAlive(alive);
    if (unpackError)
        throw RuntimeError::phpInstallFailed(unpackError->isEmpty() ? QStringLiteral("Couldn’t unpack PHP.")
                                                                    : *unpackError);
    const std::optional<QString> binary = RuntimeFiles::findBinary(scratch.path(), QStringLiteral("php"));
    if (!binary)
        throw RuntimeError::phpInstallFailed(QStringLiteral("PHP archive didn’t contain a php binary."));

    // The new build is put together and checked beside the old one, which stays usable until
    // the new one has answered.
    const QString lineFolder = m_roots.phpLines() + QLatin1Char('/') + line;
    ScratchFolder staging(m_roots.phpLines(), QStringLiteral(".new-%1-").arg(line));
    const QString cli = staging.path() + QStringLiteral("/php-cli");
    const QString source = *binary;
    QFuture<bool> moving = QtConcurrent::run([source, cli] { return QFile::rename(source, cli); });
    const bool moved = co_await moving;
    ensureAlive(alive);
    if (!moved)
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("Couldn’t copy PHP into %1.").arg(staging.path()));
    RuntimeFiles::makeExecutable(cli);
    RuntimeFiles::writeAtomically(staging.path() + QStringLiteral("/php.ini"), RuntimeFiles::managedIni());
    RuntimeFiles::writeAtomically(staging.path() + QStringLiteral("/php"),
                                  RuntimeFiles::phpWrapper(lineFolder), 0755);
    RuntimeFiles::writeAtomically(staging.path() + QStringLiteral("/VERSION"), version->toUtf8() + '\n');

    setPHPProgress(QStringLiteral("Verifying…"));
    ProcessRequest verify;
    verify.executable = cli;
    verify.arguments = {QStringLiteral("-d"), QStringLiteral("pcre.jit=0"), QStringLiteral("-r"),
                        QStringLiteral("echo PHP_VERSION;")};
    verify.environment = {{QStringLiteral("PHPRC"), staging.path()}};
    const ProcessResult result = co_await m_runner.run(std::move(verify), {}, token);
    ensureAlive(alive);
    if (result.exitCode != 0)
        throw RuntimeError::phpInstallFailed(result.combined().trimmed().isEmpty()
                                                 ? QStringLiteral("php -v failed.")
                                                 : result.combined().trimmed());
    if (!replaceFolder(staging.path(), lineFolder))
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("Couldn’t move the new PHP into %1.").arg(lineFolder));
    staging.release();
    co_await clearQuarantine(lineFolder);
    ensureAlive(alive);
    refreshExtraPHP();
    Q_EMIT installationsChanged();
}

QCoro::Task<> RuntimeManager::installManagedNode()
{
    if (m_isInstallingNode)
        co_return;
    const LifeToken alive = m_life.token();
    m_nodeCancel = CancellationSource();
    const CancellationToken token = m_nodeCancel.token();
    setNodeInstall(
        true, QStringLiteral("Looking up Node %1 LTS…").arg(QLatin1String(RuntimeFiles::managedNodeMajor)));
    try {
        co_await installNode(token);
    } catch (...) {
        if (alive)
            setNodeInstall(false, std::nullopt);
        throw;
    }
    ensureAlive(alive);
    setNodeInstall(false, std::nullopt);
}

QCoro::Task<> RuntimeManager::installNode(CancellationToken token)
{
    const LifeToken alive = m_life.token();
    const QUrl indexUrl = childUrl(m_roots.nodeDistribution, QStringLiteral("/dist/index.json"));
    if (!indexUrl.isValid())
        throw RuntimeError::nodeInstallFailed(QStringLiteral("Bad Node index URL."));
    const HttpFetcher::Reply index = co_await m_http.get(indexUrl, token);
    ensureAlive(alive);
    std::optional<QString> version;
    try {
        if (!index.ok())
            throw std::runtime_error("no index");
        version =
            RuntimeFiles::newestNodeLTS(index.body, QString::fromLatin1(RuntimeFiles::managedNodeMajor));
    } catch (const std::exception&) {
        throw RuntimeError::nodeInstallFailed(QStringLiteral("Couldn’t read the Node release list."));
    }
    if (!version)
        throw RuntimeError::nodeInstallFailed(QStringLiteral("No Node %1 LTS release found.")
                                                  .arg(QLatin1String(RuntimeFiles::managedNodeMajor)));

    const QString folderName =
        QStringLiteral("node-v%1-%2").arg(*version, RuntimePlatform::currentArchiveNames().nodeSuffix);
    const QString archiveName = folderName + QStringLiteral(".tar.gz");
    const QString releasePath = QStringLiteral("/dist/v%1/").arg(*version);
    const QUrl url = childUrl(m_roots.nodeDistribution, releasePath + archiveName);
    if (!url.isValid())
        throw RuntimeError::nodeInstallFailed(QStringLiteral("Bad Node download URL."));

    // The release's checksum list, when the server publishes one.
    std::optional<QByteArray> expected;
    const HttpFetcher::Reply sums = co_await m_http.get(
        childUrl(m_roots.nodeDistribution, releasePath + QStringLiteral("SHASUMS256.txt")), token);
    ensureAlive(alive);
    if (sums.ok())
        expected = RuntimeFiles::checksumFor(sums.body, archiveName);

    const ScratchFolder scratch(QDir::tempPath(), QStringLiteral("halvik-node-"));
    const QString what = QStringLiteral("Downloading Node v%1…").arg(*version);
    setNodeProgress(what);
    const QString archive = scratch.path() + QLatin1Char('/') + archiveName;
    const HttpFetcher::Progress progress = [this, what](qint64 received, qint64 total) {
        setNodeProgress(progressText(what, received, total));
    };
    const HttpFetcher::Checksum checksum =
        expected ? HttpFetcher::Checksum::sha256 : HttpFetcher::Checksum::none;
    const HttpFetcher::Download download = co_await m_http.download(url, archive, progress, token, checksum);
    ensureAlive(alive);
    if (!download.ok())
        throw RuntimeError::nodeInstallFailed(
            QStringLiteral("Node download failed (HTTP %1).").arg(download.status));
    if (expected && *expected != download.sha256)
        throw RuntimeError::nodeInstallFailed(
            QStringLiteral("The Node download doesn’t match its published checksum. Nothing was installed."));

    setNodeProgress(QStringLiteral("Unpacking Node v%1…").arg(*version));
    const std::optional<QString> unpackError = co_await unpack(archive, scratch.path(), token);
    ensureAlive(alive);
    if (unpackError)
        throw RuntimeError::nodeInstallFailed(unpackError->isEmpty() ? QStringLiteral("Couldn’t unpack Node.")
                                                                     : *unpackError);
    const QString unpacked = scratch.path() + QLatin1Char('/') + folderName;
    if (!RuntimeFiles::isExecutable(unpacked + QStringLiteral("/bin/node")))
        throw RuntimeError::nodeInstallFailed(QStringLiteral("Node archive didn’t contain bin/node."));
    token.throwIfCancelled();

    const QString runtimeFolder = m_roots.support + QStringLiteral("/runtime");
    QDir().mkpath(runtimeFolder);
    const QString staging = runtimeFolder + QStringLiteral("/.new-node-") + newUuid();
    const bool placed = co_await moveFolder(unpacked, staging, token);
    ensureAlive(alive);
    if (!placed) {
        removeInBackground(staging);
        throw RuntimeError::nodeInstallFailed(
            QStringLiteral("Couldn’t copy Node into %1.").arg(runtimeFolder));
    }
    ScratchFolder keep(staging);
    RuntimeFiles::writeAtomically(staging + QStringLiteral("/HALVIK_NODE_VERSION"), version->toUtf8() + '\n');

    setNodeProgress(QStringLiteral("Verifying…"));
    if (!RuntimeFiles::isExecutable(staging + QStringLiteral("/bin/node")) ||
        !RuntimeFiles::isExecutable(staging + QStringLiteral("/bin/npm")))
        throw RuntimeError::nodeInstallFailed(
            QStringLiteral("Node installed but bin/node or bin/npm is missing."));
    ProcessRequest verify;
    verify.executable = staging + QStringLiteral("/bin/node");
    verify.arguments = {QStringLiteral("-v")};
    const ProcessResult result = co_await m_runner.run(std::move(verify), {}, token);
    ensureAlive(alive);
    if (result.exitCode != 0)
        throw RuntimeError::nodeInstallFailed(result.combined().trimmed().isEmpty()
                                                  ? QStringLiteral("node -v failed.")
                                                  : result.combined().trimmed());
    if (!replaceFolder(staging, m_roots.managedNode()))
        throw RuntimeError::nodeInstallFailed(
            QStringLiteral("Couldn’t move the new Node into %1.").arg(m_roots.managedNode()));
    keep.release();
    co_await clearQuarantine(m_roots.managedNode());
    ensureAlive(alive);
    Q_EMIT changed();
    Q_EMIT installationsChanged();
}

void RuntimeManager::removeManagedNode()
{
    const QString folder = m_roots.managedNode();
    if (!QFileInfo::exists(folder))
        return;
    // Out of the way at once; the many files of a Node tree are deleted off the main thread.
    const QString aside = folder + QStringLiteral(".removed-") + newUuid();
    if (!QDir().rename(folder, aside))
        throw RuntimeError::nodeInstallFailed(QStringLiteral("Couldn’t remove Halvik’s Node."));
    removeInBackground(aside);
    Q_EMIT changed();
    Q_EMIT installationsChanged();
}

QCoro::Task<std::optional<QString>> RuntimeManager::unpack(QString archive, QString into,
                                                           CancellationToken token)
{
    ProcessRequest request;
    request.executable = tarPath();
    request.arguments = {QStringLiteral("-xzf"), archive, QStringLiteral("-C"), into};
    const ProcessResult result = co_await m_runner.run(std::move(request), {}, token);
    if (result.exitCode == 0)
        co_return std::nullopt;
    co_return result.combined().trimmed();
}

QCoro::Task<bool> RuntimeManager::moveFolder(QString from, QString to, CancellationToken token)
{
    if (QDir().rename(from, to))
        co_return true;
    // Another file system: copy with links and modes kept.
    ProcessRequest request;
    request.executable = QStandardPaths::findExecutable(QStringLiteral("cp"));
    request.arguments = {QStringLiteral("-a"), from, to};
    const ProcessResult result = co_await m_runner.run(std::move(request), {}, token);
    co_return result.exitCode == 0;
}

QCoro::Task<> RuntimeManager::clearQuarantine(QString folder)
{
    // Downloads carry a quarantine mark on macOS that keeps them from running; Linux has none.
    if (m_roots.quarantineTool.isEmpty())
        co_return;
    ProcessRequest request;
    request.executable = m_roots.quarantineTool;
    request.arguments = {QStringLiteral("-dr"), QStringLiteral("com.apple.quarantine"), folder};
    try {
        co_await m_runner.run(std::move(request));
    } catch (const std::exception&) {
    }
}

bool RuntimeManager::replaceFolder(const QString& staged, const QString& target)
{
    const QString aside = target + QStringLiteral(".old-") + newUuid();
    const bool hadOld = QFileInfo::exists(target);
    if (hadOld && !QDir().rename(target, aside))
        return false;
    if (!QDir().rename(staged, target)) {
        if (hadOld)
            QDir().rename(aside, target);
        return false;
    }
    if (hadOld)
        removeInBackground(aside);
    return true;
}

} // namespace halvik
