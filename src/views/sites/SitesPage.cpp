#include "views/sites/SitesPage.h"
#include "app/MenuCommands.h"

#include "app/DevEnvironment.h"
#include "services/serving/LocalServer.h"

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
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

enum DetailPage
{
    emptyPage,
    sitePage,
    multiPage
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
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
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
    sortButton->setIcon(QIcon::fromTheme(QStringLiteral("view-sort")));
    sortButton->setToolTip(QStringLiteral("Sort By"));
    sortButton->setMenu(m_sortMenu);
    sortButton->setPopupMode(QToolButton::InstantPopup);
    auto* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbarEnd = m_toolbar->addWidget(spacer);
    m_toolbar->addWidget(sortButton);
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
    columnLayout->addWidget(m_toolbar);
    columnLayout->addWidget(m_search);
    columnLayout->addWidget(m_list);

    m_detail = new QStackedWidget(this);
    m_detail->setObjectName("siteDetail");
    m_detail->addWidget(centred(
        {makeLabel(QStringLiteral("Select a site"), 6, true, this),
         makeLabel(QStringLiteral("Pick a site from the list, or create a new one."), 0, false, this)},
        m_detail));
    m_sitePane = new SiteDetailPane(services, m_detail);
    m_sitePane->setObjectName("sitePane");
    m_detail->addWidget(m_sitePane);
    m_multiTitle = makeLabel(QString(), 4, true, this);
    m_detail->addWidget(centred({m_multiTitle}, m_detail));

    auto* splitter = new QSplitter(this);
    splitter->addWidget(column);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({320, 860});
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
        for (const SiteMapping& mapping : environment.siteMappings())
            if (mapping.id == id) {
                const Reachability& answer = mapping.reachability;
                const bool dark = palette().color(QPalette::Window).lightness() < 128;
                QColor colour = palette().color(QPalette::PlaceholderText);
                if (answer.isServing())
                    colour = dark ? QColor(0x57, 0xe3, 0x89) : QColor(0x1a, 0x7f, 0x37);
                else if (answer.isFailing())
                    colour = dark ? QColor(0xff, 0x7b, 0x72) : QColor(0xc0, 0x1c, 0x28);
                const QString where = mapping.url ? mapping.url->toString() : QStringLiteral("No URL yet");
                const QString servedBy = mapping.mode.servedBy();
                return SiteListModel::Status{where + QStringLiteral(" · ") + servedBy +
                                                 QStringLiteral(" · ") + answer.summary(),
                                             colour, mapping.url ? where : servedBy};
            }
        return std::nullopt;
    });
    connect(&environment, &DevEnvironment::changed, m_model, &SiteListModel::statusChanged);
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

void SitesPage::showDetail()
{
    const QList<SitePtr> sites = selectedSites();
    if (sites.size() == 1) {
        m_sitePane->setSite(sites.first());
        m_detail->setCurrentIndex(sitePage);
    } else if (sites.size() > 1) {
        m_multiTitle->setText(QStringLiteral("%1 sites selected").arg(sites.size()));
        m_detail->setCurrentIndex(multiPage);
    } else {
        m_detail->setCurrentIndex(emptyPage);
    }
}

} // namespace halvik::views
