#include "views/accounts/HostsPage.h"

#include "app/AppServices.h"
#include "models/SecretStore.h"
#include "platform/PlatformTexts.h"

#include <QActionGroup>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
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
    auto* top = new QHBoxLayout;
    auto* connectHost = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")),
                                        QStringLiteral("Connect a New Host"), column);
    connectHost->setEnabled(false);
    connectHost->setToolTip(QStringLiteral("Hosting accounts come with deployment, in a later version."));
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

    m_detail = new QStackedWidget(this);
    auto* empty = new QWidget(m_detail);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch();
    emptyLayout->addWidget(text(QStringLiteral("Select a host"), 6, true, empty));
    emptyLayout->addWidget(
        text(QStringLiteral("Pick a connected account, or connect a new one."), 0, false, empty));
    auto* note = text(QStringLiteral("Tokens stay on %1. Halvik never writes them into your sites.")
                          .arg(PlatformTexts::thisComputer()),
                      0, false, empty);
    note->setForegroundRole(QPalette::PlaceholderText);
    emptyLayout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    emptyLayout->addWidget(note);
    emptyLayout->addStretch();
    m_detail->addWidget(empty);

    // One account: what it is and when it was connected; its servers and sites join it with
    // deployment.
    auto* account = new QWidget(m_detail);
    auto* accountLayout = new QVBoxLayout(account);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    for (const QString& label : {QStringLiteral("Name"), QStringLiteral("Provider"),
                                 QStringLiteral("Connected"), QStringLiteral("Last checked")}) {
        auto* value = new QLabel(account);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        form->addRow(label, value);
        m_values << value;
    }
    QFont name = m_values.first()->font();
    name.setBold(true);
    name.setPointSize(name.pointSize() + 4);
    m_values.first()->setFont(name);
    accountLayout->addLayout(form);
    m_disconnect = new QPushButton(QIcon::fromTheme(QStringLiteral("network-disconnect")),
                                   QStringLiteral("Disconnect"), account);
    m_disconnect->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    accountLayout->addWidget(m_disconnect);
    accountLayout->addStretch();
    m_detail->addWidget(account);

    auto* split = new QSplitter(this);
    split->addWidget(column);
    split->addWidget(m_detail);
    split->setStretchFactor(1, 1);
    split->setSizes({320, 860});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(m_search, &QLineEdit::textChanged, this, &HostsPage::refresh);
    connect(&services.store(), &SiteStore::hostsChanged, this, &HostsPage::refresh);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &HostsPage::showSelected);
    // The token goes with the account: nothing of it stays behind.
    connect(m_disconnect, &QPushButton::clicked, this, [this] {
        if (const HostAccountPtr host = selectedHost()) {
            m_services.secrets().remove(host->secretAccount());
            m_services.store().removeHost(host);
            m_services.store().save();
        }
    });
    refresh();
}

void HostsPage::refresh()
{
    const HostAccountPtr selected = selectedHost();
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
        if (!filter.isEmpty() && !line.contains(filter, Qt::CaseInsensitive))
            continue;
        auto* item = new QListWidgetItem(line, m_list);
        item->setData(Qt::UserRole, host->id());
        if (host == selected)
            item->setSelected(true);
    }
    showSelected();
}

HostAccountPtr HostsPage::selectedHost() const
{
    const QList<QListWidgetItem*> items = m_list->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const QUuid id = items.first()->data(Qt::UserRole).toUuid();
    for (const auto& host : m_services.store().hosts())
        if (host->id() == id)
            return host;
    return nullptr;
}

void HostsPage::showSelected()
{
    const HostAccountPtr host = selectedHost();
    m_detail->setCurrentIndex(host ? 1 : 0);
    if (!host)
        return;
    const auto when = [](const std::optional<QDateTime>& at) {
        return at ? QLocale().toString(at->toLocalTime(), QLocale::ShortFormat) : QStringLiteral("Never");
    };
    const QStringList values{host->label(), providerName(*host), when(host->createdAt()),
                             when(host->lastVerifiedAt())};
    for (int i = 0; i < m_values.size(); ++i)
        m_values.at(i)->setText(values.at(i));
}

QStringList HostsPage::detailValues() const
{
    QStringList values;
    for (const QLabel* value : m_values)
        values << value->text();
    return values;
}

} // namespace halvik::views
