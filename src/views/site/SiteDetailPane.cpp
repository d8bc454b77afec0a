#include "views/site/SiteDetailPane.h"
#include "views/addons/AddonBrowserSheet.h"
#include "views/deploy/DeployTab.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"
#include "views/common/SiteIcon.h"
#include "views/git/GitWorkspaceView.h"
#include "views/sharing/ShareActions.h"
#include "views/site/LocalEnvironmentSheet.h"
#include "views/site/PackageActions.h"
#include "views/site/PackagesTab.h"
#include "views/site/SiteOverviewTab.h"
#include "views/window/WindowMemory.h"

#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "app/MenuCommands.h"
#include "services/appearance/SiteAppearanceService.h"
#include "services/composer/ComposerService.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"
#include "services/sharing/SiteTunnelService.h"

#include "platform/Browser.h"
#include "platform/PlatformTexts.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* label(int grow, bool bold, QWidget* parent)
{
    auto* text = new QLabel(parent);
    QFont font = text->font();
    font.setPointSize(font.pointSize() + grow);
    font.setBold(bold);
    text->setFont(font);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return text;
}

// A large muted icon, one bold line and one plain line, centred.
QWidget* emptyState(const QString& icon, const QString& title, const QString& line, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    auto* picture = new QLabel(page);
    const int side = page->style()->pixelMetric(QStyle::PM_LargeIconSize) * 2;
    picture->setPixmap(QIcon::fromTheme(icon).pixmap(side, QIcon::Disabled));
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    auto* heading = new QLabel(title, page);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSize(font.pointSize() + 2);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);
    auto* plain = new QLabel(line, page);
    plain->setAlignment(Qt::AlignCenter);
    plain->setWordWrap(true);
    plain->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(plain);
    layout->addStretch();
    return page;
}

QString duration(const SiteOperation& operation)
{
    // A running operation counts up to now, refreshed while it runs.
    const QDateTime end = operation.finishedAt().value_or(QDateTime::currentDateTimeUtc());
    const qint64 ms = std::max<qint64>(0, operation.startedAt().msecsTo(end));
    return ms < 1000 ? QStringLiteral("%1 ms").arg(ms) : QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

} // namespace

SiteDetailPane::SiteDetailPane(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    m_title = label(6, true, this); // first: screens and tests read the pane's labels in order
    m_icon = new QLabel(this);
    m_icon->setFixedSize(40, 40);
    header->addWidget(m_icon, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    auto* titleRow = new QHBoxLayout;
    m_chip = new QLabel(this);
    m_chip->setObjectName("statusChip");
    titleRow->addWidget(m_title);
    titleRow->addWidget(m_chip, 0, Qt::AlignVCenter);
    titleRow->addStretch();
    m_path = label(0, false, this);
    m_path->setForegroundRole(QPalette::PlaceholderText);
    m_serving = label(0, false, this);
    m_serving->setObjectName("siteServing");
    m_serving->setTextFormat(Qt::RichText);
    m_serving->setTextInteractionFlags(Qt::TextBrowserInteraction);
    recolourLinks(m_serving);
    connect(m_serving, &QLabel::linkActivated, this, [](const QString& link) { Browser::open(QUrl(link)); });
    names->addLayout(titleRow);
    names->addWidget(m_path);
    names->addWidget(m_serving);
    header->addLayout(names, 1);

    m_openButton = new QPushButton(QIcon::fromTheme(QStringLiteral("applications-internet")),
                                   QStringLiteral("Open Site"), this);
    m_openButton->setDefault(true);
    m_serveButton = new QPushButton(this);
    auto* actions = new QToolButton(this);
    actions->setText(QStringLiteral("Site Actions"));
    actions->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(actions);
    menu->setToolTipsVisible(true);
    // Rebuilt each time it opens: Serve turns into Stop Server while the server runs.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        const auto post = [this](const QString& command) {
            return [this, command] { m_services.commands().post(command); };
        };
        QAction* open = menu->addAction(QStringLiteral("Open Site"), this, post(MenuCommand::openSite));
        open->setToolTip(QStringLiteral("Start a local server and open the site"));
        const bool serving = m_site && m_services.localServer().isRunning(m_site->id());
        QAction* serve = menu->addAction(serving ? QStringLiteral("Stop Server") : QStringLiteral("Serve"),
                                         this, post(MenuCommand::toggleServe));
        if (!serving)
            serve->setToolTip(QStringLiteral("Start php artisan serve without opening the browser"));
        // What only the CMS offers stays in the menu, disabled, with the reason as its tooltip.
        const bool cms = m_site && siteUsesCMS(*m_site);
        const auto needsCMS = [cms](QAction* action) {
            action->setEnabled(cms);
            if (!cms)
                action->setToolTip(noCMSReason());
            return action;
        };
        needsCMS(menu->addAction(QStringLiteral("Control Panel"), this, post(MenuCommand::openControlPanel)));
        addAssetsAction(menu, m_services, m_site);
        addShareAction(menu, m_services, m_site, window());
        menu->addAction(PlatformTexts::showInFileManager(), this, post(MenuCommand::showInFileManager));
        menu->addSeparator();
        QMenu* commands = menu->addMenu(QStringLiteral("Commands"));
        commands->setToolTipsVisible(true);
        commands->addAction(QStringLiteral("Artisan"), this, [this] { showCommands(false); });
        needsCMS(commands->addAction(QStringLiteral("Keffin"), this, [this] { showCommands(true); }));
        menu->addAction(QStringLiteral("Local Environment"), this, [this] { showLocalEnvironment(); });
        needsCMS(menu->addAction(QStringLiteral("Create User"), this, post(MenuCommand::createUser)));
        menu->addSeparator();
        menu->addAction(QStringLiteral("Delete"), this, post(MenuCommand::deleteSite));
    });
    actions->setMenu(menu);
    header->addWidget(m_openButton, 0, Qt::AlignTop);
    header->addWidget(m_serveButton, 0, Qt::AlignTop);
    header->addWidget(actions, 0, Qt::AlignTop);
    layout->addLayout(header);

    m_error = label(0, false, this);
    m_error->setObjectName("openSiteError");
    m_error->setWordWrap(true);
    setSemanticText(m_error, Semantic::danger);
    layout->addWidget(m_error);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("siteTabs");
    m_overview = new SiteOverviewTab(services, m_tabs);
    connect(m_overview, &SiteOverviewTab::editEnvironmentRequested, this,
            &SiteDetailPane::showLocalEnvironment);
    m_tabs->addTab(m_overview, QStringLiteral("Overview"));
    m_packagesHolder = new QWidget(m_tabs);
    new QVBoxLayout(m_packagesHolder);
    m_packagesHolder->layout()->setContentsMargins(0, 0, 0, 0);
    m_tabs->addTab(m_packagesHolder, QStringLiteral("Packages"));
    m_git = new GitWorkspaceView(services, m_tabs);
    m_tabs->addTab(m_git, QStringLiteral("Git"));
    m_deploy = new DeployTab(services, m_tabs);
    m_tabs->addTab(m_deploy, QStringLiteral("Deploy"));
    m_tabs->addTab(buildActivity(), QStringLiteral("Activity"));
    layout->addWidget(m_tabs, 1);

    // An operation that starts, ends or runs on redraws its row; running ones tick each second.
    m_operationsChanged.setSingleShot(true);
    m_operationsChanged.setInterval(100);
    connect(&m_operationsChanged, &QTimer::timeout, this, &SiteDetailPane::refreshOperations);
    m_runningTick.setInterval(1000);
    connect(&m_runningTick, &QTimer::timeout, this, &SiteDetailPane::refreshOperations);
    followPalette(this, [this] { showStatusChip(); });
    m_logFollow.setSingleShot(true);
    m_logFollow.setInterval(50);
    connect(&m_logFollow, &QTimer::timeout, this, &SiteDetailPane::followLog);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_tabs->currentWidget() == m_packagesHolder)
            showPackages();
    });
    rememberCurrentTab(m_tabs, services.preferences(), QStringLiteral("siteTab"));
    connect(m_openButton, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::openSite); });
    connect(m_serveButton, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::toggleServe); });
    connect(&services, &AppServices::openingChanged, this, &SiteDetailPane::refresh);
    connect(&services.localServer(), &LocalServer::changed, this, &SiteDetailPane::refresh);
    connect(&services.devEnvironment(), &DevEnvironment::changed, this, &SiteDetailPane::showStatusChip);
    connect(&services.appearance(), &SiteAppearanceService::changed, this, [this](const QUuid& id) {
        if (m_site && (id.isNull() || id == m_site->id()))
            showIcon();
    });
    connect(&services.processes().tunnels(), &SiteTunnelService::sessionChanged, this,
            &SiteDetailPane::showStatusChip);
}

QWidget* SiteDetailPane::buildActivity()
{
    m_activity = new QStackedWidget(m_tabs);
    m_activity->addWidget(emptyState(QStringLiteral("view-history"), QStringLiteral("No activity yet"),
                                     QStringLiteral("Commands Halvik runs in this site appear here, with "
                                                    "their output."),
                                     m_activity));
    auto* page = new QWidget(m_activity);
    m_activity->addWidget(page);
    auto* layout = new QVBoxLayout(page);
    auto* split = new QSplitter(Qt::Vertical, page);
    m_operations = new QTreeWidget(split);
    m_operations->setObjectName("operations");
    m_operations->setRootIsDecorated(false);
    m_operations->setUniformRowHeights(true);
    m_operations->setHeaderLabels({QStringLiteral("Command"), QStringLiteral("Kind"), QStringLiteral("State"),
                                   QStringLiteral("Started"), QStringLiteral("Duration"),
                                   QStringLiteral("Exit")});
    // The command takes what is left; the other columns fit their text.
    m_operations->header()->setStretchLastSection(false);
    m_operations->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_operations->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_log = new LiveLogView(split);
    split->addWidget(m_operations);
    split->addWidget(m_log);
    split->setStretchFactor(1, 2);
    layout->addWidget(split);
    m_copyLog =
        new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy log"), page);
    m_copyLog->setEnabled(false);
    auto* copy = m_copyLog;
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(copy);
    layout->addLayout(row);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (m_shownOperation)
            QApplication::clipboard()->setText(m_shownOperation->log());
    });
    connect(m_operations, &QTreeWidget::itemSelectionChanged, this, &SiteDetailPane::showOperation);
    return m_activity;
}

void SiteDetailPane::setSite(SitePtr site)
{
    if (site == m_site) {
        refresh();
        return;
    }
    disconnect(m_siteWatch);
    m_site = std::move(site);
    if (m_site)
        m_siteWatch = connect(m_site.get(), &Record::changed, this, [this] {
            refresh();
            refreshOperations();
        });
    // The Packages tab belongs to one site; a new site gets a fresh one, made when it is shown
    // (it asks Composer for updates as it opens).
    delete m_packages;
    if (m_tabs->currentWidget() == m_packagesHolder)
        showPackages();
    m_overview->setSite(m_site);
    m_git->setSite(m_site);
    m_deploy->setSite(m_site);
    refresh();
    refreshOperations();
}

void SiteDetailPane::showLocalEnvironment()
{
    if (!m_site)
        return;
    // The Overview reads the file again when the sheet closes, whatever the watch saw.
    LocalEnvironmentSheet* sheet = openLocalEnvironment(m_services, m_site, window());
    connect(sheet, &QDialog::finished, m_overview, &SiteOverviewTab::reloadFiles);
}

void SiteDetailPane::showCommands(bool keffin)
{
    if (m_site)
        openConsoleCommands(m_services, m_site, window(), keffin);
}

void SiteDetailPane::showPackages()
{
    if (m_packages || !m_site)
        return;
    m_packages = new PackagesTab(m_services.composer(), m_services.packageUpdates(), m_services.packagist(),
                                 m_site, m_packagesHolder);
    m_packagesHolder->layout()->addWidget(m_packages);
    connect(m_packages, &PackagesTab::addonsRequested, this, [this] {
        if (!m_site)
            return;
        auto* sheet = new AddonBrowserSheet(m_services, m_site, window());
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->open();
    });
}

void SiteDetailPane::refresh()
{
    if (!m_site)
        return;
    m_title->setText(m_site->displayName());
    m_path->setText(m_site->path());
    const LocalServer& server = m_services.localServer();
    const bool opening = m_services.openingSites().contains(m_site->id());
    const bool serving = server.isRunning(m_site->id());
    QString servingText;
    if (opening)
        servingText = QStringLiteral("Opening…");
    else if (const auto url = m_services.siteURL(*m_site))
        servingText =
            QStringLiteral("Opens at <a href=\"%1\">%2</a>")
                .arg(url->toString(QUrl::FullyEncoded).toHtmlEscaped(), url->toString().toHtmlEscaped());
    else if (const auto exit = server.lastExit(m_site->id()))
        servingText = (QStringLiteral("Halvik’s server stopped: ") + *exit).toHtmlEscaped();
    m_serving->setText(servingText);
    showIcon();
    showStatusChip();
    m_serving->setVisible(!servingText.isEmpty());
    m_openButton->setEnabled(!opening);
    m_serveButton->setText(serving ? QStringLiteral("Stop Server") : QStringLiteral("Serve"));
    m_serveButton->setIcon(QIcon::fromTheme(serving ? QStringLiteral("media-playback-stop")
                                                    : QStringLiteral("media-playback-start")));
    // Halvik's server runs artisan: a folder without it cannot be served that way.
    const auto noArtisan = ComposerService::artisanUnavailable(*m_site);
    m_serveButton->setEnabled(serving || !noArtisan);
    m_serveButton->setToolTip(serving || !noArtisan ? QString() : *noArtisan);
    const auto error = m_services.openSiteError(m_site->id());
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
}

void SiteDetailPane::showIcon()
{
    if (!m_site)
        return;
    m_icon->setPixmap(siteIconPixmap(m_services.appearance().favicon(m_site->id()), m_site->displayName(), 40,
                                     devicePixelRatioF()));
}

void SiteDetailPane::showStatusChip()
{
    std::optional<Reachability> answer;
    if (const SiteMapping* mapping = m_site ? m_services.devEnvironment().siteMapping(m_site->id()) : nullptr)
        answer = mapping->reachability;
    const auto chip = [this](const QColor& colour, const QString& text) {
        m_chip->setStyleSheet(
            QStringLiteral(
                "QLabel { color: %1; border: 1px solid %1; border-radius: 8px; padding: 1px 8px; }")
                .arg(colour.name()));
        m_chip->setText(text);
        m_chip->updateGeometry();
    };
    // A public link outranks how the site answers locally: it is what someone else sees now.
    if (m_site) {
        const SiteTunnelService::Session share = m_services.processes().tunnels().session(m_site->id());
        if (share.isActive() && share.url) {
            m_chip->setVisible(true);
            chip(semanticColor(Semantic::info, palette()), QStringLiteral("Shared"));
            m_chip->setToolTip(share.url->toString());
            return;
        }
    }
    m_chip->setVisible(answer.has_value());
    if (!answer)
        return;
    QColor colour = palette().color(QPalette::PlaceholderText);
    QString text = QStringLiteral("Not started");
    if (answer->isServing()) {
        text = QStringLiteral("Answering");
        colour = semanticColor(Semantic::success, palette());
    } else if (answer->kind() == Reachability::Case::checking) {
        text = QStringLiteral("Starting…");
    } else if (answer->isFailing()) {
        text = QStringLiteral("Failing");
        colour = semanticColor(Semantic::danger, palette());
    }
    m_chip->setStyleSheet(
        QStringLiteral("QLabel { color: %1; border: 1px solid %1; border-radius: 8px; padding: 1px 8px; }")
            .arg(colour.name()));
    m_chip->setText(text);
    m_chip->setToolTip(answer->summary());
    m_chip->updateGeometry();
}

void SiteDetailPane::refreshOperations()
{
    const QString selected = m_shownOperation ? m_shownOperation->id().toString() : QString();
    const QSignalBlocker quiet(m_operations);
    m_operations->clear();
    for (const QMetaObject::Connection& watch : std::as_const(m_operationWatches))
        disconnect(watch);
    m_operationWatches.clear();
    m_runningTick.stop();
    if (!m_site)
        return;
    QList<SiteOperationPtr> operations = m_site->operations();
    m_activity->setCurrentIndex(operations.isEmpty() ? 0 : 1);
    for (const SiteOperationPtr& operation : std::as_const(operations)) {
        m_operationWatches << connect(operation.get(), &Record::changed, this, [this] {
            if (!m_operationsChanged.isActive())
                m_operationsChanged.start();
        });
        if (operation->isRunning())
            m_runningTick.start();
    }
    std::stable_sort(
        operations.begin(), operations.end(),
        [](const SiteOperationPtr& a, const SiteOperationPtr& b) { return a->startedAt() > b->startedAt(); });
    for (const SiteOperationPtr& operation : std::as_const(operations)) {
        auto* item = new QTreeWidgetItem(m_operations);
        item->setText(0, operation->command());
        item->setText(1, operation->kindRaw());
        item->setText(2, operation->isRunning()       ? QStringLiteral("Running")
                         : operation->exitCode() == 0 ? QStringLiteral("Succeeded")
                                                      : QStringLiteral("Failed"));
        item->setText(3,
                      operation->startedAt().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(4, duration(*operation));
        item->setText(5, operation->exitCode() ? QString::number(*operation->exitCode()) : QString());
        item->setData(0, Qt::UserRole, operation->id().toString());
        if (item->data(0, Qt::UserRole).toString() == selected)
            item->setSelected(true);
    }
}

void SiteDetailPane::showOperation()
{
    disconnect(m_operationWatch);
    m_shownOperation.reset();
    m_shownLength = 0;
    m_log->clear();
    const QList<QTreeWidgetItem*> selected = m_operations->selectedItems();
    m_copyLog->setEnabled(false);
    if (selected.isEmpty() || !m_site)
        return;
    const QString id = selected.first()->data(0, Qt::UserRole).toString();
    for (const SiteOperationPtr& operation : m_site->operations())
        if (operation->id().toString() == id)
            m_shownOperation = operation;
    if (!m_shownOperation)
        return;
    m_copyLog->setEnabled(true);
    followLog();
    // A running operation's new lines follow as they come, gathered so that a flood of lines
    // costs one update per 50 ms rather than one per line.
    m_operationWatch = connect(m_shownOperation.get(), &Record::changed, this, [this] {
        if (!m_logFollow.isActive())
            m_logFollow.start();
    });
}

void SiteDetailPane::followLog()
{
    if (!m_shownOperation)
        return;
    const QString log = m_shownOperation->log();
    if (log.size() < m_shownLength) {
        m_log->setLog(log);
    } else if (log.size() > m_shownLength) {
        QStringView added = QStringView(log).mid(m_shownLength);
        if (m_shownLength > 0 && added.startsWith(QLatin1Char('\n')))
            added = added.mid(1);
        if (m_shownLength == 0)
            m_log->setLog(log);
        else
            m_log->appendBatch(added.toString());
    }
    m_shownLength = log.size();
}

} // namespace halvik::views
