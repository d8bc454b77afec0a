#pragma once

#include "app/AppServices.h"

#include <QDialog>

class QTabWidget;

namespace halvik::views {

// The separate settings window. Preference panes join its tabs as they land.
class SettingsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsWindow(AppServices& services, QWidget* parent = nullptr);
    QTabWidget* tabs() const { return m_tabs; }

private:
    QTabWidget* m_tabs;
};

} // namespace halvik::views
