#include "ComposerFolderGate.h"

#include <QCoroSignal>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <cerrno>
#include <csignal>

namespace halvik {

namespace {

bool groupExists(qint64 pgid)
{
    return pgid > 0 && (::kill(-static_cast<pid_t>(pgid), 0) == 0 || errno == EPERM);
}

} // namespace

ComposerFolderGate::Pass::~Pass()
{
    if (m_gate)
        m_gate->leaveWhenGroupEnds(m_folder, m_group);
}

QString ComposerFolderGate::key(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QCoro::Task<std::shared_ptr<ComposerFolderGate::Pass>> ComposerFolderGate::enter(QString folder)
{
    const QString name = key(folder);
    QPointer<ComposerFolderGate> self(this);
    while (self && m_held.contains(name)) {
        // Every leave wakes every waiter; the first to look again takes the folder.
        co_await qCoro(this, &ComposerFolderGate::left);
    }
    if (!self)
        co_return std::shared_ptr<Pass>();
    m_held.insert(name);
    co_return std::shared_ptr<Pass>(new Pass(this, name));
}

void ComposerFolderGate::leave(const QString& folder)
{
    m_held.remove(folder);
    // Waiters look again from the event loop, not from inside the run that is ending.
    QMetaObject::invokeMethod(
        this, [this, folder] { Q_EMIT left(folder); }, Qt::QueuedConnection);
}

void ComposerFolderGate::leaveWhenGroupEnds(const QString& folder, qint64 pgid)
{
    if (!groupExists(pgid)) {
        leave(folder);
        return;
    }
    auto* poll = new QTimer(this);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    connect(poll, &QTimer::timeout, this, [this, poll, folder, pgid, clock] {
        const bool alive = groupExists(pgid);
        if (alive && clock->elapsed() < std::chrono::milliseconds(groupLimit).count())
            return;
        if (alive)
            ::kill(-static_cast<pid_t>(pgid), SIGKILL);
        poll->deleteLater();
        leave(folder);
    });
    poll->start(25);
}

} // namespace halvik
