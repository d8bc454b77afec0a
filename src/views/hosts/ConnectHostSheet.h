#pragma once

#include "async/Cancellation.h"
#include "models/HostAccount.h"

#include <QDialog>
#include <QUrl>

class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

namespace halvik {
class HostAccountService;
class LaravelCloudClient;
} // namespace halvik

namespace halvik::views {

class ToneLabel;

// "Connect a New Host": the provider, its token (masked) and, for Cloudflare, the account id,
// verifying, and the provider's sentence when it refuses. Laravel Cloud signs in through the
// browser instead, its status lines under the button and its address ready to copy; "Connect
// another way…" takes a token. Accepts once the account is connected.
class ConnectHostSheet : public QDialog
{
    Q_OBJECT
public:
    ConnectHostSheet(HostAccountService& hosts, LaravelCloudClient* cloud = nullptr,
                     QWidget* parent = nullptr);
    ~ConnectHostSheet() override;

    QComboBox* providerPicker() const { return m_picker; }
    QLineEdit* tokenField() const { return m_token; }
    // Shown for Cloudflare Pages only.
    QLineEdit* accountField() const { return m_account; }
    QString tokenLabelText() const;
    QPushButton* connectButton() const { return m_connect; }
    ToneLabel* statusLabel() const { return m_status; }
    bool isVerifying() const { return m_verifying; }
    QPushButton* cloudSignInButton() const { return m_signIn; }
    QPushButton* otherWayButton() const { return m_otherWay; }
    QPushButton* copyLinkButton() const { return m_copyLink; }
    ToneLabel* cloudStatus() const { return m_cloudStatus; }
    // Whether the Laravel Cloud page (the browser sign-in) shows.
    bool showsCloudSignIn() const;
    // The account connected, once accepted.
    HostAccountPtr connected() const { return m_connected; }

    void submit();
    void signInWithBrowser();
    // The address the browser sign-in opened, for a desktop without a browser.
    QUrl signInURL() const { return m_signInURL; }
    void reject() override;

private:
    void sync();

    HostAccountService& m_hosts;
    QComboBox* m_picker;
    QLineEdit* m_token;
    QLineEdit* m_account;
    QFormLayout* m_form;
    ToneLabel* m_status;
    QPushButton* m_connect;
    QPushButton* m_cancel;
    LaravelCloudClient* m_cloud;
    QWidget* m_cloudPage;
    QWidget* m_tokenPage;
    QPushButton* m_signIn;
    QPushButton* m_otherWay;
    QPushButton* m_copyLink;
    ToneLabel* m_cloudStatus;
    QUrl m_signInURL;
    bool m_otherWayChosen = false;
    CancellationSource m_signInCancel;
    bool m_verifying = false;
    HostAccountPtr m_connected;
};

} // namespace halvik::views
