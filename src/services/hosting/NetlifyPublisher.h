#pragma once

#include "NetlifyClient.h"

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QHash>
#include <QMap>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace halvik {

class ProcessRunner;

struct NetlifyPublishResult
{
    NetlifyDeploy deploy;
    // Files sent in this publish, and files Netlify already held.
    int uploaded = 0;
    int unchanged = 0;
    bool zipped = false;
};

// Puts a folder live on a Netlify site. By default it sends the folder's manifest of SHA-1
// digests and then only the files Netlify asks for, four at a time, so a republish carries
// only what changed; a host that refuses digest deploys (404, 415, 422), or `forceZip`, gets
// one zip of the folder instead. Then it waits for the deploy to be ready. Main thread.
class NetlifyPublisher
{
public:
    struct Timing
    {
        std::chrono::milliseconds pollInterval{1000};
        std::chrono::milliseconds pollLimit{120000};
    };
    static constexpr int parallelUploads = 4;

    // Lines and progress (0…1 of the upload) arrive on the main thread.
    using LineCallback = std::function<void(const QString&)>;
    using ProgressCallback = std::function<void(double)>;

    NetlifyPublisher(NetlifyClient& client, ProcessRunner& runner) : m_client(client), m_runner(runner) {}
    void setTiming(Timing timing) { m_timing = timing; }

    QCoro::Task<NetlifyPublishResult> publish(QString siteID, QString folder, QString token, QString title,
                                              bool forceZip, LineCallback onLine, ProgressCallback onProgress,
                                              CancellationToken cancel = {});

    // "/<path>" → SHA-1 (lower-case hex) of every file under the folder. Blocking.
    static QMap<QString, QString> digests(const QString& folder);

    struct HashedFolder
    {
        QMap<QString, QString> digests;
        // The bytes of the smaller files, by the same key, read once for hashing and sending.
        QHash<QString, QByteArray> contents;
    };
    // digests(), on every core, keeping what it read of files up to `keptFileBytes` while the
    // kept total stays within `keptTotalBytes`. Blocking.
    static HashedFolder hashFolder(const QString& folder, qint64 keptFileBytes = 1 << 20,
                                   qint64 keptTotalBytes = 64 << 20);

private:
    QCoro::Task<NetlifyPublishResult> publishDigests(QString siteID, QString folder, QString token,
                                                     QString title, std::shared_ptr<HashedFolder> files,
                                                     LineCallback onLine, ProgressCallback onProgress,
                                                     CancellationToken cancel);
    QCoro::Task<NetlifyPublishResult> publishZip(QString siteID, QString folder, QString token, QString title,
                                                 LineCallback onLine, CancellationToken cancel);
    QCoro::Task<NetlifyDeploy> waitUntilReady(NetlifyDeploy deploy, QString token, CancellationToken cancel);

    NetlifyClient& m_client;
    ProcessRunner& m_runner;
    Timing m_timing;
};

} // namespace halvik
