#include "views/newsite/KitGrid.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QPixmap placeholder(const QString& name)
{
    QPixmap pixmap(132, 74);
    pixmap.fill(QColor(0x8a, 0x94, 0xa6, 60));
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPointSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x55, 0x5f, 0x70));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, name.left(1).toUpper());
    return pixmap;
}

} // namespace

int KitGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size()) + 1;
}

QVariant KitGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() > m_shown.size())
        return {};
    if (index.row() == 0) {
        switch (role) {
        case Qt::DisplayRole:
            return tr("Fresh Quillmar, no starter kit");
        case Qt::DecorationRole:
            return placeholder(QStringLiteral("Q"));
        case packageRole:
            return QString();
        default:
            return {};
        }
    }
    const MarketplaceStarterKit& kit = m_shown.at(index.row() - 1);
    switch (role) {
    case Qt::DisplayRole:
        return kit.name + QLatin1Char('\n') + kit.sellerName + QStringLiteral(" · ") +
               MarketplaceBrowsing::priceText(kit);
    case Qt::ToolTipRole:
        return kit.summary.isEmpty() ? kit.package : kit.summary;
    case Qt::DecorationRole:
        if (kit.coverURL)
            if (const auto it = m_covers.constFind(*kit.coverURL); it != m_covers.cend())
                return *it;
        return placeholder(kit.name);
    case packageRole:
        return kit.package;
    case sellerRole:
        return kit.sellerName;
    case priceRole:
        return MarketplaceBrowsing::priceText(kit);
    default:
        return {};
    }
}

void KitGridModel::setKits(QList<MarketplaceStarterKit> kits)
{
    m_all = std::move(kits);
    refilter();
}

void KitGridModel::setFilter(MarketplacePriceFilter filter, const QString& search)
{
    if (filter == m_filter && search == m_search)
        return;
    m_filter = filter;
    m_search = search;
    refilter();
}

void KitGridModel::setCover(const QUrl& url, const QPixmap& cover)
{
    m_covers.insert(url, cover.scaled(132, 74, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
    for (qsizetype i = 0; i < m_shown.size(); ++i)
        if (m_shown[i].coverURL == url)
            Q_EMIT dataChanged(index(int(i) + 1), index(int(i) + 1), {Qt::DecorationRole});
}

void KitGridModel::refilter()
{
    beginResetModel();
    m_shown = MarketplaceBrowsing::filtered(m_all, m_filter, m_search);
    endResetModel();
}

KitGrid::KitGrid(QWidget* parent) : QWidget(parent), m_model(new KitGridModel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("Search starter kits"));
    m_search->setClearButtonEnabled(true);
    m_search->setObjectName(QStringLiteral("kitSearch"));
    bar->addWidget(m_search, 1);
    m_price = new QComboBox(this);
    m_price->addItem(tr("All"), QStringLiteral("all"));
    m_price->addItem(tr("Free"), QStringLiteral("free"));
    m_price->addItem(tr("Paid"), QStringLiteral("paid"));
    m_price->setObjectName(QStringLiteral("kitPrice"));
    bar->addWidget(m_price);
    layout->addLayout(bar);

    m_states = new QStackedWidget(this);
    auto* loading = new QLabel(tr("Loading starter kits…"), m_states);
    loading->setAlignment(Qt::AlignCenter);
    loading->setForegroundRole(QPalette::PlaceholderText);
    m_states->addWidget(loading);

    m_list = new QListView(m_states);
    m_list->setModel(m_model);
    m_list->setViewMode(QListView::IconMode);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setMovement(QListView::Static);
    m_list->setIconSize(QSize(132, 74));
    m_list->setGridSize(QSize(160, 128));
    m_list->setWordWrap(true);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_states->addWidget(m_list);

    auto* failure = new QWidget(m_states);
    auto* failureLayout = new QVBoxLayout(failure);
    m_failure = new QLabel(failure);
    m_failure->setWordWrap(true);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failureLayout->addStretch();
    failureLayout->addWidget(m_failure, 0, Qt::AlignCenter);
    m_retry = new QPushButton(tr("Retry"), failure);
    failureLayout->addWidget(m_retry, 0, Qt::AlignCenter);
    failureLayout->addStretch();
    m_states->addWidget(failure);
    layout->addWidget(m_states, 1);

    connect(m_search, &QLineEdit::textChanged, this, &KitGrid::applyFilter);
    connect(m_price, &QComboBox::currentIndexChanged, this, &KitGrid::applyFilter);
    connect(m_retry, &QPushButton::clicked, this, &KitGrid::retryRequested);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_list->currentIndex().isValid())
            m_list->setCurrentIndex(m_model->index(0));
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, &KitGrid::selectionChanged);
    m_list->setCurrentIndex(m_model->index(0));
}

void KitGrid::applyFilter()
{
    const std::optional<QString> chosen = selectedPackage();
    const auto filter = MarketplaceBrowsing::priceFilterFromRaw(m_price->currentData().toString());
    m_model->setFilter(filter.value_or(MarketplacePriceFilter::all), m_search->text());
    selectPackage(chosen);
}

void KitGrid::showLoading()
{
    m_states->setCurrentIndex(0);
}

void KitGrid::showKits(QList<MarketplaceStarterKit> kits)
{
    m_model->setKits(std::move(kits));
    m_states->setCurrentIndex(1);
}

void KitGrid::showFailure(const QString& error)
{
    m_failure->setText(tr("Couldn’t load starter kits: ") + error);
    m_states->setCurrentIndex(2);
}

std::optional<QString> KitGrid::selectedPackage() const
{
    const QString package = m_list->currentIndex().data(KitGridModel::packageRole).toString();
    if (package.isEmpty())
        return std::nullopt;
    return package;
}

void KitGrid::selectPackage(const std::optional<QString>& package)
{
    int row = 0;
    if (package)
        for (int i = 0; i < m_model->shownKits().size(); ++i)
            if (m_model->shownKits()[i].package == *package)
                row = i + 1;
    m_list->setCurrentIndex(m_model->index(row));
}

} // namespace halvik::views
