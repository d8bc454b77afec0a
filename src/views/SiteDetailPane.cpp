#include "SiteDetailPane.h"

#include "LiveLogView.h"
#include "PackageActions.h"
#include "PackagesTab.h"
#include "SiteOverviewTab.h"

#include "app/AppServices.h"
#include "app/MenuCommands.h"
#include "services/serving/LocalServer.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
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

QWidget* comingLater(const QString& text, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* note = new QLabel(text, page);
    note->setAlignment(Qt::AlignCenter);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(note);
    return page;
}

QString duration(const SiteOperation& operation)
{
    if (!operation.finishedAt())
        return QStringLiteral("Running");
    const qint64 ms = operation.startedAt().msecsTo(*operation.finishedAt());
    return ms < 1000 ? QStringLiteral("%1 ms").arg(ms) : QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

} // namespace

SiteDetailPane::SiteDetailPane(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    auto* names = new QVBoxLayout;
    m_title = label(6, true, this);
    m_path = label(0, false, this);
    m_path->setForegroundRole(QPalette::PlaceholderText);
    m_serving = label(0, false, this);
    m_serving->setObjectName("siteServing");
    m_serving->setOpenExternalLinks(false);
    names->addWidget(m_title);
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
    menu->addAction(QStringLiteral("Open Control Panel"), this,
                    [this] { m_services.commands().post(MenuCommand::openControlPanel); });
    menu->addAction(QStringLiteral("Commands…"), this, [this] {
        if (m_site)
            openConsoleCommands(m_services, m_site, window());
    });
    menu->addAction(QStringLiteral("Local Environment…"), this, [this] {
        if (m_site)
            openLocalEnvironment(m_services, m_site, window());
    });
    menu->addAction(QStringLiteral("Create User…"), this,
                    [this] { m_services.commands().post(MenuCommand::createUser); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Open in Editor"), this,
                    [this] { m_services.commands().post(MenuCommand::openInEditor); });
    menu->addAction(QStringLiteral("Delete Site…"), this,
                    [this] { m_services.commands().post(MenuCommand::deleteSite); });
    actions->setMenu(menu);
    header->addWidget(m_openButton, 0, Qt::AlignTop);
    header->addWidget(m_serveButton, 0, Qt::AlignTop);
    header->addWidget(actions, 0, Qt::AlignTop);
    layout->addLayout(header);

    m_error = label(0, false, this);
    m_error->setObjectName("openSiteError");
    m_error->setWordWrap(true);
    QPalette warning = m_error->palette();
    warning.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
    m_error->setPalette(warning);
    layout->addWidget(m_error);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("siteTabs");
    m_overview = new SiteOverviewTab(services, m_tabs);
    m_tabs->addTab(m_overview, QStringLiteral("Overview"));
    m_packagesHolder = new QWidget(m_tabs);
    new QVBoxLayout(m_packagesHolder);
    m_packagesHolder->layout()->setContentsMargins(0, 0, 0, 0);
    m_tabs->addTab(m_packagesHolder, QStringLiteral("Packages"));
    m_tabs->addTab(comingLater(QStringLiteral("The Git tab is not part of this version yet."), m_tabs),
                   QStringLiteral("Git"));
    m_tabs->setTabEnabled(2, false);
    m_tabs->setTabToolTip(2, QStringLiteral("The Git tab is not part of this version yet."));
    m_tabs->addTab(comingLater(QStringLiteral("Deploying needs a hosting account."), m_tabs),
                   QStringLiteral("Deploy"));
    m_tabs->setTabEnabled(3, false);
    m_tabs->setTabToolTip(3, QStringLiteral("Deploying comes with hosting accounts, in a later version."));
    m_tabs->addTab(buildActivity(), QStringLiteral("Activity"));
    layout->addWidget(m_tabs, 1);

    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_tabs->currentWidget() == m_packagesHolder)
            showPackages();
    });
    connect(m_openButton, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::openSite); });
    connect(m_serveButton, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::toggleServe); });
    connect(&services, &AppServices::openingChanged, this, &SiteDetailPane::refresh);
    connect(&services.localServer(), &LocalServer::changed, this, &SiteDetailPane::refresh);
}

QWidget* SiteDetailPane::buildActivity()
{
    auto* page = new QWidget(m_tabs);
    auto* layout = new QVBoxLayout(page);
    auto* split = new QSplitter(Qt::Vertical, page);
    m_operations = new QTreeWidget(split);
    m_operations->setObjectName("operations");
    m_operations->setRootIsDecorated(false);
    m_operations->setUniformRowHeights(true);
    m_operations->setHeaderLabels({QStringLiteral("Command"), QStringLiteral("Kind"), QStringLiteral("State"),
                                   QStringLiteral("Started"), QStringLiteral("Duration"),
                                   QStringLiteral("Exit")});
    m_operations->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_log = new LiveLogView(split);
    split->addWidget(m_operations);
    split->addWidget(m_log);
    split->setStretchFactor(1, 2);
    layout->addWidget(split);
    auto* copy =
        new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy log"), page);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(copy);
    layout->addLayout(row);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (m_shownOperation)
            QApplication::clipboard()->setText(m_shownOperation->log());
    });
    connect(m_operations, &QTreeWidget::itemSelectionChanged, this, &SiteDetailPane::showOperation);
    return page;
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
    refresh();
    refreshOperations();
}

void SiteDetailPane::showPackages()
{
    if (m_packages || !m_site)
        return;
    m_packages = new PackagesTab(m_services.composer(), m_services.packageUpdates(), m_services.packagist(),
                                 m_site, m_packagesHolder);
    m_packagesHolder->layout()->addWidget(m_packages);
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
        servingText = QStringLiteral("Opens at ") + url->toString();
    else if (const auto exit = server.lastExit(m_site->id()))
        servingText = QStringLiteral("Halvik’s server stopped: ") + *exit;
    m_serving->setText(servingText);
    m_serving->setVisible(!servingText.isEmpty());
    m_openButton->setEnabled(!opening);
    m_serveButton->setText(serving ? QStringLiteral("Stop") : QStringLiteral("Serve"));
    m_serveButton->setIcon(QIcon::fromTheme(serving ? QStringLiteral("media-playback-stop")
                                                    : QStringLiteral("media-playback-start")));
    const auto error = m_services.openSiteError(m_site->id());
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
}

void SiteDetailPane::refreshOperations()
{
    const QString selected = m_shownOperation ? m_shownOperation->id().toString() : QString();
    const QSignalBlocker quiet(m_operations);
    m_operations->clear();
    if (!m_site)
        return;
    QList<SiteOperationPtr> operations = m_site->operations();
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
    if (selected.isEmpty() || !m_site)
        return;
    const QString id = selected.first()->data(0, Qt::UserRole).toString();
    for (const SiteOperationPtr& operation : m_site->operations())
        if (operation->id().toString() == id)
            m_shownOperation = operation;
    if (!m_shownOperation)
        return;
    followLog();
    // A running operation's new lines follow as they come.
    m_operationWatch = connect(m_shownOperation.get(), &Record::changed, this, &SiteDetailPane::followLog);
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
