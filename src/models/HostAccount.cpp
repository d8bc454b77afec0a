#include "HostAccount.h"

namespace halvik {

HostAccount::HostAccount(HostProviderKind provider, QString label, std::optional<QString> providerAccountID)
    : m_id(QUuid::createUuid()), m_providerRaw(toRaw(provider)), m_label(std::move(label)),
      m_createdAt(QDateTime::currentDateTimeUtc()), m_providerAccountID(std::move(providerAccountID))
{
}

HostAccount::HostAccount(QUuid id, QString providerRaw, QString label, QDateTime createdAt)
    : m_id(id), m_providerRaw(std::move(providerRaw)), m_label(std::move(label)),
      m_createdAt(std::move(createdAt))
{
}

std::shared_ptr<HostAccount> HostAccount::fromRecord(const HostRecord& record)
{
    auto h = std::make_shared<HostAccount>(record.id, record.providerRaw, record.label, record.createdAt);
    h->update(record);
    return h;
}

HostRecord HostAccount::record() const
{
    return HostRecord{m_id, m_providerRaw, m_label, m_createdAt, m_lastVerifiedAt, m_providerAccountID};
}

void HostAccount::update(const HostRecord& record)
{
    setLabel(record.label);
    setLastVerifiedAt(record.lastVerifiedAt);
    setProviderAccountID(record.providerAccountID);
}

QString HostAccount::secretAccount() const
{
    return toRaw(provider().value_or(HostProviderKind::forge)) + QLatin1Char('.') + uuidString(m_id);
}

} // namespace halvik
