#pragma once

#include "Enums.h"
#include "Record.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QUuid>

#include <memory>
#include <optional>

namespace halvik {

// One connected hosting account. Its token lives in the secret store under secretAccount().
class HostAccount : public Record
{
    Q_OBJECT
public:
    HostAccount(HostProviderKind provider, QString label, std::optional<QString> providerAccountID = {});
    HostAccount(QUuid id, QString providerRaw, QString label, QDateTime createdAt);
    static std::shared_ptr<HostAccount> fromRecord(const HostRecord& record);

    HostRecord record() const;
    void update(const HostRecord& record);

    QUuid id() const { return m_id; }
    QString providerRaw() const { return m_providerRaw; }
    std::optional<HostProviderKind> provider() const { return fromRaw<HostProviderKind>(m_providerRaw); }
    QString label() const { return m_label; }
    QDateTime createdAt() const { return m_createdAt; }
    std::optional<QDateTime> lastVerifiedAt() const { return m_lastVerifiedAt; }
    std::optional<QString> providerAccountID() const { return m_providerAccountID; }

    void setLabel(const QString& v) { assign(m_label, v); }
    void setLastVerifiedAt(std::optional<QDateTime> v) { assign(m_lastVerifiedAt, v); }
    void setProviderAccountID(std::optional<QString> v) { assign(m_providerAccountID, v); }

    // "<provider>.<UUID>"; an unknown provider counts as forge.
    QString secretAccount() const;

private:
    QUuid m_id;
    QString m_providerRaw;
    QString m_label;
    QDateTime m_createdAt;
    std::optional<QDateTime> m_lastVerifiedAt;
    std::optional<QString> m_providerAccountID;
};

using HostAccountPtr = std::shared_ptr<HostAccount>;

// Upper-case hyphenated form, as stored and as used in secret keys.
inline QString uuidString(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace halvik
