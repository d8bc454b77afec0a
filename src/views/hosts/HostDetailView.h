#pragma once

#include "models/HostAccount.h"
#include "services/hosting/CloudRecords.h"
#include "services/hosting/ForgeClient.h"

#include <QHash>
#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class ToneLabel;

// One hosting account: its label, provider and dates, "Disconnect", and for Forge its servers
// with the local sites deploying to each; for Netlify and Cloudflare Pages its sites or projects
// with the local sites published there. Servers are loaded once per account and kept, so
// the host search can match them.
class HostDetailView : public QWidget
{
    Q_OBJECT
public:
    explicit HostDetailView(AppServices& services, QWidget* parent = nullptr);

    void setHost(HostAccountPtr host);
    const HostAccountPtr& host() const { return m_host; }
    // Loads the account's servers again.
    void reload();
    void disconnectHost();

    // The servers already loaded for an account (none while loading or after a failure).
    QList<ForgeServer> loadedServers(const QUuid& host) const { return m_servers.value(host); }

    // A static host's sites (Netlify) or projects (Cloudflare Pages).
    struct StaticTarget
    {
        QString id;
        QString name;
        QString url;
    };
    QList<StaticTarget> loadedTargets(const QUuid& host) const { return m_targets.value(host); }
    QTreeWidget* targetTable() const { return m_targetTable; }

    QTreeWidget* serverTable() const { return m_table; }
    QLabel* serverState() const;
    QPushButton* retryButton() const { return m_retry; }
    QPushButton* disconnectButton() const { return m_disconnect; }

    // A Cloud account's applications once loaded.
    QList<CloudApplication> loadedApplications(const QUuid& host) const { return m_applications.value(host); }

Q_SIGNALS:
    // Servers of some account arrived.
    void serversLoaded();

private:
    void showServers();
    void showTargets();
    void reloadTargets(const QString& token);
    bool isStaticHost() const;
    void showApplications();
    void reloadApplications(const QString& token);
    // "Sign in again" for a Cloud account whose token was rejected.
    void signInAgain();
    void showState(const QString& text, bool failure);

    AppServices& m_services;
    HostAccountPtr m_host;
    QLabel* m_title;
    QLabel* m_subtitle;
    QLabel* m_dates;
    QPushButton* m_disconnect;
    QStackedWidget* m_stack;
    ToneLabel* m_state;
    QPushButton* m_retry;
    QTreeWidget* m_table;
    QTreeWidget* m_targetTable;
    QLabel* m_listHeading;
    QHash<QUuid, QList<ForgeServer>> m_servers;
    QHash<QUuid, QList<StaticTarget>> m_targets;
    QHash<QUuid, QList<CloudApplication>> m_applications;
    bool m_rejected = false;
    quint64 m_generation = 0;
};

} // namespace halvik::views
