#pragma once

#include "models/Enums.h"
#include "models/HostAccount.h"
#include "models/Site.h"
#include "services/hosting/CloudRecords.h"

#include <QCoroTask>
#include <QObject>
#include <map>

#include <functional>
#include <optional>

namespace halvik {

class SecretStore;
class SiteStore;

// Connected hosting accounts of every provider: verifies a token with its provider, keeps it
// in the secret store under the account's key and the account itself in the site store.
// Providers plug in a verifier that turns a token into the account's label. Main thread.
class HostAccountService : public QObject
{
    Q_OBJECT
public:
    using Verifier = std::function<QCoro::Task<QString>(QString token)>;
    // For providers whose token works within one account named alongside it.
    using AccountVerifier = std::function<QCoro::Task<QString>(QString token, QString accountID)>;

    HostAccountService(SiteStore& store, SecretStore& secrets, QObject* parent = nullptr);

    void setVerifier(HostProviderKind provider, Verifier verifier);
    void setVerifier(HostProviderKind provider, AccountVerifier verifier);
    bool canConnect(HostProviderKind provider) const { return m_verifiers.count(provider) > 0; }
    // Whether the provider needs an account id beside the token (Cloudflare).
    static bool needsAccountID(HostProviderKind provider)
    {
        return provider == HostProviderKind::cloudflarePages;
    }

    // Verifies the token and stores it. A token whose label matches an account of the same
    // provider (ignoring case) replaces that account's token, so the sites linked to it stay
    // linked. Throws the provider's error sentence.
    // With an account id, the same label only matches an account of the same id.
    QCoro::Task<HostAccountPtr> connect(HostProviderKind provider, QString token,
                                        std::optional<QString> accountID = std::nullopt);
    // Keeps a token already verified elsewhere (a browser sign-in) under the account of that
    // provider whose label matches `label` (ignoring case; and the account id, when given), or a
    // new one.
    HostAccountPtr adopt(HostProviderKind provider, const QString& label, const QString& token,
                         const std::optional<QString>& accountID = std::nullopt);
    // One Laravel Cloud account per organization of a browser sign-in, in its order.
    QList<HostAccountPtr> persistCloudSignIns(const QList<CloudSignIn>& signIns);
    // Replaces the token of an account that stays as it is (a renewed sign-in).
    void renewToken(const HostAccountPtr& host, const QString& token);
    // Forgets the account and its token; sites keep naming it.
    void disconnect(const HostAccountPtr& host);

    std::optional<QString> token(const HostAccount& host) const;
    QList<HostAccountPtr> accounts(std::optional<HostProviderKind> provider = std::nullopt) const;
    HostAccountPtr account(const QUuid& id) const;
    // A label (ignoring case), an id (or its unique prefix), or a provider's word ("forge",
    // "cloud") when exactly one account of that provider exists. Throws a sentence otherwise.
    HostAccountPtr resolve(const QString& reference) const;
    // Sites that deploy with the account.
    QList<SitePtr> sitesUsing(const HostAccount& host) const;

    // "Laravel Forge", "Laravel Cloud", …
    static QString providerTitle(HostProviderKind provider);

Q_SIGNALS:
    void accountsChanged();

private:
    SiteStore& m_store;
    SecretStore& m_secrets;
    std::map<HostProviderKind, AccountVerifier> m_verifiers;
};

} // namespace halvik
