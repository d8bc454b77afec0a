#include "HostAccountService.h"

#include "async/HalvikError.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"

namespace halvik {

HostAccountService::HostAccountService(SiteStore& store, SecretStore& secrets, QObject* parent)
    : QObject(parent), m_store(store), m_secrets(secrets)
{
}

void HostAccountService::setVerifier(HostProviderKind provider, Verifier verifier)
{
    m_verifiers[provider] = [verify = std::move(verifier)](QString token, QString) { return verify(token); };
}

void HostAccountService::setVerifier(HostProviderKind provider, AccountVerifier verifier)
{
    m_verifiers[provider] = std::move(verifier);
}

QString HostAccountService::providerTitle(HostProviderKind provider)
{
    switch (provider) {
    case HostProviderKind::forge:
        return QStringLiteral("Laravel Forge");
    case HostProviderKind::laravelCloud:
        return QStringLiteral("Laravel Cloud");
    case HostProviderKind::netlify:
        return QStringLiteral("Netlify");
    case HostProviderKind::cloudflarePages:
        return QStringLiteral("Cloudflare Pages");
    }
    return {};
}

QCoro::Task<HostAccountPtr> HostAccountService::connect(HostProviderKind provider, QString token,
                                                        std::optional<QString> accountID)
{
    if (accountID)
        accountID = accountID->trimmed();
    token = token.trimmed();
    if (token.isEmpty())
        throw HalvikError(QStringLiteral("Enter an API token."));
    const auto verifier = m_verifiers.find(provider);
    if (verifier == m_verifiers.end())
        throw HalvikError(QStringLiteral("%1 can’t be connected yet.").arg(providerTitle(provider)));
    const AccountVerifier verify = verifier->second;
    const QString givenAccount = accountID.value_or(QString());
    const QString label = co_await verify(token, givenAccount);

    co_return adopt(provider, label, token, accountID);
}

HostAccountPtr HostAccountService::adopt(HostProviderKind provider, const QString& label,
                                         const QString& token, const std::optional<QString>& accountID)
{
    HostAccountPtr host;
    for (const HostAccountPtr& existing : accounts(provider))
        if (existing->label().compare(label, Qt::CaseInsensitive) == 0 &&
            (!accountID || existing->providerAccountID() == accountID))
            host = existing;
    const bool added = !host;
    if (added)
        host = std::make_shared<HostAccount>(provider, label, accountID);
    m_secrets.set(token, host->secretAccount());
    host->setLabel(label);
    host->setLastVerifiedAt(QDateTime::currentDateTimeUtc());
    if (added)
        m_store.addHost(host);
    else
        m_store.save();
    Q_EMIT accountsChanged();
    return host;
}

QList<HostAccountPtr> HostAccountService::persistCloudSignIns(const QList<CloudSignIn>& signIns)
{
    QList<HostAccountPtr> hosts;
    for (const CloudSignIn& signIn : signIns)
        hosts << adopt(HostProviderKind::laravelCloud, signIn.organization, signIn.token);
    return hosts;
}

void HostAccountService::renewToken(const HostAccountPtr& host, const QString& token)
{
    m_secrets.set(token, host->secretAccount());
    host->setLastVerifiedAt(QDateTime::currentDateTimeUtc());
    m_store.save();
    Q_EMIT accountsChanged();
}

void HostAccountService::disconnect(const HostAccountPtr& host)
{
    m_store.removeHost(host);
    Q_EMIT accountsChanged();
}

std::optional<QString> HostAccountService::token(const HostAccount& host) const
{
    return m_secrets.get(host.secretAccount());
}

QList<HostAccountPtr> HostAccountService::accounts(std::optional<HostProviderKind> provider) const
{
    QList<HostAccountPtr> found;
    for (const HostAccountPtr& host : m_store.hosts())
        if (!provider || host->provider().value_or(HostProviderKind::forge) == *provider)
            found << host;
    return found;
}

HostAccountPtr HostAccountService::account(const QUuid& id) const
{
    for (const HostAccountPtr& host : m_store.hosts())
        if (host->id() == id)
            return host;
    return nullptr;
}

HostAccountPtr HostAccountService::resolve(const QString& reference) const
{
    const QString word = reference.trimmed();
    std::optional<HostProviderKind> provider;
    if (word.compare(QLatin1String("forge"), Qt::CaseInsensitive) == 0)
        provider = HostProviderKind::forge;
    else if (word.compare(QLatin1String("cloud"), Qt::CaseInsensitive) == 0)
        provider = HostProviderKind::laravelCloud;
    else if (word.compare(QLatin1String("netlify"), Qt::CaseInsensitive) == 0)
        provider = HostProviderKind::netlify;
    else if (word.compare(QLatin1String("cloudflare"), Qt::CaseInsensitive) == 0)
        provider = HostProviderKind::cloudflarePages;
    QList<HostAccountPtr> matches;
    for (const HostAccountPtr& host : m_store.hosts())
        if (host->label().compare(word, Qt::CaseInsensitive) == 0)
            matches << host;
    if (matches.isEmpty() && !word.isEmpty()) {
        const QString upper = word.toUpper();
        for (const HostAccountPtr& host : m_store.hosts())
            if (uuidString(host->id()).startsWith(upper))
                matches << host;
    }
    if (matches.isEmpty() && provider)
        matches = accounts(provider);
    if (matches.size() == 1)
        return matches.first();
    if (matches.isEmpty())
        throw HalvikError(QStringLiteral("No host account matches “%1”.").arg(word));
    QStringList names;
    for (const HostAccountPtr& host : std::as_const(matches))
        names << host->label();
    throw HalvikError(QStringLiteral("“%1” matches several host accounts: %2.")
                          .arg(word, names.join(QStringLiteral(", "))));
}

QList<SitePtr> HostAccountService::sitesUsing(const HostAccount& host) const
{
    QList<SitePtr> sites;
    for (const SitePtr& site : m_store.sites())
        if (site->forgeHostId() == host.id() || site->cloudHostId() == host.id())
            sites << site;
    return sites;
}

} // namespace halvik
