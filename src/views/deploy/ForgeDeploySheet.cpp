#include "views/deploy/ForgeDeploySheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "async/FireAndForget.h"
#include "services/HerdService.h"
#include "services/accounts/SourceControlService.h"
#include "services/hosting/HostAccountService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

ForgeDeploySheet::ForgeDeploySheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Deploy to Forge"));
    setObjectName("forgeDeploySheet");
    setMinimumSize(540, 380);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->addWidget(headingLabel(QStringLiteral("Deploy %1 to Forge").arg(m_site->displayName()), 2, this));
    m_subtitle = new ToneLabel(QString(), Tone::muted, this);
    layout->addWidget(m_subtitle);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages, 1);
    const QString slug = HerdService::slug(m_site->name());

    auto* connectPage = new QWidget(m_pages);
    auto* connectForm = new QFormLayout(connectPage);
    m_account = new QComboBox(connectPage);
    for (const HostAccountPtr& host : services.hostAccounts().accounts(HostProviderKind::forge))
        m_account->addItem(host->label(), host->id());
    connectForm->addRow(QStringLiteral("Forge account"), m_account);
    m_repository = new QLineEdit(slug, connectPage);
    connectForm->addRow(QStringLiteral("Repository name"), m_repository);
    m_private = new QCheckBox(QStringLiteral("Create a private GitHub repo"), connectPage);
    m_private->setChecked(true);
    m_private->setVisible(!m_site->githubRepo());
    connectForm->addRow(QString(), m_private);
    m_github = new ToneLabel(QStringLiteral("Connect GitHub under Source Control first."), Tone::failure,
                             connectPage);
    m_openSourceControl = new QPushButton(QStringLiteral("Open Source Control"), connectPage);
    connectForm->addRow(m_github);
    connectForm->addRow(QString(), m_openSourceControl);
    m_pages->addWidget(connectPage);

    auto* targetPage = new QWidget(m_pages);
    auto* targetForm = new QFormLayout(targetPage);
    m_server = new QComboBox(targetPage);
    targetForm->addRow(QStringLiteral("Server"), m_server);
    m_domain = new QLineEdit(slug + QStringLiteral(".com"), targetPage);
    targetForm->addRow(QStringLiteral("Domain"), m_domain);
    m_retry = new QPushButton(QStringLiteral("Retry"), targetPage);
    targetForm->addRow(QString(), m_retry);
    m_pages->addWidget(targetPage);

    m_log = new LiveLogView(m_pages);
    m_pages->addWidget(m_log);

    m_message = new ToneLabel(QString(), Tone::muted, this);
    m_message->setObjectName("deploySheetMessage");
    layout->addWidget(m_message);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_primary = new QPushButton(QStringLiteral("Continue"), this);
    m_primary->setDefault(true);
    buttons->addWidget(m_close);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);

    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_primary, &QPushButton::clicked, this, &ForgeDeploySheet::advance);
    connect(m_retry, &QPushButton::clicked, this, &ForgeDeploySheet::loadServers);
    connect(m_repository, &QLineEdit::textChanged, this, &ForgeDeploySheet::sync);
    connect(m_domain, &QLineEdit::textChanged, this, &ForgeDeploySheet::sync);
    connect(m_openSourceControl, &QPushButton::clicked, this, [this] {
        m_services.setSelectedSection(SidebarSection::sourceControl);
        reject();
    });
    showStep(Step::connect);
}

QLabel* ForgeDeploySheet::message() const
{
    return m_message;
}

void ForgeDeploySheet::showStep(Step step)
{
    m_step = step;
    m_pages->setCurrentIndex(static_cast<int>(step));
    switch (step) {
    case Step::connect:
        m_subtitle->setText(QStringLiteral("Choose a Forge account and GitHub token."));
        m_primary->setText(QStringLiteral("Continue"));
        break;
    case Step::target:
        m_subtitle->setText(QStringLiteral("Pick a server and domain."));
        m_primary->setText(QStringLiteral("Deploy"));
        break;
    case Step::progress:
        m_subtitle->setText(QStringLiteral("Creating the repo, Forge site, and first deployment."));
        m_primary->setVisible(false);
        break;
    }
    sync();
}

void ForgeDeploySheet::sync()
{
    const bool github =
        m_site->githubRepo() || m_services.sourceControl().isConnected(SourceControlProvider::github);
    m_github->setVisible(!github);
    m_openSourceControl->setVisible(!github);
    bool ready = false;
    if (m_step == Step::connect)
        ready = github && m_account->count() > 0 && !m_repository->text().trimmed().isEmpty();
    else if (m_step == Step::target)
        ready = !m_loading && m_server->count() > 0 && !m_domain->text().trimmed().isEmpty();
    m_primary->setEnabled(ready);
    m_retry->setVisible(m_step == Step::target && !m_loading && m_message->tone() == Tone::failure);
    if (m_step == Step::connect && m_account->count() == 0) {
        m_message->setTone(Tone::failure);
        m_message->setText(QStringLiteral("Connect Forge first."));
    }
}

void ForgeDeploySheet::advance()
{
    if (m_step == Step::connect) {
        m_message->clear();
        showStep(Step::target);
        loadServers();
    } else if (m_step == Step::target) {
        startRun();
    }
}

void ForgeDeploySheet::loadServers()
{
    const HostAccountPtr host = m_services.hostAccounts().account(m_account->currentData().toUuid());
    const auto token = host ? m_services.hostAccounts().token(*host) : std::nullopt;
    m_server->clear();
    if (!token) {
        m_message->setTone(Tone::failure);
        m_message->setText(QStringLiteral("Connect Forge first."));
        sync();
        return;
    }
    m_loading = true;
    m_message->setTone(Tone::muted);
    m_message->setText(QStringLiteral("Loading servers…"));
    sync();
    const QPointer<ForgeDeploySheet> self(this);
    fireAndForget(
        this, [](QPointer<ForgeDeploySheet> sheet, ForgeClient& forge, QString secret) -> QCoro::Task<> {
            QString failure;
            QList<ForgeServer> servers;
            try {
                servers = co_await forge.servers(secret);
            } catch (const HalvikError& error) {
                failure = error.description();
            }
            if (!sheet)
                co_return;
            sheet->m_loading = false;
            sheet->m_servers = servers;
            for (const ForgeServer& server : servers)
                sheet->m_server->addItem(
                    server.name + QStringLiteral(" (") + server.ipAddress + QLatin1Char(')'), server.id);
            if (!failure.isEmpty()) {
                sheet->m_message->setTone(Tone::failure);
                sheet->m_message->setText(failure);
            } else if (servers.isEmpty()) {
                sheet->m_message->setTone(Tone::failure);
                sheet->m_message->setText(QStringLiteral("No servers on this account."));
            } else {
                sheet->m_message->clear();
            }
            sheet->sync();
        }(self, m_services.forge(), *token));
}

void ForgeDeploySheet::startRun()
{
    ForgeDeployPlan plan;
    plan.host = m_services.hostAccounts().account(m_account->currentData().toUuid());
    plan.serverID = m_server->currentData().toLongLong();
    for (const ForgeServer& server : std::as_const(m_servers))
        if (server.id == plan.serverID)
            plan.serverName = server.name;
    plan.domain = m_domain->text().trimmed();
    plan.repositoryName = m_repository->text().trimmed();
    plan.privateRepository = m_private->isChecked();
    try {
        m_job = m_services.deploys().startForge(m_site, plan);
    } catch (const HalvikError& error) {
        m_message->setTone(Tone::failure);
        m_message->setText(error.description());
        return;
    }
    showStep(Step::progress);
    m_message->setTone(Tone::muted);
    m_message->setText(QStringLiteral("Deploying…"));
    connect(m_job, &DeployJob::lineAdded, this, [this](const QString& line) { m_log->appendBatch(line); });
    connect(m_job, &DeployJob::providerStatusChanged, this,
            [this](const QString& status) { m_message->setText(QStringLiteral("Forge: ") + status); });
    connect(m_job, &DeployJob::finished, this, [this] {
        const bool ok = m_job->outcome() == DeployJob::Outcome::finished;
        m_message->setTone(ok ? Tone::success : Tone::failure);
        m_message->setText(ok ? QStringLiteral("Deployed.") : m_job->errorMessage().value_or(QString()));
    });
}

} // namespace halvik::views
