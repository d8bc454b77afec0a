#pragma once

#include "services/marketplace/MarketplacePriceFilter.h"
#include "services/marketplace/MarketplaceRecords.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

namespace halvik::views {

// The starter kits a search and a price filter let through, with "Fresh Quillmar, no starter
// kit" always first.
class KitGridModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        packageRole = Qt::UserRole + 1, // empty for the fresh site
        sellerRole,
        priceRole
    };
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void setKits(QList<MarketplaceStarterKit> kits);
    void setFilter(MarketplacePriceFilter filter, const QString& search);
    void setCover(const QUrl& url, const QPixmap& cover);
    const QList<MarketplaceStarterKit>& allKits() const { return m_all; }
    const QList<MarketplaceStarterKit>& shownKits() const { return m_shown; }

private:
    void refilter();

    QList<MarketplaceStarterKit> m_all;
    QList<MarketplaceStarterKit> m_shown;
    QHash<QUrl, QPixmap> m_covers;
    MarketplacePriceFilter m_filter = MarketplacePriceFilter::all;
    QString m_search;
};

// The wizard's starting point: a searchable grid of the marketplace's starter kits, its loading
// and failure states, and the fresh-site choice.
class KitGrid : public QWidget
{
    Q_OBJECT
public:
    explicit KitGrid(QWidget* parent = nullptr);

    void showLoading();
    void showKits(QList<MarketplaceStarterKit> kits);
    void showFailure(const QString& error);
    void setCover(const QUrl& url, const QPixmap& cover) { m_model->setCover(url, cover); }
    // The chosen kit's package; none for a fresh site.
    std::optional<QString> selectedPackage() const;
    void selectPackage(const std::optional<QString>& package);

    QLineEdit* searchField() const { return m_search; }
    QComboBox* priceFilter() const { return m_price; }
    QListView* list() const { return m_list; }
    KitGridModel* model() const { return m_model; }
    QLabel* failureLabel() const { return m_failure; }
    QPushButton* retryButton() const { return m_retry; }

Q_SIGNALS:
    void retryRequested();
    void selectionChanged();

private:
    void applyFilter();

    KitGridModel* m_model;
    QLineEdit* m_search;
    QComboBox* m_price;
    QStackedWidget* m_states;
    QListView* m_list;
    QLabel* m_failure;
    QPushButton* m_retry;
};

} // namespace halvik::views
