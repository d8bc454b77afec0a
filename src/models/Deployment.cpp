#include "Deployment.h"

namespace halvik {

Deployment::Deployment(QString serverName, QString siteName)
    : m_id(QUuid::createUuid()), m_startedAt(QDateTime::currentDateTimeUtc()), m_status("queued"),
      m_serverName(std::move(serverName)), m_siteName(std::move(siteName))
{
}

Deployment::Deployment(QUuid id, QDateTime startedAt, QString status, QString serverName, QString siteName)
    : m_id(id), m_startedAt(std::move(startedAt)), m_status(std::move(status)),
      m_serverName(std::move(serverName)), m_siteName(std::move(siteName))
{
}

void Deployment::appendLine(const QString& line)
{
    setLog(m_log.isEmpty() ? line : m_log + QLatin1Char('\n') + line);
}

} // namespace halvik
