#include "DBusSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace halvik {

// Shared with the pending D-Bus replies, which may arrive after the assertion is gone.
struct DBusSleepInhibitor::State
{
    QString reason;
    bool released = false;
    int fd = -1;        // logind: closing the descriptor releases the inhibitor
    quint32 cookie = 0; // screen saver: released with UnInhibit

    void release()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (cookie != 0) {
            QDBusMessage call =
                QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                               "org.freedesktop.ScreenSaver", "UnInhibit");
            call << cookie;
            QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
        }
        cookie = 0;
    }
};

namespace {

void askScreenSaver(const std::shared_ptr<DBusSleepInhibitor::State>& state)
{
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected() || state->released)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                       "org.freedesktop.ScreenSaver", "Inhibit");
    call << QStringLiteral("Halvik") << state->reason;
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [state](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<quint32> reply = *w;
        if (reply.isError())
            return;
        state->cookie = reply.value();
        if (state->released)
            state->release();
    });
}

} // namespace

DBusSleepInhibitor::DBusSleepInhibitor(const QString& reason) : m_state(std::make_shared<State>())
{
    m_state->reason = reason;
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected()) {
        askScreenSaver(m_state);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QStringLiteral("idle") << QStringLiteral("Halvik") << reason << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call));
    auto state = m_state;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [state](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError() || !reply.value().isValid()) {
            askScreenSaver(state);
            return;
        }
        state->fd = ::dup(reply.value().fileDescriptor());
        if (state->released)
            state->release();
    });
}

DBusSleepInhibitor::~DBusSleepInhibitor()
{
    m_state->released = true;
    m_state->release();
}

bool DBusSleepInhibitor::isHeld() const
{
    return m_state->fd >= 0 || m_state->cookie != 0;
}

} // namespace halvik
