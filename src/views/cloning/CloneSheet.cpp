#include "views/cloning/CloneSheet.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "app/SiteCloneCoordinator.h"
#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/newsite/NewSiteChecks.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

CloneSheet::CloneSheet(AppServices& services, QUuid sourceID, QWidget* parent)
    : QDialog(parent), m_services(services), m_source(services.store().site(sourceID))
{
    setWindowTitle(tr("Clone Site"));
    resize(620, 520);
    auto* layout = new QVBoxLayout(this);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages, 1);
    auto* buttons = new QDialogButtonBox(this);
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_job && !m_job->isFinished())
            m_services.clones().cancel(m_job->siteID());
        else
            reject();
    });
    if (!m_source) {
        m_missing = new QLabel(tr("Couldn’t find that site."), m_pages);
        m_missing->setAlignment(Qt::AlignCenter);
        m_pages->addWidget(m_missing);
        return;
    }

    auto* form = new QWidget(m_pages);
    auto* formLayout = new QVBoxLayout(form);
    auto* hint = new QLabel(tr("Copy this site to a new folder."), form);
    QFont bold = hint->font();
    bold.setBold(true);
    hint->setFont(bold);
    formLayout->addWidget(hint);
    auto* note =
        new QLabel(tr("Creates a duplicate you can experiment on safely. Deploy links (Cloud, Forge, static "
                      "hosts) are not copied."),
                   form);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    formLayout->addWidget(note);
    auto* fields = new QFormLayout;
    m_name = new QLineEdit(m_source->displayName() + QStringLiteral(" Copy"), form);
    fields->addRow(tr("Name"), m_name);
    m_folder = new QLineEdit(m_services.preferences().resolvedSitesDirectory(), form);
    fields->addRow(tr("Folder"), m_folder);
    m_slug = new QLabel(form);
    m_slug->setForegroundRole(QPalette::PlaceholderText);
    fields->addRow(tr("Slug"), m_slug);
    formLayout->addLayout(fields);
    const bool engine = m_services.herd().engine().has_value();
    auto* link = new QCheckBox(
        tr("Link in %1")
            .arg(engine ? engineDisplayName(*m_services.herd().engine()) : QStringLiteral("Herd")),
        form);
    link->setChecked(engine);
    link->setEnabled(false);
    link->setVisible(engine);
    formLayout->addWidget(link);
    m_https = new QCheckBox(tr("Secure with HTTPS"), form);
    m_https->setVisible(engine);
    formLayout->addWidget(m_https);
    m_regenerate = new QCheckBox(tr("Regenerate APP_KEY"), form);
    formLayout->addWidget(m_regenerate);
    m_removeGit = new QCheckBox(tr("Remove git history"), form);
    formLayout->addWidget(m_removeGit);
    m_conflict = new QLabel(form);
    m_conflict->setWordWrap(true);
    formLayout->addWidget(m_conflict);
    formLayout->addStretch();
    m_pages->addWidget(form);

    auto* progress = new QWidget(m_pages);
    auto* progressLayout = new QVBoxLayout(progress);
    m_step = new QLabel(progress);
    m_step->setFont(bold);
    progressLayout->addWidget(m_step);
    m_bar = new QProgressBar(progress);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    progressLayout->addWidget(m_bar);
    m_log = new LiveLogView(progress);
    progressLayout->addWidget(m_log, 1);
    m_pages->addWidget(progress);

    m_clone = buttons->addButton(tr("Clone"), QDialogButtonBox::AcceptRole);
    m_clone->setDefault(true);
    connect(m_clone, &QPushButton::clicked, this, &CloneSheet::startClone);
    connect(m_name, &QLineEdit::textChanged, this, &CloneSheet::updateState);
    connect(m_folder, &QLineEdit::textChanged, this, &CloneSheet::updateState);
    updateState();
}

QString CloneSheet::destination() const
{
    const QString slug = HerdService::slug(m_name->text().trimmed());
    return slug.isEmpty() ? QString() : QDir::cleanPath(QDir(m_folder->text().trimmed()).filePath(slug));
}

void CloneSheet::updateState()
{
    const QString slug = HerdService::slug(m_name->text().trimmed());
    m_slug->setText(slug.isEmpty() ? tr("—") : slug);
    std::optional<QString> conflict;
    if (slug.isEmpty())
        conflict = tr("Enter a name for the copy.");
    else
        conflict = NewSiteChecks::cloneTarget(m_services.store(), m_source->path(), destination());
    m_conflict->setText(conflict.value_or(QString()));
    m_conflict->setVisible(conflict.has_value());
    m_conflict->setStyleSheet(
        QStringLiteral("color: %1;").arg(semanticColor(Semantic::caution, palette()).name()));
    m_clone->setEnabled(!conflict);
}

void CloneSheet::startClone()
{
    const QString target = destination();
    const HerdService& herd = m_services.herd();
    auto site = std::make_shared<Site>(m_name->text().trimmed(), target);
    const PHPSource phpSource =
        m_services.preferences().phpSource(herd.isParked(target), herd.engine().has_value());
    site->setPhpSource(phpSource);
    site->setUsesSSG(m_source->usesSSG());
    m_services.store().insertSite(site);
    m_services.setSelectedSiteID(site->id());

    CloneRequest request;
    request.sourceSiteID = m_source->id();
    request.targetSiteID = site->id();
    request.sourcePath = m_source->path();
    request.destination = QUrl::fromLocalFile(target);
    request.slug = HerdService::slug(m_name->text().trimmed());
    request.secureHerd = herd.engine().has_value() && m_https->isChecked();
    request.regenerateAppKey = m_regenerate->isChecked();
    request.removeGit = m_removeGit->isChecked();
    request.phpSource = phpSource;
    request.usesSSG = m_source->usesSSG();
    m_services.clones().start(request);
    m_job = m_services.clones().job(site->id());
    connect(m_job, &CloneJob::logAppended, m_log,
            [this](const QString& text, bool) { m_log->appendBatch(text); });
    connect(m_job, &CloneJob::progressChanged, this, &CloneSheet::refreshJob);
    connect(m_job, &CloneJob::finished, this, &CloneSheet::refreshJob);
    m_log->setLog(m_job->log());
    m_pages->setCurrentIndex(1);
    // Out of the box: the box shows its buttons again whenever the style changes.
    if (auto* box = qobject_cast<QDialogButtonBox*>(m_clone->parentWidget()))
        box->removeButton(m_clone);
    m_clone->hide();
    refreshJob();
}

void CloneSheet::refreshJob()
{
    if (!m_job)
        return;
    m_step->setText(m_job->stepLabel());
    m_bar->setValue(int(m_job->fractionComplete() * 1000));
    if (m_job->isFinished()) {
        m_cancel->setText(tr("Close"));
        if (!m_job->succeeded() && m_job->errorMessage() != QLatin1String("Cancelled"))
            m_step->setText(m_job->stepLabel() + QStringLiteral(": ") +
                            m_job->errorMessage().value_or(QString()));
    }
}

} // namespace halvik::views
