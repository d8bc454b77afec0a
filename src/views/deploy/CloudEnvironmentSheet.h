#pragma once

#include "models/Site.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class ToneLabel;

// "Edit Cloud environment…": the site's Cloud environment variables, set and deleted there.
class CloudEnvironmentSheet : public QDialog
{
    Q_OBJECT
public:
    CloudEnvironmentSheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);

    QTreeWidget* table() const { return m_table; }
    QLineEdit* keyField() const { return m_key; }
    QLineEdit* valueField() const { return m_value; }
    QPushButton* setButton() const { return m_set; }
    QPushButton* deleteButton() const { return m_delete; }
    ToneLabel* statusLabel() const { return m_status; }
    bool isBusy() const { return m_busy; }

    void reload();
    void setVariable();
    void deleteSelected();

private:
    // Runs one change (or none) and shows the environment after it.
    void apply(QString setKey, QString setValue, QStringList deleteKeys);
    void sync();

    AppServices& m_services;
    SitePtr m_site;
    QTreeWidget* m_table;
    QLineEdit* m_key;
    QLineEdit* m_value;
    QPushButton* m_set;
    QPushButton* m_delete;
    ToneLabel* m_status;
    bool m_busy = false;
};

} // namespace halvik::views
