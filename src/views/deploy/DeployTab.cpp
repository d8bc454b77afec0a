#include "views/deploy/DeployTab.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"
#include "views/deploy/CloudDeploySheet.h"
#include "views/deploy/CloudEnvironmentSheet.h"
#include "views/deploy/CloudStorageSheet.h"
#include "views/deploy/ForgeDeploySheet.h"
#include "views/deploy/StaticDeployPage.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "app/StorageTools.h"
#include "app/UserPrompts.h"
#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/hosting/HostAccountService.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QProgressBar>
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
    m_deployToCloud = new QPushButton(QStringLiteral("Deploy to Laravel Cloud…"), empty);
    m_deployToCloud->setObjectName("deployToCloud");
    auto* ways = new QHBoxLayout;
    ways->addStretch();
    ways->addWidget(m_deployToCloud);
    ways->addWidget(m_deployToForge);
    ways->addStretch();
    emptyLayout->addLayout(ways);
    emptyLayout->addStretch();
    m_stack->addWidget(empty);

    auto* forge = new QWidget(m_stack);
    auto* forgeLayout = new QVBoxLayout(forge);
    forgeLayout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    m_details = new QStackedWidget(forge);
    auto* forgeDetails = new QWidget(m_details);
    auto* form = new QFormLayout(forgeDetails);
    form->setContentsMargins(0, 0, 0, 0);
    m_serverId = new QLabel(forge);
    m_serverId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_siteId = new QLabel(forge);
    m_siteId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Server ID"), m_serverId);
    form->addRow(QStringLiteral("Site ID"), m_siteId);
    m_details->addWidget(forgeDetails);
    auto* cloudDetails = new QWidget(m_details);
    auto* cloudForm = new QFormLayout(cloudDetails);
    cloudForm->setContentsMargins(0, 0, 0, 0);
    m_liveURL = new QLabel(cloudDetails);
    m_liveURL->setObjectName("cloudLiveURL");
    m_liveURL->setOpenExternalLinks(true);
    m_liveURL->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_repo = new QLabel(cloudDetails);
    m_repo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cloudForm->addRow(QStringLiteral("Live URL"), m_liveURL);
    cloudForm->addRow(QStringLiteral("GitHub repo"), m_repo);
    auto* cloudButtons = new QHBoxLayout;
    m_editEnvironment = new QPushButton(QStringLiteral("Edit Cloud environment…"), cloudDetails);
    m_disconnectCloud = new QPushButton(QStringLiteral("Disconnect"), cloudDetails);
    // A flat-file site needs its content in a database and its assets in a bucket on Cloud.
    auto* storage = new QPushButton(QStringLiteral("Cloud storage…"), cloudDetails);
    storage->setObjectName("cloudStorageButton");
    connect(storage, &QPushButton::clicked, this, [this] {
        if (!m_site)
            return;
        const bool onCloud = m_site->cloudHostId() && m_site->cloudAppId() && m_site->cloudEnvId();
        auto* sheet = new CloudStorageSheet(storageSessions(m_services).session(m_site), onCloud, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
    cloudButtons->addWidget(m_editEnvironment);
    cloudButtons->addWidget(storage);
    cloudButtons->addWidget(m_disconnectCloud);
    cloudButtons->addStretch();
    cloudForm->addRow(QString(), cloudButtons);
    m_details->addWidget(cloudDetails);
    top->addWidget(m_details, 1);
    m_deployNow =
        new QPushButton(QIcon::fromTheme(QStringLiteral("go-up")), QStringLiteral("Deploy now"), forge);
    top->addWidget(m_deployNow, 0, Qt::AlignTop);
    forgeLayout->addLayout(top);
    m_status = new ToneLabel(QString(), Tone::muted, forge);
    m_status->setObjectName("deployStatus");
    m_signInAgain = new QPushButton(QStringLiteral("Sign in again"), forge);
    m_signInAgain->setVisible(false);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_signInAgain);
    forgeLayout->addLayout(statusRow);
    m_progress = new QProgressBar(forge);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(8);
    m_progress->setVisible(false);
    forgeLayout->addWidget(m_progress);
    m_live = new LiveLogView(forge);
    m_live->setObjectName("deployLiveLog");
    m_live->setMinimumHeight(120);

    auto* split = new QSplitter(Qt::Vertical, forge);
    split->addWidget(m_live);
    auto* historyBox = new QWidget(split);
    auto* historyLayout = new QVBoxLayout(historyBox);
    historyLayout->setContentsMargins(0, 6, 0, 0);
    historyLayout->addWidget(headingLabel(QStringLiteral("History"), 1, historyBox));
    m_noDeploys = new ToneLabel(QStringLiteral("No deploys yet."), Tone::muted, historyBox);
    historyLayout->addWidget(m_noDeploys);
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
    connect(m_deployToCloud, &QPushButton::clicked, this, &DeployTab::openCloudDeploySheet);
    connect(m_editEnvironment, &QPushButton::clicked, this, &DeployTab::openCloudEnvironment);
    connect(m_disconnectCloud, &QPushButton::clicked, this, &DeployTab::disconnectCloud);
    connect(m_signInAgain, &QPushButton::clicked, this, [this] {
        m_signInAgain->setEnabled(false);
        m_status->setTone(Tone::muted);
        m_status->setText(QStringLiteral("Waiting for Cloud…"));
        m_services.deploys().answerCloudSignIn(true);
    });
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
    if (m_stack->currentIndex() == 0)
        return 0;
    if (m_stack->currentIndex() == 2)
        return 3;
    return m_details->currentIndex() == 1 ? 2 : 1;
}

void DeployTab::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The live URL's link takes its colour when its text is set.
    if (event->type() == QEvent::PaletteChange && m_site && m_stack->currentIndex() == 1)
        refresh();
}

bool DeployTab::showsCloud() const
{
    if (!m_site || !m_site->isLinkedToCloud())
        return false;
    if (m_target->count() == 0)
        return true;
    return static_cast<HostProviderKind>(m_target->currentData().toInt()) == HostProviderKind::laravelCloud;
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
    const bool cloud = showsCloud();
    if (!cloud) {
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
    }
    m_stack->setCurrentIndex(onForge || cloud ? 1 : 0);
    m_details->setCurrentIndex(cloud ? 1 : 0);
    if (cloud) {
        const QString url = m_site->cloudURL().value_or(QString());
        const QString link = QApplication::palette().color(QPalette::Link).name();
        m_liveURL->setText(
            url.isEmpty()
                ? QStringLiteral("—")
                : QStringLiteral("<a href=\"%1\" style=\"color: %2\">%1</a>").arg(url.toHtmlEscaped(), link));
        m_repo->setText(m_site->githubRepo().value_or(QStringLiteral("—")));
    }
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
    auto* cloudJob = qobject_cast<CloudDeployJob*>(job);
    m_progress->setVisible(cloudJob && !job->isFinished());
    if (cloudJob) {
        m_progress->setValue(qRound(cloudJob->fraction() * 100));
        if (!job->isFinished())
            m_status->setText(cloudJob->status());
        connect(cloudJob, &CloudDeployJob::statusChanged, this, [this](const QString& status) {
            m_status->setTone(Tone::muted);
            m_status->setText(status);
        });
        connect(cloudJob, &CloudDeployJob::fractionChanged, this,
                [this](double fraction) { m_progress->setValue(qRound(fraction * 100)); });
        connect(cloudJob, &CloudDeployJob::waitingForSignInChanged, this, [this](bool waiting) {
            m_signInAgain->setVisible(waiting);
            m_signInAgain->setEnabled(true);
            if (waiting) {
                m_status->setTone(Tone::failure);
                m_status->setText(QStringLiteral("Laravel Cloud rejected the API token."));
            }
        });
    } else {
        connect(job, &DeployJob::providerStatusChanged, this, [this](const QString& status) {
            m_status->setTone(Tone::muted);
            m_status->setText(QStringLiteral("Forge: ") + status);
        });
    }
    connect(job, &DeployJob::outputChanged, this, &DeployTab::showOutput);
    connect(job, &DeployJob::finished, this, [this, job] {
        const bool ok = job->outcome() == DeployJob::Outcome::finished;
        m_status->setTone(ok ? Tone::success : Tone::failure);
        auto* finishedCloud = qobject_cast<CloudDeployJob*>(job);
        const QString provider = finishedCloud ? QStringLiteral("Laravel Cloud") : QStringLiteral("Forge");
        m_status->setText(ok ? (finishedCloud ? QStringLiteral("Live at %1").arg(finishedCloud->url())
                                              : QStringLiteral("Deployed."))
                             : job->errorMessage().value_or(
                                   QStringLiteral("Stopped watching; %1 goes on deploying.").arg(provider)));
        m_progress->setVisible(false);
        m_signInAgain->setVisible(false);
        m_deployNow->setEnabled(true);
        refresh();
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
    m_noDeploys->setVisible(m_history->topLevelItemCount() == 0);
    m_history->setVisible(m_history->topLevelItemCount() > 0);
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
    if (showsCloud()) {
        CloudDeployPlan plan;
        if (const auto hostId = m_site->cloudHostId())
            plan.host = m_services.hostAccounts().account(*hostId);
        plan.redeploy = true;
        try {
            follow(m_services.deploys().startCloud(m_site, plan));
            m_deployNow->setEnabled(false);
            refreshHistory();
        } catch (const HalvikError& error) {
            m_status->setTone(Tone::failure);
            m_status->setText(error.description());
        }
        return;
    }
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

void DeployTab::openCloudDeploySheet()
{
    if (!m_site)
        return;
    auto* sheet = new CloudDeploySheet(m_services, m_site, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this] { refresh(); });
    sheet->open();
}

void DeployTab::openCloudEnvironment()
{
    if (!m_site || !m_site->isLinkedToCloud())
        return;
    auto* sheet = new CloudEnvironmentSheet(m_services, m_site, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    sheet->reload();
}

void DeployTab::disconnectCloud()
{
    if (!m_site)
        return;
    PromptDialog dialog;
    dialog.title = QStringLiteral("Disconnect %1 from Laravel Cloud?").arg(m_site->displayName());
    dialog.text =
        QStringLiteral("Halvik forgets this site’s Cloud application. Nothing is deleted on Laravel "
                       "Cloud, and the deployment history stays.");
    dialog.buttons = {QStringLiteral("Disconnect"), QStringLiteral("Cancel")};
    dialog.cancelIndex = 1;
    const QPointer<DeployTab> self(this);
    fireAndForget(this,
                  [](QPointer<DeployTab> tab, UserPrompts& prompts, SitePtr site,
                     PromptDialog question) -> QCoro::Task<> {
                      const int choice = co_await prompts.ask(question);
                      if (choice != 0 || !tab)
                          co_return;
                      site->setCloudAppId(std::nullopt);
                      site->setCloudEnvId(std::nullopt);
                      site->setCloudHostId(std::nullopt);
                      site->setCloudURL(std::nullopt);
                      tab->m_services.store().save();
                      if (tab->m_site == site)
                          tab->setSite(site);
                  }(self, m_services.prompts(), m_site, dialog));
}

} // namespace halvik::views
