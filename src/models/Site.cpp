#include "Site.h"

#include <QDir>

namespace halvik {

Site::Site(QString name, QString path)
    : m_id(QUuid::createUuid()), m_name(std::move(name)), m_path(std::move(path)),
      m_createdAt(QDateTime::currentDateTimeUtc()), m_phpSourceRaw(toRaw(PHPSource::automatic))
{
}

Site::Site(QUuid id, QString name, QString path, QDateTime createdAt, QString phpSourceRaw, bool herdLinked)
    : m_id(id), m_name(std::move(name)), m_path(std::move(path)), m_createdAt(std::move(createdAt)),
      m_phpSourceRaw(std::move(phpSourceRaw)), m_herdLinked(herdLinked)
{
}

void Site::appendOperation(SiteOperationPtr operation)
{
    m_operations.append(std::move(operation));
    Q_EMIT changed();
}

void Site::appendDeployment(DeploymentPtr deployment)
{
    m_deployments.append(std::move(deployment));
    Q_EMIT changed();
}

QString Site::displayName() const
{
    if (!m_name.isEmpty())
        return m_name;
    QString path = m_path;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString last = path.section(QLatin1Char('/'), -1);
    return last.isEmpty() ? path : last;
}

bool Site::isLinkedToCloud() const
{
    return m_cloudAppId.has_value() || m_cloudEnvId.has_value() || m_cloudURL.has_value();
}

QList<HostProviderKind> Site::linkedDeployProviders() const
{
    QList<HostProviderKind> kinds;
    const auto add = [&kinds](HostProviderKind kind) {
        if (!kinds.contains(kind))
            kinds.append(kind);
    };
    if (isLinkedToCloud())
        add(HostProviderKind::laravelCloud);
    if (m_staticHostKind) {
        if (auto kind = fromRaw<HostProviderKind>(*m_staticHostKind);
            kind && (m_staticHostSiteId.has_value() || m_staticHostURL.has_value()))
            add(*kind);
    }
    if (m_forgeServerId || m_forgeSiteId || m_forgeHostId)
        add(HostProviderKind::forge);
    return kinds;
}

} // namespace halvik
