#include "TestMain.h"

#include "WaitFor.h"
#include "async/Cancellation.h"
#include "async/FireAndForget.h"
#include "async/HalvikError.h"
#include "async/LifeGuard.h"
#include "async/Sleep.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

using namespace halvik;
using namespace std::chrono_literals;

namespace {

class FailingError : public HalvikError
{
public:
    FailingError() : HalvikError("It broke.") {}
};

QCoro::Task<int> failAfterSleep()
{
    co_await sleepFor(5ms);
    throw FailingError();
    co_return 0;
}

QCoro::Task<QString> catchFromNested()
{
    try {
        co_await failAfterSleep();
    } catch (const HalvikError& error) {
        co_return error.description();
    }
    co_return QString();
}

} // namespace

class AsyncTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cancellationBeforeAndDuringSleep()
    {
        // Cancelled before it starts: throws without waiting.
        CancellationSource early;
        early.cancel();
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(CancelledError, halvik::waitFor(sleepFor(10s, early.token())));
        QVERIFY(clock.elapsed() < 1000);

        // Cancelled while sleeping: wakes promptly and throws.
        CancellationSource late;
        QTimer::singleShot(50, [&late] { late.cancel(); });
        clock.restart();
        QVERIFY_THROWS_EXCEPTION(CancelledError, halvik::waitFor(sleepFor(10s, late.token())));
        QVERIFY(clock.elapsed() < 2000);

        // An untouched token sleeps the full time.
        CancellationSource idle;
        clock.restart();
        halvik::waitFor(sleepFor(60ms, idle.token()));
        QVERIFY(clock.elapsed() >= 55);
        QVERIFY(!idle.isCancelled());
    }

    void cancelCallbacksRunOnceAndLateSubscribersStillHear()
    {
        CancellationSource source;
        int calls = 0;
        QObject context;
        source.token().onCancelled(&context, [&calls] { ++calls; });
        source.cancel();
        source.cancel();
        QCOMPARE(calls, 1);
        source.token().onCancelled(&context, [&calls] { ++calls; });
        QTRY_COMPARE(calls, 2);
        QVERIFY(source.token().isCancelled());
        QVERIFY(!CancellationToken().isCancelled());
    }

    void detachedTasksRunToTheEndAndReportWhatEscapes()
    {
        QObject owner;
        int finished = 0;
        const auto counted = [&finished]() -> QCoro::Task<> {
            co_await sleepFor(5ms);
            ++finished;
        };
        fireAndForget(&owner, counted());
        QCOMPARE(finished, 0);
        QTRY_COMPARE(finished, 1);

        // A failure is logged with its owner's class instead of vanishing; a cancellation is not.
        QTest::failOnWarning(QRegularExpression("^Halvik task"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Halvik task of QObject failed: It broke\\.$"));
        const auto failing = []() -> QCoro::Task<> { co_await failAfterSleep(); };
        fireAndForget(&owner, failing());
        CancellationSource cancelled;
        cancelled.cancel();
        fireAndForget(&owner, sleepFor(10s, cancelled.token()));
        const auto later = [&finished]() -> QCoro::Task<> {
            co_await sleepFor(30ms);
            ++finished;
        };
        fireAndForget(&owner, later());
        QTRY_COMPARE(finished, 2); // by now the failure has been reported, and only it
    }

    void lifeTokensTellWhetherTheirOwnerStillExists()
    {
        LifeToken token;
        QVERIFY(!token);
        {
            LifeGuard guard;
            token = guard.token();
            QVERIFY(token);
            const LifeToken copy = token;
            guard.end(); // a destructor's first step
            QVERIFY(!token && !copy);
        }
        LifeToken outlived;
        {
            LifeGuard guard;
            outlived = guard.token();
        }
        QVERIFY(!outlived);
    }

    void errorsReachTheAwaitingCode()
    {
        QCOMPARE(halvik::waitFor(catchFromNested()), QString("It broke."));
        QVERIFY_THROWS_EXCEPTION(FailingError, halvik::waitFor(failAfterSleep()));
    }
};

HALVIK_TEST_MAIN_CORE(AsyncTest)
#include "tst_async.moc"
