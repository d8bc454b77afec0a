#pragma once

#include "async/Cancellation.h"
#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>

namespace halvik {

class ProcessRunner;

// A private `php -S` for one shared site, on a free loopback port from 49000, with a router
// that makes the site build its links from the address a request came in by (the tunnel's
// https host), not the loopback one. Main thread.
class SharingServer : public QObject
{
    Q_OBJECT
public:
    // Called once when the server ends on its own (not by stop()).
    using ExitHandler = std::function<void()>;
    static constexpr int errorLinesKept = 20;

    explicit SharingServer(ProcessRunner& runner, QObject* parent = nullptr);
    ~SharingServer() override;

    // Throws SharingError::missingEntryPoint (nothing started) or ProcessRunnerError.
    QUrl start(const QString& sitePath, const QString& php, ExitHandler onExit);
    void stop();

    QString directory() const { return m_directory; }
    // The last standard-error lines of the server.
    QStringList lastErrorLines() const;

    static QByteArray routerScript();

private:
    struct ErrorTail
    {
        mutable QMutex mutex;
        QStringList lines;
    };

    QCoro::Task<> run(QString php, QStringList arguments, QString sitePath, ExitHandler onExit);

    ProcessRunner& m_runner;
    QString m_directory;
    std::shared_ptr<ErrorTail> m_errors = std::make_shared<ErrorTail>();
    std::shared_ptr<CancellationSource> m_stop;
    std::shared_ptr<std::atomic<qint64>> m_pid = std::make_shared<std::atomic<qint64>>(0);
    LifeGuard m_life;
};

} // namespace halvik
