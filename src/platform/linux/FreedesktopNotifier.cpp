#include "FreedesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QUuid>
#include <QVariantMap>

namespace halvik {

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";

bool notificationServerPresent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
}

} // namespace

void FreedesktopNotifier::prepare()
{
    // Freedesktop servers need no permission; asking for capabilities is the closest step and
    // starts an activatable server early. The reply is not needed.
    if (!notificationServerPresent())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

void FreedesktopNotifier::post(const QString& title, const QString& body)
{
    if (!notificationServerPresent())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("x-halvik-id"), QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    call << QCoreApplication::applicationName() << quint32(0) << QStringLiteral("halvik") << title << body
         << QStringList() << hints << qint32(-1);
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

} // namespace halvik
