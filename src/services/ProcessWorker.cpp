#include "ProcessWorker.h"

#include "ProcessInput.h"

#include <QProcess>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace halvik {

void ProcessRunState::requestTermination()
{
    cancelRequested = true;
    QMutexLocker lock(&mutex);
    if (worker) {
        // Posted while the lock keeps the worker alive; Qt drops it if the worker dies first.
        QMetaObject::invokeMethod(
            worker, [w = worker] { w->terminate(); }, Qt::QueuedConnection);
    }
}

ProcessWorker::ProcessWorker(std::shared_ptr<ProcessRunState> state)
    : m_state(std::move(state)), m_collector(m_state->output)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->worker = this;
}

ProcessWorker::~ProcessWorker()
{
    if (m_state->request.input)
        m_state->request.input->detach();
    QMutexLocker lock(&m_state->mutex);
    m_state->worker = nullptr;
}

void ProcessWorker::start()
{
    if (m_state->cancelRequested) {
        complete();
        return;
    }
    const ProcessRequest& request = m_state->request;
    m_process = new QProcess(this);
    m_process->setProgram(request.executable);
    m_process->setArguments(request.arguments);
    if (request.workingDirectory)
        m_process->setWorkingDirectory(*request.workingDirectory);
    m_process->setProcessEnvironment(m_state->environment);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    if (!request.stdin && !request.input)
        m_process->setStandardInputFile(QProcess::nullDevice());
    m_collector.setKeepText(!request.streamOnly);
    // Its own session, so that a cancel reaches every grandchild through the process group.
    m_process->setChildProcessModifier([] { ::setsid(); });

    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] {
        if (m_state->request.stdoutPieces)
            m_state->request.stdoutPieces(m_process->readAllStandardOutput());
        else
            m_collector.consume(m_process->readAllStandardOutput(), ProcessOutput::Stream::stdout);
    });
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_collector.consume(m_process->readAllStandardError(), ProcessOutput::Stream::stderr);
    });
    connect(m_process, &QProcess::started, this, [this] {
        if (m_state->cancelRequested) {
            terminate();
            return;
        }
        if (m_state->request.stdin) {
            m_process->write(*m_state->request.stdin);
            m_process->closeWriteChannel();
        }
        if (m_state->request.input) {
            m_state->request.input->attach(this);
            flushInput();
        }
        m_pid = m_process->processId();
        if (m_state->request.started)
            m_state->request.started(m_pid);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_state->startError = m_process->errorString();
        complete();
    });
    connect(m_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        drain();
        m_state->result.exitCode = exitCode;
        m_state->result.endedBySignal = status == QProcess::CrashExit;
        // The run ends with the child; whatever it left running in its group (a background
        // job still holding the output pipes) ends with it.
        if (m_pid > 0)
            ::kill(-static_cast<pid_t>(m_pid), SIGTERM);
        complete();
    });
    m_process->start();
}

void ProcessWorker::terminate()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    const pid_t pid = static_cast<pid_t>(m_process->processId());
    if (pid <= 0)
        return; // not forked yet: the started handler sees cancelRequested
    if (::getpgid(pid) == pid)
        ::kill(-pid, SIGTERM);
    else
        ::kill(pid, SIGTERM);
}

void ProcessWorker::flushInput()
{
    if (!m_process || m_process->state() != QProcess::Running || !m_state->request.input)
        return;
    bool closed = false;
    const QByteArray data = m_state->request.input->take(&closed);
    if (!data.isEmpty())
        m_process->write(data);
    if (closed)
        m_process->closeWriteChannel();
}

void ProcessWorker::drain()
{
    m_collector.consume(m_process->readAllStandardOutput(), ProcessOutput::Stream::stdout);
    m_collector.consume(m_process->readAllStandardError(), ProcessOutput::Stream::stderr);
}

void ProcessWorker::complete()
{
    m_collector.finish();
    m_state->result.stdout = m_collector.takeText(ProcessOutput::Stream::stdout);
    m_state->result.stderr = m_collector.takeText(ProcessOutput::Stream::stderr);
    if (m_process)
        m_process->disconnect(this);
    thread()->quit();
}

} // namespace halvik
