#pragma once

#include "async/LifeGuard.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace halvik {
class ComposerService;
}

namespace halvik::views {

// "Create User": an email, a password of at least eight characters and whether the user is a
// super user, made with the CMS's make:user command.
class CreateUserSheet : public QDialog
{
    Q_OBJECT
public:
    CreateUserSheet(ComposerService& composer, SitePtr site, QWidget* parent = nullptr);
    ~CreateUserSheet() override;

    QLineEdit* emailField() const { return m_email; }
    QLineEdit* passwordField() const { return m_password; }
    QCheckBox* superUserSwitch() const { return m_super; }
    QPushButton* createButton() const { return m_create; }
    QString errorText() const;
    QString doneText() const { return m_done; }

private:
    QCoro::Task<> create();
    void showError(const QString& text);

    ComposerService& m_composer;
    SitePtr m_site;
    QLineEdit* m_email;
    QLineEdit* m_password;
    QCheckBox* m_super;
    QLabel* m_error;
    QPushButton* m_create;
    QString m_done;
    LifeGuard m_life;
};

} // namespace halvik::views
