#include "views/window/MainWindow.h"

#include "views/accounts/HostsPage.h"
#include "views/accounts/RemoteRepositoryActions.h"
#include "views/cloning/CloneSheet.h"
#include "views/common/FileManager.h"
#include "views/common/PageCommands.h"
#include "views/common/PlaceholderPage.h"
#include "views/environment/EnvironmentPage.h"
#include "views/help/HelpMenu.h"
#include "views/newsite/NewSiteSheet.h"
#include "views/settings/GeneralSettingsPane.h"
#include "views/settings/RuntimeSettingsPane.h"
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
#include <QClipboard>
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
const QStringList kSingleSiteCommands{
    MenuCommand::openSite,          MenuCommand::openControlPanel,
    MenuCommand::showInFileManager, MenuCommand::openInEditor,
    MenuCommand::createUser,        MenuCommand::cloneSite,
    MenuCommand::toggleServe,       QStringLiteral("createRemoteRepository")};
// Of those, the ones only a site running the CMS has.
const QStringList kCMSCommands{MenuCommand::openControlPanel, MenuCommand::createUser};

QString sectionIcon(SidebarSection section)
{
    switch (section) {
    case SidebarSection::sites:
        return QStringLiteral("applications-internet");
    case SidebarSection::hosts:
        return QStringLiteral("network-server");
    case SidebarSection::sourceControl:
        return QStringLiteral("vcs-branch");
    case SidebarSection::environment:
        return QStringLiteral("utilities-terminal");
    case SidebarSection::settings:
        return QStringLiteral("configure");
    }
    return {};
}

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
    resize(defaultSize);

    m_sitesPage = new SitesPage(services, this);
    m_pages = new QStackedWidget(this);
    // The other sections are built the first time they are shown, so the window's first frame
    // waits only for the page it shows.
    for (SidebarSection section : allCases<SidebarSection>())
        m_pages->addWidget(section == SidebarSection::sites ? m_sitesPage : new QWidget(m_pages));
    m_builtSections.insert(int(SidebarSection::sites));

    buildSidebar();
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_sidebar);
    splitter->addWidget(m_pages);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({180, 1000});
    splitter->setObjectName("mainSplitter");
    setCentralWidget(splitter);
    rememberGeometry(this, services.preferences(), QStringLiteral("mainGeometry"));
    rememberSplitter(splitter, services.preferences(), QStringLiteral("mainSplitter"));

    // The status bar frames each visible item: an empty message is hidden, not an empty frame.
    m_status = new QLabel(this);
    m_status->setObjectName("statusMessage");
    statusBar()->addWidget(m_status, 1);
    m_status->hide();
    const auto showStatus = [this] {
        // A save the disk refused matters more than a passing note.
        const QString message =
            m_services.saveProblem().value_or(m_services.busyMessage().value_or(QString()));
        m_status->setText(message);
        m_status->setVisible(!message.isEmpty());
    };
    connect(&services, &AppServices::busyMessageChanged, this, showStatus);
    connect(&services, &AppServices::saveProblemChanged, this, showStatus);

    buildMenus();
    // Rows, header chip and the Environment list follow servers and runtimes as they change.
    services.devEnvironment().keepCurrent();
    connect(&services.commands(), &CommandCenter::posted, this, &MainWindow::handleCommand);
    connect(&services, &AppServices::selectionChanged, this, &MainWindow::updateActions);
    connect(&services.localServer(), &LocalServer::changed, this, &MainWindow::updateActions);
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
        item->setIcon(0, QIcon::fromTheme(sectionIcon(section)));
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
    file->setToolTipsVisible(true); // a disabled New Site says why
    addCommand(file, QStringLiteral("New Site…"), MenuCommand::newSite, QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(file, QStringLiteral("Import Existing…"), MenuCommand::importSite,
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_I));
    addCommand(file, QStringLiteral("Import All Quillmar Sites…"), MenuCommand::importAllSites);
    file->addSeparator();
    QAction* settings =
        file->addAction(QIcon::fromTheme(QStringLiteral("configure")), QStringLiteral("Settings…"));
    // Not every desktop defines a Preferences key; Ctrl+, works on all of them. Settings are
    // one section of the window, so there is one set of panes to keep right.
    // Where the desktop's Preferences key is Ctrl+, too, binding it twice would make the key
    // ambiguous and fire nothing.
    QList<QKeySequence> settingsKeys{QKeySequence(Qt::CTRL | Qt::Key_Comma)};
    for (const QKeySequence& keys : QKeySequence::keyBindings(QKeySequence::Preferences))
        if (!settingsKeys.contains(keys))
            settingsKeys << keys;
    settings->setShortcuts(settingsKeys);
    settings->setObjectName("settings");
    connect(settings, &QAction::triggered, this,
            [this] { m_services.setSelectedSection(SidebarSection::settings); });
    QAction* quit = file->addAction(QStringLiteral("Quit Halvik"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* find = view->addAction(QStringLiteral("Find Site"), QKeySequence::Find);
    find->setObjectName("findSite");
    connect(find, &QAction::triggered, this, [this] {
        if (PageCommands::routeToFocusedPage(PageCommands::Command::find))
            return;
        m_services.setSelectedSection(SidebarSection::sites);
        m_sitesPage->searchField()->setFocus(Qt::ShortcutFocusReason);
        m_sitesPage->searchField()->selectAll();
    });
    QAction* refresh = view->addAction(QStringLiteral("Refresh"), QKeySequence::Refresh);
    refresh->setObjectName("refresh");
    refresh->setToolTip(QStringLiteral("Look again at how each site is served and whether it answers"));
    connect(refresh, &QAction::triggered, this, [this] {
        if (!PageCommands::routeToFocusedPage(PageCommands::Command::refresh))
            fireAndForget(this, m_services.devEnvironment().refresh());
    });
    view->addSeparator();
    int number = 1;
    for (SidebarSection section : allCases<SidebarSection>()) {
        QAction* show = view->addAction(title(section), QKeySequence(Qt::CTRL | (Qt::Key_0 + number++)));
        show->setObjectName(QStringLiteral("show-") + toRaw(section));
        connect(show, &QAction::triggered, this, [this, section] { m_services.setSelectedSection(section); });
    }

    QMenu* site = menuBar()->addMenu(QStringLiteral("&Site"));
    site->setToolTipsVisible(true); // disabled items say why
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
    // "Serve", or "Stop Server" while the selected site's server runs (updateActions).
    addCommand(site, QStringLiteral("Serve"), MenuCommand::toggleServe, QKeySequence(Qt::CTRL | Qt::Key_R));
    site->addSeparator();
    addCommand(site, QStringLiteral("Create Remote Repository…"), QStringLiteral("createRemoteRepository"));
    setCommandHandler(QStringLiteral("createRemoteRepository"), [this] {
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

    new HelpMenu(m_services, this);

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
    setCommandHandler(MenuCommand::newSite, [this] {
        auto* sheet = new NewSiteSheet(m_services, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->load();
        sheet->open();
    });
    setCommandHandler(MenuCommand::cloneSite, [this] {
        if (const auto sites = selectedSites(); sites.size() == 1) {
            auto* sheet = new CloneSheet(m_services, sites.first()->id(), this);
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            sheet->open();
        }
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
    const QList<SitePtr> sites = selectedSites();
    const int selected = int(sites.size());
    const bool cms = selected == 1 && siteUsesCMS(*sites.first());
    for (auto it = m_actions.begin(); it != m_actions.end(); ++it) {
        bool enabled = m_handlers.contains(it.key());
        if (kSingleSiteCommands.contains(it.key()))
            enabled = enabled && selected == 1;
        if (it.key() == MenuCommand::deleteSite)
            enabled = enabled && selected > 0;
        const bool lacksCMS = selected == 1 && kCMSCommands.contains(it.key()) && !cms;
        it.value()->setEnabled(enabled && !lacksCMS);
        if (kCMSCommands.contains(it.key()))
            it.value()->setToolTip(lacksCMS ? noCMSReason() : QString());
    }
    // The Sites page's own buttons for window commands follow the menu items.
    for (const QString& command :
         {MenuCommand::newSite, MenuCommand::importSite, MenuCommand::importAllSites})
        if (QAction* pageAction = m_sitesPage->commandAction(command);
            pageAction && m_actions.value(command)) {
            const bool available = m_actions.value(command)->isEnabled();
            pageAction->setEnabled(available);
        }
    if (QAction* serve = m_actions.value(MenuCommand::toggleServe))
        serve->setText(selected == 1 && m_services.localServer().isRunning(sites.first()->id())
                           ? QStringLiteral("Stop Server")
                           : QStringLiteral("Serve"));
}

QWidget* MainWindow::buildSection(SidebarSection section)
{
    switch (section) {
    case SidebarSection::sites:
        return m_sitesPage;
    case SidebarSection::settings:
        return settingsSection(m_services, m_pages);
    case SidebarSection::environment:
        return new EnvironmentPage(m_services, m_pages);
    case SidebarSection::hosts:
        return new HostsPage(m_services, m_pages);
    case SidebarSection::sourceControl:
        return new SourceControlPage(m_services.sourceControl(), m_pages);
    }
    return emptySection(title(section), m_pages);
}

void MainWindow::showSection(SidebarSection section)
{
    const int index = static_cast<int>(section);
    if (!m_builtSections.contains(index)) {
        m_builtSections.insert(index);
        replacePlaceholder(m_pages, index, buildSection(section));
    }
    m_pages->setCurrentIndex(index);
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
    menu->setToolTipsVisible(true);
    if (selectedSites().size() == 1) {
        menu->addAction(QStringLiteral("Open Site"), this,
                        [this] { m_services.commands().post(MenuCommand::openSite); });
        QAction* panel = menu->addAction(QStringLiteral("Control Panel"), this, [this] {
            m_services.commands().post(MenuCommand::openControlPanel);
        });
        if (!siteUsesCMS(*selectedSites().first())) {
            panel->setEnabled(false);
            panel->setToolTip(noCMSReason());
        }
        const bool serving = m_services.localServer().isRunning(selectedSites().first()->id());
        menu->addAction(serving ? QStringLiteral("Stop Server") : QStringLiteral("Serve"), this,
                        [this] { m_services.commands().post(MenuCommand::toggleServe); });
        addShareAction(menu, m_services, selectedSites().first(), this);
        menu->addSeparator();
    }
    if (selectedSites().size() == 1)
        if (const auto job = m_sitesPage->jobState(selectedSites().first()->id());
            job && !job->log.isEmpty()) {
            menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy log"), this,
                            [log = job->log] { QApplication::clipboard()->setText(log); });
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

} // namespace halvik::views
