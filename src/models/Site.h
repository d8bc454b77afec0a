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

    QUuid id() const { return m_id; }
    QString name() const { return m_name; }
    QString path() const { return m_path; }
    QDateTime createdAt() const { return m_createdAt; }
    QString phpSourceRaw() const { return m_phpSourceRaw; }
    std::optional<PHPSource> phpSource() const { return fromRaw<PHPSource>(m_phpSourceRaw); }
    std::optional<QString> managedPHPVersion() const { return m_managedPHPVersion; }
    bool herdLinked() const { return m_herdLinked; }
    std::optional<int> localPort() const { return m_localPort; }
    std::optional<QString> githubRepo() const { return m_githubRepo; }
    std::optional<qint64> forgeServerId() const { return m_forgeServerId; }
    std::optional<qint64> forgeSiteId() const { return m_forgeSiteId; }
    std::optional<QUuid> forgeHostId() const { return m_forgeHostId; }
    std::optional<QString> cloudAppId() const { return m_cloudAppId; }
    std::optional<QString> cloudEnvId() const { return m_cloudEnvId; }
    std::optional<QUuid> cloudHostId() const { return m_cloudHostId; }
    std::optional<QString> cloudURL() const { return m_cloudURL; }
    bool usesSSG() const { return m_usesSSG; }
    std::optional<QString> staticHostKind() const { return m_staticHostKind; }
    std::optional<QString> staticHostSiteId() const { return m_staticHostSiteId; }
    std::optional<QString> staticHostURL() const { return m_staticHostURL; }
    std::optional<QDateTime> lastStaticBuildAt() const { return m_lastStaticBuildAt; }
    QString notes() const { return m_notes; }
    const QList<SiteOperationPtr>& operations() const { return m_operations; }
    const QList<DeploymentPtr>& deployments() const { return m_deployments; }

    void setName(const QString& v) { assign(m_name, v); }
    void setPath(const QString& v) { assign(m_path, v); }
    void setCreatedAt(const QDateTime& v) { assign(m_createdAt, v); }
    void setPhpSourceRaw(const QString& v) { assign(m_phpSourceRaw, v); }
    void setPhpSource(PHPSource v) { setPhpSourceRaw(toRaw(v)); }
    void setManagedPHPVersion(std::optional<QString> v) { assign(m_managedPHPVersion, v); }
    void setHerdLinked(bool v) { assign(m_herdLinked, v); }
    void setLocalPort(std::optional<int> v) { assign(m_localPort, v); }
    void setGithubRepo(std::optional<QString> v) { assign(m_githubRepo, v); }
    void setForgeServerId(std::optional<qint64> v) { assign(m_forgeServerId, v); }
    void setForgeSiteId(std::optional<qint64> v) { assign(m_forgeSiteId, v); }
    void setForgeHostId(std::optional<QUuid> v) { assign(m_forgeHostId, v); }
    void setCloudAppId(std::optional<QString> v) { assign(m_cloudAppId, v); }
    void setCloudEnvId(std::optional<QString> v) { assign(m_cloudEnvId, v); }
    void setCloudHostId(std::optional<QUuid> v) { assign(m_cloudHostId, v); }
    void setCloudURL(std::optional<QString> v) { assign(m_cloudURL, v); }
    void setUsesSSG(bool v) { assign(m_usesSSG, v); }
    void setStaticHostKind(std::optional<QString> v) { assign(m_staticHostKind, v); }
    void setStaticHostSiteId(std::optional<QString> v) { assign(m_staticHostSiteId, v); }
    void setStaticHostURL(std::optional<QString> v) { assign(m_staticHostURL, v); }
    void setLastStaticBuildAt(std::optional<QDateTime> v) { assign(m_lastStaticBuildAt, v); }
    void setNotes(const QString& v) { assign(m_notes, v); }
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
    QUuid m_id;
    QString m_name;
    QString m_path;
    QDateTime m_createdAt;
    QString m_phpSourceRaw;
    std::optional<QString> m_managedPHPVersion;
    bool m_herdLinked = false;
    std::optional<int> m_localPort;
    std::optional<QString> m_githubRepo;
    std::optional<qint64> m_forgeServerId;
    std::optional<qint64> m_forgeSiteId;
    std::optional<QUuid> m_forgeHostId;
    std::optional<QString> m_cloudAppId;
    std::optional<QString> m_cloudEnvId;
    std::optional<QUuid> m_cloudHostId;
    std::optional<QString> m_cloudURL;
    bool m_usesSSG = false;
    std::optional<QString> m_staticHostKind;
    std::optional<QString> m_staticHostSiteId;
    std::optional<QString> m_staticHostURL;
    std::optional<QDateTime> m_lastStaticBuildAt;
    QString m_notes;
    QList<SiteOperationPtr> m_operations;
    QList<DeploymentPtr> m_deployments;
};

using SitePtr = std::shared_ptr<Site>;

} // namespace halvik
