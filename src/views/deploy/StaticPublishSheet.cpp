#include "views/deploy/StaticPublishSheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"

#include "app/AppServices.h"
#include "app/StaticPublishCoordinator.h"
#include "async/FireAndForget.h"
#include "platform/Browser.h"
#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/NetlifyClient.h"
#include "services/staticsite/StaticSiteSupport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

StaticPublishSheet::StaticPublishSheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(std::move(site))
{
    setWindowTitle(s("Publish %1").arg(m_site->displayName()));
    setObjectName("staticPublishSheet");
    setMinimumSize(560, 420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    layout->addWidget(headingLabel(s("Publish %1").arg(m_site->displayName()), 2, this));
    m_steps = new QLabel(this);
    m_steps->setObjectName("publishSteps");
    m_steps->setTextFormat(Qt::RichText);
    layout->addWidget(m_steps);

    m_pages = new QStackedWidget(this);
    // Host.
    auto* hostPage = new QWidget(m_pages);
    auto* hostLayout = new QVBoxLayout(hostPage);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    m_noAccount =
        new ToneLabel(s("Connect Netlify or Cloudflare Pages under Hosts first."), Tone::muted, hostPage);
    m_noAccount->setObjectName("publishNoAccount");
    hostLayout->addWidget(m_noAccount);
    m_hostForm = new QWidget(hostPage);
    auto* form = new QFormLayout(m_hostForm);
    form->setContentsMargins(0, 0, 0, 0);
    m_account = new QComboBox(m_hostForm);
    m_account->setObjectName("publishAccount");
    for (const HostAccountPtr& host : m_services.hostAccounts().accounts()) {
        const auto kind = host->provider();
        if (kind != HostProviderKind::netlify && kind != HostProviderKind::cloudflarePages)
            continue;
        m_account->addItem(host->label() + s(" — ") + HostAccountService::providerTitle(*kind),
                           uuidString(host->id()));
    }
    form->addRow(s("Host"), m_account);
    m_createNew = new QRadioButton(s("Create a new site on this host"), m_hostForm);
    m_name = new QLineEdit(StaticSiteSupport::hostSiteName(m_site->displayName()), m_hostForm);
    m_name->setObjectName("publishName");
    m_existing = new QRadioButton(m_hostForm);
    m_target = new QComboBox(m_hostForm);
    m_target->setObjectName("publishTarget");
    auto* choice = new QButtonGroup(this);
    choice->addButton(m_createNew);
    choice->addButton(m_existing);
    form->addRow(m_createNew);
    form->addRow(s("Name"), m_name);
    form->addRow(m_existing);
    form->addRow(QString(), m_target);
    hostLayout->addWidget(m_hostForm);
    hostLayout->addStretch();
    m_pages->addWidget(hostPage);

    // Build.
    auto* buildPage = new QWidget(m_pages);
    auto* buildLayout = new QVBoxLayout(buildPage);
    buildLayout->setContentsMargins(0, 0, 0, 0);
    m_regenerate = new QCheckBox(s("Regenerate before publishing"), buildPage);
    m_regenerate->setChecked(true);
    buildLayout->addWidget(m_regenerate);
    m_lastBuild = new ToneLabel(QString(), Tone::muted, buildPage);
    buildLayout->addWidget(m_lastBuild);
    buildLayout->addWidget(new ToneLabel(s("Static hosts serve HTML only — no Control Panel in production."),
                                         Tone::muted, buildPage));
    buildLayout->addStretch();
    m_pages->addWidget(buildPage);

    // Progress.
    auto* progressPage = new QWidget(m_pages);
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    m_status = new ToneLabel(QString(), Tone::muted, progressPage);
    progressLayout->addWidget(m_status);
    m_progress = new QProgressBar(progressPage);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    progressLayout->addWidget(m_progress);
    m_log = new LiveLogView(progressPage);
    m_log->setMinimumHeight(160);
    progressLayout->addWidget(m_log, 1);
    m_pages->addWidget(progressPage);
    layout->addWidget(m_pages, 1);

    m_message = new ToneLabel(QString(), Tone::muted, this);
    m_message->setObjectName("publishMessage");
    layout->addWidget(m_message);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_close = new QPushButton(s("Close"), this);
    m_openSite = new QPushButton(s("Open Site"), this);
    m_primary = new QPushButton(this);
    m_primary->setDefault(true);
    buttons->addWidget(m_close);
    buttons->addWidget(m_openSite);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);

    // A site published before starts on its target.
    const QString previous = m_site->staticHostKind().value_or(QString());
    for (int i = 0; i < m_account->count(); ++i)
        if (const HostAccountPtr host =
                m_services.hostAccounts().account(QUuid(m_account->itemData(i).toString()));
            host && host->providerRaw() == previous) {
            m_account->setCurrentIndex(i);
            break;
        }
    m_site->staticHostSiteId() && !previous.isEmpty() ? m_existing->setChecked(true)
                                                      : m_createNew->setChecked(true);

    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_primary, &QPushButton::clicked, this, &StaticPublishSheet::advance);
    connect(m_openSite, &QPushButton::clicked, this, [this] {
        if (m_job && !m_job->publicURL().isEmpty())
            Browser::open(QUrl(m_job->publicURL()));
    });
    connect(m_account, &QComboBox::currentIndexChanged, this, &StaticPublishSheet::loadTargets);
    connect(m_createNew, &QRadioButton::toggled, this, &StaticPublishSheet::sync);
    connect(m_name, &QLineEdit::textChanged, this, &StaticPublishSheet::sync);
    connect(m_target, &QComboBox::currentIndexChanged, this, &StaticPublishSheet::sync);
    showStep(Step::host);
    loadTargets();
}

QLabel* StaticPublishSheet::message() const
{
    return m_message;
}

QLabel* StaticPublishSheet::noAccount() const
{
    return m_noAccount;
}

HostAccountPtr StaticPublishSheet::chosenHost() const
{
    return m_services.hostAccounts().account(QUuid(m_account->currentData().toString()));
}

void StaticPublishSheet::showStep(Step step)
{
    m_step = step;
    m_pages->setCurrentIndex(static_cast<int>(step));
    QStringList names{s("Host"), s("Build"), s("Progress")};
    for (int i = 0; i < names.size(); ++i)
        names[i] = i == static_cast<int>(step) ? s("<b>%1</b>").arg(names[i])
                                               : s("<span style=\"color:gray\">%1</span>").arg(names[i]);
    m_steps->setText(names.join(s("  ›  ")));
    if (step == Step::build) {
        const auto built = m_site->lastStaticBuildAt();
        m_lastBuild->setText(
            s("Last build: ") +
            (built ? QLocale().toString(built->toLocalTime(), QLocale::ShortFormat) : s("never")));
    }
    sync();
}

void StaticPublishSheet::sync()
{
    const bool hasAccount = m_account->count() > 0;
    m_noAccount->setVisible(!hasAccount);
    m_hostForm->setVisible(hasAccount);
    const HostAccountPtr host = chosenHost();
    const bool cloudflare = host && host->provider() == HostProviderKind::cloudflarePages;
    m_createNew->setText(cloudflare ? s("Create a new project on this host")
                                    : s("Create a new site on this host"));
    m_existing->setText(cloudflare ? s("Existing project") : s("Existing site"));
    m_name->setEnabled(m_createNew->isChecked());
    m_target->setEnabled(m_existing->isChecked() && !m_loading);
    const bool running = m_job && !m_job->isFinished();
    const bool failed = m_job && m_job->isFinished() && !m_job->succeeded();
    m_openSite->setVisible(m_step == Step::progress && m_job && m_job->succeeded());
    switch (m_step) {
    case Step::host:
        m_primary->setText(s("Continue"));
        m_primary->setVisible(true);
        m_primary->setEnabled(hasAccount && (m_createNew->isChecked() ? !m_name->text().trimmed().isEmpty()
                                                                      : m_target->currentIndex() >= 0));
        break;
    case Step::build:
        m_primary->setText(s("Publish"));
        m_primary->setVisible(true);
        m_primary->setEnabled(true);
        break;
    case Step::progress:
        m_primary->setText(s("Retry"));
        m_primary->setVisible(failed);
        m_primary->setEnabled(failed);
        break;
    }
    m_close->setText(running ? s("Close") : (m_step == Step::progress ? s("Close") : s("Cancel")));
}

void StaticPublishSheet::loadTargets()
{
    m_target->clear();
    const HostAccountPtr host = chosenHost();
    if (!host) {
        sync();
        return;
    }
    const auto token = m_services.hostAccounts().token(*host);
    if (!token) {
        m_message->setTone(Tone::failure);
        m_message->setText(s("Connect a Netlify or Cloudflare Pages account first."));
        sync();
        return;
    }
    const bool netlify = host->provider() == HostProviderKind::netlify;
    m_loading = true;
    m_message->setTone(Tone::muted);
    m_message->setText(netlify ? s("Loading sites…") : s("Loading projects…"));
    sync();
    const quint64 generation = ++m_generation;
    const QPointer<StaticPublishSheet> self(this);
    fireAndForget(
        this,
        [](QPointer<StaticPublishSheet> sheet, AppServices& services, bool fromNetlify, QString secret,
           QString account, quint64 asked) -> QCoro::Task<> {
            QList<QPair<QString, QString>> targets; // label, id
            QString failure;
            try {
                if (fromNetlify) {
                    const QList<NetlifySite> sites = co_await services.netlify().sites(secret);
                    for (const NetlifySite& site : sites)
                        targets.append({site.name + s(" — ") + site.publicURL(), site.id});
                } else {
                    const QList<CloudflareProject> projects =
                        co_await services.cloudflare().projects(secret, account);
                    for (const CloudflareProject& project : projects)
                        targets.append({project.name + s(" — ") + project.url(), project.name});
                }
            } catch (const HalvikError& error) {
                failure = error.description();
            }
            if (!sheet || sheet->m_generation != asked)
                co_return;
            sheet->m_loading = false;
            sheet->m_message->setTone(failure.isEmpty() ? Tone::muted : Tone::failure);
            sheet->m_message->setText(failure);
            const QSignalBlocker quiet(sheet->m_target);
            for (const auto& [label, id] : targets)
                sheet->m_target->addItem(label, id);
            const int stored =
                sheet->m_target->findData(sheet->m_site->staticHostSiteId().value_or(QString()));
            if (stored >= 0)
                sheet->m_target->setCurrentIndex(stored);
            sheet->sync();
        }(self, m_services, netlify, *token, host->providerAccountID().value_or(QString()), generation));
}

void StaticPublishSheet::advance()
{
    switch (m_step) {
    case Step::host:
        showStep(Step::build);
        return;
    case Step::build:
    case Step::progress:
        startRun();
        return;
    }
}

void StaticPublishSheet::startRun()
{
    StaticPublishRequest request;
    request.host = chosenHost();
    request.createNewSite = m_createNew->isChecked();
    if (!request.createNewSite)
        request.existingSiteID = m_target->currentData().toString();
    request.siteName = m_name->text().trimmed();
    request.regenerate = m_regenerate->isChecked();
    // A retry goes to what the failed run created, never a second new site.
    if (m_job && !m_job->targetID().isEmpty()) {
        request.createNewSite = false;
        request.existingSiteID = m_job->targetID();
    }
    try {
        m_job = m_services.staticPublishes().publish(m_site, request);
    } catch (const HalvikError& error) {
        m_message->setTone(Tone::failure);
        m_message->setText(error.description());
        return;
    }
    m_message->clear();
    m_log->setLog(m_job->log().join(QLatin1Char('\n')));
    connect(m_job, &StaticPublishJob::lineAdded, this,
            [this](const QString& line) { m_log->appendBatch(line); });
    connect(m_job, &StaticPublishJob::statusChanged, this, &StaticPublishSheet::showJobState);
    connect(m_job, &StaticPublishJob::progressChanged, this, &StaticPublishSheet::showJobState);
    connect(m_job, &StaticPublishJob::finished, this, &StaticPublishSheet::showJobState);
    showStep(Step::progress);
    showJobState();
}

void StaticPublishSheet::showJobState()
{
    if (!m_job)
        return;
    m_progress->setValue(int(m_job->fractionComplete() * 1000));
    if (!m_job->isFinished()) {
        m_status->setTone(Tone::muted);
        m_status->setText(m_job->status());
    } else if (m_job->succeeded()) {
        m_status->setTone(Tone::success);
        m_status->setText(s("Live at ") + m_job->publicURL());
    } else {
        m_status->setTone(m_job->wasCancelled() ? Tone::muted : Tone::failure);
        m_status->setText(m_job->wasCancelled() ? s("Cancelled")
                                                : m_job->errorMessage().value_or(m_job->status()));
    }
    sync();
}

} // namespace halvik::views
