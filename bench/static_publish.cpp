// publish-netlify-2000: the first publish of a 2,000-file output (10 MB) to a Netlify stand-in,
// against the same files PUT by a plain loop over the same HTTP stack, four at a time.
// republish-netlify-changed: a republish after 10 files changed, against that first publish.
#include "BenchMachine.h"
#include "BenchReport.h"
#include "FakeNetlify.h"
#include "WaitFor.h"

#include "services/ProcessRunner.h"
#include "services/accounts/HttpJson.h"
#include "services/hosting/NetlifyClient.h"
#include "services/hosting/NetlifyPublisher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace halvik;

namespace {

constexpr int kFiles = 2000;
constexpr int kBytes = 5 * 1024;
constexpr auto kToken = "bench-token";

void writeOutput(const QString& folder)
{
    QRandomGenerator random(2026);
    for (int i = 0; i < kFiles; ++i) {
        QByteArray page = QByteArrayLiteral("<!doctype html><title>Page</title><p>");
        while (page.size() < kBytes)
            page += QByteArray::number(random.generate64(), 36) + ' ';
        page.truncate(kBytes);
        const QString path = QStringLiteral("%1/pages/%2/page-%3/index.html").arg(folder).arg(i / 100).arg(i);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(page);
    }
}

struct Upload
{
    QString deployID;
    QStringList paths;
    qsizetype next = 0;
};

QCoro::Task<> putLoop(QNetworkAccessManager& manager, std::shared_ptr<Upload> upload, QString folder,
                      QString root)
{
    while (upload->next < upload->paths.size()) {
        const QString path = upload->paths.at(upload->next++);
        QFile file(QDir(folder).filePath(path));
        file.open(QIODevice::ReadOnly);
        const std::optional<QByteArray> body = file.readAll();
        const QUrl url =
            apiURL(root, QStringLiteral("/api/v1/deploys/%1/files/%2").arg(upload->deployID, path));
        const HttpHeaders headers{{"Authorization", QByteArray("Bearer ") + kToken},
                                  {"Content-Type", "application/octet-stream"}};
        co_await sendHttp(manager, "PUT", url, headers, body);
    }
}

// The same files, each PUT once over sendHttp, four at a time, without hashing, manifest or
// waiting for the deploy.
double plainLoop(const QString& folder)
{
    test::FakeNetlify netlify(kToken);
    netlify.start();
    const QString site = netlify.addSite(QStringLiteral("baseline"));
    qputenv("HALVIK_NETLIFY_URL", netlify.root().toUtf8());
    NetlifyClient client;
    const QMap<QString, QString> files = NetlifyPublisher::digests(folder);
    const NetlifyDeploy deploy = halvik::waitFor(client.createDigestDeploy(site, files, kToken));
    auto upload = std::make_shared<Upload>();
    upload->deployID = deploy.id;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        upload->paths << it.key().mid(1);
    QNetworkAccessManager manager;
    QElapsedTimer timer;
    timer.start();
    std::vector<QCoro::Task<>> workers;
    for (int i = 0; i < NetlifyPublisher::parallelUploads; ++i)
        workers.push_back(putLoop(manager, upload, folder, netlify.root()));
    for (QCoro::Task<>& worker : workers)
        halvik::waitFor(std::move(worker));
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (netlify.puts() != kFiles)
        qFatal("baseline sent %d files", netlify.puts());
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    bench::isolateHome(dir.filePath(QStringLiteral("home")));
    const QString folder = dir.filePath(QStringLiteral("out"));
    writeOutput(folder);

    double bestFirst = 1e300;
    double bestBaseline = 1e300;
    double bestRepublish = 1e300;
    int sent = 0;
    for (int run = 0; run < 3; ++run) {
        bestBaseline = std::min(bestBaseline, plainLoop(folder));

        test::FakeNetlify netlify(kToken);
        netlify.processingLooks = 0;
        netlify.start();
        const QString site = netlify.addSite(QStringLiteral("shop"));
        qputenv("HALVIK_NETLIFY_URL", netlify.root().toUtf8());
        NetlifyClient client;
        ProcessRunner runner;
        NetlifyPublisher publisher(client, runner);
        publisher.setTiming({std::chrono::milliseconds(5), std::chrono::milliseconds(120000)});
        const QString title = QStringLiteral("Halvik bench");
        QElapsedTimer timer;
        timer.start();
        halvik::waitFor(publisher.publish(site, folder, kToken, title, false, {}, {}));
        bestFirst = std::min(bestFirst, timer.nsecsElapsed() / 1e9);
        if (netlify.puts() != kFiles)
            qFatal("the first publish sent %d files", netlify.puts());

        for (int i = 0; i < 10; ++i) {
            QFile file(
                QStringLiteral("%1/pages/%2/page-%3/index.html").arg(folder).arg(i * 7 / 100).arg(i * 7));
            file.open(QIODevice::Append);
            file.write(QByteArrayLiteral("<p>fixed</p>") + QByteArray::number(run));
        }
        netlify.clearCounts();
        timer.restart();
        const NetlifyPublishResult again =
            halvik::waitFor(publisher.publish(site, folder, kToken, title, false, {}, {}));
        bestRepublish = std::min(bestRepublish, timer.nsecsElapsed() / 1e9);
        sent = netlify.puts();
        if (again.uploaded != 10)
            qFatal("the republish sent %d files", again.uploaded);
    }
    bench::report(QStringLiteral("publish-netlify-2000"), bestFirst, QStringLiteral("s"), bestBaseline,
                  QStringLiteral("2000 files, 10 MB; baseline: the same PUTs in a plain loop, 4 at a time"));
    bench::report(QStringLiteral("republish-netlify-changed"), bestRepublish, QStringLiteral("s"), bestFirst,
                  QStringLiteral("%1 files sent").arg(sent));
    return 0;
}
