#include "NotificationService.h"

namespace halvik {

NotificationService::NotificationService(std::unique_ptr<DesktopNotifier> notifier, QObject* parent)
    : QObject(parent), m_notifier(notifier ? std::move(notifier) : DesktopNotifier::create())
{
}

NotificationService::~NotificationService() = default;

void NotificationService::requestPermission()
{
    m_notifier->prepare();
}

void NotificationService::finished(const QString& title, const QString& body, bool succeeded)
{
    m_notifier->post(title, body);
    const QString badge = succeeded ? QString() : QStringLiteral("!");
    if (badge != m_badge) {
        m_badge = badge;
        Q_EMIT badgeChanged(m_badge);
    }
}

} // namespace halvik
