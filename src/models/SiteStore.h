#pragma once

#include "HostAccount.h"
#include "Site.h"
#include "SourceControlAccount.h"

#include <QObject>

#include <optional>

namespace halvik {

class SecretStore;

// The whole persistent registry: sites (newest first), hosting accounts (oldest first) and
// source-control accounts (by provider name). Rewrites store.json in full after every change.
class SiteStore : public QObject
{
    Q_OBJECT
public:
    // `secrets` is where removed accounts' tokens are deleted; `directory` overrides the
    // application folder (tests), otherwise AppDataDir::directory() is asked at each use.
    explicit SiteStore(SecretStore& secrets, QString directory = {}, QObject* parent = nullptr);

    const QList<SitePtr>& sites() const { return m_sites; }
    const QList<HostAccountPtr>& hosts() const { return m_hosts; }
    const QList<SourceControlAccount>& sourceControlAccounts() const { return m_sourceControlAccounts; }

    QString filePath() const;

    // Replaces the lists with the file's contents. A missing file changes nothing; a bad one
    // is logged, copied aside so no later save can destroy it, and changes nothing.
    void load();
    void save();

    // New sites go to the front (they are the newest), then the store is saved.
    void insertSite(const SitePtr& site);
    void remove(const SitePtr& site);
    void addHost(const HostAccountPtr& host);
    void removeHost(const HostAccountPtr& host);
    SitePtr site(const QUuid& id) const;
    SitePtr siteAtPath(const QString& path) const;
    std::optional<SourceControlAccount> sourceControlAccount(SourceControlProvider provider) const;
    void upsertSourceControl(const SourceControlAccount& account);
    void removeSourceControl(SourceControlProvider provider);

    // Trimmed, `.`/`..` and duplicate separators removed, symbolic links resolved; empty stays empty.
    static QString normalizedSitePath(const QString& path);

Q_SIGNALS:
    void sitesChanged();
    void hostsChanged();
    void sourceControlAccountsChanged();

private:
    void keepAside(const QString& path, const QString& reason);

    SecretStore& m_secrets;
    QString m_directory;
    QList<SitePtr> m_sites;
    QList<HostAccountPtr> m_hosts;
    QList<SourceControlAccount> m_sourceControlAccounts;
};

} // namespace halvik
