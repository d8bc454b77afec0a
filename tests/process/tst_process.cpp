#include "TestMain.h"

#include "WaitFor.h"
#include "models/Site.h"
#include "services/LoggedOperation.h"
#include "services/OperationLogSink.h"
#include "services/OutputCollector.h"
#include "services/ProcessRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

using namespace halvik;
using Stream = ProcessOutput::Stream;

namespace {

struct Collected
{
    ProcessResult result;
    QList<ProcessOutput> lines;
};

// Runs a request and gathers the lines the callback saw (on the runner's thread).
Collected runCollecting(ProcessRunner& runner, ProcessRequest request, CancellationToken token = {})
{
    auto lines = std::make_shared<QList<ProcessOutput>>();
    auto lock = std::make_shared<QMutex>();
    Collected collected;
    collected.result = halvik::waitFor(runner.run(
        std::move(request),
        [lines, lock](const ProcessOutput& out) {
            QMutexLocker locker(lock.get());
            lines->append(out);
        },
        token));
    collected.lines = *lines;
    return collected;
}

ProcessRequest program(const QString& executable, const QStringList& arguments = {})
{
    ProcessRequest request;
    request.executable = executable;
    request.arguments = arguments;
    return request;
}

ProcessRequest shell(const QString& script)
{
    return program(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
}

ProcessOutput out(const char* line)
{
    return {Stream::stdout, QString::fromUtf8(line)};
}
ProcessOutput err(const char* line)
{
    return {Stream::stderr, QString::fromUtf8(line)};
}

// Alive means present and not a zombie waiting for its parent.
bool isAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

// Restores an environment variable when the test leaves.
class EnvGuard
{
public:
    explicit EnvGuard(const char* name)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// Runs a shell that prints a pid and then waits; cancels as soon as the pid line arrives.
// Returns the pid and how long the run took, and checks that it ended with `cancelled`.
std::pair<qint64, qint64> cancelOnFirstLine(ProcessRunner& runner, const QString& script)
{
    CancellationSource source;
    QObject context;
    qint64 pid = 0;
    QElapsedTimer clock;
    clock.start();
    bool cancelled = false;
    try {
        halvik::waitFor(runner.run(
            shell(script),
            [&](const ProcessOutput& line) {
                QMetaObject::invokeMethod(
                    &context,
                    [&, text = line.line] {
                        pid = text.toLongLong();
                        source.cancel();
                    },
                    Qt::QueuedConnection);
            },
            source.token()));
    } catch (const ProcessRunnerError& error) {
        cancelled = error.isCancelled() && error.description() == QLatin1String("Process was cancelled");
    }
    if (!cancelled)
        return {-1, clock.elapsed()};
    return {pid, clock.elapsed()};
}

} // namespace

class ProcessTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitsLinesAndKeepsWholeTexts()
    {
        ProcessRunner runner;

        auto crlf = runCollecting(runner, shell(QStringLiteral("printf 'a\\r\\nb'")));
        QCOMPARE(crlf.lines, (QList<ProcessOutput>{out("a"), out("b")}));
        QCOMPARE(crlf.result.stdout.text(), QStringLiteral("a\r\nb"));

        auto blank = runCollecting(runner, shell(QStringLiteral("printf 'x\\n\\ny\\n'")));
        QCOMPARE(blank.lines, (QList<ProcessOutput>{out("x"), out(""), out("y")}));

        auto errorsOnly = runCollecting(runner, shell(QStringLiteral("printf 'oops\\nmore' >&2")));
        QCOMPARE(errorsOnly.lines, (QList<ProcessOutput>{err("oops"), err("more")}));
        QCOMPARE(errorsOnly.result.stdout.text(), QString());
        QCOMPARE(errorsOnly.result.combined(), QStringLiteral("oops\nmore"));

        auto both = runCollecting(runner, shell(QStringLiteral("printf 'o\\n'; printf 'e\\n' >&2")));
        QCOMPARE(both.result.combined(), QStringLiteral("o\n\ne\n"));

        auto silent = runCollecting(runner, shell(QStringLiteral("true")));
        QVERIFY(silent.lines.isEmpty());
        QCOMPARE(silent.result.combined(), QString());
        QCOMPARE(silent.result.exitCode, 0);

        // A large output crosses many pipe reads; no line may be split, lost or reordered.
        auto many = runCollecting(
            runner,
            shell(QStringLiteral("i=0; while [ $i -lt 20000 ]; do echo \"line $i\"; i=$((i+1)); done")));
        QCOMPARE(many.lines.size(), 20000);
        for (int i = 0; i < many.lines.size(); i += 997)
            QCOMPARE(many.lines[i].line, QStringLiteral("line %1").arg(i));
        QCOMPARE(many.lines.last().line, QStringLiteral("line 19999"));
    }

    void decodesEachChunkOnItsOwn()
    {
        QList<ProcessOutput> lines;
        OutputCollector collector([&lines](const ProcessOutput& o) { lines.append(o); });
        // "é" cut between two reads must still arrive as one character.
        collector.consume(QByteArray("caf\xC3"), Stream::stdout);
        collector.consume(QByteArray("\xA9\n\r\rpad\r\r\n"), Stream::stdout);
        // Not UTF-8: read as Latin-1 rather than lost.
        collector.consume(QByteArray("na\xEFve\n"), Stream::stderr);
        collector.consume(QByteArray("tail\r"), Stream::stdout);
        collector.finish();
        QCOMPARE(lines,
                 (QList<ProcessOutput>{out("caf\xC3\xA9"), out("pad"), err("na\xC3\xAFve"), out("tail\r")}));
        QCOMPARE(collector.takeText(Stream::stdout).text(),
                 QString::fromUtf8("caf\xC3\xA9\n\r\rpad\r\r\ntail\r"));

        // A cut sequence that never completes is kept as Latin-1 at the end.
        lines.clear();
        OutputCollector cut([&lines](const ProcessOutput& o) { lines.append(o); });
        cut.consume(QByteArray("x\xE2\x82"), Stream::stdout);
        cut.finish();
        QCOMPARE(lines, (QList<ProcessOutput>{{Stream::stdout, QStringLiteral("x\u00E2\u0082")}}));
    }

    void keepsLongMixedOutputWhole()
    {
        // Several megabytes in reads of awkward sizes: UTF-8 sequences cut between reads, a
        // Latin-1 read in the middle, lines that span reads. The whole text (kept as bytes and
        // decoded later) and the lines must match a straightforward decode of the same reads.
        QByteArray utf8Block;
        for (int i = 0; i < 40000; ++i)
            utf8Block += QStringLiteral("Zeile %1 – größer als 9 ✓\r\n").arg(i).toUtf8();
        const QByteArray latin1Read("na\xEFve caf\xE9\n");
        QList<QByteArray> reads;
        for (qsizetype at = 0; at < utf8Block.size(); at += 4093)
            reads.append(utf8Block.mid(at, 4093));
        // The Latin-1 read goes between two UTF-8 reads that split a line but no character.
        qsizetype split = reads.size() / 2;
        while (uchar(reads[split - 1].back()) >= 0x80 || uchar(reads[split].front()) >= 0x80)
            ++split;
        reads.insert(split, latin1Read);

        QStringList lines;
        OutputCollector collector([&lines](const ProcessOutput& o) { lines.append(o.line); });
        for (const QByteArray& read : std::as_const(reads))
            collector.consume(read, Stream::stdout);
        collector.finish();
        const OutputText whole = collector.takeText(Stream::stdout);

        QByteArray before;
        QByteArray after;
        for (qsizetype i = 0; i < split; ++i)
            before += reads[i];
        for (qsizetype i = split + 1; i < reads.size(); ++i)
            after += reads[i];
        const QString expected =
            QString::fromUtf8(before) + QString::fromLatin1(latin1Read) + QString::fromUtf8(after);
        QCOMPARE(whole.text().size(), expected.size());
        QVERIFY(whole.text() == expected);
        const OutputText copy = whole; // copies share the decoded text
        QCOMPARE(copy.text().constData(), whole.text().constData());

        QStringList expectedLines = expected.split(QLatin1Char('\n'));
        expectedLines.removeLast(); // the text ends with a line feed
        for (QString& line : expectedLines) {
            while (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
        }
        QCOMPARE(lines.size(), expectedLines.size());
        QVERIFY(lines == expectedLines);
        QVERIFY(lines.contains(QStringLiteral("Zeile 39999 – größer als 9 ✓")));
    }

    void composesTheEnvironment()
    {
        ProcessRunner runner;
        EnvGuard guard("PATH");
        const QString printPath = QStringLiteral("printf %s \"$PATH\"");

        qputenv("PATH", "/usr/bin");
        ProcessRequest request = shell(printPath);
        request.extraPath = {QStringLiteral("/opt/one/bin"), QStringLiteral("/opt/two/bin")};
        QCOMPARE(runCollecting(runner, request).result.stdout.text(),
                 QStringLiteral("/opt/one/bin:/opt/two/bin:/usr/bin"));

        request.extraPath.clear();
        QCOMPARE(runCollecting(runner, request).result.stdout.text(), QStringLiteral("/usr/bin"));

        request.extraPath = {QStringLiteral("/opt/one/bin")};
        request.environment = {{QStringLiteral("PATH"), QStringLiteral("/explicit")},
                               {QStringLiteral("HALVIK_X"), QStringLiteral("1")}};
        request.arguments = {QStringLiteral("-c"), QStringLiteral("printf '%s|%s' \"$PATH\" \"$HALVIK_X\"")};
        QCOMPARE(runCollecting(runner, request).result.stdout.text(), QStringLiteral("/explicit|1"));

        qunsetenv("PATH");
        request = shell(printPath);
        request.extraPath = {QStringLiteral("/opt/one/bin")};
        QCOMPARE(runCollecting(runner, request).result.stdout.text(),
                 QStringLiteral("/opt/one/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
    }

    void feedsStandardInputAndWorkingDirectory()
    {
        ProcessRunner runner;
        QTemporaryDir dir;
        ProcessRequest request = shell(QStringLiteral("pwd; cat"));
        request.workingDirectory = dir.path();
        request.stdin = QByteArray("first\nsecond");
        const auto fed = runCollecting(runner, request);
        QCOMPARE(fed.lines,
                 (QList<ProcessOutput>{{Stream::stdout, dir.path()}, out("first"), out("second")}));

        // Without input the child reads end-of-file at once instead of waiting forever.
        const auto none = runCollecting(runner, program(QStringLiteral("/bin/cat")));
        QCOMPARE(none.result.stdout.text(), QString());
    }

    void environmentEntriesCanBeRemovedAndOutputTakenInPieces()
    {
        ProcessRunner runner;
        EnvGuard guard("HALVIK_GONE");
        qputenv("HALVIK_GONE", "present");
        ProcessRequest request = shell(QStringLiteral("printf '%s' \"${HALVIK_GONE-unset}\""));
        request.removedEnvironment = {QStringLiteral("HALVIK_GONE")};
        QCOMPARE(runCollecting(runner, request).result.stdout.text(), QStringLiteral("unset"));

        // Standard output handed over in pieces is neither split into lines nor kept;
        // standard error still is.
        request =
            shell(QString::fromUtf8("i=0; while [ $i -lt 2000 ]; do echo \"line $i \xc3\xa9\"; i=$((i+1)); "
                                    "done; echo oops >&2"));
        auto pieces = std::make_shared<QByteArray>();
        request.stdoutPieces = [pieces](const QByteArray& piece) { *pieces += piece; };
        const auto collected = runCollecting(runner, request);
        QByteArray expected;
        for (int i = 0; i < 2000; ++i)
            expected += "line " + QByteArray::number(i) + " \xc3\xa9\n";
        QCOMPARE(*pieces, expected);
        QVERIFY(collected.result.stdout.isEmpty());
        QCOMPARE(collected.lines, (QList<ProcessOutput>{{Stream::stderr, QStringLiteral("oops")}}));
    }

    void exitStatusAndStartFailures()
    {
        ProcessRunner runner;
        QCOMPARE(runCollecting(runner, shell(QStringLiteral("echo done; exit 3"))).result.exitCode, 3);

        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        try {
            halvik::waitFor(runner.run(program(dir.filePath(QStringLiteral("missing")), {marker})));
            QFAIL("a missing executable must throw");
        } catch (const ProcessRunnerError& error) {
            QCOMPARE(error.kind(), ProcessRunnerError::Case::executableMissing);
            QCOMPARE(error.description(),
                     QStringLiteral("Executable not found: ") + dir.filePath(QStringLiteral("missing")));
        }

        // A file that exists but cannot be executed fails at launch.
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("#!/bin/sh\ntouch started\n");
        plain.close();
        try {
            halvik::waitFor(runner.run(program(plain.fileName())));
            QFAIL("a non-executable file must throw");
        } catch (const ProcessRunnerError& error) {
            QCOMPARE(error.kind(), ProcessRunnerError::Case::failedToStart);
            QVERIFY(error.description().startsWith(QLatin1String("Failed to start process: ")));
        }

        // Already cancelled: nothing is started.
        CancellationSource source;
        source.cancel();
        ProcessRequest touch = program(QStringLiteral("/usr/bin/touch"), {marker});
        QVERIFY_THROWS_EXCEPTION(ProcessRunnerError, halvik::waitFor(runner.run(touch, {}, source.token())));
        QVERIFY(!QFile::exists(marker));
    }

    void cancellationEndsTheWholeProcessGroup()
    {
        ProcessRunner runner;
        // The child itself becomes `sleep 100`.
        auto [sleeper, sleeperTime] = cancelOnFirstLine(runner, QStringLiteral("echo $$; exec sleep 100"));
        QVERIFY(sleeper > 0);
        QVERIFY2(sleeperTime < 5000, qPrintable(QString::number(sleeperTime)));
        QVERIFY(!isAlive(sleeper));

        // A shell whose grandchild sleeps: the grandchild must go too.
        auto [grandchild, shellTime] = cancelOnFirstLine(runner, QStringLiteral("sleep 100 & echo $!; wait"));
        QVERIFY(grandchild > 0);
        QVERIFY2(shellTime < 5000, qPrintable(QString::number(shellTime)));
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(grandchild), 5000);
    }

    void bigInputAndOutputAtOnceAndChildrenThatLeaveSomethingBehind()
    {
        ProcessRunner runner;
        // 1 MiB in while the child writes 1 MiB out: neither side may wait on the other.
        QByteArray input;
        for (int i = 0; input.size() < (1 << 20); ++i)
            input += "line " + QByteArray::number(i).rightJustified(10, '0') + " of the input\n";
        input.truncate(1 << 20);
        ProcessRequest echo = program(QStringLiteral("/bin/cat"));
        echo.stdin = input;
        QElapsedTimer clock;
        clock.start();
        const ProcessResult echoed = halvik::waitFor(runner.run(echo));
        QCOMPARE(echoed.stdout.text().toUtf8(), input);
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));

        // The child exits at once while its background grandchild keeps the output pipes open:
        // the run ends with the child, with its status, and the grandchild goes with it.
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("grandchild"));
        clock.restart();
        const ProcessResult left = halvik::waitFor(runner.run(
            shell(QStringLiteral("sleep 60 & echo $! > '%1'; echo parent done; exit 4").arg(pidFile))));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(left.exitCode, 4);
        QCOMPARE(left.stdout.text(), QStringLiteral("parent done\n"));
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 grandchild = file.readAll().trimmed().toLongLong();
        QVERIFY(grandchild > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(grandchild), 5000);
    }

    void cancelledRunsStopTheirChildrenWithoutTheEventLoop()
    {
        // As when the program quits: the main event loop no longer turns, so only each run's
        // own thread can stop its child, and the program waits for those threads.
        ProcessRunner runner;
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        CancellationSource source;
        auto running =
            runner.run(shell(QString("echo $$ > '%1'; exec sleep 100").arg(pidFile)), {}, source.token());
        QTRY_VERIFY(QFileInfo(pidFile).size() > 0);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 pid = file.readAll().trimmed().toLongLong();
        QVERIFY(isAlive(pid));
        QVERIFY(!ProcessRunner::waitForRunsToEnd(200)); // still running: the wait gives up

        source.cancel();
        QVERIFY(ProcessRunner::waitForRunsToEnd(5000));
        QVERIFY(!isAlive(pid));
        // The awaiting side learns it once the loop turns again.
        QVERIFY_THROWS_EXCEPTION(ProcessRunnerError, halvik::waitFor(std::move(running)));
    }

    void sinkPublishesBatchesThatAlwaysHoldEveryLine()
    {
        auto operation = std::make_shared<SiteOperation>(QStringLiteral("test"), OperationKind::shell);
        int publications = 0;
        QObject::connect(operation.get(), &SiteOperation::changed, [&] { ++publications; });
        auto sink = OperationLogSink::forOperation(operation);

        // A lone empty first line waits for company, so it is not swallowed by the empty log.
        sink->append(QString());
        QCoreApplication::processEvents();
        QCOMPARE(operation->log(), QString());
        sink->append(QStringLiteral("x"));
        QCoreApplication::processEvents();
        QCOMPARE(operation->log(), QStringLiteral("\nx"));

        // A burst from another thread arrives in few publications, never one per line.
        publications = 0;
        QThread* writer = QThread::create([sink] {
            for (int i = 0; i < 5000; ++i)
                sink->append(QStringLiteral("l%1").arg(i));
        });
        writer->start();
        QTRY_COMPARE_WITH_TIMEOUT(sink->lineCount(), qsizetype(5002), 10000);
        writer->wait();
        delete writer;
        QTRY_VERIFY(operation->log().endsWith(QLatin1String("\nl4999")));
        QVERIFY2(publications < 5000, qPrintable(QString::number(publications)));
        const QStringList lines = operation->log().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5002);
        QCOMPARE(lines[2], QStringLiteral("l0"));
        QCOMPARE(lines[2501], QStringLiteral("l2499"));
    }

    void loggedOperationRecordsTheRun()
    {
        ProcessRunner runner;
        auto site = std::make_shared<Site>(QStringLiteral("Blog"), QStringLiteral("/tmp/blog"));
        int saves = 0;
        SiteOperationPtr active;
        bool activeDuringRun = false;
        QStringList snapshots;

        LoggedOperationRequest request;
        request.process = shell(QStringLiteral(
            "echo; i=0; while [ $i -lt 3000 ]; do echo \"row $i\"; i=$((i+1)); done; echo bad >&2; exit 2"));
        request.command = QStringLiteral("composer update");
        request.kind = OperationKind::composer;
        request.setActive = [&active](const SiteOperationPtr& op) { active = op; };
        auto result = halvik::waitFor([&]() -> QCoro::Task<LoggedOperationResult> {
            auto pending = runLoggedOperation(runner, site, std::move(request), [&] { ++saves; });
            // Every intermediate log must be a prefix of the final one.
            QObject::connect(
                site->operations().last().get(), &SiteOperation::changed,
                [&snapshots, op = site->operations().last().get()] { snapshots.append(op->log()); });
            activeDuringRun = active == site->operations().last();
            co_return co_await std::move(pending);
        }());

        QStringList expected{QString()};
        for (int i = 0; i < 3000; ++i)
            expected.append(QStringLiteral("row %1").arg(i));
        expected.append(QStringLiteral("bad"));
        const SiteOperationPtr op = result.operation;
        QCOMPARE(site->operations(), QList<SiteOperationPtr>{op});
        QCOMPARE(op->command(), QStringLiteral("composer update"));
        QCOMPARE(op->kindRaw(), QStringLiteral("composer"));
        QCOMPARE(op->exitCode(), std::optional<int>(2));
        QVERIFY(op->finishedAt().has_value());
        QCOMPARE(saves, 1);
        QVERIFY(activeDuringRun);
        QCOMPARE(active, SiteOperationPtr());
        // The two streams interleave in arrival order, so compare stdout's lines in order.
        QStringList logged = op->log().split(QLatin1Char('\n'));
        QVERIFY(logged.removeOne(QStringLiteral("bad")));
        expected.removeLast();
        QCOMPARE(logged, expected);
        for (const QString& snapshot : snapshots)
            QVERIFY(op->log().startsWith(snapshot));
    }

    void loggedOperationFinishesWhenCancelled()
    {
        ProcessRunner runner;
        auto site = std::make_shared<Site>(QStringLiteral("Shop"), QStringLiteral("/tmp/shop"));
        CancellationSource source;
        int saves = 0;
        LoggedOperationRequest request;
        request.process = shell(QStringLiteral("echo started; exec sleep 100"));
        request.command = QStringLiteral("npm run dev");
        request.token = source.token();
        QObject context;
        request.lines = [&](const ProcessOutput&) {
            QMetaObject::invokeMethod(
                &context, [&source] { source.cancel(); }, Qt::QueuedConnection);
        };
        QVERIFY_THROWS_EXCEPTION(
            ProcessRunnerError,
            halvik::waitFor(runLoggedOperation(runner, site, std::move(request), [&] { ++saves; })));
        const SiteOperationPtr op = site->operations().last();
        QCOMPARE(op->log(), QStringLiteral("started"));
        QVERIFY(op->finishedAt().has_value());
        QCOMPARE(op->exitCode(), std::nullopt);
        QCOMPARE(saves, 1);
    }
};

HALVIK_TEST_MAIN_CORE(ProcessTest)
#include "tst_process.moc"
