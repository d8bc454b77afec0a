#include "views/accounts/ConnectSheet.h"

#include "views/accounts/AccountWidgets.h"

#include "async/FireAndForget.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString intro(SourceControlProvider provider)
{
    switch (provider) {
    case SourceControlProvider::github:
        return QStringLiteral("Sign in with GitHub in your browser, or paste a personal access token.");
    case SourceControlProvider::gitlab:
        return QStringLiteral("Paste a personal access token from GitLab.");
    case SourceControlProvider::bitbucket:
        return QStringLiteral("Paste an API token or an app password from Bitbucket.");
    case SourceControlProvider::origin:
        return QStringLiteral(
            "Sign in with your Cursor account in the browser. Halvik keeps no token for Cursor "
            "Origin; its CLI lets Git push.");
    }
    return {};
}

QString linkText(SourceControlProvider provider)
{
    if (provider == SourceControlProvider::origin)
        return QStringLiteral("Open Cursor’s codebase page…");
    return QStringLiteral("Create a token on ") + title(provider) + QStringLiteral("…");
}

} // namespace

std::function<void(const QUrl&)>& ConnectSheet::urlOpener()
{
    static std::function<void(const QUrl&)> opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    return opener;
}

ConnectSheet::ConnectSheet(SourceControlService& service, SourceControlProvider provider, QWidget* parent)
    : QDialog(parent), m_model(service)
{
    setWindowTitle(QStringLiteral("Connect a Source Control Account"));
    setObjectName("connectSheet");
    setMinimumWidth(500);
    m_model.openURL = [](const QUrl& url) { urlOpener()(url); };
    m_model.setProvider(provider);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    m_badge = new ProviderBadge(provider, 40, this);
    header->addWidget(m_badge);
    m_heading = headingLabel(QString(), 2, this);
    header->addWidget(m_heading, 1);
    layout->addLayout(header);

    auto* pickerRow = new QFormLayout;
    m_picker = new QComboBox(this);
    for (const SourceControlProvider each : allCases<SourceControlProvider>())
        m_picker->addItem(title(each), static_cast<int>(each));
    m_picker->setCurrentIndex(m_picker->findData(static_cast<int>(provider)));
    pickerRow->addRow(QStringLiteral("Provider"), m_picker);
    layout->addLayout(pickerRow);
    m_intro = new ToneLabel(QString(), Tone::muted, this);
    layout->addWidget(m_intro);

    // Browser sign-in.
    m_browserBox = new QWidget(this);
    auto* browser = new QVBoxLayout(m_browserBox);
    browser->setContentsMargins(0, 4, 0, 4);
    browser->setSpacing(6);
    m_status = new ToneLabel(QString(), Tone::plain, m_browserBox);
    m_status->setObjectName("connectStatus");
    m_status->setTextFormat(Qt::RichText);
    browser->addWidget(m_status);
    m_code = new QLabel(m_browserBox);
    m_code->setObjectName("deviceCode");
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(codeFont.pointSizeF() * 2.0);
    codeFont.setBold(true);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    m_code->setFont(codeFont);
    m_code->setAlignment(Qt::AlignCenter);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_code->setMinimumHeight(56);
    m_code->setFrameShape(QFrame::StyledPanel);
    m_code->setBackgroundRole(QPalette::Base);
    m_code->setAutoFillBackground(true);
    browser->addWidget(m_code);
    m_detail = new ToneLabel(QString(), Tone::muted, m_browserBox);
    browser->addWidget(m_detail);
    m_progress = new QProgressBar(m_browserBox);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(6);
    browser->addWidget(m_progress);
    auto* browserButtons = new QHBoxLayout;
    m_install = new QPushButton(QIcon::fromTheme(QStringLiteral("download")), QStringLiteral("Install"),
                                m_browserBox);
    m_signIn =
        new QPushButton(QIcon::fromTheme(QStringLiteral("applications-internet")), QString(), m_browserBox);
    browserButtons->addWidget(m_install);
    browserButtons->addWidget(m_signIn);
    browserButtons->addStretch();
    browser->addLayout(browserButtons);
    layout->addWidget(m_browserBox);

    // Token entry.
    m_tokenBox = new QWidget(this);
    auto* tokenForm = new QFormLayout(m_tokenBox);
    tokenForm->setContentsMargins(0, 4, 0, 4);
    tokenForm->setVerticalSpacing(4);
    m_tokenTitle = new QLabel(m_tokenBox);
    m_token = new QLineEdit(m_tokenBox);
    m_token->setObjectName("tokenField");
    m_token->setEchoMode(QLineEdit::Password);
    tokenForm->addRow(m_tokenTitle, m_token);
    m_tokenHelp = new ToneLabel(QString(), Tone::muted, m_tokenBox);
    tokenForm->addRow(QString(), m_tokenHelp);
    m_usernameTitle = new QLabel(QStringLiteral("Bitbucket username"), m_tokenBox);
    m_username = new QLineEdit(m_tokenBox);
    m_username->setObjectName("usernameField");
    tokenForm->addRow(m_usernameTitle, m_username);
    m_usernameHelp =
        new ToneLabel(QStringLiteral("Your Bitbucket account name, not your email. Required with an app "
                                     "password; API tokens usually don’t need it."),
                      Tone::muted, m_tokenBox);
    tokenForm->addRow(QString(), m_usernameHelp);
    layout->addWidget(m_tokenBox);

    m_link = new QLabel(this);
    m_link->setObjectName("tokenLink");
    m_link->setTextFormat(Qt::RichText);
    m_link->setOpenExternalLinks(false);
    connect(m_link, &QLabel::linkActivated, this, [](const QString& link) { urlOpener()(QUrl(link)); });
    layout->addWidget(m_link);

    m_result = new ToneLabel(QString(), Tone::plain, this);
    m_result->setObjectName("connectResult");
    layout->addWidget(m_result);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    m_close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    m_connect = buttons->addButton(QStringLiteral("Connect"), QDialogButtonBox::AcceptRole);
    m_connect->setDefault(true);
    layout->addWidget(buttons);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_connect, &QPushButton::clicked, this,
            [this] { fireAndForget(this, m_model.connectToken(m_token->text(), m_username->text())); });
    connect(m_install, &QPushButton::clicked, this, [this] { fireAndForget(this, m_model.install()); });
    connect(m_signIn, &QPushButton::clicked, this, [this] { fireAndForget(this, m_model.signIn()); });
    connect(m_picker, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_model.setProvider(static_cast<SourceControlProvider>(m_picker->itemData(index).toInt()));
        m_token->clear();
        m_username->clear();
        sync();
        focusToken();
    });
    connect(m_token, &QLineEdit::textChanged, this, &ConnectSheet::sync);
    connect(&m_model, &ConnectAccountModel::changed, this, &ConnectSheet::sync);
    sync();
    focusToken();
}

// The token field takes the keys, never the provider picker, whose type-ahead would switch the
// provider on the first letter of a token.
void ConnectSheet::focusToken()
{
    if (m_tokenBox->isVisibleTo(this))
        m_token->setFocus(Qt::OtherFocusReason);
    else
        m_connect->setFocus(Qt::OtherFocusReason);
}

QLabel* ConnectSheet::statusLabel() const
{
    return m_model.signsInWithBrowser() ? m_status : m_result;
}

QLabel* ConnectSheet::tokenHelpLabel() const
{
    return m_tokenHelp;
}

void ConnectSheet::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        sync();
}

void ConnectSheet::sync()
{
    using State = ConnectAccountModel::State;
    const SourceControlProvider provider = m_model.provider();
    const State state = m_model.state();
    const bool busy = m_model.isBusy();
    const bool browser = m_model.signsInWithBrowser();
    const QString name =
        provider == SourceControlProvider::origin ? QStringLiteral("Cursor") : title(provider);

    m_badge->setProvider(provider);
    m_heading->setText(QStringLiteral("Connect ") + title(provider));
    m_picker->setEnabled(!busy);
    m_intro->setText(intro(provider));

    // A browser provider tells every state in its status line (a pasted GitHub token too);
    // GitLab and Bitbucket tell theirs under the token fields.
    m_browserBox->setVisible(browser);
    m_status->setText(withCodeSpans(m_model.statusText()));
    m_status->setVisible(browser && !m_model.statusText().isEmpty());
    m_status->setTone(state == State::failed      ? Tone::failure
                      : state == State::connected ? Tone::success
                                                  : Tone::plain);
    m_code->setText(m_model.userCode());
    m_code->setVisible(state == State::showingCode);
    m_detail->setText(m_model.detailText());
    m_detail->setVisible(browser && !m_model.detailText().isEmpty());
    m_progress->setVisible(browser && busy);
    m_install->setVisible(state == State::cliMissing ||
                          (state == State::failed && m_model.needsCLI() && !m_model.cliInstalled()));
    m_install->setEnabled(!busy);
    m_signIn->setText(QStringLiteral("Sign in with ") + name);
    m_signIn->setVisible(browser && state != State::connected);
    m_signIn->setEnabled(!busy && (!m_model.needsCLI() || m_model.cliInstalled()));

    m_tokenBox->setVisible(m_model.acceptsToken());
    m_tokenTitle->setText(provider == SourceControlProvider::github      ? QStringLiteral("Or paste a token")
                          : provider == SourceControlProvider::bitbucket ? QStringLiteral("API token")
                                                                         : QStringLiteral("Access token"));
    m_token->setEnabled(!busy);
    m_token->setPlaceholderText(provider == SourceControlProvider::gitlab   ? QStringLiteral("glpat-…")
                                : provider == SourceControlProvider::github ? QStringLiteral("ghp_…")
                                                                            : QString());
    m_tokenHelp->setText(ConnectAccountModel::tokenHelp(provider));
    const bool bitbucket = provider == SourceControlProvider::bitbucket;
    m_usernameTitle->setVisible(bitbucket);
    m_username->setVisible(bitbucket);
    m_username->setEnabled(!busy);
    m_usernameHelp->setVisible(bitbucket);
    // The colour is spelled out: a label keeps the link colour it was given its text with.
    m_link->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:%3\">%2</a>")
            .arg(ConnectAccountModel::tokenPage(provider).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                 linkText(provider).toHtmlEscaped(), QApplication::palette().color(QPalette::Link).name()));

    const bool showResult = !browser && (state == State::failed || state == State::connected || busy);
    m_result->setVisible(showResult);
    m_result->setText(m_model.statusText());
    m_result->setTone(state == State::failed      ? Tone::failure
                      : state == State::connected ? Tone::success
                                                  : Tone::muted);

    m_connect->setVisible(m_model.acceptsToken() && state != State::connected);
    m_connect->setEnabled(!busy && !m_token->text().trimmed().isEmpty());
    m_close->setText(state == State::connected ? QStringLiteral("Done") : QStringLiteral("Close"));
    adjustSize();
}

void ConnectSheet::done(int result)
{
    m_model.cancel();
    QDialog::done(result);
}

} // namespace halvik::views
