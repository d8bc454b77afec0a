#pragma once

#include "app/ConnectAccountModel.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace halvik::views {

class ProviderBadge;
class ToneLabel;

// Connects one source-control account: the provider picker, then the browser sign-in (with
// the CLI install it may need, or the device code) or the token fields, with the links to each
// provider's token page.
class ConnectSheet : public QDialog
{
    Q_OBJECT
public:
    ConnectSheet(SourceControlService& service, SourceControlProvider provider, QWidget* parent = nullptr);

    ConnectAccountModel& model() { return m_model; }
    QComboBox* providerPicker() const { return m_picker; }
    QPushButton* installButton() const { return m_install; }
    QPushButton* signInButton() const { return m_signIn; }
    QPushButton* connectButton() const { return m_connect; }
    QLineEdit* tokenField() const { return m_token; }
    QLineEdit* usernameField() const { return m_username; }
    QLabel* statusLabel() const;
    QLabel* codeLabel() const { return m_code; }
    QLabel* tokenHelpLabel() const;
    QLabel* linkLabel() const { return m_link; }

    // How links and the device page are opened (tests record them instead).
    static std::function<void(const QUrl&)>& urlOpener();

    // Closing the sheet also stops a sign-in that is still waiting for the browser.
    void done(int result) override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void focusToken();
    void sync();

    ConnectAccountModel m_model;
    ProviderBadge* m_badge;
    QLabel* m_heading;
    QComboBox* m_picker;
    ToneLabel* m_intro;
    QWidget* m_browserBox;
    ToneLabel* m_status;
    QLabel* m_code;
    ToneLabel* m_detail;
    QProgressBar* m_progress;
    QPushButton* m_install;
    QPushButton* m_signIn;
    QWidget* m_tokenBox;
    QLabel* m_tokenTitle;
    QLineEdit* m_token;
    ToneLabel* m_tokenHelp;
    QLabel* m_usernameTitle;
    QLineEdit* m_username;
    ToneLabel* m_usernameHelp;
    QLabel* m_link;
    ToneLabel* m_result;
    QPushButton* m_connect;
    QPushButton* m_close;
};

} // namespace halvik::views
