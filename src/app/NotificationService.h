#pragma once

#include "platform/DesktopNotifier.h"

#include <QObject>
#include <QString>

#include <memory>

namespace halvik {

// Notifications for finished long jobs, posted through the desktop's notifier, and the
// launcher badge that follows them.
class NotificationService : public QObject
{
    Q_OBJECT
public:
    // Without a notifier, the system's own.
    explicit NotificationService(std::unique_ptr<DesktopNotifier> notifier = nullptr,
                                 QObject* parent = nullptr);
    ~NotificationService() override;

    // Gets the desktop ready to show notifications; the answer only decides whether to post.
    void requestPermission();
    void finished(const QString& title, const QString& body, bool succeeded);

    // The launcher badge: "!" after a failure, cleared after a success.
    QString badge() const { return m_badge; }

Q_SIGNALS:
    void badgeChanged(const QString& badge);

private:
    std::unique_ptr<DesktopNotifier> m_notifier;
    QString m_badge;
};

} // namespace halvik
