// A child prints 1,000,000 lines of 60 bytes. Measured: the time until ProcessRunner::run has
// returned and the operation's log holds every line, and the longest stretch the main thread
// could not process events meanwhile. Baseline: the same child drained by a plain QProcess
// read loop on the main thread, without any line handling.
//
// The times come from runs without the stall meter: its zero-interval timer keeps the main
// thread spinning, which takes a core from whatever else runs on a small machine and changes
// how quickly a sleeping main thread reacts to a pipe. The stall figures come from one more
// run of each side with the meter on.
#include "BenchReport.h"
#include "StallMeter.h"

#include "WaitFor.h"
#include "models/SiteOperation.h"
#include "services/OperationLogSink.h"
#include "services/ProcessRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace halvik;
using bench::StallMeter;

namespace {

constexpr int lineCount = 1'000'000;
constexpr int lineBytes = 60;

int emitLines()
{
    std::vector<char> buffer(static_cast<size_t>(lineCount) * lineBytes);
    for (int i = 0; i < lineCount; ++i) {
        char* line = buffer.data() + static_cast<size_t>(i) * lineBytes;
        std::memset(line, 'x', lineBytes - 1);
        std::snprintf(line, 12, "%010d", i);
        line[10] = ' ';
        line[lineBytes - 1] = '\n';
    }
    std::fwrite(buffer.data(), 1, buffer.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

QStringList childArguments()
{
    return {QStringLiteral("--emit")};
}

void plainReadLoop(StallMeter* meter, double& stall)
{
    QProcess process;
    qint64 received = 0;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&] { received += process.readAllStandardOutput().size(); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    if (meter)
        meter->start();
    process.start(QCoreApplication::applicationFilePath(), childArguments());
    loop.exec();
    received += process.readAllStandardOutput().size();
    if (meter)
        stall = std::max(stall, meter->stopMilliseconds());
    if (received != qint64(lineCount) * lineBytes)
        qFatal("baseline lost output: %lld bytes", received);
}

void runnerIntoLog(ProcessRunner& runner, StallMeter* meter, double& stall, QString& log)
{
    auto operation = std::make_shared<SiteOperation>(QStringLiteral("bench"), OperationKind::shell);
    auto sink = OperationLogSink::forOperation(operation);
    ProcessRequest request;
    request.executable = QCoreApplication::applicationFilePath();
    request.arguments = childArguments();
    if (meter)
        meter->start();
    halvik::waitFor(runner.run(request, [sink](const ProcessOutput& out) { sink->append(out.line); }));
    sink->flush();
    if (meter)
        stall = std::max(stall, meter->stopMilliseconds());
    log = operation->log();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--emit") == 0)
        return emitLines();
    QCoreApplication app(argc, argv);
    ProcessRunner runner;
    StallMeter meter;

    constexpr int runs = 5;
    double baselineStall = 0;
    double runnerStall = 0;
    double baseline = 1e300;
    double measured = 1e300;
    QString log;
    const auto checkLog = [&log] {
        const qsizetype lines = log.count(QLatin1Char('\n')) + 1;
        if (lines != lineCount ||
            !log.endsWith(QLatin1String("0000999999 ") + QString(lineBytes - 12, QLatin1Char('x'))))
            qFatal("the log lost lines: %lld", qlonglong(lines));
        log.clear();
    };
    // Interleaved, so both sides see the same state of a shared, noisy machine.
    for (int i = 0; i < runs; ++i) {
        baseline = std::min(baseline, bench::bestSeconds(1, [&] { plainReadLoop(nullptr, baselineStall); }));
        measured = std::min(measured,
                            bench::bestSeconds(1, [&] { runnerIntoLog(runner, nullptr, runnerStall, log); }));
        checkLog();
    }
    plainReadLoop(&meter, baselineStall);
    runnerIntoLog(runner, &meter, runnerStall, log);
    checkLog();
    bench::report(
        QStringLiteral("process-stream"), measured, QStringLiteral("s"), baseline,
        QStringLiteral(
            "1,000,000 lines of 60 bytes into a SiteOperation log; baseline: plain QProcess read loop"));
    bench::report(
        QStringLiteral("process-stream-stall"), runnerStall, QStringLiteral("ms"), baselineStall,
        QStringLiteral(
            "longest main-thread stall in a metered run; baseline: the same for the plain read loop"));
    return 0;
}
