#include "views/site/SiteOverviewTab.h"

#include "views/deploy/CloudEnvironmentSheet.h"
#include "views/deploy/CloudStorageSheet.h"

#include "views/common/SemanticColors.h"
#include "views/frontend/FrontendSection.h"
#include "views/site/PackageActions.h"
#include "views/site/PreviewBlock.h"

#include "app/AppServices.h"
#include "app/MenuCommands.h"
#include "app/StorageTools.h"
#include "services/DotEnvFile.h"
#include "services/HerdService.h"
#include "services/composer/ComposerService.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/LocalServer.h"

#include "async/FireAndForget.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* valueLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QString orUnknown(const std::optional<QString>& value)
{
    return value.value_or(QStringLiteral("Unknown"));
}

// One label column for every section, so values line up down the whole tab rather than
// section by section.
void alignLabelColumns(const QList<QFormLayout*>& forms)
{
    QList<QLabel*> labels;
    int widest = 0;
    for (QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (auto* item = form->itemAt(row, QFormLayout::LabelRole))
                if (auto* label = qobject_cast<QLabel*>(item->widget())) {
                    labels << label;
                    widest = std::max(widest, label->sizeHint().width());
                }
    for (QLabel* label : labels) {
        label->setMinimumWidth(widest);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
}

} // namespace

SiteOverviewTab::SiteOverviewTab(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    // The content scrolls when the window is too short for it.
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    const auto section = [this, layout](const QString& title) {
        layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
        layout->addWidget(sectionTitle(title, this));
        auto* form = new QFormLayout;
        form->setLabelAlignment(Qt::AlignRight);
        layout->addLayout(form);
        return form;
    };

    // The site's face first: its home page as Halvik last saw it.
    layout->addWidget(sectionTitle(QStringLiteral("Preview"), this));
    m_preview = new PreviewBlock(services, this);
    layout->addWidget(m_preview);

    QFormLayout* server = section(QStringLiteral("Local Server"));
    m_engine = valueLabel(this);
    m_opens = valueLabel(this);
    m_serve = new QPushButton(this);
    m_serve->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    server->addRow(QStringLiteral("Served by"), m_engine);
    server->addRow(QString(), m_opens);
    server->addRow(QString(), m_serve);
    connect(m_serve, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::toggleServe); });

    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    layout->addWidget(sectionTitle(QStringLiteral("Frontend"), this));
    m_frontend = new FrontendSection(services, this);
    layout->addWidget(m_frontend);

    QFormLayout* environment = section(QStringLiteral("Environment"));
    m_appURL = valueLabel(this);
    m_database = valueLabel(this);
    auto* editEnv = new QPushButton(QStringLiteral("Edit local .env…"), this);
    editEnv->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    environment->addRow(QStringLiteral("APP_URL"), m_appURL);
    environment->addRow(QStringLiteral("Laravel DB"), m_database);
    m_editCloudEnvironment = new QPushButton(QStringLiteral("Edit Cloud environment…"), this);
    m_editCloudEnvironment->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* editButtons = new QHBoxLayout;
    editButtons->addWidget(editEnv);
    editButtons->addWidget(m_editCloudEnvironment);
    editButtons->addStretch();
    environment->addRow(QString(), editButtons);
    connect(editEnv, &QPushButton::clicked, this, &SiteOverviewTab::editEnvironmentRequested);
    connect(m_editCloudEnvironment, &QPushButton::clicked, this, [this] {
        if (!m_site || !m_site->isLinkedToCloud())
            return;
        auto* sheet = new CloudEnvironmentSheet(m_services, m_site, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
        sheet->reload();
    });

    QFormLayout* versions = section(QStringLiteral("Versions"));
    m_storage = valueLabel(this);
    m_cms = valueLabel(this);
    m_laravel = valueLabel(this);
    m_phpSource = new QComboBox(this);
    m_phpSource->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (PHPSource source : allCases<PHPSource>())
        m_phpSource->addItem(source == PHPSource::automatic ? QStringLiteral("Automatic")
                             : source == PHPSource::managed ? QStringLiteral("Halvik PHP")
                                                            : QStringLiteral("Herd / Valet"),
                             toRaw(source));
    m_phpResolved = valueLabel(this);
    m_phpResolved->setForegroundRole(QPalette::PlaceholderText);
    auto* more =
        new QLabel(QStringLiteral("<a href=\"settings\">Install more versions under Settings.</a>"), this);
    more->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    recolourLinks(more);
    auto* storageRow = new QHBoxLayout;
    storageRow->addWidget(m_storage);
    auto* cloudStorage = new QLabel(QStringLiteral("<a href=\"storage\">Cloud storage…</a>"), this);
    cloudStorage->setObjectName("cloudStorageLink");
    cloudStorage->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    cloudStorage->setToolTip(
        QStringLiteral("Move content, users and assets to a database and a bucket for Laravel Cloud"));
    recolourLinks(cloudStorage);
    storageRow->addWidget(cloudStorage);
    storageRow->addStretch();
    versions->addRow(QStringLiteral("Content storage"), storageRow);
    connect(cloudStorage, &QLabel::linkActivated, this, [this] {
        if (!m_site)
            return;
        const bool onCloud = m_site->cloudHostId() && m_site->cloudAppId() && m_site->cloudEnvId();
        auto* sheet = new CloudStorageSheet(storageSessions(m_services).session(m_site), onCloud, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, this, [this] { refresh(); });
        sheet->open();
    });
    versions->addRow(QStringLiteral("Quillmar"), m_cms);
    versions->addRow(QStringLiteral("Laravel"), m_laravel);
    versions->addRow(QStringLiteral("PHP source"), m_phpSource);
    versions->addRow(QString(), m_phpResolved);
    versions->addRow(QString(), more);
    connect(more, &QLabel::linkActivated, this,
            [this] { m_services.setSelectedSection(SidebarSection::settings); });
    alignLabelColumns({server, m_frontend->form(), environment, versions});
    connect(m_phpSource, &QComboBox::activated, this, [this] {
        if (!m_site)
            return;
        m_site->setPhpSourceRaw(m_phpSource->currentData().toString());
        m_services.store().save();
        refresh();
    });

    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    layout->addWidget(sectionTitle(QStringLiteral("Caches"), this));
    auto* row = new QHBoxLayout;
    // Clear Cache is Laravel's own cache, run through artisan; the other two are the CMS's.
    const QList<QPair<QString, QStringList>> utilities{
        {QStringLiteral("Clear Tarnel"), {QStringLiteral("tarnel:clear")}},
        {QStringLiteral("Clear Cache"), {QStringLiteral("cache:clear")}},
        {QStringLiteral("Clear Glide Cache"), {QStringLiteral("glide:clear")}}};
    for (const auto& [title, arguments] : utilities) {
        auto* button = new QPushButton(title, this);
        button->setProperty("needsCMS", title != QLatin1String("Clear Cache"));
        connect(button, &QPushButton::clicked, this,
                [this, title, arguments] { fireAndForget(this, runUtility(title, arguments)); });
        row->addWidget(button);
        m_utilities << button;
    }
    row->addStretch();
    layout->addLayout(row);
    auto* help = new QLabel(
        QStringLiteral("Clear Tarnel rebuilds Quillmar’s content index (entries, terms, globals).\n\n"
                       "Clear Cache flushes Laravel’s application cache.\n\n"
                       "Clear Glide Cache deletes generated image transforms so they regenerate "
                       "on the next request."),
        this);
    help->setWordWrap(true);
    help->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(help);
    m_utilityResult = valueLabel(this);
    m_utilityResult->setObjectName("utilityResult");
    layout->addWidget(m_utilityResult);
    layout->addStretch();

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("overviewScroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connect(&services.localServer(), &LocalServer::changed, this, &SiteOverviewTab::refresh);
    connect(&services, &AppServices::openingChanged, this, &SiteOverviewTab::refresh);
    connect(&m_files, &SiteFilesMonitor::filesChanged, this, &SiteOverviewTab::showFiles);
}

QPushButton* SiteOverviewTab::utilityButton(const QString& title) const
{
    for (QPushButton* button : m_utilities)
        if (button->text() == title)
            return button;
    return nullptr;
}

void SiteOverviewTab::setSite(SitePtr site)
{
    if (site != m_site)
        m_utilityResult->clear();
    m_site = std::move(site);
    m_files.setSitePath(m_site ? m_site->path() : QString());
    m_frontend->setSite(m_site);
    m_preview->setSite(m_site);
    refresh();
    showFiles();
}

void SiteOverviewTab::refresh()
{
    if (!m_site)
        return;
    m_editCloudEnvironment->setVisible(m_site->isLinkedToCloud());
    const LocalServer& server = m_services.localServer();
    const HerdService& herd = m_services.herd();
    const bool serving = server.isRunning(m_site->id());
    m_preview->refresh();
    m_engine->setText(serving         ? QStringLiteral("Halvik’s server (php artisan serve)")
                      : herd.engine() ? engineDisplayName(*herd.engine())
                                      : QStringLiteral("Halvik’s server, started when the site opens"));
    if (const auto url = m_services.siteURL(*m_site))
        m_opens->setText(QStringLiteral("Opens at ") + url->toString());
    else if (const auto exit = server.lastExit(m_site->id()))
        m_opens->setText(QStringLiteral("Halvik’s server stopped: ") + *exit);
    else
        m_opens->setText(QStringLiteral("Not started"));
    m_serve->setText(serving ? QStringLiteral("Stop Server") : QStringLiteral("Serve"));
    m_phpSource->setCurrentIndex(qMax(0, m_phpSource->findData(m_site->phpSourceRaw())));
    const auto php = m_services.runtime().resolvePHP(*m_site, &m_services.herd());
    m_phpResolved->setText(php ? php->path + (php->version.isEmpty()
                                                  ? QString()
                                                  : QStringLiteral(" (") + php->version + QLatin1Char(')'))
                               : RuntimeError::phpMissing().description());
}

void SiteOverviewTab::showFiles()
{
    // Until the first read of a site ends its values stay blank rather than show another's.
    const std::optional<SiteFiles>& files = m_files.files();
    if (!m_site || !files) {
        for (QLabel* label : {m_appURL, m_database, m_storage, m_cms, m_laravel})
            label->clear();
        return;
    }
    const QList<DotEnvFile::Entry>& env = files->environment;
    m_appURL->setText(DotEnvFile::value(QStringLiteral("APP_URL"), env).value_or(QStringLiteral("Not set")));
    const QString connection =
        DotEnvFile::value(QStringLiteral("DB_CONNECTION"), env).value_or(QStringLiteral("Not set"));
    const auto database = DotEnvFile::value(QStringLiteral("DB_DATABASE"), env);
    m_database->setText(database ? connection + QStringLiteral(" — ") + *database : connection);

    const SiteManifest& manifest = files->manifest;
    m_storage->setText(title(manifest.contentStorage));
    m_cms->setText(orUnknown(manifest.quillmarVersion));
    m_laravel->setText(orUnknown(manifest.laravelVersion));
    const bool cms = manifest.quillmarVersion.has_value() || siteUsesCMS(*m_site);
    for (QPushButton* button : std::as_const(m_utilities)) {
        const bool needsCMS = button->property("needsCMS").toBool();
        button->setProperty("cmsMissing", needsCMS && !cms);
        button->setEnabled(!(needsCMS && !cms) && !m_utilityRunning);
        button->setToolTip(needsCMS && !cms ? noCMSReason() : QString());
    }
}

QCoro::Task<> SiteOverviewTab::runUtility(QString title, QStringList arguments)
{
    if (!m_site)
        co_return;
    const LifeToken alive = m_life.token();
    const SitePtr site = m_site;
    m_utilityRunning = true;
    for (QPushButton* button : std::as_const(m_utilities))
        button->setEnabled(false);
    m_utilityResult->setText(title + QStringLiteral("…"));
    QString result;
    try {
        ProcessResult done;
        if (arguments.value(0) == QLatin1String("cache:clear")) {
            const QString artisan = QStringLiteral("artisan");
            done = co_await m_services.composer().runPHP(site, artisan, arguments);
        } else {
            done = co_await m_services.composer().keffin(site, arguments);
        }
        result = done.exitCode == 0 ? title + QStringLiteral(": done.")
                                    : title + QStringLiteral(" failed: ") + done.combined().trimmed();
    } catch (const HalvikError& error) {
        result = title + QStringLiteral(" failed: ") + error.description();
    }
    if (!alive)
        co_return;
    m_utilityRunning = false;
    for (QPushButton* button : std::as_const(m_utilities))
        button->setEnabled(!button->property("cmsMissing").toBool());
    if (site == m_site)
        m_utilityResult->setText(result);
}

} // namespace halvik::views
