#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace halvik {

class ImportSiteModel;

namespace views {

// "Import Existing Site": a display name and a project folder, typed or chosen.
class ImportSheet : public QDialog
{
    Q_OBJECT
public:
    ImportSheet(ImportSiteModel& model, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* pathField() const { return m_path; }
    QPushButton* chooseButton() const { return m_choose; }
    QPushButton* importButton() const { return m_import; }
    QLabel* noticeLabel() const { return m_notice; }
    QLabel* gitLabel() const { return m_git; }
    QLabel* errorLabel() const { return m_error; }

private:
    void sync();
    void startImport();
    QCoro::Task<> importAndClose();

    ImportSiteModel& m_model;
    QLineEdit* m_name;
    QLineEdit* m_path;
    QPushButton* m_choose;
    QPushButton* m_import;
    QLabel* m_notice;
    QLabel* m_git;
    QLabel* m_error;
    LifeGuard m_life;
};

} // namespace views
} // namespace halvik
