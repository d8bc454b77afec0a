#include "views/deploy/DeployTab.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"
#include "views/deploy/ForgeDeploySheet.h"
#include "views/deploy/StaticDeployPage.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "async/FireAndForget.h"
#include "services/hosting/HostAccountService.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString duration(const Deployment& deployment)
{
    if (!deployment.finishedAt())
        return QStringLiteral("—");
    const qint64 seconds = deployment.startedAt().secsTo(*deployment.finishedAt());
    return seconds < 60 ? QStringLiteral("%1 s").arg(seconds)
                        : QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
}

} // namespace

DeployTab::DeployTab(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    setObjectName("deployTab");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    m_target = new QComboBox(this);
    m_target->setObjectName("deployTarget");
    layout->addWidget(m_target, 0, Qt::AlignLeft);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack, 1);

    auto* empty = new QWidget(m_stack);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch();
    auto* title = headingLabel(QStringLiteral("Not deployed yet"), 4, empty);
    title->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(title);
    auto* hint = new ToneLabel(
        QStringLiteral("Send this site to a server of yours, from its folder to HTTPS."), Tone::muted, empty);
    hint->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(hint);
    m_deployToForge = new QPushButton(QStringLiteral("Deploy to Forge…"), empty);
    emptyLayout->addWidget(m_deployToForge, 0, Qt::AlignHCenter);
    emptyLayout->addStretch();
    m_stack->addWidget(empty);

    auto* forge = new QWidget(m_stack);
    auto* forgeLayout = new QVBoxLayout(forge);
    forgeLayout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    auto* form = new QFormLayout;
    m_serverId = new QLabel(forge);
    m_serverId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_siteId = new QLabel(forge);
    m_siteId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Server ID"), m_serverId);
    form->addRow(QStringLiteral("Site ID"), m_siteId);
    top->addLayout(form, 1);
    m_deployNow =
        new QPushButton(QIcon::fromTheme(QStringLiteral("go-up")), QStringLiteral("Deploy now"), forge);
    top->addWidget(m_deployNow, 0, Qt::AlignTop);
    forgeLayout->addLayout(top);
    m_status = new ToneLabel(QString(), Tone::muted, forge);
    m_status->setObjectName("deployStatus");
    forgeLayout->addWidget(m_status);
    m_live = new LiveLogView(forge);
    m_live->setObjectName("deployLiveLog");
    m_live->setMinimumHeight(120);

    auto* split = new QSplitter(Qt::Vertical, forge);
    split->addWidget(m_live);
    auto* historyBox = new QWidget(split);
    auto* historyLayout = new QVBoxLayout(historyBox);
    historyLayout->setContentsMargins(0, 6, 0, 0);
    historyLayout->addWidget(headingLabel(QStringLiteral("History"), 1, historyBox));
    m_history = new QTreeWidget(historyBox);
    m_history->setObjectName("deployHistory");
    m_history->setRootIsDecorated(false);
    m_history->setHeaderLabels({QStringLiteral("Started"), QStringLiteral("Duration"),
                                QStringLiteral("Status"), QStringLiteral("Server"), QStringLiteral("Site")});
    historyLayout->addWidget(m_history, 1);
    m_selectedLog = new LiveLogView(historyBox);
    m_selectedLog->setObjectName("deploySelectedLog");
    historyLayout->addWidget(m_selectedLog, 1);
    m_copyLog = new QPushButton(QStringLiteral("Copy log"), historyBox);
    historyLayout->addWidget(m_copyLog, 0, Qt::AlignRight);
    split->addWidget(historyBox);
    forgeLayout->addWidget(split, 1);
    m_stack->addWidget(forge);
    m_static = new StaticDeployPage(services, m_stack);
    m_stack->addWidget(m_static);

    connect(m_deployToForge, &QPushButton::clicked, this, &DeployTab::openDeploySheet);
    connect(m_deployNow, &QPushButton::clicked, this, &DeployTab::deployNow);
    connect(m_history, &QTreeWidget::currentItemChanged, this, &DeployTab::showSelectedLog);
    connect(m_copyLog, &QPushButton::clicked, this, [this] {
        if (auto* item = m_history->currentItem())
            for (const DeploymentPtr& d : m_site->deployments())
                if (d->id() == item->data(0, Qt::UserRole).toUuid())
                    QApplication::clipboard()->setText(d->log());
    });
    connect(&services.deploys(), &DeployCoordinator::jobStarted, this, [this](const QUuid& id) {
        if (m_site && m_site->id() == id)
            refresh();
    });
    connect(m_target, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
}

QLabel* DeployTab::runStatus() const
{
    return m_status;
}

int DeployTab::page() const
{
    return m_stack->currentIndex();
}

void DeployTab::setSite(SitePtr site)
{
    m_site = std::move(site);
    m_job = nullptr;
    m_shownOutput.clear();
    m_live->clear();
    m_status->clear();
    const QSignalBlocker quiet(m_target);
    m_target->clear();
    if (!m_site)
        return;
    for (const HostProviderKind kind : m_site->linkedDeployProviders())
        m_target->addItem(HostAccountService::providerTitle(kind), static_cast<int>(kind));
    m_target->setVisible(m_target->count() > 1);
    m_static->setSite(m_site);
    refresh();
    // Deployments left open (watching stopped, Halvik quit) are asked about once more.
    const QPointer<DeployTab> self(this);
    fireAndForget(this,
                  [](QPointer<DeployTab> tab, DeployCoordinator& deploys, SitePtr shown) -> QCoro::Task<> {
                      co_await deploys.completeUnfinished(shown);
                      if (tab && tab->m_site == shown)
                          tab->refreshHistory();
                  }(self, m_services.deploys(), m_site));
}

void DeployTab::refresh()
{
    if (!m_site)
        return;
    const bool onForge = m_site->forgeServerId() || m_site->forgeSiteId();
    std::optional<HostProviderKind> chosen;
    if (m_target->currentIndex() >= 0)
        chosen = static_cast<HostProviderKind>(m_target->currentData().toInt());
    const bool staticChosen =
        chosen == HostProviderKind::netlify || chosen == HostProviderKind::cloudflarePages;
    // A generator site that deploys nowhere else takes the static path.
    if (staticChosen || (!chosen && m_site->usesSSG())) {
        m_stack->setCurrentIndex(2);
        return;
    }
    m_stack->setCurrentIndex(onForge ? 1 : 0);
    QString serverName;
    QString siteName;
    const QList<DeploymentPtr>& history = m_site->deployments();
    for (auto it = history.crbegin(); it != history.crend(); ++it)
        if (const DeploymentPtr& d = *it;
            d->providerRaw().value_or(QStringLiteral("forge")) == QLatin1String("forge")) {
            serverName = d->serverName();
            siteName = d->siteName();
            break;
        }
    const auto idText = [](std::optional<qint64> id, const QString& name) {
        const QString number = id ? QString::number(*id) : QStringLiteral("—");
        return name.isEmpty() ? number : number + QStringLiteral("  ·  ") + name;
    };
    m_serverId->setText(idText(m_site->forgeServerId(), serverName));
    m_siteId->setText(idText(m_site->forgeSiteId(), siteName));
    DeployJob* job = m_services.deploys().job(m_site->id());
    if (job != m_job)
        follow(job);
    m_deployNow->setEnabled(!m_services.deploys().isDeploying(m_site->id()));
    refreshHistory();
}

void DeployTab::follow(DeployJob* job)
{
    if (m_job)
        disconnect(m_job.data(), nullptr, this, nullptr);
    m_job = job;
    m_shownOutput.clear();
    m_live->clear();
    if (!job)
        return;
    m_live->setLog(job->lines().join(QLatin1Char('\n')));
    m_status->setText(job->isFinished() ? job->errorMessage().value_or(job->deployment()->status())
                                        : job->providerStatus());
    connect(job, &DeployJob::lineAdded, this, [this](const QString& line) { m_live->appendBatch(line); });
    connect(job, &DeployJob::providerStatusChanged, this, [this](const QString& status) {
        m_status->setTone(Tone::muted);
        m_status->setText(QStringLiteral("Forge: ") + status);
    });
    connect(job, &DeployJob::outputChanged, this, &DeployTab::showOutput);
    connect(job, &DeployJob::finished, this, [this, job] {
        const bool ok = job->outcome() == DeployJob::Outcome::finished;
        m_status->setTone(ok ? Tone::success : Tone::failure);
        m_status->setText(
            ok ? QStringLiteral("Deployed.")
               : job->errorMessage().value_or(QStringLiteral("Stopped watching; Forge goes on deploying.")));
        m_deployNow->setEnabled(true);
        refreshHistory();
    });
}

void DeployTab::showOutput(const QString& output)
{
    // Forge sends the whole output each time: add only what is new when it grew.
    if (!m_shownOutput.isEmpty() && output.startsWith(m_shownOutput) &&
        output.size() > m_shownOutput.size() && output.at(m_shownOutput.size()) == QLatin1Char('\n')) {
        m_live->appendBatch(output.mid(m_shownOutput.size() + 1));
    } else if (output != m_shownOutput) {
        const QString steps = m_job ? m_job->lines().join(QLatin1Char('\n')) : QString();
        m_live->setLog(steps + QLatin1Char('\n') + output);
    }
    m_shownOutput = output;
}

void DeployTab::refreshHistory()
{
    if (!m_site)
        return;
    const QUuid selected =
        m_history->currentItem() ? m_history->currentItem()->data(0, Qt::UserRole).toUuid() : QUuid();
    const QSignalBlocker quiet(m_history);
    m_history->clear();
    // Newest first: the site keeps them in the order they started.
    const QList<DeploymentPtr>& history = m_site->deployments();
    for (auto it = history.crbegin(); it != history.crend(); ++it) {
        const DeploymentPtr& d = *it;
        auto* row = new QTreeWidgetItem(
            m_history,
            {QLocale().toString(d->startedAt().toLocalTime(), QLocale::ShortFormat), duration(*d),
             d->isRunning() ? QStringLiteral("running") : d->status(), d->serverName(), d->siteName()});
        row->setData(0, Qt::UserRole, d->id());
        const Tone tone = d->status() == QLatin1String("finished") ? Tone::success
                          : d->status() == QLatin1String("failed") ? Tone::failure
                                                                   : Tone::muted;
        row->setForeground(2, toneColor(tone, palette()));
        if (d->id() == selected)
            m_history->setCurrentItem(row);
    }
    if (!m_history->currentItem() && m_history->topLevelItemCount() > 0)
        m_history->setCurrentItem(m_history->topLevelItem(0));
    for (int column = 0; column < 4; ++column)
        m_history->resizeColumnToContents(column);
    showSelectedLog();
}

void DeployTab::showSelectedLog()
{
    m_selectedLog->clear();
    m_copyLog->setEnabled(m_history->currentItem() != nullptr);
    if (!m_history->currentItem() || !m_site)
        return;
    const QUuid id = m_history->currentItem()->data(0, Qt::UserRole).toUuid();
    for (const DeploymentPtr& d : m_site->deployments())
        if (d->id() == id)
            m_selectedLog->setLog(d->log());
}

void DeployTab::deployNow()
{
    if (!m_site)
        return;
    ForgeDeployPlan plan;
    if (const auto hostId = m_site->forgeHostId())
        plan.host = m_services.hostAccounts().account(*hostId);
    try {
        follow(m_services.deploys().startForge(m_site, plan));
        m_deployNow->setEnabled(false);
        refreshHistory();
    } catch (const HalvikError& error) {
        m_status->setTone(Tone::failure);
        m_status->setText(error.description());
    }
}

void DeployTab::openDeploySheet()
{
    if (!m_site)
        return;
    auto* sheet = new ForgeDeploySheet(m_services, m_site, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this] { refresh(); });
    sheet->open();
}

} // namespace halvik::views
