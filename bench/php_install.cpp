// Installing a PHP line from a local download server: an archive of a real php binary padded to
// over 30 MB, served by a separate HTTP server process. Measured: installManagedPHP from the
// request to the verified install (list lookup, download, unpack, copy, check). Baseline, same
// server, same run: `curl -s <url> | tar -xzf - -C <tmp>`, which only fetches and unpacks.
#include "BenchMachine.h"
#include "BenchReport.h"

#include "WaitFor.h"
#include "platform/RuntimePlatform.h"
#include "services/ProcessRunner.h"
#include "services/runtime/RuntimeManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

using namespace halvik;

namespace {

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(300000) && process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString version = QStringLiteral("8.3.10");
    const QString name =
        QStringLiteral("php-%1-cli-%2.tar.gz").arg(version, RuntimePlatform::currentArchiveNames().phpSuffix);
    const QString served = dir.filePath(QStringLiteral("www/static-php-cli/common"));
    const QString package = dir.filePath(QStringLiteral("package"));
    QDir().mkpath(served);
    QDir().mkpath(package);

    QFile::copy(QFileInfo(QStringLiteral("/usr/bin/php")).canonicalFilePath(),
                package + QStringLiteral("/php"));
    QFile(package + QStringLiteral("/php"))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QByteArray padding(30 << 20, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32*>(padding.data()), padding.size() / 4);
    QFile pad(package + QStringLiteral("/licenses.bin"));
    pad.open(QIODevice::WriteOnly);
    pad.write(padding);
    pad.close();
    if (!run(QStringLiteral("tar"), {QStringLiteral("-czf"), served + QLatin1Char('/') + name,
                                     QStringLiteral("-C"), package, QStringLiteral(".")})) {
        std::fprintf(stderr, "php-install: could not build the archive\n");
        return 1;
    }
    QFile index(served + QStringLiteral("/index.html"));
    index.open(QIODevice::WriteOnly);
    index.write("<a href=\"" + name.toUtf8() + "\">" + name.toUtf8() + "</a>\n");
    index.close();

    const quint16 port = bench::freePort();
    QProcess server;
    server.start(QStringLiteral("python3"),
                 {QStringLiteral("-m"), QStringLiteral("http.server"), QString::number(port),
                  QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                  dir.filePath(QStringLiteral("www"))});
    bench::waitUntilListening(port);
    const QString listUrl = QStringLiteral("http://127.0.0.1:%1/static-php-cli/common/").arg(port);

    ProcessRunner runner;
    RuntimeRoots roots;
    roots.support = dir.filePath(QStringLiteral("support"));
    roots.home = dir.path();
    roots.phpDownloads = QUrl(listUrl);
    RuntimeManager runtime(runner, roots);
    const QString archiveSize =
        QString::number(QFileInfo(served + QLatin1Char('/') + name).size() / (1 << 20));

    bool installed = true;
    const double install = bench::bestSeconds(3, [&] {
        QDir(roots.phpLines()).removeRecursively();
        try {
            halvik::waitFor(runtime.installManagedPHP(version));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "php-install: %s\n", error.what());
            installed = false;
        }
    });
    const double baseline = bench::bestSeconds(3, [&] {
        QTemporaryDir target;
        run(QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("curl -s '%1%2' | tar -xzf - -C '%3'").arg(listUrl, name, target.path())});
    });
    server.terminate();
    server.waitForFinished();
    if (!installed)
        return 1;
    bench::report(QStringLiteral("php-install"), install, QStringLiteral("s"), baseline,
                  QStringLiteral("%1 MB archive from a local server; baseline curl | tar").arg(archiveSize));
    return 0;
}
