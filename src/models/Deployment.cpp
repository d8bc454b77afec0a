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

std::shared_ptr<Deployment> Deployment::fromRecord(const DeploymentRecord& record)
{
    auto d = std::make_shared<Deployment>(record.id, record.startedAt, record.status, record.serverName,
                                          record.siteName);
    d->update(record);
    return d;
}

DeploymentRecord Deployment::record() const
{
    // The log is bounded when it is written out.
    return DeploymentRecord{m_id,          m_startedAt,         m_finishedAt, m_status,
                            m_log,         m_forgeDeploymentId, m_serverName, m_siteName,
                            m_providerRaw, m_cloudDeploymentId};
}

void Deployment::update(const DeploymentRecord& record)
{
    setFinishedAt(record.finishedAt);
    setStatus(record.status);
    assign(m_log, record.log);
    setForgeDeploymentId(record.forgeDeploymentId);
    setServerName(record.serverName);
    setSiteName(record.siteName);
    setProviderRaw(record.providerRaw);
    setCloudDeploymentId(record.cloudDeploymentId);
}

void Deployment::appendLine(const QString& line)
{
    const QString current = m_log.text();
    setLog(current.isEmpty() ? line : current + QLatin1Char('\n') + line);
}

} // namespace halvik
