#include "views/accounts/HostsPage.h"

#include "app/AppServices.h"
#include "platform/PlatformTexts.h"
#include "services/hosting/HostAccountService.h"
#include "views/hosts/ConnectHostSheet.h"
#include "views/hosts/HostDetailView.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* text(const QString& content, int grow, bool bold, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    QFont font = label->font();
    font.setPointSize(font.pointSize() + grow);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QString providerName(const HostAccount& host)
{
    switch (host.provider().value_or(HostProviderKind::forge)) {
    case HostProviderKind::forge:
        return QStringLiteral("Laravel Forge");
    case HostProviderKind::laravelCloud:
        return QStringLiteral("Laravel Cloud");
    case HostProviderKind::netlify:
        return QStringLiteral("Netlify");
    case HostProviderKind::cloudflarePages:
        return QStringLiteral("Cloudflare Pages");
    }
    return host.providerRaw();
}

} // namespace

HostsPage::HostsPage(AppServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    auto* column = new QWidget(this);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    auto* connectHost = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")),
                                        QStringLiteral("Connect a New Host"), column);
    connectHost->setObjectName("connectHost");
    m_sortMenu = new QMenu(QStringLiteral("Sort By"), this);
    auto* sortGroup = new QActionGroup(m_sortMenu);
    for (ListSortOrder order : allCases<ListSortOrder>()) {
        QAction* action = m_sortMenu->addAction(order == ListSortOrder::name     ? QStringLiteral("Name")
                                                : order == ListSortOrder::newest ? QStringLiteral("Newest")
                                                                                 : QStringLiteral("Oldest"));
        action->setCheckable(true);
        action->setChecked(order == services.preferences().hostsSort());
        sortGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, order] {
            m_services.preferences().setHostsSort(order);
            refresh();
        });
    }
    auto* sortButton = new QToolButton(column);
    sortButton->setObjectName("sortHosts");
    sortButton->setIcon(QIcon::fromTheme(QStringLiteral("view-sort")));
    sortButton->setToolTip(QStringLiteral("Sort By"));
    sortButton->setAccessibleName(QStringLiteral("Sort By"));
    sortButton->setMenu(m_sortMenu);
    sortButton->setPopupMode(QToolButton::InstantPopup);
    auto* top = new QHBoxLayout;
    top->addWidget(connectHost);
    top->addStretch();
    top->addWidget(sortButton);
    m_search = new QLineEdit(column);
    m_search->setPlaceholderText(QStringLiteral("Search Hosts"));
    m_search->setClearButtonEnabled(true);
    m_list = new QListWidget(column);
    m_list->setObjectName("hostList");
    columnLayout->addLayout(top);
    columnLayout->addWidget(m_search);
    columnLayout->addWidget(m_list);

    auto* detail = new QWidget(this);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->addStretch();
    detailLayout->addWidget(text(QStringLiteral("Select a host"), 6, true, detail));
    detailLayout->addWidget(
        text(QStringLiteral("Pick a connected account, or connect a new one."), 0, false, detail));
    auto* note = text(QStringLiteral("Tokens stay on %1. Halvik never writes them into your sites.")
                          .arg(PlatformTexts::thisComputer()),
                      0, false, detail);
    note->setForegroundRole(QPalette::PlaceholderText);
    detailLayout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    detailLayout->addWidget(note);
    detailLayout->addStretch();

    m_detailStack = new QStackedWidget(this);
    m_detailStack->addWidget(detail);
    m_hostDetail = new HostDetailView(services, m_detailStack);
    m_detailStack->addWidget(m_hostDetail);
    auto* split = new QSplitter(this);
    split->addWidget(column);
    split->addWidget(m_detailStack);
    split->setStretchFactor(1, 1);
    split->setSizes({320, 860});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(m_search, &QLineEdit::textChanged, this, &HostsPage::refresh);
    connect(&services.store(), &SiteStore::hostsChanged, this, &HostsPage::refresh);
    connect(m_hostDetail, &HostDetailView::serversLoaded, this, &HostsPage::refresh);
    connect(m_list, &QListWidget::currentItemChanged, this, &HostsPage::showSelected);
    connect(connectHost, &QPushButton::clicked, this, &HostsPage::openConnectSheet);
    refresh();
}

void HostsPage::refresh()
{
    const QUuid selected =
        m_list->currentItem() ? m_list->currentItem()->data(Qt::UserRole).toUuid() : QUuid();
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    const QString filter = m_search->text().trimmed();
    QList<HostAccountPtr> hosts = m_services.store().hosts();
    const ListSortOrder order = m_services.preferences().hostsSort();
    std::stable_sort(hosts.begin(), hosts.end(), [order](const HostAccountPtr& a, const HostAccountPtr& b) {
        if (order == ListSortOrder::name)
            return QString::localeAwareCompare(a->label().toCaseFolded(), b->label().toCaseFolded()) < 0;
        return order == ListSortOrder::newest ? a->createdAt() > b->createdAt()
                                              : a->createdAt() < b->createdAt();
    });
    for (const auto& host : std::as_const(hosts)) {
        const QString line = host->label() + QStringLiteral(" — ") + providerName(*host);
        bool matches = filter.isEmpty() || line.contains(filter, Qt::CaseInsensitive);
        for (const ForgeServer& server : m_hostDetail->loadedServers(host->id()))
            matches = matches || server.name.contains(filter, Qt::CaseInsensitive) ||
                      server.ipAddress.contains(filter, Qt::CaseInsensitive);
        if (!matches)
            continue;
        auto* item = new QListWidgetItem(line, m_list);
        item->setData(Qt::UserRole, host->id());
        if (host->id() == selected)
            m_list->setCurrentItem(item);
    }
    showSelected();
}

void HostsPage::showSelected()
{
    const QUuid id = m_list->currentItem() ? m_list->currentItem()->data(Qt::UserRole).toUuid() : QUuid();
    HostAccountPtr host;
    for (const auto& each : m_services.store().hosts())
        if (each->id() == id)
            host = each;
    if (host && host != m_hostDetail->host())
        m_hostDetail->setHost(host);
    m_detailStack->setCurrentIndex(host ? 1 : 0);
}

void HostsPage::selectHost(const QUuid& id)
{
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->data(Qt::UserRole).toUuid() == id)
            m_list->setCurrentRow(row);
}

void HostsPage::openConnectSheet()
{
    auto* sheet = new ConnectHostSheet(m_services.hostAccounts(), &m_services.cloud(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this, [this, sheet] {
        if (const HostAccountPtr host = sheet->connected())
            selectHost(host->id());
    });
    sheet->open();
}

} // namespace halvik::views
