#include "CliRun.h"

#include "TestPaths.h"

#include <QProcess>
#include <QTest>

#include <csignal>

namespace halvik::test {

CliRun runHalvik(const QStringList& args, const QByteArray& input, const QString& interruptWhen,
                 int timeoutMs)
{
    QProcess process;
    process.start(halvikBinary(), args);
    process.write(input);
    process.closeWriteChannel();
    QByteArray out;
    QByteArray err;
    bool interrupted = false;
    const bool ended = QTest::qWaitFor(
        [&] {
            out += process.readAllStandardOutput();
            if (!interruptWhen.isEmpty() && !interrupted && QString::fromUtf8(out).contains(interruptWhen)) {
                interrupted = true;
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            }
            err += process.readAllStandardError();
            return process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    if (!ended)
        process.kill();
    process.waitForFinished(5000);
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
    return {process.exitCode(), QString::fromUtf8(out), QString::fromUtf8(err)};
}

} // namespace halvik::test
