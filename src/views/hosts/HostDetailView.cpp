#include "views/hosts/HostDetailView.h"

#include "views/accounts/AccountWidgets.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"
#include "platform/Browser.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"
#include "services/hosting/NetlifyClient.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString dateText(const QDateTime& date)
{
    return QLocale().toString(date.toLocalTime(), QLocale::ShortFormat);
}

} // namespace

HostDetailView::HostDetailView(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    setObjectName("hostDetail");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    m_title = headingLabel(QString(), 4, this);
    m_subtitle = new ToneLabel(QString(), Tone::muted, this);
    m_dates = new ToneLabel(QString(), Tone::muted, this);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    titles->addWidget(m_dates);
    header->addLayout(titles, 1);
    m_disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
    header->addWidget(m_disconnect, 0, Qt::AlignTop);
    layout->addLayout(header);
    layout->addSpacing(8);
    m_listHeading = headingLabel(QStringLiteral("Servers"), 1, this);
    layout->addWidget(m_listHeading);

    m_stack = new QStackedWidget(this);
    auto* statePage = new QWidget(m_stack);
    auto* stateLayout = new QVBoxLayout(statePage);
    stateLayout->addStretch();
    m_state = new ToneLabel(QString(), Tone::muted, statePage);
    m_state->setAlignment(Qt::AlignCenter);
    stateLayout->addWidget(m_state);
    m_retry = new QPushButton(QStringLiteral("Retry"), statePage);
    stateLayout->addWidget(m_retry, 0, Qt::AlignHCenter);
    stateLayout->addStretch();
    m_table = new QTreeWidget(m_stack);
    m_table->setObjectName("hostServers");
    m_table->setRootIsDecorated(false);
    m_table->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("IP"), QStringLiteral("Region"),
                              QStringLiteral("PHP"), QStringLiteral("Ready"), QStringLiteral("Sites")});
    m_table->header()->setStretchLastSection(true);
    m_targetTable = new QTreeWidget(m_stack);
    m_targetTable->setObjectName("hostTargets");
    m_targetTable->setRootIsDecorated(false);
    m_targetTable->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Sites")});
    m_targetTable->header()->setStretchLastSection(true);
    m_stack->addWidget(statePage);
    m_stack->addWidget(m_table);
    m_stack->addWidget(m_targetTable);
    layout->addWidget(m_stack, 1);

    connect(m_retry, &QPushButton::clicked, this, [this] {
        if (m_rejected)
            signInAgain();
        else
            reload();
    });
    connect(m_disconnect, &QPushButton::clicked, this, &HostDetailView::disconnectHost);
}

QLabel* HostDetailView::serverState() const
{
    return m_state;
}

void HostDetailView::setHost(HostAccountPtr host)
{
    m_host = std::move(host);
    if (!m_host)
        return;
    m_title->setText(m_host->label());
    const HostProviderKind kind = m_host->provider().value_or(HostProviderKind::forge);
    m_subtitle->setText(HostAccountService::providerTitle(kind));
    QString dates = QStringLiteral("Connected ") + dateText(m_host->createdAt());
    if (const auto verified = m_host->lastVerifiedAt())
        dates += QStringLiteral(" · Verified ") + dateText(*verified);
    m_dates->setText(dates);
    const bool cloud = kind == HostProviderKind::laravelCloud;
    m_listHeading->setText(cloud                                       ? QStringLiteral("Applications")
                           : kind == HostProviderKind::netlify         ? QStringLiteral("Sites")
                           : kind == HostProviderKind::cloudflarePages ? QStringLiteral("Projects")
                                                                       : QStringLiteral("Servers"));
    m_table->clear();
    m_table->setColumnCount(cloud ? 4 : 6);
    m_table->setHeaderLabels(cloud ? QStringList{QStringLiteral("Name"), QStringLiteral("Region"),
                                                 QStringLiteral("URL"), QStringLiteral("Sites")}
                                   : QStringList{QStringLiteral("Name"), QStringLiteral("IP"),
                                                 QStringLiteral("Region"), QStringLiteral("PHP"),
                                                 QStringLiteral("Ready"), QStringLiteral("Sites")});
    if (isStaticHost() && m_targets.contains(m_host->id()))
        showTargets();
    else if (cloud && m_applications.contains(m_host->id()))
        showApplications();
    else if (!cloud && !isStaticHost() && m_servers.contains(m_host->id()))
        showServers();
    else
        reload();
}

void HostDetailView::showState(const QString& text, bool failure)
{
    m_state->setTone(failure ? Tone::failure : Tone::muted);
    m_state->setText(text);
    m_retry->setVisible(failure);
    m_retry->setText(m_rejected ? QStringLiteral("Sign in again") : QStringLiteral("Retry"));
    m_stack->setCurrentIndex(0);
}

bool HostDetailView::isStaticHost() const
{
    return m_host && (m_host->provider() == HostProviderKind::netlify ||
                      m_host->provider() == HostProviderKind::cloudflarePages);
}

void HostDetailView::reloadTargets(const QString& token)
{
    const bool netlify = m_host->provider() == HostProviderKind::netlify;
    showState(netlify ? QStringLiteral("Loading sites…") : QStringLiteral("Loading projects…"), false);
    const quint64 generation = ++m_generation;
    const QPointer<HostDetailView> self(this);
    fireAndForget(this,
                  [](QPointer<HostDetailView> view, AppServices& services, bool fromNetlify, QString secret,
                     QString account, QUuid id, quint64 asked) -> QCoro::Task<> {
                      QString failure;
                      QList<StaticTarget> targets;
                      try {
                          if (fromNetlify) {
                              const QList<NetlifySite> sites = co_await services.netlify().sites(secret);
                              for (const NetlifySite& site : sites)
                                  targets << StaticTarget{site.id, site.name, site.publicURL()};
                          } else {
                              const QList<CloudflareProject> projects =
                                  co_await services.cloudflare().projects(secret, account);
                              for (const CloudflareProject& project : projects)
                                  targets << StaticTarget{project.name, project.name, project.url()};
                          }
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!view || view->m_generation != asked)
                          co_return;
                      if (!failure.isEmpty()) {
                          view->showState(failure, true);
                          co_return;
                      }
                      view->m_targets.insert(id, targets);
                      if (view->m_host && view->m_host->id() == id)
                          view->showTargets();
                      Q_EMIT view->serversLoaded();
                  }(self, m_services, netlify, token, m_host->providerAccountID().value_or(QString()),
                                                               m_host->id(), generation));
}

void HostDetailView::showTargets()
{
    const bool netlify = m_host->provider() == HostProviderKind::netlify;
    const QList<StaticTarget> targets = m_targets.value(m_host->id());
    if (targets.isEmpty()) {
        showState(netlify ? QStringLiteral("No sites on this account.")
                          : QStringLiteral("No projects on this account."),
                  false);
        return;
    }
    m_targetTable->clear();
    for (const StaticTarget& target : targets) {
        QStringList sites;
        for (const SitePtr& site : m_services.store().sites())
            if (site->staticHostKind() == m_host->providerRaw() && site->staticHostSiteId() == target.id)
                sites << site->displayName();
        auto* row =
            new QTreeWidgetItem(m_targetTable, {target.name, target.url, sites.join(QStringLiteral(", "))});
        row->setData(0, Qt::UserRole, target.id);
    }
    for (int column = 0; column < 2; ++column)
        m_targetTable->resizeColumnToContents(column);
    m_stack->setCurrentIndex(2);
}

void HostDetailView::reload()
{
    if (!m_host)
        return;
    m_rejected = false;
    if (isStaticHost()) {
        const auto token = m_services.hostAccounts().token(*m_host);
        if (!token) {
            showState(QStringLiteral("Connect a Netlify or Cloudflare Pages account first."), true);
            return;
        }
        reloadTargets(*token);
        return;
    }
    m_rejected = false;
    if (m_host->provider() == HostProviderKind::laravelCloud) {
        const auto token = m_services.hostAccounts().token(*m_host);
        if (!token) {
            showState(QStringLiteral("Connect Laravel Cloud first."), true);
            return;
        }
        reloadApplications(*token);
        return;
    }
    if (m_host->provider() != HostProviderKind::forge) {
        showState(QStringLiteral("No servers to show for this provider."), false);
        return;
    }
    const auto token = m_services.hostAccounts().token(*m_host);
    if (!token) {
        showState(QStringLiteral("Connect Forge first."), true);
        return;
    }
    showState(QStringLiteral("Loading servers…"), false);
    const quint64 generation = ++m_generation;
    const QPointer<HostDetailView> self(this);
    fireAndForget(this,
                  [](QPointer<HostDetailView> view, ForgeClient& forge, QString secret, QUuid id,
                     quint64 asked) -> QCoro::Task<> {
                      QString failure;
                      QList<ForgeServer> servers;
                      try {
                          servers = co_await forge.servers(secret);
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!view || view->m_generation != asked)
                          co_return;
                      if (!failure.isEmpty()) {
                          view->showState(failure, true);
                          co_return;
                      }
                      view->m_servers.insert(id, servers);
                      if (view->m_host && view->m_host->id() == id)
                          view->showServers();
                      Q_EMIT view->serversLoaded();
                  }(self, m_services.forge(), *token, m_host->id(), generation));
}

void HostDetailView::showServers()
{
    const QList<ForgeServer> servers = m_servers.value(m_host->id());
    if (servers.isEmpty()) {
        showState(QStringLiteral("No servers on this account."), false);
        return;
    }
    const QList<SitePtr> linked = m_services.hostAccounts().sitesUsing(*m_host);
    m_table->clear();
    for (const ForgeServer& server : servers) {
        QStringList sites;
        for (const SitePtr& site : linked)
            if (site->forgeServerId() == server.id)
                sites << site->displayName();
        auto* row = new QTreeWidgetItem(
            m_table, {server.name, server.ipAddress, server.region, server.phpVersion,
                      server.isReady ? QStringLiteral("Ready") : QStringLiteral("Not ready"),
                      sites.join(QStringLiteral(", "))});
        row->setData(0, Qt::UserRole, server.id);
    }
    for (int column = 0; column < 5; ++column)
        m_table->resizeColumnToContents(column);
    m_stack->setCurrentIndex(1);
}

void HostDetailView::reloadApplications(const QString& token)
{
    showState(QStringLiteral("Loading applications…"), false);
    const quint64 generation = ++m_generation;
    const QPointer<HostDetailView> self(this);
    fireAndForget(this,
                  [](QPointer<HostDetailView> view, LaravelCloudClient& cloud, QString secret, QUuid id,
                     quint64 asked) -> QCoro::Task<> {
                      QString failure;
                      bool rejected = false;
                      QList<CloudApplication> applications;
                      try {
                          applications = co_await cloud.applications(secret);
                      } catch (const LaravelCloudClientError& error) {
                          failure = error.description();
                          rejected = error.isUnauthorized();
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!view || view->m_generation != asked)
                          co_return;
                      if (!failure.isEmpty()) {
                          view->m_rejected = rejected;
                          view->showState(failure, true);
                          co_return;
                      }
                      view->m_applications.insert(id, applications);
                      if (view->m_host && view->m_host->id() == id)
                          view->showApplications();
                      Q_EMIT view->serversLoaded();
                  }(self, m_services.cloud(), token, m_host->id(), generation));
}

void HostDetailView::showApplications()
{
    const QList<CloudApplication> applications = m_applications.value(m_host->id());
    if (applications.isEmpty()) {
        showState(QStringLiteral("No applications on this account."), false);
        return;
    }
    const QList<SitePtr> linked = m_services.hostAccounts().sitesUsing(*m_host);
    m_table->clear();
    for (const CloudApplication& application : applications) {
        QStringList sites;
        for (const SitePtr& site : linked)
            if (site->cloudAppId() == application.id)
                sites << site->displayName();
        auto* row = new QTreeWidgetItem(m_table, {application.name, application.region, application.vanityURL,
                                                  sites.join(QStringLiteral(", "))});
        row->setData(0, Qt::UserRole, application.id);
    }
    for (int column = 0; column < 3; ++column)
        m_table->resizeColumnToContents(column);
    m_stack->setCurrentIndex(1);
}

void HostDetailView::signInAgain()
{
    if (!m_host)
        return;
    showState(QStringLiteral("Starting Cloud sign-in…"), false);
    const QPointer<HostDetailView> self(this);
    fireAndForget(this,
                  [](QPointer<HostDetailView> view, LaravelCloudClient& cloud, HostAccountService& hosts,
                     HostAccountPtr account) -> QCoro::Task<> {
                      CloudBrowserAuth::Options options;
                      options.openBrowser = [](const QUrl& url) { return Browser::open(url); };
                      options.onStatus = [view](const QString& line) {
                          if (view)
                              view->showState(line, false);
                      };
                      QString failure;
                      try {
                          const QList<CloudSignIn> signIns =
                              co_await CloudBrowserAuth::signIn(cloud, options);
                          hosts.persistCloudSignIns(signIns);
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!view || view->m_host != account)
                          co_return;
                      if (!failure.isEmpty()) {
                          view->showState(QStringLiteral("Sign-in failed. ") + failure, true);
                          co_return;
                      }
                      view->reload();
                  }(self, m_services.cloud(), m_services.hostAccounts(), m_host));
}

void HostDetailView::disconnectHost()
{
    if (!m_host)
        return;
    const HostAccountPtr host = m_host;
    QStringList names;
    for (const SitePtr& site : m_services.hostAccounts().sitesUsing(*host))
        names << site->displayName();
    PromptDialog dialog;
    dialog.title = QStringLiteral("Disconnect %1?").arg(host->label());
    dialog.text =
        names.isEmpty()
            ? QStringLiteral("Halvik forgets this account and its token.")
            : QStringLiteral("Halvik forgets this account and its token. %1 keep their links and deploy "
                             "again once you connect the account anew.")
                  .arg(names.join(QStringLiteral(", ")));
    dialog.buttons = {QStringLiteral("Disconnect"), QStringLiteral("Cancel")};
    dialog.cancelIndex = 1;
    const QPointer<HostDetailView> self(this);
    fireAndForget(this,
                  [](QPointer<HostDetailView> view, UserPrompts& prompts, HostAccountService& hosts,
                     PromptDialog question, HostAccountPtr account) -> QCoro::Task<> {
                      const int choice = co_await prompts.ask(question);
                      if (choice != 0)
                          co_return;
                      hosts.disconnect(account);
                      if (view && view->m_host == account) {
                          view->m_servers.remove(account->id());
                          view->m_targets.remove(account->id());
                      }
                  }(self, m_services.prompts(), m_services.hostAccounts(), dialog, host));
}

} // namespace halvik::views
