#pragma once

#include "Record.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QUuid>

#include <memory>
#include <optional>

namespace halvik {

// One deployment of a site.
class Deployment : public Record
{
    Q_OBJECT
public:
    Deployment(QString serverName, QString siteName);
    Deployment(QUuid id, QDateTime startedAt, QString status, QString serverName, QString siteName);
    static std::shared_ptr<Deployment> fromRecord(const DeploymentRecord& record);

    DeploymentRecord record() const;
    void update(const DeploymentRecord& record);

    QUuid id() const { return m_id; }
    QDateTime startedAt() const { return m_startedAt; }
    std::optional<QDateTime> finishedAt() const { return m_finishedAt; }
    QString status() const { return m_status; }
    QString log() const { return m_log.text(); }
    std::optional<qint64> forgeDeploymentId() const { return m_forgeDeploymentId; }
    QString serverName() const { return m_serverName; }
    QString siteName() const { return m_siteName; }
    bool isRunning() const { return !m_finishedAt.has_value(); }
    std::optional<QString> providerRaw() const { return m_providerRaw; }
    std::optional<QString> cloudDeploymentId() const { return m_cloudDeploymentId; }

    void setFinishedAt(std::optional<QDateTime> v) { assign(m_finishedAt, v); }
    void setStatus(const QString& v) { assign(m_status, v); }
    void setLog(const QString& v) { assign(m_log, StoredText(v)); }
    void setForgeDeploymentId(std::optional<qint64> v) { assign(m_forgeDeploymentId, v); }
    void setServerName(const QString& v) { assign(m_serverName, v); }
    void setSiteName(const QString& v) { assign(m_siteName, v); }
    void setProviderRaw(std::optional<QString> v) { assign(m_providerRaw, v); }
    void setCloudDeploymentId(std::optional<QString> v) { assign(m_cloudDeploymentId, v); }
    void appendLine(const QString& line);

private:
    QUuid m_id;
    QDateTime m_startedAt;
    std::optional<QDateTime> m_finishedAt;
    QString m_status;
    StoredText m_log;
    std::optional<qint64> m_forgeDeploymentId;
    QString m_serverName;
    QString m_siteName;
    std::optional<QString> m_providerRaw;
    std::optional<QString> m_cloudDeploymentId;
};

using DeploymentPtr = std::shared_ptr<Deployment>;

} // namespace halvik
