#include "views/sites/SitesPage.h"
#include "app/MenuCommands.h"

#include "app/DevEnvironment.h"
#include "app/InstallCoordinator.h"
#include "app/PackageUpdateCoordinator.h"
#include "app/SiteCloneCoordinator.h"
#include "services/cloning/CloneJob.h"
#include "services/newsite/InstallJob.h"
#include "services/serving/LocalServer.h"

#include "services/appearance/SiteAppearanceService.h"
#include "views/common/PlaceholderPage.h"
#include "views/common/SemanticColors.h"
#include "views/site/SiteDetailPane.h"
#include "views/sites/SiteListModel.h"
#include "views/sites/SiteRowDelegate.h"
#include "views/window/WindowMemory.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

enum DetailPage
{
    emptyPage,
    sitePage,
    multiPage,
    noSitesPage
};

QLabel* makeLabel(const QString& text, int pointDelta, bool bold, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSize(font.pointSize() + pointDelta);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* centred(std::initializer_list<QWidget*> widgets, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    for (QWidget* w : widgets)
        layout->addWidget(w);
    layout->addStretch();
    return page;
}

} // namespace

SitesPage::SitesPage(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    m_model = new SiteListModel(services.store(), this);
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_model);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);

    auto* column = new QWidget(this);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    m_toolbar = new QToolBar(tr("Sites"), column);
    m_toolbar->setObjectName("sitesToolbar");
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolbar->setMovable(false); // no handle: its width goes to the buttons
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_toolbar->setIconSize(QSize(small, small));
    const QList<std::tuple<QString, QString, QString, QString>> commands{
        {MenuCommand::newSite, QStringLiteral("New Site"), QStringLiteral("list-add"),
         QStringLiteral("toolbarNewSite")},
        {MenuCommand::importSite, QStringLiteral("Import Existing"), QStringLiteral("document-import"),
         QStringLiteral("toolbarImportExisting")},
        {MenuCommand::importAllSites, QStringLiteral("Import All"), QStringLiteral("folder-download"),
         QStringLiteral("toolbarImportAll")}};
    for (const auto& [command, text, icon, name] : commands) {
        auto* action = new QAction(QIcon::fromTheme(icon), text, m_toolbar);
        action->setObjectName(name);
        action->setEnabled(false); // until the window says the command is available
        connect(action, &QAction::triggered, this, [this, command] { m_services.commands().post(command); });
        m_toolbar->addAction(action);
        m_commandActions.insert(command, action);
    }
    // Sorting lives at the far end of the toolbar, after the import actions added later.
    m_sortMenu = new QMenu(QStringLiteral("Sort By"), this);
    auto* sortGroup = new QActionGroup(m_sortMenu);
    for (ListSortOrder order : allCases<ListSortOrder>()) {
        QAction* action = m_sortMenu->addAction(order == ListSortOrder::name     ? QStringLiteral("Name")
                                                : order == ListSortOrder::newest ? QStringLiteral("Newest")
                                                                                 : QStringLiteral("Oldest"));
        action->setCheckable(true);
        action->setChecked(order == services.preferences().sitesSort());
        sortGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, order] {
            m_services.preferences().setSitesSort(order);
            applySort(order);
        });
    }
    auto* sortButton = new QToolButton(this);
    sortButton->setObjectName("sortSites");
    sortButton->setText(QStringLiteral("Sort By"));
    sortButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    sortButton->setIcon(QIcon::fromTheme(QStringLiteral("view-sort")));
    sortButton->setAccessibleName(QStringLiteral("Sort By"));
    sortButton->setToolTip(QStringLiteral("Sort By"));
    sortButton->setMenu(m_sortMenu);
    sortButton->setPopupMode(QToolButton::InstantPopup);
    // An invisible mark, so actions inserted later line up after the ones above without an
    // expanding spacer taking the room they need.
    m_toolbarEnd = m_toolbar->addSeparator();
    m_toolbarEnd->setVisible(false);
    m_search = new QLineEdit(column);
    m_search->setObjectName("searchSites");
    m_search->setPlaceholderText(QStringLiteral("Search Sites"));
    m_search->setClearButtonEnabled(true);
    m_list = new QListView(column);
    m_list->setObjectName("siteList");
    m_list->setModel(m_filter);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setUniformItemSizes(true);
    m_list->setItemDelegate(new SiteRowDelegate(m_list));
    // Sorting sits beside the search field it shapes the list with, leaving the toolbar's width
    // to the actions that add sites.
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_search, 1);
    searchRow->addWidget(sortButton);
    columnLayout->addWidget(m_toolbar);
    columnLayout->addLayout(searchRow);
    columnLayout->addWidget(m_list);

    m_detail = new QStackedWidget(this);
    m_detail->setObjectName("siteDetail");
    m_detail->addWidget(centred(
        {makeLabel(QStringLiteral("Select a site"), 6, true, this),
         makeLabel(QStringLiteral("Pick a site from the list, or create a new one."), 0, false, this)},
        m_detail));
    // The site pane, with its tabs, is built when a site is first shown in it.
    m_detail->addWidget(new QWidget(m_detail));
    m_detail->addWidget(buildMultiple());
    m_detail->addWidget(buildNoSites());

    auto* splitter = new QSplitter(this);
    splitter->addWidget(column);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({340, 840});
    splitter->setObjectName("sitesSplitter");
    rememberSplitter(splitter, services.preferences(), QStringLiteral("sitesSplitter"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(m_search, &QLineEdit::textChanged, m_filter,
            [this](const QString& text) { m_filter->setFilterFixedString(text.trimmed()); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SitesPage::syncSelectionToServices);
    connect(&services, &AppServices::selectionChanged, this, &SitesPage::syncSelectionFromServices);
    connect(m_model, &QAbstractItemModel::modelReset, this, &SitesPage::syncSelectionFromServices);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = m_list->indexAt(at);
        if (!index.isValid())
            return;
        // Right-clicking outside the selection acts on the clicked row alone.
        if (!m_list->selectionModel()->isSelected(index))
            m_list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        Q_EMIT contextMenuRequested(m_list->viewport()->mapToGlobal(at));
    });
    // Each row's dot: answering, not started, or failing, from the environment picture.
    const DevEnvironment& environment = services.devEnvironment();
    m_model->setStatusSource([&environment, this](const QUuid& id) -> std::optional<SiteListModel::Status> {
        const SiteMapping* mapping = environment.siteMapping(id);
        if (!mapping)
            return std::nullopt;
        const Reachability& answer = mapping->reachability;
        QColor colour = palette().color(QPalette::PlaceholderText);
        if (answer.isServing())
            colour = semanticColor(Semantic::success, palette());
        else if (answer.isFailing())
            colour = semanticColor(Semantic::danger, palette());
        const QString where = mapping->url ? mapping->url->toString() : QStringLiteral("No URL yet");
        const QString servedBy = mapping->mode.servedBy();
        return SiteListModel::Status{where + QStringLiteral(" · ") + servedBy + QStringLiteral(" · ") +
                                         answer.summary(),
                                     colour, mapping->url ? where : servedBy};
    });
    connect(&environment, &DevEnvironment::changed, m_model, &SiteListModel::statusChanged);

    // Each row's icon, held by the appearance service at the size the header shows it.
    SiteAppearanceService& appearance = services.appearance();
    appearance.setIconPixelSize(int(std::ceil(40 * devicePixelRatioF())));
    m_model->setIconSource([&appearance](const QUuid& id) { return appearance.favicon(id); });
    connect(&appearance, &SiteAppearanceService::changed, m_model, &SiteListModel::iconChanged);

    // A package update shows on its site's row while it runs and after it failed, whichever
    // site is selected. A cancelled one leaves the row as it was.
    PackageUpdateCoordinator& updates = services.packageUpdates();
    m_model->addJobSource([&updates](const QUuid& id) -> std::optional<SiteListModel::JobState> {
        const PackageUpdateJob* job = updates.job(id);
        if (!job)
            return std::nullopt;
        if (!job->isFinished())
            return SiteListModel::JobState{QStringLiteral("Waiting for Composer…"), false, job->log()};
        if (!job->succeeded() && job->errorMessage() != QLatin1String("Cancelled"))
            return SiteListModel::JobState{QStringLiteral("Update failed"), true, job->log()};
        return std::nullopt;
    });
    connect(&updates, &PackageUpdateCoordinator::jobStarted, m_model, &SiteListModel::jobsChanged);
    connect(&updates, &PackageUpdateCoordinator::jobFinished, m_model, &SiteListModel::jobsChanged);

    // A new site shows its install on its row until it is served; a cancelled install leaves
    // the site as it stands, with no state.
    InstallCoordinator& installs = services.installs();
    m_model->addJobSource([&installs](const QUuid& id) -> std::optional<SiteListModel::JobState> {
        const InstallJob* job = installs.job(id);
        if (!job)
            return std::nullopt;
        if (!job->isFinished())
            return SiteListModel::JobState{QStringLiteral("Installing…"), false, job->log()};
        if (!job->succeeded() && job->errorMessage() != QLatin1String("Cancelled"))
            return SiteListModel::JobState{QStringLiteral("Install failed"), true, job->log()};
        return std::nullopt;
    });
    connect(&installs, &InstallCoordinator::jobStarted, m_model, &SiteListModel::jobsChanged);
    connect(&installs, &InstallCoordinator::jobFinished, m_model, &SiteListModel::jobsChanged);
    // A failed clone is rolled back with its record, so only the running state reaches a row.
    SiteCloneCoordinator& clones = services.clones();
    m_model->addJobSource([&clones](const QUuid& id) -> std::optional<SiteListModel::JobState> {
        const CloneJob* job = clones.job(id);
        if (!job)
            return std::nullopt;
        if (!job->isFinished())
            return SiteListModel::JobState{QStringLiteral("Cloning…"), false, job->log()};
        if (!job->succeeded() && job->errorMessage() != QLatin1String("Cancelled"))
            return SiteListModel::JobState{QStringLiteral("Clone failed"), true, job->log()};
        return std::nullopt;
    });
    connect(&clones, &SiteCloneCoordinator::jobStarted, m_model, &SiteListModel::jobsChanged);
    connect(&clones, &SiteCloneCoordinator::jobFinished, m_model, &SiteListModel::jobsChanged);
    applySort(services.preferences().sitesSort());
    showDetail();
}

void SitesPage::applySort(ListSortOrder order)
{
    // The proxy's sort is stable, so equal names keep the store's order (newest first).
    m_filter->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_filter->setSortLocaleAware(true);
    m_filter->setSortRole(order == ListSortOrder::name ? int(Qt::DisplayRole)
                                                       : int(SiteListModel::CreatedAtRole));
    m_filter->sort(0, order == ListSortOrder::newest ? Qt::DescendingOrder : Qt::AscendingOrder);
}

std::optional<SiteListModel::JobState> SitesPage::jobState(const QUuid& id) const
{
    return m_model->jobState(id);
}

QList<SitePtr> SitesPage::selectedSites() const
{
    QList<SitePtr> sites;
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : rows)
        if (auto site = m_model->siteAt(m_filter->mapToSource(index).row()))
            sites << site;
    return sites;
}

void SitesPage::selectSite(const QUuid& id)
{
    const int row = m_model->rowOf(id);
    if (row < 0)
        return;
    const QModelIndex index = m_filter->mapFromSource(m_model->index(row));
    m_list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    m_list->scrollTo(index);
}

void SitesPage::syncSelectionToServices()
{
    if (m_syncing)
        return;
    m_syncing = true;
    QSet<QUuid> ids;
    const QList<SitePtr> sites = selectedSites();
    for (const auto& site : sites)
        ids.insert(site->id());
    m_services.setSelectedSiteIDs(ids);
    m_services.setSelectedSiteID(sites.size() == 1 ? std::optional(sites.first()->id())
                                 : sites.isEmpty() ? std::nullopt
                                                   : m_services.selectedSiteID());
    m_syncing = false;
    showDetail();
}

// The services fix the selection up after removals; the list follows.
void SitesPage::syncSelectionFromServices()
{
    if (m_syncing)
        return;
    m_syncing = true;
    QItemSelection selection;
    QSet<QUuid> wanted = m_services.selectedSiteIDs();
    if (wanted.isEmpty() && m_services.selectedSiteID())
        wanted.insert(*m_services.selectedSiteID());
    for (const QUuid& id : wanted) {
        const int row = m_model->rowOf(id);
        if (row < 0)
            continue;
        const QModelIndex index = m_filter->mapFromSource(m_model->index(row));
        if (index.isValid())
            selection.select(index, index);
    }
    m_list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncing = false;
    showDetail();
}

SiteDetailPane* SitesPage::sitePane()
{
    if (m_sitePane)
        return m_sitePane;
    m_sitePane = new SiteDetailPane(m_services, m_detail);
    m_sitePane->setObjectName("sitePane");
    replacePlaceholder(m_detail, sitePage, m_sitePane);
    return m_sitePane;
}

void SitesPage::showDetail()
{
    const QList<SitePtr> sites = selectedSites();
    if (sites.size() == 1) {
        sitePane()->setSite(sites.first());
        m_detail->setCurrentIndex(sitePage);
    } else if (sites.size() > 1) {
        m_multiTitle->setText(QStringLiteral("%1 sites selected").arg(sites.size()));
        m_detail->setCurrentIndex(multiPage);
    } else {
        m_detail->setCurrentIndex(m_model->rowCount() == 0 ? noSitesPage : emptyPage);
    }
}

// No sites at all: what fills the list, centred, with the actions that do it.
QWidget* SitesPage::buildNoSites()
{
    auto* page = new QWidget(m_detail);
    page->setObjectName("noSites");
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    auto* icon = new QLabel(page);
    icon->setAlignment(Qt::AlignCenter);
    const int side = style()->pixelMetric(QStyle::PM_LargeIconSize) * 2;
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("applications-internet")).pixmap(side, QIcon::Disabled));
    layout->addWidget(icon);
    layout->addWidget(makeLabel(QStringLiteral("No sites yet"), 4, true, page));
    auto* line = makeLabel(QStringLiteral("Create a Laravel or Quillmar site, or bring in the ones already "
                                          "on this computer."),
                           0, false, page);
    line->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (const QString& command :
         {MenuCommand::newSite, MenuCommand::importSite, MenuCommand::importAllSites}) {
        auto* button = new QToolButton(page);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setDefaultAction(m_commandActions.value(command));
        button->setObjectName(QStringLiteral("empty-") + m_commandActions.value(command)->objectName());
        buttons->addWidget(button);
    }
    buttons->addStretch();
    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

// Several sites selected: how many, and what can be done to all of them at once.
QWidget* SitesPage::buildMultiple()
{
    auto* page = new QWidget(m_detail);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    m_multiTitle = makeLabel(QString(), 4, true, page);
    layout->addWidget(m_multiTitle);
    auto* remove =
        new QPushButton(QIcon::fromTheme(QStringLiteral("edit-delete")), QStringLiteral("Delete"), page);
    remove->setObjectName("deleteSelected");
    connect(remove, &QPushButton::clicked, this,
            [this] { m_services.commands().post(MenuCommand::deleteSite); });
    layout->addWidget(remove, 0, Qt::AlignHCenter);
    layout->addStretch();
    return page;
}

} // namespace halvik::views
