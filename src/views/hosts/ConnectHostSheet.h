#pragma once

#include "models/HostAccount.h"

#include <QDialog>

class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

namespace halvik {
class HostAccountService;
}

namespace halvik::views {

class ToneLabel;

// "Connect a New Host": the provider, its token (masked) and, for Cloudflare, the account id,
// verifying, and the provider's sentence when it refuses. Accepts once the account is connected.
class ConnectHostSheet : public QDialog
{
    Q_OBJECT
public:
    ConnectHostSheet(HostAccountService& hosts, QWidget* parent = nullptr);

    QComboBox* providerPicker() const { return m_picker; }
    QLineEdit* tokenField() const { return m_token; }
    // Shown for Cloudflare Pages only.
    QLineEdit* accountField() const { return m_account; }
    QString tokenLabelText() const;
    QPushButton* connectButton() const { return m_connect; }
    ToneLabel* statusLabel() const { return m_status; }
    bool isVerifying() const { return m_verifying; }
    // The account connected, once accepted.
    HostAccountPtr connected() const { return m_connected; }

    void submit();

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
    bool m_verifying = false;
    HostAccountPtr m_connected;
};

} // namespace halvik::views
