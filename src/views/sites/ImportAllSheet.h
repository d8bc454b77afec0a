#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace halvik {

class ImportAllModel;
class UserPrompts;

namespace views {

// "Import All": scan a parent folder for Quillmar sites and import the ones ticked.
class ImportAllSheet : public QDialog
{
    Q_OBJECT
public:
    ImportAllSheet(ImportAllModel& model, UserPrompts& prompts, QWidget* parent = nullptr);

    QLineEdit* folderField() const { return m_folder; }
    QPushButton* chooseButton() const { return m_choose; }
    QPushButton* scanButton() const { return m_scan; }
    QPushButton* importButton() const { return m_import; }
    QLabel* summaryLabel() const { return m_summary; }
    QLabel* hintLabel() const { return m_hint; }
    QLabel* errorLabel() const { return m_error; }
    QListWidget* list() const { return m_list; }

    static QString emptyHint();

private:
    void sync();
    void rescan();
    QCoro::Task<> rescanAndShow();
    QCoro::Task<> choose();
    QCoro::Task<> importAndClose();

    ImportAllModel& m_model;
    UserPrompts& m_prompts;
    QLineEdit* m_folder;
    QPushButton* m_choose;
    QPushButton* m_scan;
    QPushButton* m_import;
    QLabel* m_summary;
    QLabel* m_hint;
    QLabel* m_error;
    QListWidget* m_list;
    bool m_scanned = false;
    bool m_syncing = false;
    LifeGuard m_life;
};

} // namespace views
} // namespace halvik
