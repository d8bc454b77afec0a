#pragma once

#include "Deployment.h"
#include "Enums.h"
#include "Record.h"
#include "SiteOperation.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QList>
#include <QUuid>

#include <memory>
#include <optional>

namespace halvik {

// One managed local site. Shared: the store, the screens and running jobs hold the same object.
class Site : public Record
{
    Q_OBJECT
public:
    // A new site: fresh id, created now, PHP source automatic, everything else unset or empty.
    Site(QString name, QString path);
    // For decoding: the required fields as stored.
    Site(QUuid id, QString name, QString path, QDateTime createdAt, QString phpSourceRaw, bool herdLinked);
    static std::shared_ptr<Site> fromRecord(const SiteRecord& record);

    // A plain copy for saving.
    SiteRecord record() const;
    // Takes what another process stored for this site: its fields, the operations and
    // deployments it added or changed, and drops stored ones it no longer has. Operations
    // started in this process are never overwritten.
    void update(const SiteRecord& record);
    // The newest revision of the site or anything in its histories.
    quint64 contentRevision() const;

    QUuid id() const { return m_fields.id; }
    QString name() const { return m_fields.name; }
    QString path() const { return m_fields.path; }
    QDateTime createdAt() const { return m_fields.createdAt; }
    QString phpSourceRaw() const { return m_fields.phpSourceRaw; }
    std::optional<PHPSource> phpSource() const { return fromRaw<PHPSource>(m_fields.phpSourceRaw); }
    std::optional<QString> managedPHPVersion() const { return m_fields.managedPHPVersion; }
    bool herdLinked() const { return m_fields.herdLinked; }
    std::optional<int> localPort() const { return m_fields.localPort; }
    std::optional<QString> githubRepo() const { return m_fields.githubRepo; }
    std::optional<qint64> forgeServerId() const { return m_fields.forgeServerId; }
    std::optional<qint64> forgeSiteId() const { return m_fields.forgeSiteId; }
    std::optional<QUuid> forgeHostId() const { return m_fields.forgeHostId; }
    std::optional<QString> cloudAppId() const { return m_fields.cloudAppId; }
    std::optional<QString> cloudEnvId() const { return m_fields.cloudEnvId; }
    std::optional<QUuid> cloudHostId() const { return m_fields.cloudHostId; }
    std::optional<QString> cloudURL() const { return m_fields.cloudURL; }
    bool usesSSG() const { return m_fields.usesSSG; }
    std::optional<QString> staticHostKind() const { return m_fields.staticHostKind; }
    std::optional<QString> staticHostSiteId() const { return m_fields.staticHostSiteId; }
    std::optional<QString> staticHostURL() const { return m_fields.staticHostURL; }
    std::optional<QDateTime> lastStaticBuildAt() const { return m_fields.lastStaticBuildAt; }
    QString notes() const { return m_fields.notes; }
    const QList<SiteOperationPtr>& operations() const { return m_operations; }
    const QList<DeploymentPtr>& deployments() const { return m_deployments; }

    void setName(const QString& v) { assign(m_fields.name, v); }
    void setPath(const QString& v) { assign(m_fields.path, v); }
    void setCreatedAt(const QDateTime& v) { assign(m_fields.createdAt, v); }
    void setPhpSourceRaw(const QString& v) { assign(m_fields.phpSourceRaw, v); }
    void setPhpSource(PHPSource v) { setPhpSourceRaw(toRaw(v)); }
    void setManagedPHPVersion(std::optional<QString> v) { assign(m_fields.managedPHPVersion, v); }
    void setHerdLinked(bool v) { assign(m_fields.herdLinked, v); }
    void setLocalPort(std::optional<int> v) { assign(m_fields.localPort, v); }
    void setGithubRepo(std::optional<QString> v) { assign(m_fields.githubRepo, v); }
    void setForgeServerId(std::optional<qint64> v) { assign(m_fields.forgeServerId, v); }
    void setForgeSiteId(std::optional<qint64> v) { assign(m_fields.forgeSiteId, v); }
    void setForgeHostId(std::optional<QUuid> v) { assign(m_fields.forgeHostId, v); }
    void setCloudAppId(std::optional<QString> v) { assign(m_fields.cloudAppId, v); }
    void setCloudEnvId(std::optional<QString> v) { assign(m_fields.cloudEnvId, v); }
    void setCloudHostId(std::optional<QUuid> v) { assign(m_fields.cloudHostId, v); }
    void setCloudURL(std::optional<QString> v) { assign(m_fields.cloudURL, v); }
    void setUsesSSG(bool v) { assign(m_fields.usesSSG, v); }
    void setStaticHostKind(std::optional<QString> v) { assign(m_fields.staticHostKind, v); }
    void setStaticHostSiteId(std::optional<QString> v) { assign(m_fields.staticHostSiteId, v); }
    void setStaticHostURL(std::optional<QString> v) { assign(m_fields.staticHostURL, v); }
    void setLastStaticBuildAt(std::optional<QDateTime> v) { assign(m_fields.lastStaticBuildAt, v); }
    void setNotes(const QString& v) { assign(m_fields.notes, v); }
    void setOperations(QList<SiteOperationPtr> v) { assign(m_operations, std::move(v)); }
    void setDeployments(QList<DeploymentPtr> v) { assign(m_deployments, std::move(v)); }
    // Appends, dropping the oldest beyond what the store keeps.
    void appendOperation(SiteOperationPtr operation);
    void appendDeployment(DeploymentPtr deployment);

    // The name, or the folder's last component when the name is empty.
    QString displayName() const;
    bool isLinkedToCloud() const;
    // Providers the site deploys to, without duplicates: Cloud, then the static host, then Forge.
    QList<HostProviderKind> linkedDeployProviders() const;

private:
    SiteFields m_fields;
    QList<SiteOperationPtr> m_operations;
    QList<DeploymentPtr> m_deployments;
};

using SitePtr = std::shared_ptr<Site>;

} // namespace halvik
