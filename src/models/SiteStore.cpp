#include "SiteStore.h"

#include "SecretStore.h"
#include "LegacyKeys.h"
#include "StoreCodec.h"

#include "platform/AppDataDir.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace halvik {

SiteStore::SiteStore(SecretStore& secrets, QString directory, QObject* parent)
    : QObject(parent), m_secrets(secrets), m_directory(std::move(directory))
{
}

QString SiteStore::filePath() const
{
    const QString folder = m_directory.isEmpty() ? AppDataDir::directory() : m_directory;
    return folder + QStringLiteral("/store.json");
}

void SiteStore::load()
{
    const QString path = filePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray raw = file.readAll();
    file.close();

    const QByteArray bytes = normalizeObservableKeys(raw).value_or(raw);
    StoreSnapshot snapshot;
    try {
        snapshot = StoreCodec::decode(bytes);
    } catch (const StoreDecodeError& error) {
        keepAside(path, error.description());
        return;
    }

    std::stable_sort(snapshot.sites.begin(), snapshot.sites.end(),
                     [](const SitePtr& a, const SitePtr& b) { return a->createdAt() > b->createdAt(); });
    std::stable_sort(snapshot.hosts.begin(), snapshot.hosts.end(),
                     [](const HostAccountPtr& a, const HostAccountPtr& b) { return a->createdAt() < b->createdAt(); });
    m_sites = std::move(snapshot.sites);
    m_hosts = std::move(snapshot.hosts);
    m_sourceControlAccounts = std::move(snapshot.sourceControlAccounts);
    Q_EMIT sitesChanged();
    Q_EMIT hostsChanged();
    Q_EMIT sourceControlAccountsChanged();
}

// The in-memory lists stay empty after a failed load and the next save would replace the
// user's file, so a copy is kept beside it first.
void SiteStore::keepAside(const QString& path, const QString& reason)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    if (QFile::copy(path, copy))
        qCWarning(halvikLog).noquote() << "Halvik store load failed: " + reason + " The unreadable file was kept as " + copy;
    else
        qCWarning(halvikLog).noquote() << "Halvik store load failed: " + reason + " Copying it aside to " + copy + " failed too.";
}

void SiteStore::save()
{
    const QByteArray bytes = StoreCodec::encode({m_sites, m_hosts, m_sourceControlAccounts});
    if (auto error = writeFileAtomically(filePath(), bytes))
        qCWarning(halvikLog).noquote() << "Halvik store save failed: " + *error;
}

void SiteStore::insertSite(const SitePtr& site)
{
    m_sites.prepend(site);
    Q_EMIT sitesChanged();
    save();
}

void SiteStore::remove(const SitePtr& site)
{
    const QUuid id = site->id();
    m_sites.removeIf([&id](const SitePtr& s) { return s->id() == id; });
    Q_EMIT sitesChanged();
    save();
}

void SiteStore::addHost(const HostAccountPtr& host)
{
    m_hosts.append(host);
    Q_EMIT hostsChanged();
    save();
}

void SiteStore::removeHost(const HostAccountPtr& host)
{
    m_secrets.remove(host->secretAccount());
    const QUuid id = host->id();
    m_hosts.removeIf([&id](const HostAccountPtr& h) { return h->id() == id; });
    Q_EMIT hostsChanged();
    save();
}

SitePtr SiteStore::site(const QUuid& id) const
{
    for (const auto& s : m_sites)
        if (s->id() == id)
            return s;
    return nullptr;
}

SitePtr SiteStore::siteAtPath(const QString& path) const
{
    const QString wanted = normalizedSitePath(path);
    if (wanted.isEmpty())
        return nullptr;
    for (const auto& s : m_sites)
        if (normalizedSitePath(s->path()) == wanted)
            return s;
    return nullptr;
}

std::optional<SourceControlAccount> SiteStore::sourceControlAccount(SourceControlProvider provider) const
{
    const QString raw = toRaw(provider);
    for (const auto& account : m_sourceControlAccounts)
        if (account.provider == raw)
            return account;
    return std::nullopt;
}

void SiteStore::upsertSourceControl(const SourceControlAccount& account)
{
    m_sourceControlAccounts.removeIf([&account](const SourceControlAccount& a) { return a.provider == account.provider; });
    m_sourceControlAccounts.append(account);
    std::stable_sort(m_sourceControlAccounts.begin(), m_sourceControlAccounts.end(),
                     [](const SourceControlAccount& a, const SourceControlAccount& b) { return a.provider < b.provider; });
    Q_EMIT sourceControlAccountsChanged();
    save();
}

void SiteStore::removeSourceControl(SourceControlProvider provider)
{
    m_secrets.remove(secretAccount(provider));
    const QString raw = toRaw(provider);
    m_sourceControlAccounts.removeIf([&raw](const SourceControlAccount& a) { return a.provider == raw; });
    Q_EMIT sourceControlAccountsChanged();
    save();
}

QString SiteStore::normalizedSitePath(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        return {};
    QString standard = QDir::cleanPath(QDir::isAbsolutePath(trimmed) ? trimmed : QDir::current().absoluteFilePath(trimmed));
    // Resolve symbolic links where the folder exists; a missing folder compares by its clean path.
    const QString resolved = QFileInfo(standard).canonicalFilePath();
    return resolved.isEmpty() ? standard : resolved;
}

} // namespace halvik
