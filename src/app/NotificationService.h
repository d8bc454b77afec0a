#pragma once

#include <QObject>
#include <QString>

namespace halvik {

// Desktop notifications for finished long jobs, over the freedesktop Notifications D-Bus
// service on Linux. Quiet when there is no session bus or no notification server.
class NotificationService : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks the notification server what it can do; the answer only decides whether to post.
    void requestPermission();
    void finished(const QString& title, const QString& body, bool succeeded);

    // The launcher badge: "!" after a failure, cleared after a success.
    QString badge() const { return m_badge; }

Q_SIGNALS:
    void badgeChanged(const QString& badge);

private:
    QString m_badge;
};

} // namespace halvik
