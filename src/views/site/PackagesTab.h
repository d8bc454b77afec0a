#pragma once

#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/composer/ComposerRecords.h"

#include <QCoroTask>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QStandardItemModel;
class QTreeView;
class QVBoxLayout;

namespace halvik {
class ComposerService;
class PackageUpdateCoordinator;
class PackageUpdateJob;
class PackagistClient;
} // namespace halvik

namespace halvik::views {

class LiveLogView;

// A site's Composer packages: what is installed, which updates are available and how big they
// are, a whole-site update with its live log and progress, the advice when it fails, and adding
// a package at a version Packagist publishes.
class PackagesTab : public QWidget
{
    Q_OBJECT
public:
    enum Column
    {
        nameColumn,
        installedColumn,
        availableColumn,
        kindColumn,
        columnCount
    };

    PackagesTab(ComposerService& composer, PackageUpdateCoordinator& updates, PackagistClient& packagist,
                SitePtr site, QWidget* parent = nullptr);
    ~PackagesTab() override;

    // Re-reads the installed packages; asks Composer for updates unless a list is cached.
    void reload();
    QCoro::Task<> checkForUpdates(bool force);

    // Where links open; the desktop's browser by default.
    void setUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }

    // For tests and for the window's own menus.
    QTreeView* packageList() const { return m_list; }
    QMenu* menuForRow(int row);
    QString statusText() const;
    QString updateStateText() const;
    QStringList adviceTitles() const;
    QPushButton* updateButton() const { return m_updateButton; }
    QPushButton* addonsButton() const { return m_addonsButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    QPushButton* detailsButton() const { return m_detailsButton; }
    LiveLogView* logView() const { return m_log; }
    QComboBox* versionPicker() const { return m_versions; }
    QLineEdit* packageField() const { return m_packageField; }
    QCoro::Task<> loadVersions(QString package);

Q_SIGNALS:
    // "Add-ons…": the marketplace's add-ons for this site.
    void addonsRequested();

private:
    void buildList();
    void fillRows();
    void attachJob(PackageUpdateJob* job);
    void showJobState();
    void showAdvice(const QString& output);
    void setStatus(const QString& text, bool problem = false);
    QCoro::Task<> installPackage();

    ComposerService& m_composer;
    PackageUpdateCoordinator& m_updates;
    PackagistClient& m_packagist;
    SitePtr m_site;
    SiteManifest m_manifest;
    QList<OutdatedPackage> m_outdated;
    QPointer<PackageUpdateJob> m_job;
    std::function<void(const QUrl&)> m_openUrl;
    bool m_checking = false;

    QLabel* m_summary;
    QLabel* m_status;
    QPushButton* m_checkButton;
    QPushButton* m_updateButton;
    QPushButton* m_addonsButton;
    QStackedWidget* m_listStack;
    QTreeView* m_list;
    QStandardItemModel* m_model;
    QWidget* m_updatePanel;
    QLabel* m_updateState;
    QProgressBar* m_progress;
    QPushButton* m_cancelButton;
    QPushButton* m_detailsButton;
    QWidget* m_detailArea;
    LiveLogView* m_log;
    QWidget* m_advicePanel;
    QVBoxLayout* m_adviceLayout;
    QStringList m_adviceTitles;
    QLineEdit* m_packageField;
    QComboBox* m_versions;
    QPushButton* m_installButton;
    LifeGuard m_life;
};

} // namespace halvik::views
