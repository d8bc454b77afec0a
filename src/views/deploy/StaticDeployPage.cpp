#include "views/deploy/StaticDeployPage.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/FileManager.h"
#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"
#include "views/deploy/StaticPublishSheet.h"

#include "app/AppServices.h"
#include "app/StaticPublishCoordinator.h"
#include "async/FireAndForget.h"
#include "platform/PlatformTexts.h"
#include "services/staticsite/StaticSiteBuilder.h"

#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

bool isPublish(const Deployment& deployment)
{
    const QString provider = deployment.providerRaw().value_or(QString());
    return provider == QLatin1String("netlify") || provider == QLatin1String("cloudflarePages");
}

QLabel* valueLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

StaticDeployPage::StaticDeployPage(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    setObjectName("staticDeployPage");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* columns = new QHBoxLayout;
    auto* build = new QVBoxLayout;
    build->addWidget(headingLabel(QStringLiteral("Build"), 1, this));
    auto* buildForm = new QFormLayout;
    m_lastBuild = valueLabel(this);
    m_lastBuild->setObjectName("staticLastBuild");
    buildForm->addRow(QStringLiteral("Last build"), m_lastBuild);
    m_output = valueLabel(this);
    m_output->setObjectName("staticOutput");
    buildForm->addRow(QStringLiteral("Output"), m_output);
    build->addLayout(buildForm);
    auto* buildButtons = new QHBoxLayout;
    m_generate = new QPushButton(QIcon::fromTheme(QStringLiteral("system-run")),
                                 QStringLiteral("Generate static site"), this);
    m_showOutput = new QPushButton(PlatformTexts::showInFileManager(), this);
    buildButtons->addWidget(m_generate);
    buildButtons->addWidget(m_showOutput);
    buildButtons->addStretch();
    build->addLayout(buildButtons);
    columns->addLayout(build, 1);
    columns->addSpacing(24);

    auto* publish = new QVBoxLayout;
    publish->addWidget(headingLabel(QStringLiteral("Publish"), 1, this));
    auto* publishForm = new QFormLayout;
    m_liveURL = valueLabel(this);
    m_liveURL->setObjectName("staticLiveURL");
    m_liveURL->setOpenExternalLinks(true);
    recolourLinks(m_liveURL);
    publishForm->addRow(QStringLiteral("Live URL"), m_liveURL);
    publish->addLayout(publishForm);
    auto* note = new ToneLabel(
        QStringLiteral("Static hosts serve HTML only — no Control Panel in production."), Tone::muted, this);
    publish->addWidget(note);
    m_publish = new QPushButton(QIcon::fromTheme(QStringLiteral("go-up")), QStringLiteral("Publish…"), this);
    publish->addWidget(m_publish, 0, Qt::AlignLeft);
    columns->addLayout(publish, 1);
    layout->addLayout(columns);

    auto* split = new QSplitter(Qt::Vertical, this);
    m_progressBox = new QWidget(split);
    auto* progress = new QVBoxLayout(m_progressBox);
    progress->setContentsMargins(0, 8, 0, 0);
    progress->addWidget(headingLabel(QStringLiteral("Progress"), 1, m_progressBox));
    auto* statusRow = new QHBoxLayout;
    m_status = new ToneLabel(QString(), Tone::muted, m_progressBox);
    m_status->setObjectName("staticStatus");
    statusRow->addWidget(m_status, 1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), m_progressBox);
    m_copyLog = new QPushButton(QStringLiteral("Copy log"), m_progressBox);
    statusRow->addWidget(m_cancel);
    statusRow->addWidget(m_copyLog);
    progress->addLayout(statusRow);
    m_progress = new QProgressBar(m_progressBox);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    progress->addWidget(m_progress);
    m_live = new LiveLogView(m_progressBox);
    m_live->setObjectName("staticLiveLog");
    m_live->setMinimumHeight(110);
    progress->addWidget(m_live, 1);
    split->addWidget(m_progressBox);

    auto* historyBox = new QWidget(split);
    auto* history = new QVBoxLayout(historyBox);
    history->setContentsMargins(0, 8, 0, 0);
    history->addWidget(headingLabel(QStringLiteral("History"), 1, historyBox));
    m_noHistory = new ToneLabel(QStringLiteral("No publishes yet."), Tone::muted, historyBox);
    history->addWidget(m_noHistory);
    m_history = new QTreeWidget(historyBox);
    m_history->setObjectName("staticHistory");
    m_history->setRootIsDecorated(false);
    m_history->setHeaderLabels({QStringLiteral("Started"), QStringLiteral("Status"), QStringLiteral("Host"),
                                QStringLiteral("Target")});
    history->addWidget(m_history, 1);
    // The status colours are computed: a change of appearance colours the rows again.
    followPalette(m_history, [this] { refreshHistory(); });
    m_selectedLog = new LiveLogView(historyBox);
    m_selectedLog->setObjectName("staticSelectedLog");
    history->addWidget(m_selectedLog, 1);
    split->addWidget(historyBox);
    layout->addWidget(split, 1);

    connect(m_generate, &QPushButton::clicked, this, &StaticDeployPage::generate);
    connect(m_publish, &QPushButton::clicked, this, &StaticDeployPage::openPublishSheet);
    connect(m_cancel, &QPushButton::clicked, this, &StaticDeployPage::cancel);
    connect(m_showOutput, &QPushButton::clicked, this, [this] {
        if (!m_outputPath.isEmpty())
            views::showInFileManager(m_outputPath);
    });
    connect(m_copyLog, &QPushButton::clicked, this, [this] {
        if (m_job)
            QApplication::clipboard()->setText(m_job->log().join(QLatin1Char('\n')));
    });
    connect(m_history, &QTreeWidget::currentItemChanged, this, &StaticDeployPage::showSelectedLog);
    StaticPublishCoordinator& jobs = services.staticPublishes();
    connect(&jobs, &StaticPublishCoordinator::jobStarted, this, [this](const QUuid& id) {
        if (m_site && m_site->id() == id)
            refresh();
    });
    connect(&jobs, &StaticPublishCoordinator::jobCleared, this, [this](const QUuid& id) {
        if (m_site && m_site->id() == id)
            refresh();
    });
}

QLabel* StaticDeployPage::status() const
{
    return m_status;
}

void StaticDeployPage::setSite(SitePtr site)
{
    m_site = std::move(site);
    m_outputPath.clear();
    refresh();
    refreshOutput();
}

void StaticDeployPage::refresh()
{
    if (!m_site)
        return;
    const auto built = m_site->lastStaticBuildAt();
    m_lastBuild->setText(built ? QLocale().toString(built->toLocalTime(), QLocale::ShortFormat)
                               : QStringLiteral("Never"));
    if (const auto url = m_site->staticHostURL(); url && !url->isEmpty())
        m_liveURL->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(url->toHtmlEscaped()));
    else
        m_liveURL->setText(QStringLiteral("Not published yet"));
    StaticPublishJob* job = m_services.staticPublishes().job(m_site->id());
    if (job != m_job)
        follow(job);
    showJobState();
    refreshHistory();
}

void StaticDeployPage::refreshOutput()
{
    if (!m_site)
        return;
    // The folder last shown stays until the site says otherwise.
    if (m_outputPath.isEmpty()) {
        m_output->setText(QStringLiteral("…"));
        m_showOutput->setEnabled(false);
    }
    const quint64 generation = ++m_outputGeneration;
    const QPointer<StaticDeployPage> self(this);
    fireAndForget(this,
                  [](QPointer<StaticDeployPage> page, StaticSiteBuilder& builder, SitePtr site,
                     quint64 asked) -> QCoro::Task<> {
                      QString path;
                      QString failure;
                      try {
                          path = co_await builder.outputDirectory(site);
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!page || page->m_outputGeneration != asked)
                          co_return;
                      page->m_outputPath = path;
                      page->m_output->setText(path.isEmpty() ? failure : path);
                      page->m_showOutput->setEnabled(!path.isEmpty());
                  }(self, m_services.staticBuilder(), m_site, generation));
}

void StaticDeployPage::follow(StaticPublishJob* job)
{
    if (m_job)
        disconnect(m_job.data(), nullptr, this, nullptr);
    m_job = job;
    m_live->clear();
    if (!job)
        return;
    m_live->setLog(job->log().join(QLatin1Char('\n')));
    connect(job, &StaticPublishJob::lineAdded, this,
            [this](const QString& line) { m_live->appendBatch(line); });
    connect(job, &StaticPublishJob::statusChanged, this, &StaticDeployPage::showJobState);
    connect(job, &StaticPublishJob::progressChanged, this, &StaticDeployPage::showJobState);
    connect(job, &StaticPublishJob::finished, this, [this, job] {
        if (const auto made = job->build()) {
            m_outputPath = made->output;
            m_output->setText(made->output);
            m_showOutput->setEnabled(true);
        }
        refresh();
    });
}

void StaticDeployPage::showJobState()
{
    const bool running = m_job && !m_job->isFinished();
    m_generate->setEnabled(!running);
    m_publish->setEnabled(!running);
    m_cancel->setVisible(running);
    m_copyLog->setEnabled(m_job != nullptr);
    m_progress->setVisible(m_job != nullptr);
    if (!m_job) {
        m_status->setTone(Tone::muted);
        m_status->setText(QStringLiteral("Nothing running."));
        return;
    }
    if (running) {
        m_status->setTone(Tone::muted);
        m_status->setText(m_job->status());
        // Generation has no measure of its own: the bar moves without one until publishing.
        if (m_job->fractionComplete() <= 0)
            m_progress->setRange(0, 0);
        else {
            m_progress->setRange(0, 1000);
            m_progress->setValue(int(m_job->fractionComplete() * 1000));
        }
        return;
    }
    m_progress->setRange(0, 1000);
    m_progress->setValue(m_job->succeeded() ? 1000 : int(m_job->fractionComplete() * 1000));
    if (m_job->succeeded()) {
        m_status->setTone(Tone::success);
        m_status->setText(m_job->isPublish() ? QStringLiteral("Published: ") + m_job->publicURL()
                                             : QStringLiteral("Static site ready"));
    } else if (m_job->wasCancelled()) {
        m_status->setTone(Tone::muted);
        m_status->setText(QStringLiteral("Cancelled"));
    } else {
        m_status->setTone(Tone::failure);
        m_status->setText(m_job->errorMessage().value_or(m_job->status()));
    }
}

void StaticDeployPage::refreshHistory()
{
    if (!m_site)
        return;
    const QUuid selected =
        m_history->currentItem() ? m_history->currentItem()->data(0, Qt::UserRole).toUuid() : QUuid();
    const QSignalBlocker quiet(m_history);
    m_history->clear();
    const QList<DeploymentPtr>& all = m_site->deployments();
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        const DeploymentPtr& d = *it;
        if (!isPublish(*d))
            continue;
        auto* row = new QTreeWidgetItem(
            m_history,
            {QLocale().toString(d->startedAt().toLocalTime(), QLocale::ShortFormat),
             d->isRunning() ? QStringLiteral("running") : d->status(), d->serverName(), d->siteName()});
        row->setData(0, Qt::UserRole, d->id());
        const Tone tone = d->status() == QLatin1String("finished") ? Tone::success
                          : d->status() == QLatin1String("failed") ? Tone::failure
                                                                   : Tone::muted;
        row->setForeground(1, toneColor(tone, palette()));
        if (d->id() == selected)
            m_history->setCurrentItem(row);
    }
    const bool empty = m_history->topLevelItemCount() == 0;
    m_noHistory->setVisible(empty);
    m_history->setVisible(!empty);
    m_selectedLog->setVisible(!empty);
    if (!m_history->currentItem() && !empty)
        m_history->setCurrentItem(m_history->topLevelItem(0));
    for (int column = 0; column < 3; ++column)
        m_history->resizeColumnToContents(column);
    showSelectedLog();
}

void StaticDeployPage::showSelectedLog()
{
    m_selectedLog->clear();
    if (!m_history->currentItem() || !m_site)
        return;
    const QUuid id = m_history->currentItem()->data(0, Qt::UserRole).toUuid();
    for (const DeploymentPtr& d : m_site->deployments())
        if (d->id() == id)
            m_selectedLog->setLog(d->log());
}

void StaticDeployPage::generate()
{
    if (!m_site)
        return;
    try {
        follow(m_services.staticPublishes().generateOnly(m_site));
        showJobState();
    } catch (const HalvikError& error) {
        m_status->setTone(Tone::failure);
        m_status->setText(error.description());
    }
}

void StaticDeployPage::cancel()
{
    if (m_site)
        m_services.staticPublishes().cancel(m_site->id());
}

void StaticDeployPage::openPublishSheet()
{
    if (!m_site)
        return;
    auto* sheet = new StaticPublishSheet(m_services, m_site, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this] { refresh(); });
    sheet->open();
}

} // namespace halvik::views
