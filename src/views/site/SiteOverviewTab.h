#pragma once

#include "models/Site.h"

#include "async/LifeGuard.h"
#include "services/SiteFilesMonitor.h"

#include <QCoroTask>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class FrontendSection;
class PreviewBlock;

// A site at a glance: how it is served, what its .env says, which versions it runs, and the
// CMS's cache utilities.
class SiteOverviewTab : public QWidget
{
    Q_OBJECT
public:
    explicit SiteOverviewTab(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);
    // How the site is served and which PHP it runs; cheap, from what the services know.
    void refresh();
    // Reads the site's .env and Composer files again (they are watched; this is for the moments
    // Halvik knows they changed, such as the .env sheet closing).
    void reloadFiles() { m_files.reload(); }
    SiteFilesMonitor& filesMonitor() { return m_files; }

    QLabel* appURL() const { return m_appURL; }
    QComboBox* phpSourcePicker() const { return m_phpSource; }
    QLabel* utilityResult() const { return m_utilityResult; }
    // "Edit Cloud environment…", shown for a site on Laravel Cloud.
    QPushButton* editCloudEnvironmentButton() const { return m_editCloudEnvironment; }
    QPushButton* utilityButton(const QString& title) const;
    FrontendSection* frontend() const { return m_frontend; }
    PreviewBlock* preview() const { return m_preview; }

Q_SIGNALS:
    // "Edit local .env…": the pane opens the sheet.
    void editEnvironmentRequested();

private:
    QCoro::Task<> runUtility(QString title, QStringList arguments);
    void showFiles();

    AppServices& m_services;
    SitePtr m_site;
    QLabel* m_engine;
    QLabel* m_opens;
    QPushButton* m_serve;
    FrontendSection* m_frontend;
    PreviewBlock* m_preview;
    QLabel* m_appURL;
    QLabel* m_database;
    QPushButton* m_editCloudEnvironment;
    QLabel* m_storage;
    QLabel* m_cms;
    QLabel* m_laravel;
    QComboBox* m_phpSource;
    QLabel* m_phpResolved;
    QList<QPushButton*> m_utilities;
    QLabel* m_utilityResult;
    bool m_utilityRunning = false;
    SiteFilesMonitor m_files;
    LifeGuard m_life;
};

} // namespace halvik::views
