#include "views/newsite/InstallOverview.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "app/InstallCoordinator.h"
#include "async/FireAndForget.h"
#include "services/newsite/InstallJob.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

InstallOverview::InstallOverview(AppServices& services, InstallJob& job, QWidget* parent)
    : QWidget(parent), m_services(services), m_job(&job)
{
    auto* layout = new QVBoxLayout(this);
    m_step = new QLabel(this);
    QFont bold = m_step->font();
    bold.setBold(true);
    m_step->setFont(bold);
    layout->addWidget(m_step);
    auto* progress = new QHBoxLayout;
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    progress->addWidget(m_bar, 1);
    m_packages = new QLabel(this);
    m_packages->setForegroundRole(QPalette::PlaceholderText);
    progress->addWidget(m_packages);
    layout->addLayout(progress);

    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    layout->addWidget(m_result);
    m_advice = new QLabel(this);
    m_advice->setWordWrap(true);
    m_advice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_advice);
    m_instructions = new QLabel(this);
    m_instructions->setWordWrap(true);
    m_instructions->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_instructions);

    m_log = new LiveLogView(this);
    m_log->setLog(job.log());
    layout->addWidget(m_log, 1);

    auto* buttons = new QHBoxLayout;
    m_details = new QPushButton(tr("Show details"), this);
    m_copyLog = new QPushButton(tr("Copy log"), this);
    m_copyErrors = new QPushButton(tr("Copy errors"), this);
    buttons->addWidget(m_details);
    buttons->addWidget(m_copyLog);
    buttons->addWidget(m_copyErrors);
    buttons->addStretch();
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_open = new QPushButton(tr("Open Site"), this);
    m_close = new QPushButton(tr("Close"), this);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_close);
    buttons->addWidget(m_open);
    layout->addLayout(buttons);

    connect(&job, &InstallJob::logAppended, m_log,
            [this](const QString& text, bool) { m_log->appendBatch(text); });
    connect(&job, &InstallJob::progressChanged, this, &InstallOverview::refresh);
    connect(&job, &InstallJob::finished, this, &InstallOverview::refresh);
    connect(&services, &AppServices::lastAdviceChanged, this, &InstallOverview::refresh);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_job)
            m_services.installs().cancel(m_job->siteID());
    });
    connect(m_details, &QPushButton::clicked, this, [this] { m_log->setVisible(!m_log->isVisible()); });
    connect(m_copyLog, &QPushButton::clicked, this, [this] {
        if (m_job)
            QGuiApplication::clipboard()->setText(m_job->log());
    });
    connect(m_copyErrors, &QPushButton::clicked, this, [this] {
        if (m_job)
            QGuiApplication::clipboard()->setText(m_job->errorMessage().value_or(QString()));
    });
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!m_job)
            return;
        if (SitePtr site = m_services.store().site(m_job->siteID()))
            fireAndForget(this, m_services.openInBrowser(site));
    });
    connect(m_close, &QPushButton::clicked, this, &InstallOverview::closeRequested);
    refresh();
}

void InstallOverview::refresh()
{
    if (!m_job)
        return;
    const InstallJob& job = *m_job;
    const bool failed = job.isFinished() && !job.succeeded();
    const bool cancelled = failed && job.errorMessage() == QLatin1String("Cancelled");
    m_step->setText(job.isFinished()
                        ? (job.succeeded() ? tr("%1 is ready").arg(job.siteName())
                                           : (cancelled ? tr("Install cancelled") : tr("Install failed")))
                        : InstallSteps::label(job.step()));
    m_bar->setValue(int(job.fractionComplete() * 1000));
    m_bar->setVisible(!failed);
    if (const auto total = job.composerPackagesTotal(); total && !job.isFinished())
        m_packages->setText(
            tr("(%1/%2 packages)").arg(std::min(job.composerPackagesDone(), *total)).arg(*total));
    else
        m_packages->clear();
    m_result->setVisible(failed && !cancelled);
    if (failed && !cancelled) {
        m_result->setText(job.errorMessage().value_or(QString()));
        m_result->setStyleSheet(
            QStringLiteral("color: %1;").arg(semanticColor(Semantic::danger, palette()).name()));
    }
    QStringList advice;
    if (failed && !cancelled)
        for (const ConflictAdvice& item : m_services.lastAdvice())
            advice << QStringLiteral("<b>%1</b><br>%2")
                          .arg(item.title.toHtmlEscaped(), item.detail.toHtmlEscaped());
    m_advice->setText(advice.join(QStringLiteral("<br><br>")));
    m_advice->setVisible(!advice.isEmpty());
    const QString instructions = job.postInstallInstructions().value_or(QString());
    m_instructions->setText(instructions);
    m_instructions->setVisible(job.succeeded() && !instructions.isEmpty());
    m_cancel->setVisible(!job.isFinished());
    m_details->setVisible(failed);
    m_copyErrors->setVisible(failed && !cancelled);
    m_copyLog->setVisible(job.isFinished());
    m_open->setVisible(job.succeeded());
    m_close->setVisible(job.isFinished());
    if (failed)
        m_log->setVisible(false);
}

} // namespace halvik::views
