#include "views/accounts/CreateRepositorySheet.h"

#include "views/accounts/AccountWidgets.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/accounts/SourceControlService.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

// A folder name as a repository name: anything outside the allowed characters becomes "-".
QString suggestedName(const QString& folder)
{
    static const QRegularExpression disallowed(QStringLiteral("[^A-Za-z0-9._-]+"));
    QString name = folder;
    name.replace(disallowed, QStringLiteral("-"));
    return name;
}

} // namespace

bool CreateRepositorySheet::isValidOwner(const QString& owner)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9-]*$"));
    return pattern.match(owner).hasMatch();
}

bool CreateRepositorySheet::isValidName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]+$"));
    return pattern.match(name).hasMatch();
}

CreateRepositorySheet::CreateRepositorySheet(GitWorkspace& workspace, SourceControlService& accounts,
                                             SourceControlProvider provider, QWidget* parent)
    : QDialog(parent), m_workspace(workspace), m_accounts(accounts), m_provider(provider)
{
    const QString titleText = QStringLiteral("Create ") + title(provider) + QStringLiteral(" repository");
    setWindowTitle(titleText);
    setObjectName("createRepositorySheet");
    setMinimumWidth(480);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new ProviderBadge(provider, 40, this));
    header->addWidget(headingLabel(titleText, 2, this), 1);
    layout->addLayout(header);
    m_explanation = new ToneLabel(
        QStringLiteral("Creates an empty repository, connects it as origin, and pushes your committed code."),
        Tone::muted, this);
    layout->addWidget(m_explanation);

    m_form = new QWidget(this);
    auto* form = new QFormLayout(m_form);
    form->setContentsMargins(0, 6, 0, 0);
    const auto account = accounts.store().sourceControlAccount(provider);
    m_ownerTitle = new QLabel(QStringLiteral("Owner"), m_form);
    m_owner = new QLineEdit(m_form);
    m_owner->setObjectName("ownerField");
    m_owner->setText(account ? account->login : QString());
    m_owner->setPlaceholderText(QStringLiteral("Your account or an organization"));
    form->addRow(m_ownerTitle, m_owner);
    // Only GitHub can create in an organisation; elsewhere the repository is the account's.
    m_ownerTitle->setVisible(provider == SourceControlProvider::github);
    m_owner->setVisible(provider == SourceControlProvider::github);
    m_name = new QLineEdit(suggestedName(workspace.site()->displayName()), m_form);
    m_name->setObjectName("nameField");
    form->addRow(QStringLiteral("Repository name"), m_name);
    auto* visibility = new QWidget(m_form);
    auto* radios = new QHBoxLayout(visibility);
    radios->setContentsMargins(0, 0, 0, 0);
    m_private = new QRadioButton(QStringLiteral("Private"), visibility);
    m_public = new QRadioButton(QStringLiteral("Public"), visibility);
    m_private->setChecked(true);
    auto* group = new QButtonGroup(visibility);
    group->addButton(m_private);
    group->addButton(m_public);
    radios->addWidget(m_private);
    radios->addWidget(m_public);
    radios->addStretch();
    form->addRow(QStringLiteral("Visibility"), visibility);
    m_private->setEnabled(provider != SourceControlProvider::origin);
    m_public->setEnabled(provider != SourceControlProvider::origin);
    layout->addWidget(m_form);

    m_validation = new ToneLabel(QString(), Tone::failure, this);
    m_validation->setObjectName("validation");
    layout->addWidget(m_validation);

    auto* progressRow = new QHBoxLayout;
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(120);
    m_progress->setMaximumHeight(6);
    m_progressText = new QLabel(QStringLiteral("Creating repository…"), this);
    progressRow->addWidget(m_progress);
    progressRow->addWidget(m_progressText, 1);
    layout->addLayout(progressRow);

    m_notice = new ToneLabel(QString(), Tone::failure, this);
    m_notice->setObjectName("notice");
    layout->addWidget(m_notice);
    m_hasRemote = new ToneLabel(
        QStringLiteral("This site already has a remote. Close this window to review it."), Tone::plain, this);
    layout->addWidget(m_hasRemote);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    m_cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_primary = buttons->addButton(QStringLiteral("Create and push"), QDialogButtonBox::AcceptRole);
    m_primary->setDefault(true);
    layout->addWidget(buttons);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_primary, &QPushButton::clicked, this, [this] { fireAndForget(this, createAndPush()); });
    connect(m_owner, &QLineEdit::textChanged, this, &CreateRepositorySheet::sync);
    connect(m_name, &QLineEdit::textChanged, this, &CreateRepositorySheet::sync);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, &CreateRepositorySheet::sync);
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &CreateRepositorySheet::sync);
    sync();
}

QLabel* CreateRepositorySheet::validationLabel() const
{
    return m_validation;
}

QLabel* CreateRepositorySheet::noticeLabel() const
{
    return m_notice;
}

void CreateRepositorySheet::sync()
{
    const bool hasRemote = m_workspace.snapshot().status.remoteURL.has_value() && !m_retry;
    const bool busy = m_running || m_workspace.isOperating();
    const QString owner = m_owner->text().trimmed();
    const QString name = m_name->text().trimmed();
    QString problem;
    if (m_provider == SourceControlProvider::github && !owner.isEmpty() && !isValidOwner(owner))
        problem =
            QStringLiteral("An owner uses letters, digits and hyphens, and starts with a letter or digit.");
    else if (!name.isEmpty() && !isValidName(name))
        problem = QStringLiteral("A repository name uses only letters, digits, “.”, “-” and “_”.");

    m_form->setVisible(!hasRemote);
    m_explanation->setVisible(!hasRemote);
    m_form->setEnabled(!busy && !m_retry);
    m_validation->setText(problem);
    m_validation->setVisible(!problem.isEmpty());
    m_progress->setVisible(busy);
    m_progressText->setText(m_retry ? QStringLiteral("Pushing…") : QStringLiteral("Creating repository…"));
    m_progressText->setVisible(busy);
    m_notice->setVisible(!busy && !m_notice->text().isEmpty());
    m_hasRemote->setVisible(hasRemote);
    m_primary->setVisible(!hasRemote);
    m_primary->setText(m_retry ? QStringLiteral("Retry push") : QStringLiteral("Create and push"));
    m_primary->setEnabled(!busy && problem.isEmpty() && !name.isEmpty());
    m_cancel->setText(hasRemote ? QStringLiteral("Close") : QStringLiteral("Cancel"));
    // Lines come and go with the state: keep every field at its natural height.
    if (isVisible())
        adjustSize();
}

QCoro::Task<> CreateRepositorySheet::createAndPush()
{
    if (m_running)
        co_return;
    const LifeToken alive = m_life.token();
    m_running = true;
    m_notice->setText(QString());
    sync();
    if (m_retry) {
        co_await m_workspace.push();
    } else {
        const QString owner = m_owner->text().trimmed();
        const std::optional<QString> chosenOwner =
            m_provider == SourceControlProvider::github && !owner.isEmpty() ? std::optional<QString>(owner)
                                                                            : std::nullopt;
        co_await m_workspace.createRemote(m_provider, m_name->text().trimmed(), chosenOwner,
                                          m_private->isChecked());
    }
    if (!alive)
        co_return;
    m_running = false;
    if (!m_workspace.noticeFailed()) {
        accept();
        co_return;
    }
    m_notice->setText(m_workspace.notice().value_or(QString()));
    // The repository exists and is origin once the push is what failed: only push again.
    m_retry = m_workspace.snapshot().status.remoteURL.has_value();
    sync();
}

} // namespace halvik::views
