#include "NetlifyPublisher.h"

#include "async/Sleep.h"
#include "services/ProcessRunner.h"

#include <QCoroFuture>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <set>
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
            QFuture<QByteArray> read = QtConcurrent::run(&readWhole, QDir(folder).filePath(path));
            const QByteArray data = co_await read;
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

int countFiles(const QString& folder)
{
    int count = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
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
    QMap<QString, QString> files;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw HalvikError(QStringLiteral("Couldn’t read %1: %2").arg(path, file.errorString()));
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(&file);
        files.insert(QLatin1Char('/') + root.relativeFilePath(path),
                     QString::fromLatin1(hash.result().toHex()));
    }
    return files;
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

    QFuture<QMap<QString, QString>> hashing = QtConcurrent::run(&NetlifyPublisher::digests, folder);
    QMap<QString, QString> files = co_await hashing;
    cancel.throwIfCancelled();
    onLine(QStringLiteral("Hashing %1 files…").arg(files.size()));
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
                                 QMap<QString, QString> files, LineCallback onLine,
                                 ProgressCallback onProgress, CancellationToken cancel)
{
    const std::optional<QString> deployTitle = title;
    NetlifyDeploy deploy = co_await m_client.createDigestDeploy(siteID, files, token, deployTitle, cancel);

    // One path per required digest: identical files are sent once.
    const std::set<QString> required(deploy.required.cbegin(), deploy.required.cend());
    std::set<QString> chosen;
    auto queue = std::make_shared<UploadQueue>();
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        if (required.count(it.value()) && chosen.insert(it.value()).second)
            queue->paths << it.key().mid(1);
    NetlifyPublishResult result;
    result.uploaded = int(queue->paths.size());
    result.unchanged = int(files.size()) - result.uploaded;
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
    QFuture<int> counting = QtConcurrent::run(&countFiles, folder);
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
