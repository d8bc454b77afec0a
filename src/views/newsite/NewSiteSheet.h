#pragma once

#include "services/marketplace/MarketplaceRecords.h"

#include <QCoroTask>
#include <QDialog>

#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class InstallOverview;
class KitGrid;

// "New Quillmar Site": everything a new site needs, checked as it is typed, then the
// installation's overview in the same sheet.
class NewSiteSheet : public QDialog
{
    Q_OBJECT
public:
    explicit NewSiteSheet(AppServices& services, QWidget* parent = nullptr);

    // Loads the starter kits and the releases; the screen works meanwhile.
    void load();

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* folderField() const { return m_folder; }
    QLabel* slugLabel() const { return m_slug; }
    KitGrid* kitGrid() const { return m_kits; }
    QComboBox* releaseBox() const { return m_release; }
    QLabel* phpLabel() const { return m_php; }
    QCheckBox* superUserBox() const { return m_superUser; }
    QLineEdit* passwordField() const { return m_password; }
    QLineEdit* emailField() const { return m_email; }
    QCheckBox* httpsBox() const { return m_https; }
    QLabel* servingLabel() const { return m_serving; }
    QCheckBox* gitBox() const { return m_git; }
    QCheckBox* githubBox() const { return m_github; }
    QLabel* githubNote() const { return m_githubNote; }
    QCheckBox* ssgBox() const { return m_ssg; }
    QRadioButton* databaseChoice() const { return m_database; }
    QLabel* problemLabel() const { return m_problem; }
    QPushButton* createButton() const { return m_create; }
    InstallOverview* overview() const { return m_overview; }

    // The folder the site will be made in.
    QString destination() const;
    void setReleases(const QList<QuillmarRelease>& releases);

private:
    QWidget* buildForm();
    QCoro::Task<> loadKits();
    QCoro::Task<> loadReleases();
    QCoro::Task<> loadPHPVersion();
    QCoro::Task<> create();
    void updateState();
    void updatePHP();

    AppServices& m_services;
    QStackedWidget* m_pages;
    QLineEdit* m_name;
    QLineEdit* m_folder;
    QLabel* m_slug;
    KitGrid* m_kits;
    QComboBox* m_release;
    QLabel* m_php;
    QRadioButton* m_flatFiles;
    QRadioButton* m_database;
    QCheckBox* m_superUser;
    QLineEdit* m_adminName;
    QLineEdit* m_email;
    QLineEdit* m_password;
    QCheckBox* m_https;
    QLabel* m_serving;
    QCheckBox* m_git;
    QCheckBox* m_github;
    QCheckBox* m_private;
    QLabel* m_githubNote;
    QCheckBox* m_ssg;
    QLabel* m_problem;
    QPushButton* m_create;
    InstallOverview* m_overview = nullptr;
    QList<QuillmarRelease> m_releases;
    QString m_phpVersion; // asked of the PHP itself when the runtimes do not know it
    bool m_creating = false;
};

} // namespace halvik::views
