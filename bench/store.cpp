// A store of 200 sites with 200 operations each and a 4 KiB log per operation (about 160 MB).
// store-load: SiteStore::load() of that file, against reading its bytes alone.
// store-save-stall: the longest gap a 1 ms main-thread timer sees while 100 changes (a new
// operation with its log, each on its own turn of the event loop) are saved, against encoding
// the whole store once on the calling thread (what a save on the main thread would cost).
// store-adopt-stall: the longest gap that timer sees while the store takes in a change another
// process wrote (one new operation), against the same encoding baseline.
#include "BenchReport.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "models/StoreCodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

using namespace halvik;

namespace {

constexpr int siteCount = 200;
constexpr int operationsPerSite = 200;
constexpr int logBytes = 4096;
constexpr int changeCount = 100;

QString makeLog(int seed)
{
    QString log;
    log.reserve(logBytes);
    for (int line = 0; log.size() < logBytes - 100; ++line)
        log += QStringLiteral("  - Installing vendor/package-%1 (v%2.%3.0): Extracting archive \"dist\"\n")
                   .arg(seed % 997)
                   .arg(line)
                   .arg(seed % 13);
    return log;
}

StoreDocument makeDocument()
{
    StoreDocument document;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-400);
    for (int s = 0; s < siteCount; ++s) {
        SiteRecord site;
        site.id = QUuid::createUuid();
        site.name = QStringLiteral("Site %1").arg(s);
        site.path = QStringLiteral("/home/dev/Sites/site-%1").arg(s);
        site.createdAt = start.addSecs(s * 3600);
        site.phpSourceRaw = QStringLiteral("automatic");
        site.localPort = 4000 + s;
        for (int o = 0; o < operationsPerSite; ++o) {
            OperationRecord op;
            op.id = QUuid::createUuid();
            op.command = QStringLiteral("composer update --no-interaction");
            op.log = StoredText(makeLog(s * operationsPerSite + o));
            op.exitCode = 0;
            op.startedAt = site.createdAt.addSecs(o * 60);
            op.finishedAt = op.startedAt.addSecs(30);
            op.kindRaw = QStringLiteral("composer");
            site.operations.append(op);
        }
        document.sites.append(site);
    }
    return document;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("store.json"));
    const StoreDocument document = makeDocument();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(StoreCodec::encode(document)) <= 0)
            return 1;
    }
    const double megabytes = QFileInfo(path).size() / 1e6;

    const double readOnly = bench::bestSeconds(3, [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        Q_UNUSED(bytes);
    });
    SecretStore secrets(dir.filePath(QStringLiteral("secrets.json")));
    double firstLoad = 0;
    const double load = bench::bestSeconds(3, [&] {
        SiteStore store(secrets, dir.path());
        QElapsedTimer timer;
        timer.start();
        store.load();
        if (firstLoad == 0)
            firstLoad = timer.nsecsElapsed() / 1e9;
        if (store.sites().size() != siteCount)
            std::abort();
    });
    bench::report(
        QStringLiteral("store-load"), load, QStringLiteral("s"), readOnly,
        QStringLiteral(
            "%1 MB, %2 sites x %3 operations; first load in the process %4 s; baseline reads the bytes only")
            .arg(megabytes, 0, 'f', 1)
            .arg(siteCount)
            .arg(operationsPerSite)
            .arg(firstLoad, 0, 'f', 3));

    // The cost a save on the main thread would have: encoding the whole store once.
    SiteStore store(secrets, dir.path());
    store.load();
    const double encodeOnce = bench::bestSeconds(1, [&] {
        const QByteArray bytes = StoreCodec::encode(StoreCodec::records({store.sites(), store.hosts(), {}}));
        Q_UNUSED(bytes);
    });

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    int changesMade = 0;
    int writes = 0;
    QObject::connect(&store, &SiteStore::saveFinished, [&] { ++writes; });
    QTimer changes;
    changes.setInterval(2);
    QObject::connect(&changes, &QTimer::timeout, [&] {
        const SitePtr site = store.sites().at(QRandomGenerator::global()->bounded(siteCount));
        auto op = std::make_shared<SiteOperation>(QStringLiteral("git commit"), OperationKind::git);
        op->setLog(makeLog(changesMade));
        op->setExitCode(0);
        op->setFinishedAt(QDateTime::currentDateTimeUtc());
        site->appendOperation(op);
        store.save();
        if (++changesMade == changeCount)
            changes.stop();
    });
    // Done once every change was made and written.
    QTimer settle;
    settle.setInterval(20);
    QObject::connect(&settle, &QTimer::timeout, [&] {
        if (changesMade == changeCount && !store.isSaving())
            app.quit();
    });
    heartbeat.start();
    changes.start();
    settle.start();
    lastTick = clock.nsecsElapsed();
    app.exec();

    const double stall = std::max<qint64>(0, longestGap - 1'000'000) / 1e9;
    bench::report(
        QStringLiteral("store-save-stall"), stall, QStringLiteral("s"), encodeOnce,
        QStringLiteral("longest main-thread gap beyond the 1 ms tick while %1 changes were saved in %2 "
                       "writes; baseline encodes the whole store once on the calling thread")
            .arg(changeCount)
            .arg(writes));

    // Another process appends an operation; this store follows the file and takes it in.
    settle.stop();
    QUuid written;
    {
        SiteStore other(secrets, dir.path());
        other.load();
        auto op = std::make_shared<SiteOperation>(QStringLiteral("composer update"), OperationKind::composer);
        op->setLog(makeLog(7));
        op->setFinishedAt(QDateTime::currentDateTimeUtc());
        other.sites().first()->appendOperation(op);
        other.flush();
        written = op->id();
    }
    const QUuid firstSite = store.sites().first()->id();
    longestGap = 0;
    QTimer done;
    done.setInterval(5);
    QObject::connect(&done, &QTimer::timeout, [&] {
        const SitePtr site = store.site(firstSite);
        if (!store.isSaving() && site && site->operations().last()->id() == written)
            app.quit();
    });
    QTimer::singleShot(20, &store, [&store] { store.refreshFromDisk(); });
    done.start();
    lastTick = clock.nsecsElapsed();
    app.exec();
    const double adopt = std::max<qint64>(0, longestGap - 1'000'000) / 1e9;
    bench::report(
        QStringLiteral("store-adopt-stall"), adopt, QStringLiteral("s"), encodeOnce,
        QStringLiteral("longest main-thread gap beyond the 1 ms tick while a change written by another "
                       "process is read and taken in; baseline as for store-save-stall"));
    return 0;
}
