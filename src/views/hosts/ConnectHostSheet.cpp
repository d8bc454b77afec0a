#include "views/hosts/ConnectHostSheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/hosts/CloudSignInFlow.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"
#include "platform/Browser.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QApplication>
#include <QClipboard>

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace halvik::views {

ConnectHostSheet::ConnectHostSheet(HostAccountService& hosts, LaravelCloudClient* cloud, QWidget* parent)
    : QDialog(parent), m_hosts(hosts), m_cloud(cloud)
{
    setWindowTitle(QStringLiteral("Connect a New Host"));
    setObjectName("connectHostSheet");
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    layout->addWidget(headingLabel(QStringLiteral("Connect a New Host"), 2, this));
    layout->addWidget(new ToneLabel(QStringLiteral("Halvik deploys your sites with the host’s API token. "
                                                   "It stays on this computer."),
                                    Tone::muted, this));

    auto* form = new QFormLayout;
    m_form = form;
    m_picker = new QComboBox(this);
    m_picker->setObjectName("hostProvider");
    auto* items = new QStandardItemModel(m_picker);
    for (const HostProviderKind kind : allCases<HostProviderKind>()) {
        // Laravel Cloud is listed once it can be connected.
        if (kind == HostProviderKind::laravelCloud && !hosts.canConnect(kind))
            continue;
        auto* item = new QStandardItem(HostAccountService::providerTitle(kind));
        item->setData(static_cast<int>(kind), Qt::UserRole);
        if (!hosts.canConnect(kind)) {
            item->setEnabled(false);
            item->setToolTip(QStringLiteral("Comes with static publishing."));
        }
        items->appendRow(item);
    }
    m_picker->setModel(items);
    form->addRow(QStringLiteral("Provider"), m_picker);
    layout->addLayout(form);

    m_cloudPage = new QWidget(this);
    auto* cloudLayout = new QVBoxLayout(m_cloudPage);
    cloudLayout->setContentsMargins(0, 4, 0, 0);
    auto* explain =
        new ToneLabel(QStringLiteral("Sign in with Laravel Cloud (browser OAuth, same as `cloud auth`). "
                                     "Connect GitHub in Cloud once so apps can be created from your repos."),
                      Tone::muted, m_cloudPage);
    explain->setWordWrap(true);
    cloudLayout->addWidget(explain);
    m_signIn = new QPushButton(QIcon::fromTheme(QStringLiteral("web-browser")),
                               QStringLiteral("Sign in with Laravel Cloud"), m_cloudPage);
    m_signIn->setObjectName("cloudSignIn");
    cloudLayout->addWidget(m_signIn, 0, Qt::AlignLeft);
    m_cloudStatus = new ToneLabel(QString(), Tone::muted, m_cloudPage);
    m_cloudStatus->setObjectName("cloudSignInStatus");
    m_cloudStatus->setWordWrap(true);
    m_cloudStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cloudLayout->addWidget(m_cloudStatus);
    auto* cloudButtons = new QHBoxLayout;
    m_copyLink = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy link"),
                                 m_cloudPage);
    m_copyLink->setVisible(false);
    m_otherWay = new QPushButton(QStringLiteral("Connect another way…"), m_cloudPage);
    m_otherWay->setFlat(true);
    cloudButtons->addWidget(m_copyLink);
    cloudButtons->addStretch();
    cloudButtons->addWidget(m_otherWay);
    cloudLayout->addLayout(cloudButtons);
    layout->addWidget(m_cloudPage);

    m_tokenPage = new QWidget(this);
    auto* tokenForm = new QFormLayout(m_tokenPage);
    tokenForm->setContentsMargins(0, 0, 0, 0);
    m_token = new QLineEdit(this);
    m_token->setObjectName("hostToken");
    m_token->setEchoMode(QLineEdit::Password);
    m_token->setPlaceholderText(QStringLiteral("Paste the token"));
    tokenForm->addRow(QStringLiteral("API token"), m_token);
    m_account = new QLineEdit(this);
    m_account->setObjectName("hostAccountID");
    m_account->setPlaceholderText(QStringLiteral("From the Cloudflare dashboard’s Overview"));
    tokenForm->addRow(QStringLiteral("Account ID"), m_account);
    // The token's rows change with the provider: its label, and the account id for Cloudflare.
    m_form = tokenForm;
    layout->addWidget(m_tokenPage);
    m_status = new ToneLabel(QString(), Tone::muted, this);
    m_status->setObjectName("hostConnectStatus");
    layout->addWidget(m_status);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_connect = new QPushButton(QStringLiteral("Connect"), this);
    m_connect->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_connect);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_connect, &QPushButton::clicked, this, &ConnectHostSheet::submit);
    connect(m_signIn, &QPushButton::clicked, this, &ConnectHostSheet::signInWithBrowser);
    connect(m_otherWay, &QPushButton::clicked, this, [this] {
        m_otherWayChosen = true;
        sync();
        m_token->setFocus();
    });
    connect(m_copyLink, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_signInURL.toString()); });
    connect(m_picker, &QComboBox::currentIndexChanged, this, [this] {
        m_otherWayChosen = false;
        m_status->clear();
        sync();
    });
    connect(m_token, &QLineEdit::textChanged, this, [this] {
        m_status->clear();
        sync();
    });
    connect(m_account, &QLineEdit::textChanged, this, [this] {
        m_status->clear();
        sync();
    });
    connect(m_picker, &QComboBox::currentIndexChanged, this, [this] {
        m_status->clear();
        sync();
    });
    sync();
}

QString ConnectHostSheet::tokenLabelText() const
{
    const auto provider = static_cast<HostProviderKind>(m_picker->currentData(Qt::UserRole).toInt());
    return provider == HostProviderKind::netlify ? QStringLiteral("Personal access token")
                                                 : QStringLiteral("API token");
}

ConnectHostSheet::~ConnectHostSheet()
{
    m_signInCancel.cancel();
}

bool ConnectHostSheet::showsCloudSignIn() const
{
    const auto provider = static_cast<HostProviderKind>(m_picker->currentData(Qt::UserRole).toInt());
    return provider == HostProviderKind::laravelCloud && m_cloud && !m_otherWayChosen;
}

void ConnectHostSheet::reject()
{
    // Closing the sheet stops a sign-in that is waiting for the browser.
    m_signInCancel.cancel();
    QDialog::reject();
}

void ConnectHostSheet::sync()
{
    const bool cloudPage = showsCloudSignIn();
    m_cloudPage->setVisible(cloudPage);
    m_tokenPage->setVisible(!cloudPage);
    m_connect->setVisible(!cloudPage);
    m_status->setVisible(!cloudPage);
    m_signIn->setEnabled(!m_verifying);
    m_otherWay->setEnabled(!m_verifying);
    const auto provider = static_cast<HostProviderKind>(m_picker->currentData(Qt::UserRole).toInt());
    const bool needsAccount = HostAccountService::needsAccountID(provider);
    m_form->setRowVisible(m_account, needsAccount);
    if (auto* label = qobject_cast<QLabel*>(m_form->labelForField(m_token)))
        label->setText(tokenLabelText());
    const bool complete =
        !m_token->text().trimmed().isEmpty() && (!needsAccount || !m_account->text().trimmed().isEmpty());
    m_connect->setEnabled(!m_verifying && complete);
    m_token->setEnabled(!m_verifying);
    m_account->setEnabled(!m_verifying);
    m_picker->setEnabled(!m_verifying);
}

void ConnectHostSheet::submit()
{
    if (m_verifying || !m_connect->isEnabled())
        return;
    const auto provider = static_cast<HostProviderKind>(m_picker->currentData(Qt::UserRole).toInt());
    std::optional<QString> account;
    if (HostAccountService::needsAccountID(provider))
        account = m_account->text().trimmed();
    m_verifying = true;
    m_status->setTone(Tone::muted);
    m_status->setText(QStringLiteral("Verifying…"));
    sync();
    const QPointer<ConnectHostSheet> self(this);
    HostAccountService& hosts = m_hosts;
    const QString token = m_token->text();
    fireAndForget(this,
                  [](QPointer<ConnectHostSheet> sheet, HostAccountService& service, HostProviderKind kind,
                     QString secret, std::optional<QString> accountID) -> QCoro::Task<> {
                      QString failure;
                      HostAccountPtr host;
                      try {
                          host = co_await service.connect(kind, secret, accountID);
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!sheet)
                          co_return;
                      sheet->m_verifying = false;
                      if (host) {
                          sheet->m_connected = host;
                          sheet->m_status->clear();
                          sheet->accept();
                          co_return;
                      }
                      sheet->m_status->setTone(Tone::failure);
                      sheet->m_status->setText(failure);
                      sheet->sync();
                  }(self, hosts, provider, token, account));
}

void ConnectHostSheet::signInWithBrowser()
{
    if (m_verifying || !m_cloud)
        return;
    m_verifying = true;
    m_cloudStatus->setTone(Tone::muted);
    m_cloudStatus->setText(QStringLiteral("Starting Cloud sign-in…"));
    sync();
    m_signInCancel = CancellationSource();
    runCloudSignIn(
        this, *m_cloud, m_hosts, m_cloudStatus, m_copyLink, [this](const QUrl& url) { m_signInURL = url; },
        m_signInCancel.token(),
        [this](const QList<HostAccountPtr>& connected, const QString& failure) {
            m_verifying = false;
            if (!connected.isEmpty()) {
                m_connected = connected.first();
                accept();
                return;
            }
            m_cloudStatus->setTone(Tone::failure);
            m_cloudStatus->setText(QStringLiteral("Sign-in failed.\n") + failure);
            sync();
        });
}

} // namespace halvik::views
