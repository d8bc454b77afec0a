// preview-capture: `halvik preview <site> --refresh` end to end on a Laravel page with a real
// layout, already served by `php artisan serve`, against a minimal web engine program with the
// same offscreen set-up capturing the same URL (best of 5 each, same run).
#include "BenchMachine.h"
#include "BenchReport.h"
#include "BenchWindow.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using namespace halvik::bench;

namespace {

constexpr int runs = 5;

void copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QDir().mkpath(to);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir())
            QDir().mkpath(target);
        else
            QFile::copy(path, target);
    }
}

void write(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(data);
}

const QByteArray layout = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>Northwind Coffee</title>
<style>body{margin:0;font-family:sans-serif;background:#fafaf9}header{background:#7c2d12;color:#fff;padding:28px 48px;
font-size:32px}main{display:grid;grid-template-columns:2fr 1fr;gap:32px;padding:40px 48px}.card{background:#fff;
border-radius:12px;box-shadow:0 1px 3px #0002;padding:24px}.hero{background:#fbbf24;height:320px}
aside .card{background:#0ea5e9;color:#fff;margin-bottom:24px;height:120px}</style></head><body>
<header>Northwind Coffee</header><main><section class="card hero"><h1>{{ 'Fresh roasts, every week' }}</h1></section>
<aside><div class="card">Beans</div><div class="card">Subscriptions</div></aside></main></body></html>)";

double timed(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    const QString home = root.path() + "/home";
    isolateHome(home);
    const QString site = home + "/Sites/northwind";
    copyTree(QStringLiteral(HALVIK_SOURCE_DIR "/tests/fixtures/laravel-app"), site);
    write(site + "/resources/views/home.blade.php", layout);
    QFile bootstrap(site + "/bootstrap/app.php");
    bootstrap.open(QIODevice::ReadOnly);
    QByteArray code = bootstrap.readAll();
    bootstrap.close();
    code.replace("return 'Fixture site home';", "return view('home');");
    write(site + "/bootstrap/app.php", code);
    const quint16 port = freePort();
    write(site + "/.env", "APP_NAME=Northwind\nAPP_URL=http://127.0.0.1:" + QByteArray::number(port) + "\n");

    // The site is already served.
    QProcess server;
    server.setWorkingDirectory(site);
    server.setChildProcessModifier([] { ::setsid(); });
    server.start(
        QStandardPaths::findExecutable("php"),
        {"artisan", "serve", "--host=127.0.0.1", QStringLiteral("--port=%1").arg(port), "--no-reload"});
    if (!waitUntilListening(port))
        qFatal("php artisan serve did not start");
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port);

    const QProcessEnvironment env = offscreenEnvironment(home);
    timed(QStringLiteral(HALVIK_BINARY), {"import", site}, env);
    // One warm-up each: the first start of the engine reads its files from disk.
    const QString out = root.path() + "/baseline.png";
    timed(QStringLiteral(HALVIK_MINIMAL_CAPTURE), {url, out}, env);
    timed(QStringLiteral(HALVIK_BINARY), {"preview", site, "--refresh"}, env);
    double halvik = 1e300, minimal = 1e300;
    for (int i = 0; i < runs; ++i) {
        halvik = std::min(halvik, timed(QStringLiteral(HALVIK_BINARY), {"preview", site, "--refresh"}, env));
        minimal = std::min(minimal, timed(QStringLiteral(HALVIK_MINIMAL_CAPTURE), {url, out}, env));
    }
    ::kill(-pid_t(server.processId()), SIGTERM);
    server.waitForFinished(5000);
    report(
        "preview-capture", halvik * 1000, "ms", minimal * 1000,
        QStringLiteral("best of %1: halvik preview --refresh of a Laravel page with a layout served by php "
                       "artisan serve; baseline: a minimal web engine program capturing the same URL "
                       "(goal: ratio 1.3)")
            .arg(runs));
    return 0;
}
