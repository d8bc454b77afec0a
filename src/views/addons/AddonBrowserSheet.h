#pragma once

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/marketplace/MarketplacePriceFilter.h"
#include "services/marketplace/MarketplaceRecords.h"

#include <QAbstractListModel>
#include <QCoroTask>
#include <QDialog>

#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class LiveLogView;

// The marketplace's add-ons that a search and a price filter let through.
class AddonListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        packageRole = Qt::UserRole + 1,
        marketplaceURLRole
    };
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void setAddons(QList<MarketplaceAddon> addons);
    void setFilter(MarketplacePriceFilter filter, const QString& search);
    const QList<MarketplaceAddon>& shownAddons() const { return m_shown; }

private:
    QList<MarketplaceAddon> m_all;
    QList<MarketplaceAddon> m_shown;
    MarketplacePriceFilter m_filter = MarketplacePriceFilter::all;
    QString m_search;
};

// "Add-ons": the marketplace's add-ons for one site, searchable and filtered by price; the
// chosen one is added with `composer require`, its output shown as it comes.
class AddonBrowserSheet : public QDialog
{
    Q_OBJECT
public:
    AddonBrowserSheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);
    ~AddonBrowserSheet() override;

    QLineEdit* searchField() const { return m_search; }
    QComboBox* priceFilter() const { return m_price; }
    QListView* list() const { return m_list; }
    AddonListModel* model() const { return m_model; }
    QLabel* failureLabel() const { return m_failure; }
    QPushButton* retryButton() const { return m_retry; }
    QPushButton* installButton() const { return m_install; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* statusLabel() const { return m_status; }
    QLabel* errorLabel() const { return m_error; }
    QLabel* linkLabel() const { return m_link; }
    LiveLogView* logView() const { return m_log; }
    bool isInstalling() const { return m_installing != nullptr; }

    void selectPackage(const QString& package);
    // Escape and Close: ignored while Composer runs.
    void reject() override;

private:
    QCoro::Task<> load();
    QCoro::Task<> install();
    void applyFilter();
    void showSelection();

    AppServices& m_services;
    SitePtr m_site;
    AddonListModel* m_model;
    QLineEdit* m_search;
    QComboBox* m_price;
    QStackedWidget* m_states;
    QListView* m_list;
    QLabel* m_failure;
    QPushButton* m_retry;
    QLabel* m_summary;
    QLabel* m_link;
    QLabel* m_status;
    QLabel* m_error;
    LiveLogView* m_log;
    QPushButton* m_install;
    QPushButton* m_cancel;
    QPushButton* m_close;
    std::shared_ptr<CancellationSource> m_installing;
    LifeGuard m_life;
};

} // namespace halvik::views
