#pragma once

// Runs the `halvik` window as a program of its own, offscreen, and reads how it is doing.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>
#include <functional>

namespace halvik::bench {

inline QProcessEnvironment offscreenEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HALVIK_REPORT_STARTUP", "1");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    // Start-up never waits on the network, and here it never reaches it either.
    for (const char* host :
         {"HALVIK_PHP_DOWNLOADS", "HALVIK_NODE_DIST", "HALVIK_COMPOSER_VERSIONS", "HALVIK_PACKAGIST_URL"})
        env.insert(host, "http://127.0.0.1:9");
    return env;
}

struct WindowRun
{
    double sitesPainted = -1; // seconds
    qint64 residentKiB = -1;
};

inline qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Starts the window, waits for the line that says the sites (or, with an empty store, the
// window) were painted, optionally waits for it to settle and reads its memory, then ends it.
inline WindowRun runWindow(const QString& home, const char* awaited, int settleMs,
                           const std::function<void(qint64)>& inspect = {})
{
    QProcess process;
    process.setProcessEnvironment(offscreenEnvironment(home));
    QElapsedTimer timer;
    timer.start();
    // The report lines come on standard error: waiting on the default channel, standard output,
    // would only notice them when each wait timed out, in 20 ms steps.
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(HALVIK_BINARY), {});
    WindowRun run;
    QByteArray seen;
    while (timer.elapsed() < 20000 && run.sitesPainted < 0) {
        process.waitForReadyRead(20);
        seen += process.readAllStandardError();
        if (seen.contains(QByteArray("halvik-startup ") + awaited))
            run.sitesPainted = timer.nsecsElapsed() / 1e9;
    }
    if (run.sitesPainted < 0) {
        process.kill(); // never left running behind the benchmark
        process.waitForFinished();
        qFatal("the window never reported %s: %s", awaited, seen.constData());
    }
    if (settleMs > 0) {
        QThread::msleep(settleMs);
        run.residentKiB = residentKiB(process.processId());
        if (inspect)
            inspect(process.processId());
    }
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return run;
}

} // namespace halvik::bench
