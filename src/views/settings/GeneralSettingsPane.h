#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The everyday preferences: the editor, the appearance (applied at once), and what new sites
// get: their PHP, HTTPS, Herd or Valet, and their folder. Every value is stored as it changes.
class GeneralSettingsPane : public QWidget
{
    Q_OBJECT
public:
    explicit GeneralSettingsPane(AppServices& services, QWidget* parent = nullptr);

    QComboBox* appearancePicker() const { return m_appearance; }
    QComboBox* defaultPHPPicker() const { return m_defaultPHP; }
    QCheckBox* secureNewSites() const { return m_secure; }
    QCheckBox* preferHerd() const { return m_preferHerd; }
    QCheckBox* weeklyUpdateCheck() const { return m_weeklyUpdateCheck; }
    QLabel* sitesFolder() const { return m_sitesFolder; }
    QCoro::Task<> chooseSitesFolder();

private:
    void refresh();

    AppServices& m_services;
    QLabel* m_editor;
    QComboBox* m_appearance;
    QComboBox* m_defaultPHP;
    QCheckBox* m_secure;
    QCheckBox* m_preferHerd;
    QCheckBox* m_weeklyUpdateCheck;
    QLabel* m_sitesFolder;
    LifeGuard m_life;
};

} // namespace halvik::views
