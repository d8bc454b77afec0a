#pragma once

#include "models/Site.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace halvik {
class AppServices;
class CloneJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;

// "Clone Site": a copy of a site in a new folder, its options and conflicts, then the clone's
// steps, progress and log.
class CloneSheet : public QDialog
{
    Q_OBJECT
public:
    CloneSheet(AppServices& services, QUuid sourceID, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* folderField() const { return m_folder; }
    QLabel* slugLabel() const { return m_slug; }
    QLabel* conflictLabel() const { return m_conflict; }
    QCheckBox* httpsBox() const { return m_https; }
    QCheckBox* regenerateBox() const { return m_regenerate; }
    QCheckBox* removeGitBox() const { return m_removeGit; }
    QPushButton* cloneButton() const { return m_clone; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* stepLabel() const { return m_step; }
    QProgressBar* bar() const { return m_bar; }
    LiveLogView* logView() const { return m_log; }
    QLabel* missingLabel() const { return m_missing; }

    QString destination() const;

private:
    void updateState();
    void startClone();
    void refreshJob();

    AppServices& m_services;
    SitePtr m_source;
    QStackedWidget* m_pages;
    QLabel* m_missing = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_folder = nullptr;
    QLabel* m_slug = nullptr;
    QLabel* m_conflict = nullptr;
    QCheckBox* m_https = nullptr;
    QCheckBox* m_regenerate = nullptr;
    QCheckBox* m_removeGit = nullptr;
    QPushButton* m_clone = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_step = nullptr;
    QProgressBar* m_bar = nullptr;
    LiveLogView* m_log = nullptr;
    QPointer<CloneJob> m_job;
};

} // namespace halvik::views
