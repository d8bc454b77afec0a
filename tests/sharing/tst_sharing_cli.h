#pragma once

// The `assets` and `share` commands, run as the real program in the test's own home.
#include "NodeProject.h"
#include "TestPaths.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>

namespace halvik::test {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline CliRun runHalvik(const QStringList& args)
{
    QProcess process;
    process.start(halvikBinary(), args);
    process.waitForFinished(120000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Starts a foreground command and waits for its first line on standard output.
inline QByteArray firstLine(QProcess& process, int timeoutMs = 60000)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains('\n') && clock.elapsed() < timeoutMs)
        if (process.waitForReadyRead(500))
            out += process.readAllStandardOutput();
    return out.left(out.indexOf('\n'));
}

} // namespace halvik::test
