#include "views/addons/AddonBrowserSheet.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"
#include "services/ProcessRunnerError.h"
#include "services/composer/ComposerService.h"
#include "services/composer/ConflictTranslator.h"
#include "services/marketplace/QuillmarAPI.h"
#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

int AddonListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant AddonListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown.size())
        return {};
    const MarketplaceAddon& addon = m_shown.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return addon.name + QLatin1Char('\n') + addon.sellerName + QStringLiteral(" · ") +
               MarketplaceBrowsing::priceText(addon);
    case Qt::ToolTipRole:
        return addon.package;
    case packageRole:
        return addon.package;
    case marketplaceURLRole:
        return addon.marketplaceURL;
    default:
        return {};
    }
}

void AddonListModel::setAddons(QList<MarketplaceAddon> addons)
{
    beginResetModel();
    m_all = std::move(addons);
    m_shown = MarketplaceBrowsing::filtered(m_all, m_filter, m_search);
    endResetModel();
}

void AddonListModel::setFilter(MarketplacePriceFilter filter, const QString& search)
{
    if (filter == m_filter && search == m_search)
        return;
    m_filter = filter;
    m_search = search;
    setAddons(std::move(m_all));
}

AddonBrowserSheet::AddonBrowserSheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(std::move(site)), m_model(new AddonListModel(this))
{
    setWindowTitle(tr("Add-ons"));
    setObjectName(QStringLiteral("addonBrowser"));
    resize(620, 560);
    auto* layout = new QVBoxLayout(this);

    auto* title = new QLabel(tr("Add-ons for %1").arg(m_site->displayName()), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    title->setFont(big);
    layout->addWidget(title);

    auto* bar = new QHBoxLayout;
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("Search add-ons"));
    m_search->setClearButtonEnabled(true);
    bar->addWidget(m_search, 1);
    m_price = new QComboBox(this);
    m_price->addItem(tr("All"), QStringLiteral("all"));
    m_price->addItem(tr("Free"), QStringLiteral("free"));
    m_price->addItem(tr("Paid"), QStringLiteral("paid"));
    bar->addWidget(m_price);
    layout->addLayout(bar);

    m_states = new QStackedWidget(this);
    auto* loading = new QLabel(tr("Loading add-ons…"), m_states);
    loading->setAlignment(Qt::AlignCenter);
    loading->setForegroundRole(QPalette::PlaceholderText);
    m_states->addWidget(loading);

    m_list = new QListView(m_states);
    m_list->setModel(m_model);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSpacing(2);
    m_states->addWidget(m_list);

    auto* failure = new QWidget(m_states);
    auto* failureLayout = new QVBoxLayout(failure);
    m_failure = new QLabel(failure);
    m_failure->setWordWrap(true);
    m_failure->setAlignment(Qt::AlignCenter);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_retry = new QPushButton(tr("Retry"), failure);
    failureLayout->addStretch();
    failureLayout->addWidget(m_failure);
    failureLayout->addWidget(m_retry, 0, Qt::AlignCenter);
    failureLayout->addStretch();
    m_states->addWidget(failure);
    layout->addWidget(m_states, 2);

    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_link = new QLabel(this);
    m_link->setOpenExternalLinks(true);
    m_link->setTextFormat(Qt::RichText);
    recolourLinks(m_link);
    layout->addWidget(m_link);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setSemanticText(m_error, Semantic::danger);
    m_error->hide();
    layout->addWidget(m_error);
    m_log = new LiveLogView(this);
    m_log->hide();
    layout->addWidget(m_log, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->hide();
    m_install = new QPushButton(tr("Install"), this);
    m_install->setDefault(true);
    m_close = new QPushButton(tr("Close"), this);
    buttons->addButton(m_close, QDialogButtonBox::RejectRole);
    auto* row = new QHBoxLayout;
    row->addWidget(m_cancel);
    row->addStretch();
    row->addWidget(buttons);
    row->addWidget(m_install);
    layout->addLayout(row);

    connect(m_search, &QLineEdit::textChanged, this, &AddonBrowserSheet::applyFilter);
    connect(m_price, &QComboBox::currentIndexChanged, this, &AddonBrowserSheet::applyFilter);
    connect(m_retry, &QPushButton::clicked, this, [this] { fireAndForget(this, load()); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &AddonBrowserSheet::showSelection);
    connect(m_model, &QAbstractItemModel::modelReset, this, &AddonBrowserSheet::showSelection);
    connect(m_install, &QPushButton::clicked, this, [this] { fireAndForget(this, install()); });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_installing)
            m_installing->cancel();
    });
    connect(m_close, &QPushButton::clicked, this, &AddonBrowserSheet::reject);
    showSelection();
    fireAndForget(this, load());
}

AddonBrowserSheet::~AddonBrowserSheet()
{
    if (m_installing)
        m_installing->cancel();
}

void AddonBrowserSheet::reject()
{
    // Closing while Composer runs would leave a half-changed composer.json behind the person's
    // back: the sheet stays until the install ends or is cancelled.
    if (m_installing)
        return;
    QDialog::reject();
}

QCoro::Task<> AddonBrowserSheet::load()
{
    const LifeToken alive = m_life.token();
    m_states->setCurrentIndex(0);
    QList<MarketplaceAddon> addons;
    std::optional<QString> error;
    try {
        addons = co_await m_services.marketplace().addons();
    } catch (const HalvikError& failure) {
        error = failure.description();
    }
    if (!alive)
        co_return;
    if (error) {
        m_failure->setText(tr("Couldn’t load addons") + QStringLiteral("\n") + *error);
        m_states->setCurrentIndex(2);
        showSelection();
        co_return;
    }
    m_model->setAddons(std::move(addons));
    m_states->setCurrentIndex(1);
    if (m_model->rowCount() > 0)
        m_list->setCurrentIndex(m_model->index(0));
}

void AddonBrowserSheet::applyFilter()
{
    const QString chosen = m_list->currentIndex().data(AddonListModel::packageRole).toString();
    const auto filter = MarketplaceBrowsing::priceFilterFromRaw(m_price->currentData().toString());
    m_model->setFilter(filter.value_or(MarketplacePriceFilter::all), m_search->text());
    selectPackage(chosen);
}

void AddonBrowserSheet::selectPackage(const QString& package)
{
    const QList<MarketplaceAddon>& shown = m_model->shownAddons();
    for (qsizetype row = 0; row < shown.size(); ++row)
        if (shown.at(row).package == package) {
            m_list->setCurrentIndex(m_model->index(int(row)));
            return;
        }
    m_list->setCurrentIndex(m_model->rowCount() > 0 ? m_model->index(0) : QModelIndex());
}

void AddonBrowserSheet::showSelection()
{
    const QModelIndex current = m_list->currentIndex();
    const bool chosen = current.isValid() && m_states->currentIndex() == 1;
    m_install->setEnabled(chosen && !m_installing);
    if (!chosen) {
        m_summary->clear();
        m_link->clear();
        return;
    }
    const MarketplaceAddon& addon = m_model->shownAddons().at(current.row());
    m_summary->setText(addon.summary.isEmpty() ? addon.package
                                               : addon.package + QStringLiteral(" — ") + addon.summary);
    if (addon.marketplaceURL.isValid())
        m_link->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                            .arg(addon.marketplaceURL.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                 tr("View on the marketplace")));
    else
        m_link->clear();
}

QCoro::Task<> AddonBrowserSheet::install()
{
    const QString package = m_list->currentIndex().data(AddonListModel::packageRole).toString();
    if (package.isEmpty() || m_installing)
        co_return;
    const LifeToken alive = m_life.token();
    auto cancel = std::make_shared<CancellationSource>();
    m_installing = cancel;
    m_install->setEnabled(false);
    m_close->setEnabled(false);
    m_cancel->show();
    m_error->hide();
    m_status->setText(tr("Installing %1…").arg(package));
    m_log->clear();
    m_log->show();
    QPointer<LiveLogView> log = m_log;
    const ComposerService::OutputCallback forward = [log](const ProcessOutput& line) {
        if (log)
            log->appendBatch(line.line);
    };
    QString done;
    std::optional<QString> failure;
    try {
        done = co_await m_services.composer().requirePackage(m_site, package, QString(), forward,
                                                             cancel->token());
    } catch (const ProcessRunnerError& error) {
        failure = error.isCancelled() ? tr("Cancelled.") : error.description();
    } catch (const HalvikError& error) {
        failure = error.description();
    }
    if (!alive)
        co_return;
    m_installing.reset();
    m_cancel->hide();
    m_close->setEnabled(true);
    showSelection();
    if (!failure && cancel->isCancelled())
        failure = tr("Cancelled.");
    if (failure) {
        m_status->clear();
        QString text = *failure;
        const QList<ConflictAdvice> advice =
            ConflictTranslator::translate(m_log->text() + QLatin1Char('\n') + *failure);
        if (!advice.isEmpty())
            text +=
                QStringLiteral("\n") + advice.first().title + QStringLiteral(": ") + advice.first().detail;
        m_error->setText(text);
        m_error->show();
        co_return;
    }
    m_status->setText(done);
}

} // namespace halvik::views
