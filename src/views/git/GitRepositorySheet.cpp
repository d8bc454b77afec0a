#include "views/git/GitRepositorySheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/git/GitSheetWidgets.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/accounts/SourceControlService.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace halvik::views {

using gitcore::GitIdentityScope;

namespace {

QFormLayout* sectionForm(QWidget* parent)
{
    auto* form = new QFormLayout(parent);
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return form;
}

// A recovery action: its button, and what it does in a muted line beside it.
QPushButton* addRecoveryRow(QGridLayout* grid, int row, const QString& icon, const QString& title,
                            const QString& help, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    setGlyph(button, icon);
    grid->addWidget(button, row, 0);
    auto* text = new ToneLabel(help, Tone::muted, parent);
    grid->addWidget(text, row, 1);
    return button;
}

} // namespace

GitRepositorySheet::GitRepositorySheet(GitWorkspace& workspace, SourceControlService& accounts,
                                       QWidget* parent)
    : QDialog(parent), m_workspace(workspace), m_accounts(accounts)
{
    setObjectName("gitRepositorySheet");
    setWindowTitle(QStringLiteral("Repository Tools"));
    setMinimumWidth(600);

    QVBoxLayout* layout = sheetLayout(this);
    addSheetHeading(layout, QStringLiteral("repository"), QStringLiteral("folder-git"),
                    QStringLiteral("Repository Tools"), this);
    layout->addWidget(sectionTitle(QStringLiteral("Repository"), this));
    layout->addWidget(buildRepository());
    layout->addWidget(sectionTitle(QStringLiteral("Identity"), this));
    layout->addWidget(buildIdentity());
    layout->addWidget(sectionTitle(QStringLiteral("Recovery"), this));
    layout->addWidget(buildRecovery());
    alignFormLabels({m_repositoryForm, m_identityForm});

    m_outcome = new ToneLabel(QString(), Tone::failure, this);
    m_outcome->setObjectName("repositoryOutcome");
    m_outcome->hide();
    layout->addSpacing(4);
    layout->addWidget(m_outcome);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* done = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
    // Return in a field runs that field's own button, never closes the sheet.
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(buttons);

    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitRepositorySheet::sync);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, [this] {
        if (m_running && m_workspace.busyAction())
            m_ran = true;
        sync();
    });
    connect(&m_workspace, &GitWorkspace::draftsChanged, this, &GitRepositorySheet::syncDrafts);
    connect(&m_accounts, &SourceControlService::accountsChanged, this, &GitRepositorySheet::sync);
    connect(&m_accounts.store(), &SiteStore::sourceControlAccountsChanged, this, &GitRepositorySheet::sync);
    syncDrafts();
    sync();
    m_built = true;
}

QWidget* GitRepositorySheet::buildRepository()
{
    auto* box = new QWidget(this);
    QFormLayout* form = sectionForm(box);
    m_repositoryForm = form;

    m_remote = new QLabel(box);
    m_remote->setObjectName("remoteName");
    m_remote->setTextFormat(Qt::RichText);
    m_remote->setOpenExternalLinks(false);
    m_remote->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(m_remote, &QLabel::linkActivated, this, [this] { m_workspace.openRemote(); });
    form->addRow(QStringLiteral("Remote"), m_remote);

    auto* urlRow = new QHBoxLayout;
    m_remoteField = new QLineEdit(box);
    m_remoteField->setObjectName("remoteField");
    m_remoteField->setPlaceholderText(QStringLiteral("https://github.com/you/my-site.git"));
    m_remoteField->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_remoteField->setClearButtonEnabled(true);
    urlRow->addWidget(m_remoteField, 1);
    m_origin = new QPushButton(box);
    m_origin->setObjectName("originButton");
    m_origin->setToolTip(QStringLiteral("git remote set-url origin"));
    urlRow->addWidget(m_origin);
    m_remoteTitle = new QLabel(QStringLiteral("Origin URL"), box);
    form->addRow(m_remoteTitle, urlRow);

    m_openRemote = new QPushButton(
        themeIcon(QStringLiteral("internet-web-browser"), QStringLiteral("applications-internet")),
        QStringLiteral("Open remote"), box);
    m_openRemote->setObjectName("openRemoteButton");
    m_openRow = new QHBoxLayout;
    m_openRow->addWidget(m_openRemote);
    m_openRow->addStretch();
    form->addRow(QString(), m_openRow);

    m_providerBox = new QWidget(box);
    auto* grid = new QGridLayout(m_providerBox);
    grid->setContentsMargins(0, 0, 0, 0);
    int index = 0;
    for (const SourceControlProvider provider : allCases<SourceControlProvider>()) {
        auto* button = new QPushButton(providerIcon(provider), QString(), m_providerBox);
        button->setObjectName(QStringLiteral("provider-") + toRaw(provider));
        grid->addWidget(button, index / 2, index % 2);
        m_providers.insert(provider, button);
        connect(button, &QPushButton::clicked, this, [this, provider] {
            if (m_accounts.isConnected(provider))
                Q_EMIT createRequested(provider);
            else
                Q_EMIT connectRequested(provider);
        });
        ++index;
    }
    form->addRow(QStringLiteral("New remote"), m_providerBox);

    connect(m_remoteField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_workspace.setRemoteDraft(text);
        sync();
    });
    connect(m_remoteField, &QLineEdit::returnPressed, m_origin, &QPushButton::click);
    connect(m_origin, &QPushButton::clicked, this, [this] {
        if (m_workspace.remoteDraft().trimmed().isEmpty())
            return;
        fireAndForget(
            this, runFromSheet([this] { return m_workspace.setOrigin(); }, QStringLiteral("Origin saved.")));
    });
    connect(m_openRemote, &QPushButton::clicked, this, [this] { m_workspace.openRemote(); });
    return box;
}

QWidget* GitRepositorySheet::buildIdentity()
{
    auto* box = new QWidget(this);
    QFormLayout* form = sectionForm(box);
    m_identityForm = form;
    m_name = new QLineEdit(box);
    m_name->setObjectName("identityName");
    m_name->setPlaceholderText(QStringLiteral("Your Name"));
    form->addRow(QStringLiteral("Name"), m_name);
    m_email = new QLineEdit(box);
    m_email->setObjectName("identityEmail");
    m_email->setPlaceholderText(QStringLiteral("you@example.com"));
    form->addRow(QStringLiteral("Email"), m_email);

    auto* scopeRow = new QHBoxLayout;
    m_global = new QRadioButton(QStringLiteral("This computer"), box);
    m_global->setToolTip(QStringLiteral("git config --global"));
    m_local = new QRadioButton(QStringLiteral("This repository"), box);
    m_local->setToolTip(QStringLiteral("git config --local"));
    auto* group = new QButtonGroup(box);
    group->addButton(m_global);
    group->addButton(m_local);
    m_global->setChecked(true);
    scopeRow->addWidget(m_global);
    scopeRow->addWidget(m_local);
    scopeRow->addStretch();
    m_saveIdentity = new QPushButton(QStringLiteral("Save identity"), box);
    setGlyph(m_saveIdentity, QStringLiteral("document-save"));
    m_saveIdentity->setObjectName("saveIdentityButton");
    scopeRow->addWidget(m_saveIdentity);
    form->addRow(QStringLiteral("Use for"), scopeRow);

    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_workspace.setIdentityName(text);
        sync();
    });
    connect(m_email, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_workspace.setIdentityEmail(text);
        sync();
    });
    const auto save = [this] {
        if (m_saveIdentity->isEnabled())
            m_saveIdentity->click();
    };
    connect(m_name, &QLineEdit::returnPressed, this, save);
    connect(m_email, &QLineEdit::returnPressed, this, save);
    connect(m_global, &QRadioButton::toggled, this, [this] { m_scopeChosen = true; });
    connect(m_local, &QRadioButton::toggled, this, [this] { m_scopeChosen = true; });
    connect(m_saveIdentity, &QPushButton::clicked, this, [this] {
        const bool global = m_global->isChecked();
        const QString saved = global ? QStringLiteral("Saved for every repository on this computer.")
                                     : QStringLiteral("Saved for this repository.");
        fireAndForget(this, runFromSheet([this, global] { return m_workspace.saveIdentity(global); }, saved));
    });
    return box;
}

QWidget* GitRepositorySheet::buildRecovery()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(1, 1);
    m_setAside =
        addRecoveryRow(grid, 0, QStringLiteral("vcs-stash"), QStringLiteral("Set Changes Aside"),
                       QStringLiteral("Every change, tracked and untracked, is put aside for later."), box);
    m_undo = addRecoveryRow(grid, 1, QStringLiteral("edit-undo"), QStringLiteral("Undo Last Commit…"),
                            QStringLiteral("Adds a commit that reverses the last one."), box);
    m_discard = addRecoveryRow(grid, 2, QStringLiteral("edit-delete"), QStringLiteral("Discard All Changes…"),
                               QStringLiteral("Every uncommitted file goes back to the last commit."), box);
    m_setAside->setObjectName("recoverySetAside");
    m_undo->setObjectName("recoveryUndo");
    m_discard->setObjectName("recoveryDiscard");
    connect(m_setAside, &QPushButton::clicked, this, [this] {
        fireAndForget(this, runFromSheet([this] { return m_workspace.stashChanges(); },
                                         QStringLiteral("Changes set aside.")));
    });
    connect(m_undo, &QPushButton::clicked, this, [this] {
        if (m_workspace.snapshot().commits.isEmpty())
            return;
        const gitcore::GitCommit last = m_workspace.snapshot().commits.first();
        fireAndForget(this, runFromSheet([this, last] { return m_workspace.revert(last); },
                                         QStringLiteral("Last commit undone.")));
    });
    connect(m_discard, &QPushButton::clicked, this, [this] {
        fireAndForget(this, runFromSheet([this] { return m_workspace.discardAll(); },
                                         QStringLiteral("Every change discarded.")));
    });
    return box;
}

void GitRepositorySheet::keyPressEvent(QKeyEvent* event)
{
    // Return in a field belongs to that field's own button (connected to returnPressed); it
    // must not also reach the dialog's default button and close the sheet.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        qobject_cast<QLineEdit*>(focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QLabel* GitRepositorySheet::outcomeLabel() const
{
    return m_outcome;
}

void GitRepositorySheet::syncDrafts()
{
    // Only a changed value is written back, so typing keeps its cursor.
    if (m_name->text() != m_workspace.identityName())
        m_name->setText(m_workspace.identityName());
    if (m_email->text() != m_workspace.identityEmail())
        m_email->setText(m_workspace.identityEmail());
    if (m_remoteField->text() != m_workspace.remoteDraft())
        m_remoteField->setText(m_workspace.remoteDraft());
    sync();
}

void GitRepositorySheet::sync()
{
    const auto& snapshot = m_workspace.snapshot();
    const auto& status = snapshot.status;
    const bool idle = !m_running && !m_workspace.busyAction().has_value();
    const bool rebasing = status.inProgressRebase || status.hasUnmerged;
    const bool hasRemote = status.remoteURL.has_value();

    if (hasRemote) {
        const QString name = status.remoteDisplayName().value_or(QString());
        if (const auto web = status.remoteWebURL())
            m_remote->setText(QStringLiteral("<a href=\"%1\" style=\"color:%3\">%2</a>")
                                  .arg(web->toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                       name.toHtmlEscaped(),
                                       QApplication::palette().color(QPalette::Link).name()));
        else
            m_remote->setText(name.toHtmlEscaped());
        m_remote->setToolTip(status.displayRemoteURL().value_or(QString()));
    } else {
        m_remote->setText(QStringLiteral("<span style=\"color:%1\">None — this site only lives on this "
                                         "computer.</span>")
                              .arg(palette().color(QPalette::PlaceholderText).name()));
        m_remote->setToolTip(QString());
    }
    m_origin->setText(hasRemote ? QStringLiteral("Update origin URL") : QStringLiteral("Add origin"));
    m_origin->setEnabled(idle && status.isRepo && !m_workspace.remoteDraft().trimmed().isEmpty());
    m_remoteField->setEnabled(status.isRepo);
    m_openRemote->setVisible(hasRemote);
    m_openRemote->setEnabled(status.remoteWebURL().has_value());

    // A repository on a provider only makes sense while there is nowhere to push yet.
    m_repositoryForm->setRowVisible(m_providerBox, !hasRemote);
    m_repositoryForm->setRowVisible(m_openRow, hasRemote);
    for (auto it = m_providers.cbegin(); it != m_providers.cend(); ++it) {
        const QString provider = title(it.key());
        it.value()->setText(m_accounts.isConnected(it.key())
                                ? QStringLiteral("Create ") + provider + QStringLiteral(" repository…")
                                : QStringLiteral("Connect ") + provider + QStringLiteral("…"));
        it.value()->setEnabled(idle && status.isRepo);
    }

    if (!m_scopeChosen) {
        const bool local =
            snapshot.identity.isComplete() && snapshot.identity.scope == GitIdentityScope::local;
        (local ? m_local : m_global)->setChecked(true);
        m_scopeChosen = false;
    }
    m_saveIdentity->setEnabled(idle && status.isRepo && !m_workspace.identityName().trimmed().isEmpty() &&
                               !m_workspace.identityEmail().trimmed().isEmpty());

    m_setAside->setEnabled(idle && !rebasing && !snapshot.files.isEmpty());
    m_undo->setEnabled(idle && !rebasing && !snapshot.commits.isEmpty() && !status.isUnborn);
    m_discard->setEnabled(idle && !rebasing && !snapshot.files.isEmpty());
}

QCoro::Task<> GitRepositorySheet::runFromSheet(std::function<QCoro::Task<>()> operation, QString success)
{
    if (m_running)
        co_return;
    const LifeToken alive = m_life.token();
    m_running = true;
    m_ran = false;
    m_outcome->hide();
    sync();
    QCoro::Task<> task = operation();
    co_await std::move(task);
    if (!alive)
        co_return;
    m_running = false;
    // A declined question runs nothing: the sheet says nothing either.
    if (m_ran)
        showOutcome(m_outcome, m_workspace, success);
    sync();
}

void GitRepositorySheet::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Light and dark switch at once, without reopening.
    if (event->type() == QEvent::PaletteChange && m_built) {
        refreshGlyphs(this);
        for (auto it = m_providers.cbegin(); it != m_providers.cend(); ++it)
            it.value()->setIcon(providerIcon(it.key()));
        sync();
    }
}

} // namespace halvik::views
