#include "NetlifyPublisher.h"

#include "async/Sleep.h"
#include "services/ParallelFolderWalk.h"
#include "services/ProcessRunner.h"

#include <QCoroFuture>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QScopeGuard>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw HalvikError(QStringLiteral("Couldn’t read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

// The files still to send, shared by the parallel uploads.
struct UploadQueue
{
    QStringList paths;
    QHash<QString, QByteArray> contents; // by "/<path>": bytes already read while hashing
    qsizetype next = 0;
    int done = 0;
    std::exception_ptr failure;
};

QCoro::Task<> uploadWorker(NetlifyClient& client, std::shared_ptr<UploadQueue> queue, QString deployID,
                           QString folder, QString token, NetlifyPublisher::ProgressCallback onProgress,
                           CancellationToken cancel)
{
    while (!queue->failure && queue->next < queue->paths.size()) {
        const QString path = queue->paths.at(queue->next++);
        try {
            cancel.throwIfCancelled();
            QByteArray data = queue->contents.take(QLatin1Char('/') + path);
            if (data.isNull()) {
                QFuture<QByteArray> read = QtConcurrent::run(&readWhole, QDir(folder).filePath(path));
                data = co_await read;
            }
            co_await client.uploadFile(deployID, path, data, token, cancel);
        } catch (...) {
            if (!queue->failure)
                queue->failure = std::current_exception();
            co_return;
        }
        ++queue->done;
        if (onProgress)
            onProgress(double(queue->done) / double(queue->paths.size()));
    }
}

bool refusesDigests(const NetlifyClientError& error)
{
    return error.kind() == NetlifyClientError::Case::failed &&
           (error.status() == 404 || error.status() == 415 || error.status() == 422);
}

// Removes the file when it goes out of scope.
struct TemporaryFile
{
    QString path;
    ~TemporaryFile() { QFile::remove(path); }
};

} // namespace

QMap<QString, QString> NetlifyPublisher::digests(const QString& folder)
{
    return hashFolder(folder, 0, 0).digests;
}

NetlifyPublisher::HashedFolder NetlifyPublisher::hashFolder(const QString& folder, qint64 keptFileBytes,
                                                            qint64 keptTotalBytes)
{
    HashedFolder hashed;
    std::atomic<qint64> kept = 0;
    QMutex lock;
    QString failure;
    const auto visit = [&](const ParallelFolderWalk::File& file) {
        const QString key = QLatin1Char('/') + QFile::decodeName(file.relative.c_str());
        const auto fail = [&] {
            const QMutexLocker locked(&lock);
            if (failure.isEmpty())
                failure = QStringLiteral("Couldn’t read %1%2: %3")
                              .arg(folder, key, QString::fromLocal8Bit(std::strerror(errno)));
        };
        const int fd = ::openat(file.folderFd, file.name, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail();
        const auto closing = qScopeGuard([fd] { ::close(fd); });
        struct stat info
        {
        };
        if (::fstat(fd, &info) != 0)
            return fail();
        const bool keep = info.st_size <= keptFileBytes && (kept += info.st_size) <= keptTotalBytes;
        // A kept file is read whole; any other in chunks of at most 1 MB.
        QByteArray bytes(qsizetype(keep ? info.st_size : std::min<qint64>(info.st_size, 1 << 20)),
                         Qt::Uninitialized);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        qsizetype filled = 0;
        while (true) {
            if (filled == bytes.size()) {
                if (keep)
                    break;
                hash.addData(bytes);
                filled = 0;
            }
            const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return fail();
            if (got == 0)
                break;
            filled += got;
        }
        bytes.truncate(filled);
        hash.addData(bytes);
        const QString digest = QString::fromLatin1(hash.result().toHex());
        const QMutexLocker locked(&lock);
        hashed.digests.insert(key, digest);
        if (keep)
            hashed.contents.insert(key, bytes);
    };
    if (!ParallelFolderWalk::run(folder, visit))
        throw HalvikError(QStringLiteral("Couldn’t read %1.").arg(folder));
    if (!failure.isEmpty())
        throw HalvikError(failure);
    return hashed;
}

QCoro::Task<NetlifyPublishResult> NetlifyPublisher::publish(QString siteID, QString folder, QString token,
                                                            QString title, bool forceZip, LineCallback onLine,
                                                            ProgressCallback onProgress,
                                                            CancellationToken cancel)
{
    if (!onLine)
        onLine = [](const QString&) {};
    if (forceZip)
        co_return co_await publishZip(siteID, folder, token, title, onLine, cancel);

    QFuture<HashedFolder> hashing =
        QtConcurrent::run([folder] { return NetlifyPublisher::hashFolder(folder); });
    auto files = std::make_shared<HashedFolder>(co_await hashing);
    cancel.throwIfCancelled();
    onLine(QStringLiteral("Hashing %1 files…").arg(files->digests.size()));
    try {
        co_return co_await publishDigests(siteID, folder, token, title, files, onLine, onProgress, cancel);
    } catch (const NetlifyClientError& error) {
        if (!refusesDigests(error))
            throw;
    }
    co_return co_await publishZip(siteID, folder, token, title, onLine, cancel);
}

QCoro::Task<NetlifyPublishResult>
NetlifyPublisher::publishDigests(QString siteID, QString folder, QString token, QString title,
                                 std::shared_ptr<HashedFolder> files, LineCallback onLine,
                                 ProgressCallback onProgress, CancellationToken cancel)
{
    const std::optional<QString> deployTitle = title;
    NetlifyDeploy deploy =
        co_await m_client.createDigestDeploy(siteID, files->digests, token, deployTitle, cancel);

    // One path per required digest: identical files are sent once.
    const std::set<QString> required(deploy.required.cbegin(), deploy.required.cend());
    std::set<QString> chosen;
    auto queue = std::make_shared<UploadQueue>();
    for (auto it = files->digests.cbegin(); it != files->digests.cend(); ++it)
        if (required.count(it.value()) && chosen.insert(it.value()).second) {
            queue->paths << it.key().mid(1);
            if (const auto content = files->contents.constFind(it.key()); content != files->contents.cend())
                queue->contents.insert(it.key(), *content);
        }
    files->contents.clear();
    NetlifyPublishResult result;
    result.uploaded = int(queue->paths.size());
    result.unchanged = int(files->digests.size()) - result.uploaded;
    onLine(QStringLiteral("Uploading %1 changed files to Netlify (%2 unchanged)…")
               .arg(result.uploaded)
               .arg(result.unchanged));

    std::vector<QCoro::Task<>> workers;
    for (int i = 0; i < parallelUploads; ++i)
        workers.push_back(uploadWorker(m_client, queue, deploy.id, folder, token, onProgress, cancel));
    for (QCoro::Task<>& worker : workers)
        co_await worker;
    if (queue->failure)
        std::rethrow_exception(queue->failure);
    // The state in hand predates the uploads, and Netlify often finishes a small deploy at
    // once: look again now rather than after a whole poll interval.
    if (!deploy.id.isEmpty())
        deploy = co_await m_client.deploy(deploy.id, token, cancel);
    result.deploy = co_await waitUntilReady(deploy, token, cancel);
    co_return result;
}

QCoro::Task<NetlifyPublishResult> NetlifyPublisher::publishZip(QString siteID, QString folder, QString token,
                                                               QString title, LineCallback onLine,
                                                               CancellationToken cancel)
{
    onLine(QStringLiteral("Zipping %1…").arg(folder));
    const TemporaryFile zip{
        QDir(QDir::tempPath())
            .filePath(s("halvik-static-") + QUuid::createUuid().toString(QUuid::WithoutBraces) + s(".zip"))};
    ProcessRequest request;
    request.executable = s("/usr/bin/zip");
    request.arguments = {s("-r"), zip.path, s(".")};
    request.workingDirectory = folder;
    const ProcessRunner::OutputCallback quiet;
    const ProcessResult zipped = co_await m_runner.run(request, quiet, cancel);
    if (zipped.exitCode != 0 || zipped.endedBySignal)
        throw HalvikError(s("zip failed"));
    QFuture<QByteArray> read = QtConcurrent::run(&readWhole, zip.path);
    const QByteArray bytes = co_await read;
    onLine(s("Uploading to Netlify…"));
    const std::optional<QString> deployTitle = title;
    NetlifyDeploy deploy = co_await m_client.deployZip(siteID, bytes, token, deployTitle, cancel);
    NetlifyPublishResult result;
    result.zipped = true;
    QFuture<int> counting = QtConcurrent::run(&ParallelFolderWalk::countFiles, folder);
    result.uploaded = co_await counting;
    result.deploy = co_await waitUntilReady(deploy, token, cancel);
    co_return result;
}

QCoro::Task<NetlifyDeploy> NetlifyPublisher::waitUntilReady(NetlifyDeploy deploy, QString token,
                                                            CancellationToken cancel)
{
    QElapsedTimer waited;
    waited.start();
    while (true) {
        if (deploy.state == QLatin1String("ready"))
            co_return deploy;
        if (deploy.state == QLatin1String("error"))
            throw HalvikError(deploy.errorMessage.isEmpty() ? s("Netlify could not process the deploy.")
                                                            : deploy.errorMessage);
        if (deploy.id.isEmpty())
            co_return deploy;
        if (waited.elapsed() >= m_timing.pollLimit.count())
            throw HalvikError(s("Netlify didn’t finish the deploy within 2 minutes."));
        co_await sleepFor(m_timing.pollInterval, cancel);
        deploy = co_await m_client.deploy(deploy.id, token, cancel);
    }
}

} // namespace halvik
