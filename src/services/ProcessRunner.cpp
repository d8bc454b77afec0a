#include "ProcessRunner.h"

#include "ProcessWorker.h"

#include <QCoroSignal>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <atomic>

namespace halvik {

namespace {

// Carries the end of the run's thread over to the awaiting (main) thread.
class RunEndRelay : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void ended();
};

// Runs whose threads have not finished yet, across every runner.
std::atomic<int> liveRuns = 0;

// Owns the run's thread. If the awaiting coroutine is destroyed before the run ends, the
// child is told to terminate and the thread cleans itself up when it finishes.
class RunThread
{
public:
    explicit RunThread(std::shared_ptr<ProcessRunState> state) : m_state(std::move(state)) {}
    ~RunThread()
    {
        if (!m_thread)
            return;
        if (m_thread->isFinished()) {
            m_thread->wait();
            delete m_thread;
            return;
        }
        m_state->requestTermination();
        QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    }
    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;

    QThread* create()
    {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("ProcessRunner"));
        return m_thread;
    }

private:
    std::shared_ptr<ProcessRunState> m_state;
    QThread* m_thread = nullptr;
};

} // namespace

bool ProcessRunner::waitForRunsToEnd(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (liveRuns > 0 && clock.elapsed() < milliseconds)
        QThread::msleep(10);
    return liveRuns == 0;
}

QProcessEnvironment ProcessRunner::composeEnvironment(const ProcessRequest& request,
                                                      const QProcessEnvironment& base)
{
    QProcessEnvironment environment = base;
    for (const QString& name : request.removedEnvironment)
        environment.remove(name);
    if (!request.removedEnvironmentPrefixes.isEmpty())
        for (const QString& name : environment.keys())
            for (const QString& prefix : request.removedEnvironmentPrefixes)
                if (name.startsWith(prefix)) {
                    environment.remove(name);
                    break;
                }
    if (!request.extraPath.isEmpty()) {
        const QString current = environment.contains(QStringLiteral("PATH"))
                                    ? environment.value(QStringLiteral("PATH"))
                                    : QString::fromLatin1(fallbackPath);
        environment.insert(QStringLiteral("PATH"),
                           (request.extraPath + QStringList{current}).join(QLatin1Char(':')));
    }
    for (auto it = request.environment.cbegin(); it != request.environment.cend(); ++it)
        environment.insert(it.key(), it.value());
    return environment;
}

QCoro::Task<ProcessResult> ProcessRunner::run(ProcessRequest request, OutputCallback output,
                                              CancellationToken token)
{
    if (!QFileInfo::exists(request.executable))
        throw ProcessRunnerError::executableMissing(request.executable);
    if (token.isCancelled())
        throw ProcessRunnerError::cancelled();

    auto state = std::make_shared<ProcessRunState>();
    state->environment = composeEnvironment(request, QProcessEnvironment::systemEnvironment());
    state->request = std::move(request);
    state->output = std::move(output);

    RunThread owner(state);
    QThread* thread = owner.create();
    auto* worker = new ProcessWorker(state);
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);

    // Relays the thread's end to this (main) thread; connected before the thread starts so
    // the end cannot be missed.
    RunEndRelay relay;
    QObject::connect(thread, &QThread::finished, &relay, &RunEndRelay::ended, Qt::QueuedConnection);
    token.onCancelled(&relay, [state] { state->requestTermination(); });

    ++liveRuns;
    QObject::connect(
        thread, &QThread::finished, thread, [] { --liveRuns; }, Qt::DirectConnection);
    thread->start();
    QMetaObject::invokeMethod(worker, &ProcessWorker::start, Qt::QueuedConnection);
    co_await qCoro(&relay, &RunEndRelay::ended);
    thread->wait(); // already past its event loop: only the thread's own exit remains

    if (state->startError)
        throw ProcessRunnerError::failedToStart(*state->startError);
    if (token.isCancelled() || state->cancelRequested)
        throw ProcessRunnerError::cancelled();
    co_return std::move(state->result);
}

} // namespace halvik

#include "ProcessRunner.moc"
