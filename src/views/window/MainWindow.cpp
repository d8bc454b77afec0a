#include "views/window/MainWindow.h"

#include "views/accounts/HostsPage.h"
#include "views/accounts/RemoteRepositoryActions.h"
#include "views/common/FileManager.h"
#include "views/environment/EnvironmentPage.h"
#include "views/settings/GeneralSettingsPane.h"
#include "views/settings/RuntimeSettingsPane.h"
#include "views/settings/SettingsWindow.h"
#include "views/sharing/ShareActions.h"
#include "views/site/PackageActions.h"
#include "views/sites/ImportActions.h"

#include "services/serving/LocalServer.h"
#include "views/accounts/SourceControlPage.h"
#include "views/sites/SitesPage.h"
#include "views/window/WindowMemory.h"

#include "app/DevEnvironment.h"
#include "async/FireAndForget.h"
#include "platform/PlatformTexts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

// Commands that act on the selected site and need exactly one.
const QStringList kSingleSiteCommands{MenuCommand::openSite,          MenuCommand::openControlPanel,
                                      MenuCommand::showInFileManager, MenuCommand::openInEditor,
                                      MenuCommand::createUser,        MenuCommand::cloneSite,
                                      MenuCommand::toggleServe};

QWidget* emptySection(const QString& title, QWidget* parent)
{
    // Sections whose features have not landed yet show their title and nothing else.
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(title, page);
    QFont font = label->font();
    font.setPointSize(font.pointSize() + 6);
    font.setBold(true);
    label->setFont(font);
    layout->addWidget(label);
    layout->addStretch();
    return page;
}

// The Settings section: what has landed so far, scrollable in a short window.
QWidget* settingsSection(AppServices& services, QWidget* parent)
{
    auto* page = emptySection(title(SidebarSection::settings), parent);
    auto* scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    content->setMaximumWidth(720);
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* general = new GeneralSettingsPane(services, content);
    general->setObjectName("generalSettings");
    auto* pane = new RuntimeSettingsPane(services.runtime(), content);
    pane->setObjectName("runtimeSettings");
    stack->addWidget(general);
    stack->addWidget(pane, 1);
    scroll->setWidget(content);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    layout->insertWidget(1, scroll, 1);
    delete layout->takeAt(2); // the stretch: the scroll area fills the page
    return page;
}

} // namespace

MainWindow::MainWindow(AppServices& services, QWidget* parent) : QMainWindow(parent), m_services(services)
{
    setWindowTitle(QStringLiteral("Halvik"));
    resize(1180, 760);

    m_sitesPage = new SitesPage(services, this);
    m_pages = new QStackedWidget(this);
    for (SidebarSection section : allCases<SidebarSection>())
        m_pages->addWidget(section == SidebarSection::sites         ? m_sitesPage
                           : section == SidebarSection::settings    ? settingsSection(services, m_pages)
                           : section == SidebarSection::environment ? new EnvironmentPage(services, m_pages)
                           : section == SidebarSection::hosts       ? new HostsPage(services, m_pages)
                           : section == SidebarSection::sourceControl
                               ? new SourceControlPage(services.sourceControl(), m_pages)
                               : emptySection(title(section), m_pages));

    buildSidebar();
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_sidebar);
    splitter->addWidget(m_pages);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({200, 980});
    splitter->setObjectName("mainSplitter");
    setCentralWidget(splitter);
    rememberGeometry(this, services.preferences(), QStringLiteral("mainGeometry"));
    rememberSplitter(splitter, services.preferences(), QStringLiteral("mainSplitter"));

    m_status = new QLabel(this);
    statusBar()->addWidget(m_status, 1);
    connect(&services, &AppServices::busyMessageChanged, this,
            [this] { m_status->setText(m_services.busyMessage().value_or(QString())); });

    buildMenus();
    connect(&services.commands(), &CommandCenter::posted, this, &MainWindow::handleCommand);
    connect(&services, &AppServices::selectionChanged, this, &MainWindow::updateActions);
    // The section and the site shown last time come back (the site once the store has loaded);
    // the choices are kept as they change.
    if (auto section = fromRaw<SidebarSection>(services.preferences().windowState("section").toString()))
        services.setSelectedSection(*section);
    if (const QUuid site(services.preferences().windowState("site").toString()); !site.isNull()) {
        services.setSelectedSiteIDs({site});
        services.setSelectedSiteID(site);
    }
    connect(&services, &AppServices::selectionChanged, this, [this] {
        const auto site = m_services.selectedSiteID();
        m_services.preferences().setWindowState(QStringLiteral("site"), site ? site->toString() : QString());
    });
    connect(&services, &AppServices::selectedSectionChanged, this, [this] {
        showSection(m_services.selectedSection());
        m_services.preferences().setWindowState(QStringLiteral("section"),
                                                toRaw(m_services.selectedSection()));
    });
    connect(m_sitesPage, &SitesPage::contextMenuRequested, this, &MainWindow::showSiteContextMenu);
    showSection(services.selectedSection());
    installImportActions(*this, services);
    installPackageActions(*this, services);
    updateActions();
}

void MainWindow::buildSidebar()
{
    m_sidebar = new QTreeWidget(this);
    m_sidebar->setObjectName("sidebar");
    m_sidebar->setHeaderHidden(true);
    m_sidebar->setRootIsDecorated(true);
    m_sidebar->setMinimumWidth(170);
    const auto group = [this](const QString& title) {
        auto* item = new QTreeWidgetItem(m_sidebar, {title});
        item->setFlags(Qt::ItemIsEnabled);
        QFont font = item->font(0);
        font.setBold(true);
        item->setFont(0, font);
        item->setExpanded(true);
        return item;
    };
    QTreeWidgetItem* local = group(QStringLiteral("Local"));
    QTreeWidgetItem* configuration = group(QStringLiteral("Configuration"));
    for (SidebarSection section : allCases<SidebarSection>()) {
        auto* item =
            new QTreeWidgetItem(section == SidebarSection::sites ? local : configuration, {title(section)});
        item->setData(0, Qt::UserRole, static_cast<int>(section));
    }
    m_sidebar->expandAll();
    connect(m_sidebar, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item && item->data(0, Qt::UserRole).isValid())
            m_services.setSelectedSection(static_cast<SidebarSection>(item->data(0, Qt::UserRole).toInt()));
    });
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& title, const QString& commandName,
                                const QKeySequence& shortcut)
{
    QAction* action = menu->addAction(title);
    action->setShortcut(shortcut);
    action->setObjectName(commandName);
    connect(action, &QAction::triggered, this,
            [this, commandName] { m_services.commands().post(commandName); });
    m_actions.insert(commandName, action);
    return action;
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    addCommand(file, QStringLiteral("New Site…"), MenuCommand::newSite, QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(file, QStringLiteral("Import Existing…"), MenuCommand::importSite,
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_I));
    addCommand(file, QStringLiteral("Import All Quillmar Sites…"), MenuCommand::importAllSites);
    file->addSeparator();
    QAction* settings = file->addAction(QStringLiteral("Settings…"));
    // Not every desktop defines a Preferences key; Ctrl+, works on all of them.
    settings->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Comma), QKeySequence(QKeySequence::Preferences)});
    settings->setObjectName("settings");
    connect(settings, &QAction::triggered, this, [this] {
        settingsWindow()->show();
        settingsWindow()->raise();
    });
    QAction* quit = file->addAction(QStringLiteral("Quit Halvik"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* find = view->addAction(QStringLiteral("Find Site"), QKeySequence::Find);
    find->setObjectName("findSite");
    connect(find, &QAction::triggered, this, [this] {
        m_services.setSelectedSection(SidebarSection::sites);
        m_sitesPage->searchField()->setFocus(Qt::ShortcutFocusReason);
        m_sitesPage->searchField()->selectAll();
    });
    QAction* refresh = view->addAction(QStringLiteral("Refresh"), QKeySequence::Refresh);
    refresh->setObjectName("refresh");
    refresh->setToolTip(QStringLiteral("Look again at how each site is served and whether it answers"));
    connect(refresh, &QAction::triggered, this,
            [this] { fireAndForget(this, m_services.devEnvironment().refresh()); });
    view->addSeparator();
    int number = 1;
    for (SidebarSection section : allCases<SidebarSection>()) {
        QAction* show = view->addAction(title(section), QKeySequence(Qt::CTRL | (Qt::Key_0 + number++)));
        show->setObjectName(QStringLiteral("show-") + toRaw(section));
        connect(show, &QAction::triggered, this, [this, section] { m_services.setSelectedSection(section); });
    }

    QMenu* site = menuBar()->addMenu(QStringLiteral("&Site"));
    addCommand(site, QStringLiteral("Open Site"), MenuCommand::openSite,
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_O));
    addCommand(site, QStringLiteral("Open Control Panel"), MenuCommand::openControlPanel,
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_P));
    addCommand(site, PlatformTexts::showInFileManager(), MenuCommand::showInFileManager,
               QKeySequence(Qt::ALT | Qt::CTRL | Qt::Key_F));
    addCommand(site, QStringLiteral("Open in Editor"), MenuCommand::openInEditor,
               QKeySequence(Qt::CTRL | Qt::Key_E));
    site->addSeparator();
    addCommand(site, QStringLiteral("Create User…"), MenuCommand::createUser);
    site->addSeparator();
    addCommand(site, QStringLiteral("Clone Site…"), MenuCommand::cloneSite,
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_D));
    site->addSeparator();
    addCommand(site, QStringLiteral("Serve / Stop"), MenuCommand::toggleServe,
               QKeySequence(Qt::CTRL | Qt::Key_R));
    site->addSeparator();
    site->addAction(QStringLiteral("Create Remote Repository…"), this, [this] {
        const auto sites = selectedSites();
        if (sites.size() == 1)
            openCreateRepository(m_services, sites.first(), this);
    });
    site->addSeparator();
    QAction* deleteSites =
        addCommand(site, QStringLiteral("Delete Site…"), MenuCommand::deleteSite, QKeySequence::Delete);
    // Delete acts only while the sites list has the focus, never on a key meant for a list elsewhere.
    deleteSites->setShortcutContext(Qt::WidgetShortcut);
    m_sitesPage->list()->addAction(deleteSites);

    // What exists today: revealing a folder, opening it in the editor, deleting.
    setCommandHandler(MenuCommand::showInFileManager, [this] {
        const auto sites = selectedSites();
        if (sites.size() == 1)
            showInFileManager(sites.first()->path());
    });
    setCommandHandler(MenuCommand::openInEditor, [this] {
        const auto sites = selectedSites();
        if (sites.size() == 1)
            fireAndForget(this, m_services.preferences().openInEditor(sites.first()->path()));
    });
    setCommandHandler(MenuCommand::deleteSite,
                      [this] { fireAndForget(this, m_services.promptDeleteSites(selectedSites())); });
    setCommandHandler(MenuCommand::openSite, [this] {
        if (const auto sites = selectedSites(); sites.size() == 1)
            fireAndForget(this, m_services.openInBrowser(sites.first(), false));
    });
    setCommandHandler(MenuCommand::openControlPanel, [this] {
        if (const auto sites = selectedSites(); sites.size() == 1)
            fireAndForget(this, m_services.openInBrowser(sites.first(), true));
    });
    setCommandHandler(MenuCommand::toggleServe, [this] {
        if (const auto sites = selectedSites(); sites.size() == 1)
            m_services.toggleLocalServer(sites.first());
    });
}

void MainWindow::setCommandHandler(const QString& commandName, std::function<void()> handler)
{
    m_handlers.insert(commandName, std::move(handler));
    updateActions();
}

void MainWindow::handleCommand(const QString& name, const QString& argument)
{
    if (name == MenuCommand::requestDeleteSite) {
        if (auto site = m_services.store().site(QUuid::fromString(argument)))
            fireAndForget(this, m_services.promptDeleteSites({site}));
        return;
    }
    if (auto handler = m_handlers.value(name))
        handler();
}

void MainWindow::updateActions()
{
    const int selected = int(selectedSites().size());
    for (auto it = m_actions.begin(); it != m_actions.end(); ++it) {
        bool enabled = m_handlers.contains(it.key());
        if (kSingleSiteCommands.contains(it.key()))
            enabled = enabled && selected == 1;
        if (it.key() == MenuCommand::deleteSite)
            enabled = enabled && selected > 0;
        it.value()->setEnabled(enabled);
    }
}

void MainWindow::showSection(SidebarSection section)
{
    m_pages->setCurrentIndex(static_cast<int>(section));
    for (QTreeWidgetItemIterator it(m_sidebar); *it; ++it)
        if ((*it)->data(0, Qt::UserRole).isValid() &&
            (*it)->data(0, Qt::UserRole).toInt() == static_cast<int>(section))
            m_sidebar->setCurrentItem(*it);
}

QList<SitePtr> MainWindow::selectedSites() const
{
    return m_sitesPage->selectedSites();
}

void MainWindow::showSiteContextMenu(const QPoint& globalPosition)
{
    // Popped up, not run in a loop of its own: the window goes on while it is open.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (selectedSites().size() == 1) {
        menu->addAction(QStringLiteral("Open Site"), this,
                        [this] { m_services.commands().post(MenuCommand::openSite); });
        menu->addAction(QStringLiteral("Control Panel"), this,
                        [this] { m_services.commands().post(MenuCommand::openControlPanel); });
        const bool serving = m_services.localServer().isRunning(selectedSites().first()->id());
        menu->addAction(serving ? QStringLiteral("Stop Serving") : QStringLiteral("Serve"), this,
                        [this] { m_services.commands().post(MenuCommand::toggleServe); });
        addShareAction(menu, m_services, selectedSites().first(), this);
        menu->addSeparator();
    }
    if (selectedSites().size() == 1)
        menu->addAction(QStringLiteral("Open in Editor"), this,
                        [this] { m_services.commands().post(MenuCommand::openInEditor); });
    if (m_handlers.contains(MenuCommand::showInFileManager) && selectedSites().size() == 1)
        menu->addAction(PlatformTexts::showInFileManager(), this,
                        [this] { m_services.commands().post(MenuCommand::showInFileManager); });
    menu->addAction(QStringLiteral("Delete"), this,
                    [this] { m_services.commands().post(MenuCommand::deleteSite); });
    menu->popup(globalPosition);
}

SettingsWindow* MainWindow::settingsWindow()
{
    if (!m_settings)
        m_settings = new SettingsWindow(m_services, this);
    return m_settings;
}

} // namespace halvik::views
