#include "Reachability.h"

namespace halvik {

Reachability Reachability::fromStatus(int status, std::optional<QString> serverHeader)
{
    if (status == 502 || status == 503 || status == 504)
        return gateway(status);
    if (status >= 500)
        return appError(status, std::move(serverHeader));
    return server(status, std::move(serverHeader));
}

QString Reachability::summary() const
{
    switch (m_case) {
    case Case::server:
        return QStringLiteral("Responding (HTTP %1%2)")
            .arg(m_status)
            .arg(m_serverHeader ? QStringLiteral(", ") + *m_serverHeader : QString());
    case Case::appError:
        return QStringLiteral("Served, but the app returned HTTP %1 — open it to see the error")
            .arg(m_status);
    case Case::gateway:
        return QStringLiteral("Web server up, PHP not answering (HTTP %1)").arg(m_status);
    case Case::unreachable:
        return m_reason;
    case Case::unknown:
        return QStringLiteral("Not checked");
    case Case::checking:
        return QStringLiteral("Checking…");
    case Case::notRunning:
        return QStringLiteral("Server not started");
    }
    return {};
}

} // namespace halvik
