#include "views/deploy/CloudDeploySheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/LiveLogView.h"
#include "views/hosts/CloudSignInFlow.h"
#include "views/hosts/ConnectHostSheet.h"

#include "app/AppServices.h"
#include "app/DeployCoordinator.h"
#include "async/FireAndForget.h"
#include "platform/Browser.h"
#include "services/HerdService.h"
#include "services/accounts/SourceControlService.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/CloudCommands.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

CloudDeploySheet::CloudDeploySheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(std::move(site))
{
    setWindowTitle(s("Deploy to Laravel Cloud"));
    setObjectName("cloudDeploySheet");
    setMinimumSize(580, 420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->addWidget(headingLabel(s("Deploy %1 to Laravel Cloud").arg(m_site->displayName()), 2, this));
    m_subtitle = new ToneLabel(QString(), Tone::muted, this);
    layout->addWidget(m_subtitle);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages, 1);

    // Connect: the account, signing in when needed, and the repository Cloud builds from.
    auto* connectPage = new QWidget(m_pages);
    auto* connectLayout = new QVBoxLayout(connectPage);
    connectLayout->setContentsMargins(0, 8, 0, 0);
    auto* explain =
        new ToneLabel(s("Sign in with Laravel Cloud (browser OAuth, same as `cloud auth`). Connect GitHub "
                        "in Cloud once so apps can be created from your repos."),
                      Tone::muted, connectPage);
    explain->setWordWrap(true);
    connectLayout->addWidget(explain);
    auto* accountForm = new QFormLayout;
    m_account = new QComboBox(connectPage);
    m_account->setObjectName("cloudAccount");
    accountForm->addRow(s("Cloud account"), m_account);
    connectLayout->addLayout(accountForm);
    auto* signInRow = new QHBoxLayout;
    m_signIn =
        new QPushButton(QIcon::fromTheme(s("web-browser")), s("Sign in with Laravel Cloud"), connectPage);
    m_signIn->setObjectName("cloudSignIn");
    m_copyLink = new QPushButton(QIcon::fromTheme(s("edit-copy")), s("Copy link"), connectPage);
    m_copyLink->setVisible(false);
    m_otherWay = new QPushButton(s("Connect another way…"), connectPage);
    m_otherWay->setFlat(true);
    signInRow->addWidget(m_signIn);
    signInRow->addWidget(m_copyLink);
    signInRow->addStretch();
    signInRow->addWidget(m_otherWay);
    connectLayout->addLayout(signInRow);
    m_signInStatus = new ToneLabel(QString(), Tone::muted, connectPage);
    m_signInStatus->setWordWrap(true);
    connectLayout->addWidget(m_signInStatus);
    connectLayout->addSpacing(8);
    connectLayout->addWidget(headingLabel(s("GitHub"), 1, connectPage));
    m_repository = new ToneLabel(QString(), Tone::muted, connectPage);
    m_repository->setWordWrap(true);
    m_repository->setObjectName("cloudRepository");
    connectLayout->addWidget(m_repository);
    m_private = new QCheckBox(s("Create a private GitHub repo"), connectPage);
    m_private->setChecked(true);
    connectLayout->addWidget(m_private);
    connectLayout->addStretch();
    m_pages->addWidget(connectPage);

    // Target: name, region, or an application that already exists.
    auto* targetPage = new QWidget(m_pages);
    auto* targetForm = new QFormLayout(targetPage);
    targetForm->setContentsMargins(0, 8, 0, 0);
    const QString slug = HerdService::slug(m_site->name());
    m_application =
        new QLineEdit(CloudCommands::defaultApplicationName(slug, m_site->displayName()), targetPage);
    m_application->setObjectName("cloudApplicationName");
    m_application->setMaxLength(40);
    targetForm->addRow(s("Application"), m_application);
    m_nameRule =
        new ToneLabel(s("3 to 40 characters. Cloud gives the application a free address under its own "
                        "domain."),
                      Tone::muted, targetPage);
    m_nameRule->setWordWrap(true);
    targetForm->addRow(QString(), m_nameRule);
    m_region = new QComboBox(targetPage);
    m_region->setObjectName("cloudRegion");
    targetForm->addRow(s("Region"), m_region);
    m_existing = new QComboBox(targetPage);
    m_existing->setObjectName("cloudExisting");
    m_existing->addItem(s("Create a new application"), QString());
    targetForm->addRow(s("Or use"), m_existing);
    m_pages->addWidget(targetPage);

    // Progress.
    auto* progressPage = new QWidget(m_pages);
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->setContentsMargins(0, 8, 0, 0);
    m_progress = new QProgressBar(progressPage);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    progressLayout->addWidget(m_progress);
    auto* statusRow = new QHBoxLayout;
    m_status = new ToneLabel(s("Starting"), Tone::muted, progressPage);
    m_status->setObjectName("cloudRunStatus");
    m_signInAgain = new QPushButton(s("Sign in again"), progressPage);
    m_signInAgain->setVisible(false);
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_signInAgain);
    progressLayout->addLayout(statusRow);
    m_log = new LiveLogView(progressPage);
    progressLayout->addWidget(m_log, 1);
    m_pages->addWidget(progressPage);

    m_message = new ToneLabel(QString(), Tone::muted, this);
    m_message->setObjectName("deploySheetMessage");
    m_message->setWordWrap(true);
    layout->addWidget(m_message);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_close = new QPushButton(s("Close"), this);
    m_primary = new QPushButton(s("Continue"), this);
    m_primary->setDefault(true);
    buttons->addWidget(m_close);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);

    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_primary, &QPushButton::clicked, this, &CloudDeploySheet::advance);
    connect(m_signIn, &QPushButton::clicked, this, &CloudDeploySheet::signInWithBrowser);
    connect(m_copyLink, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_signInURL.toString()); });
    connect(m_otherWay, &QPushButton::clicked, this, [this] {
        auto* sheet = new ConnectHostSheet(m_services.hostAccounts(), nullptr, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        const int cloud = sheet->providerPicker()->findData(static_cast<int>(HostProviderKind::laravelCloud));
        sheet->providerPicker()->setCurrentIndex(std::max(cloud, 0));
        connect(sheet, &QDialog::accepted, this, [this] { fillAccounts(); });
        sheet->open();
    });
    connect(m_application, &QLineEdit::textChanged, this, &CloudDeploySheet::sync);
    connect(m_existing, &QComboBox::currentIndexChanged, this, &CloudDeploySheet::sync);
    connect(m_account, &QComboBox::currentIndexChanged, this, &CloudDeploySheet::sync);
    connect(m_signInAgain, &QPushButton::clicked, this, [this] {
        m_signInAgain->setEnabled(false);
        m_services.deploys().answerCloudSignIn(true);
    });
    fillAccounts();
    showStep(Step::connect);
}

CloudDeploySheet::~CloudDeploySheet()
{
    m_signInCancel.cancel();
}

QLabel* CloudDeploySheet::signInStatus() const
{
    return m_signInStatus;
}

QLabel* CloudDeploySheet::statusLine() const
{
    return m_status;
}

void CloudDeploySheet::fillAccounts()
{
    const QUuid chosen = m_account->currentData().toUuid();
    const QSignalBlocker quiet(m_account);
    m_account->clear();
    for (const HostAccountPtr& host : m_services.hostAccounts().accounts(HostProviderKind::laravelCloud))
        m_account->addItem(host->label(), host->id());
    const int again = m_account->findData(chosen);
    if (again >= 0)
        m_account->setCurrentIndex(again);
    else if (const auto linked = m_site->cloudHostId(); linked && m_account->findData(*linked) >= 0)
        m_account->setCurrentIndex(m_account->findData(*linked));
    sync();
}

void CloudDeploySheet::showStep(Step step)
{
    m_step = step;
    m_pages->setCurrentIndex(static_cast<int>(step));
    switch (step) {
    case Step::connect:
        m_subtitle->setText(s("Choose a Laravel Cloud account and GitHub repo."));
        m_primary->setText(s("Continue"));
        break;
    case Step::target:
        m_subtitle->setText(s("Pick a region and application name."));
        m_primary->setText(s("Deploy"));
        break;
    case Step::progress:
        m_subtitle->setText(s("Creating the Cloud app and first deployment."));
        m_primary->setVisible(false);
        break;
    }
    sync();
}

void CloudDeploySheet::sync()
{
    const bool hasAccount = m_account->count() > 0;
    m_account->setVisible(hasAccount);
    m_signIn->setEnabled(!m_busy);
    const bool github = m_services.sourceControl().isConnected(SourceControlProvider::github);
    if (const auto repo = m_site->githubRepo()) {
        m_repository->setTone(Tone::muted);
        m_repository->setText(
            s("Repository: %1 — Cloud creates the app from this repo. The Laravel Cloud GitHub App "
              "must be installed on it.")
                .arg(*repo));
        m_private->setVisible(false);
    } else {
        m_repository->setTone(github ? Tone::muted : Tone::failure);
        m_repository->setText(
            github ? s("This site isn’t on GitHub yet. Cloud deploys from a GitHub repo.")
                   : s("This site isn’t on GitHub yet. Cloud deploys from a GitHub repo. Connect "
                       "GitHub under Source Control first."));
        m_private->setVisible(github);
    }
    bool ready = false;
    if (m_step == Step::connect)
        ready = hasAccount && !m_busy && (m_site->githubRepo() || github);
    else if (m_step == Step::target)
        ready = !m_busy &&
                (!m_existing->currentData().toString().isEmpty() ||
                 (CloudCommands::isValidApplicationName(m_application->text()) && m_region->count() > 0));
    m_primary->setEnabled(ready);
    const bool creating = m_existing->currentData().toString().isEmpty();
    m_application->setEnabled(creating);
    m_region->setEnabled(creating);
    m_nameRule->setTone(creating && !CloudCommands::isValidApplicationName(m_application->text())
                            ? Tone::failure
                            : Tone::muted);
}

void CloudDeploySheet::signInWithBrowser()
{
    if (m_busy)
        return;
    m_busy = true;
    m_signInStatus->setTone(Tone::muted);
    m_signInStatus->setText(s("Starting Cloud sign-in…"));
    sync();
    m_signInCancel = CancellationSource();
    runCloudSignIn(
        this, m_services.cloud(), m_services.hostAccounts(), m_signInStatus, m_copyLink,
        [this](const QUrl& url) { m_signInURL = url; }, m_signInCancel.token(),
        [this](const QList<HostAccountPtr>& connected, const QString& failure) {
            m_busy = false;
            fillAccounts();
            if (!connected.isEmpty()) {
                m_account->setCurrentIndex(m_account->findData(connected.first()->id()));
                m_signInStatus->setTone(Tone::success);
                m_signInStatus->setText(s("Signed in to %1").arg(connected.first()->label()));
            } else {
                m_signInStatus->setTone(Tone::failure);
                m_signInStatus->setText(s("Sign-in failed.\n") + failure);
            }
            sync();
        });
}

void CloudDeploySheet::advance()
{
    if (m_step == Step::connect) {
        m_message->clear();
        showStep(Step::target);
        loadTarget();
    } else if (m_step == Step::target) {
        startRun();
    }
}

void CloudDeploySheet::loadTarget()
{
    const HostAccountPtr host = m_services.hostAccounts().account(m_account->currentData().toUuid());
    const auto token = host ? m_services.hostAccounts().token(*host) : std::nullopt;
    if (!token) {
        m_message->setTone(Tone::failure);
        m_message->setText(s("Connect Laravel Cloud first."));
        return;
    }
    m_busy = true;
    m_message->setTone(Tone::muted);
    m_message->setText(s("Loading regions…"));
    sync();
    const QPointer<CloudDeploySheet> self(this);
    fireAndForget(
        this,
        [](QPointer<CloudDeploySheet> sheet, LaravelCloudClient& cloud, QString secret) -> QCoro::Task<> {
            QString failure;
            QList<CloudRegion> regions;
            QList<CloudApplication> applications;
            try {
                regions = co_await cloud.regions(secret);
                applications = co_await cloud.applications(secret);
            } catch (const HalvikError& error) {
                failure = error.description();
            }
            if (!sheet)
                co_return;
            sheet->m_busy = false;
            sheet->m_region->clear();
            for (const CloudRegion& region : regions)
                sheet->m_region->addItem(region.label + s(" — ") + region.code, region.code);
            const int preferred = sheet->m_region->findData(s("us-east-1"));
            sheet->m_region->setCurrentIndex(std::max(preferred, 0));
            for (const CloudApplication& application : applications)
                sheet->m_existing->addItem(application.name + s(" (") + application.region + QLatin1Char(')'),
                                           application.id);
            if (failure.isEmpty()) {
                sheet->m_message->clear();
            } else {
                sheet->m_message->setTone(Tone::failure);
                sheet->m_message->setText(failure);
            }
            sheet->sync();
        }(self, m_services.cloud(), *token));
}

void CloudDeploySheet::startRun()
{
    CloudDeployPlan plan;
    plan.host = m_services.hostAccounts().account(m_account->currentData().toUuid());
    plan.applicationName = m_application->text().trimmed();
    plan.region = m_region->currentData().toString();
    if (const QString existing = m_existing->currentData().toString(); !existing.isEmpty())
        plan.existingApplicationID = existing;
    plan.repositoryName = HerdService::slug(m_site->name());
    plan.privateRepository = m_private->isChecked();
    try {
        m_job = m_services.deploys().startCloud(m_site, plan);
    } catch (const HalvikError& error) {
        m_message->setTone(Tone::failure);
        m_message->setText(error.description());
        return;
    }
    showStep(Step::progress);
    m_message->clear();
    CloudDeployJob* job = m_job;
    m_log->setLog(job->lines().join(QLatin1Char('\n')));
    connect(job, &DeployJob::lineAdded, this, [this](const QString& line) { m_log->appendBatch(line); });
    connect(job, &CloudDeployJob::statusChanged, this,
            [this](const QString& status) { m_status->setText(status); });
    connect(job, &CloudDeployJob::fractionChanged, this,
            [this](double fraction) { m_progress->setValue(qRound(fraction * 100)); });
    connect(job, &CloudDeployJob::waitingForSignInChanged, this, [this](bool waiting) {
        m_signInAgain->setVisible(waiting);
        m_signInAgain->setEnabled(true);
        if (waiting) {
            m_status->setTone(Tone::failure);
            m_status->setText(s("Laravel Cloud rejected the API token."));
        } else {
            m_status->setTone(Tone::muted);
        }
    });
    connect(job, &DeployJob::finished, this, [this, job] {
        const bool ok = job->outcome() == DeployJob::Outcome::finished;
        m_status->setTone(ok ? Tone::success : Tone::failure);
        m_status->setText(ok ? s("Live at %1").arg(job->url()) : job->errorMessage().value_or(s("Failed")));
    });
    m_progress->setValue(qRound(job->fraction() * 100));
}

} // namespace halvik::views
