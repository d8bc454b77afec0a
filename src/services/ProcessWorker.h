#pragma once

#include "OutputCollector.h"
#include "ProcessRequest.h"

#include <QMutex>
#include <QObject>
#include <QProcessEnvironment>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QProcess;

namespace halvik {

class ProcessWorker;

// What the awaiting side and the reader thread share for one run.
struct ProcessRunState
{
    ProcessRequest request;
    QProcessEnvironment environment;
    std::function<void(const ProcessOutput&)> output;

    std::atomic<bool> cancelRequested = false;

    QMutex mutex;
    ProcessWorker* worker = nullptr; // guarded by mutex; cleared when the worker goes away

    // Written by the worker before its thread ends, read after.
    std::optional<QString> startError;
    ProcessResult result;

    // Asks the worker (on its own thread) to terminate the child; safe from any thread.
    void requestTermination();
};

// Lives on the run's own thread and owns the QProcess there.
class ProcessWorker : public QObject
{
public:
    explicit ProcessWorker(std::shared_ptr<ProcessRunState> state);
    ~ProcessWorker() override;

    void start();
    // SIGTERM to the child's process group when it leads one, otherwise to the child alone.
    void terminate();
    // Hands what was written to the run's ProcessInput to the child.
    void flushInput();

private:
    void drain();
    void complete();

    std::shared_ptr<ProcessRunState> m_state;
    QProcess* m_process = nullptr;
    qint64 m_pid = 0; // the child's, which leads its own process group
    OutputCollector m_collector;
};

} // namespace halvik
