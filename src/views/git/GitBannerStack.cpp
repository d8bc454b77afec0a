#include "views/git/GitBannerStack.h"

#include "views/git/GitBanners.h"

#include "app/GitWorkspace.h"
#include "app/UserPrompts.h"
#include "async/FireAndForget.h"
#include "platform/PlatformTexts.h"

#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionButton>
#include <QVBoxLayout>

namespace halvik::views {

using namespace gitcore;

// --- Set-aside chip --------------------------------------------------------------------------

GitStashChip::GitStashChip(QWidget* parent) : QPushButton(parent)
{
    setIcon(QIcon::fromTheme(QStringLiteral("archive-extract"), QIcon::fromTheme(QStringLiteral("folder"))));
    setCursor(Qt::PointingHandCursor);
    setFlat(true);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void GitStashChip::setCount(int count)
{
    setText(QString::number(count) + QStringLiteral(" set-aside change sets"));
    setToolTip(QStringLiteral("Show the changes you set aside"));
}

void GitStashChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor accent = semanticColor(Semantic::info, palette());
    QColor fill = accent;
    fill.setAlpha(underMouse() || isDown() ? 60 : 34);
    painter.setBrush(fill);
    accent.setAlpha(hasFocus() ? 255 : 120);
    painter.setPen(QPen(accent, 1));
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.features |= QStyleOptionButton::Flat;
    option.state &= ~QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_PushButtonLabel, &option, &painter, this);
}

// --- The stack -------------------------------------------------------------------------------

GitBannerStack::GitBannerStack(GitWorkspace& workspace, UserPrompts& prompts,
                               std::function<SourceControlProvider()> provider, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_prompts(prompts), m_provider(std::move(provider)),
      m_identity(new GitIdentityBanner(this)), m_env(new GitNoticeBanner(this)), m_stopTracking(nullptr),
      m_rebase(new GitRebaseBanner(this)), m_continue(nullptr), m_abort(nullptr),
      m_origin(new GitBanner(Semantic::info, this)), m_createRepo(nullptr), m_stash(new GitStashChip(this)),
      m_notice(new GitNoticeBanner(this)), m_dirty(new GitNoticeBanner(this)), m_setAside(nullptr)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    // Identity: the fields are the workspace's drafts.
    connect(m_identity->nameField(), &QLineEdit::textEdited, &m_workspace, &GitWorkspace::setIdentityName);
    connect(m_identity->emailField(), &QLineEdit::textEdited, &m_workspace, &GitWorkspace::setIdentityEmail);
    connect(m_identity->saveButton(), &QPushButton::clicked, this,
            [this] { fireAndForget(&m_workspace, m_workspace.saveIdentity(true)); });

    m_env->setTone(Semantic::caution);
    m_env->setTitle(QStringLiteral(".env is being tracked"));
    m_env->setText(
        QStringLiteral("It usually has secrets. Stop tracking it so it isn\u2019t pushed \u2014 Halvik will "
                       "also ignore it."));
    m_stopTracking = m_env->addButton(QStringLiteral("Stop tracking .env"));
    connect(m_stopTracking, &QPushButton::clicked, this,
            [this] { fireAndForget(&m_workspace, m_workspace.stopTrackingEnv()); });

    m_continue = m_rebase->addButton(QString());
    m_abort = m_rebase->addButton(QString());
    connect(m_continue, &QPushButton::clicked, this, &GitBannerStack::continueConflict);
    connect(m_abort, &QPushButton::clicked, this, [this] { fireAndForget(this, abortConflict()); });

    m_origin->setText(QStringLiteral("This site only lives on ") + PlatformTexts::thisComputer());
    m_createRepo = m_origin->addButton(QString());
    auto* tools = m_origin->addButton(QStringLiteral("Repository tools\u2026"));
    connect(m_createRepo, &QPushButton::clicked, this,
            [this] { m_workspace.setShowingCreateGitHubRepo(true); });
    connect(tools, &QPushButton::clicked, this, [this] { m_workspace.setShowingRepositoryTools(true); });

    connect(m_stash, &QPushButton::clicked, this, [this] { m_workspace.setShowingStashManager(true); });

    m_notice->setDismissible(true);
    connect(m_notice, &GitNoticeBanner::dismissed, &m_workspace, &GitWorkspace::dismissNotice);
    connect(m_notice, &GitNoticeBanner::copyRequested, this, [this](const QString&) {
        if (m_workspace.copyText && m_workspace.rawError())
            m_workspace.copyText(*m_workspace.rawError());
    });

    m_dirty->setTone(Semantic::caution);
    m_dirty->setText(QStringLiteral("Uncommitted changes would be overwritten. Set them aside to switch."));
    m_setAside = m_dirty->addButton(QStringLiteral("Set Aside and Switch"));
    auto* cancel = m_dirty->addButton(QStringLiteral("Cancel"));
    connect(m_setAside, &QPushButton::clicked, this,
            [this] { fireAndForget(&m_workspace, m_workspace.setAsideAndSwitch()); });
    connect(cancel, &QPushButton::clicked, &m_workspace, &GitWorkspace::dismissNotice);

    layout->addWidget(m_identity);
    layout->addWidget(m_env);
    layout->addWidget(m_rebase);
    layout->addWidget(m_origin);
    layout->addWidget(m_stash, 0, Qt::AlignLeft);
    layout->addWidget(m_notice);
    layout->addWidget(m_dirty);

    for (auto signal :
         {&GitWorkspace::snapshotChanged, &GitWorkspace::busyChanged, &GitWorkspace::noticeChanged,
          &GitWorkspace::draftsChanged, &GitWorkspace::pendingDirtySwitchChanged})
        connect(&m_workspace, signal, this, &GitBannerStack::sync);
    sync();
}

void GitBannerStack::sync()
{
    const GitRepositorySnapshot& snapshot = m_workspace.snapshot();
    const GitStatus& status = snapshot.status;
    const bool repo = status.isRepo && !status.problem;
    const bool busy = m_workspace.isOperating();
    const bool conflicted = m_workspace.conflict() != GitConflictKind::none;

    m_identity->setVisible(repo && !snapshot.identity.isComplete());
    syncIdentity();

    m_env->setVisible(repo && status.tracksEnv);
    m_stopTracking->setEnabled(!busy);

    m_rebase->setVisible(repo && conflicted);
    syncRebase();

    m_origin->setVisible(repo && !status.remoteURL && snapshot.identity.isComplete());
    const SourceControlProvider provider = m_provider ? m_provider() : SourceControlProvider::github;
    m_createRepo->setText(QStringLiteral("Create ") + title(provider) + QStringLiteral(" repo\u2026"));
    m_createRepo->setEnabled(!busy);

    m_stash->setVisible(repo && !snapshot.stashes.isEmpty());
    m_stash->setCount(int(snapshot.stashes.size()));

    syncNotice();

    m_dirty->setVisible(m_workspace.pendingDirtySwitch().has_value());
    m_setAside->setEnabled(!busy && !conflicted);
    setVisible(repo);
}

void GitBannerStack::syncIdentity()
{
    if (m_identity->nameField()->text() != m_workspace.identityName())
        m_identity->nameField()->setText(m_workspace.identityName());
    if (m_identity->emailField()->text() != m_workspace.identityEmail())
        m_identity->emailField()->setText(m_workspace.identityEmail());
    const bool filled =
        !m_workspace.identityName().trimmed().isEmpty() && !m_workspace.identityEmail().trimmed().isEmpty();
    m_identity->saveButton()->setEnabled(filled && !m_workspace.isOperating());
}

void GitBannerStack::syncRebase()
{
    const GitConflictKind kind = m_workspace.conflict();
    if (kind == GitConflictKind::none)
        return;
    const GitConflictTexts texts = m_workspace.conflictTexts();
    m_rebase->setTitle(texts.title);
    m_rebase->setText(texts.text);
    QStringList paths;
    for (const auto& file : m_workspace.snapshot().unmergedFiles())
        paths.append(file.path);
    m_rebase->setFiles(paths);
    QString help;
    if (kind == GitConflictKind::rebase)
        help = QStringLiteral(
            "You can still browse. Unsafe actions are disabled until this is resolved. Continue "
            "runs git rebase --continue; Abort runs git rebase --abort.");
    else if (kind == GitConflictKind::revert)
        help = QStringLiteral(
            "You can still browse. Unsafe actions are disabled until this is resolved. Continue "
            "runs git revert --continue; Abort runs git revert --abort.");
    m_rebase->setHelp(help);
    m_continue->setText(texts.actions.value(0));
    m_abort->setText(texts.actions.value(1));
    m_abort->setVisible(texts.actions.size() > 1);
    const bool busy = m_workspace.isOperating();
    m_continue->setEnabled(!busy);
    m_abort->setEnabled(!busy);
}

void GitBannerStack::syncNotice()
{
    const auto& notice = m_workspace.notice();
    // The refused switch has a banner of its own with the same sentence.
    const bool shownByDirty =
        m_workspace.pendingDirtySwitch().has_value() && notice && *notice == m_dirty->text();
    m_notice->setVisible(notice.has_value() && !shownByDirty);
    if (!notice)
        return;
    const bool failed = m_workspace.noticeFailed();
    // A failure that carries Git's whole output shows its first paragraph; the rest is in Details.
    const bool detailed = failed && m_workspace.rawError().has_value();
    m_notice->setText(detailed ? notice->section(QStringLiteral("\n\n"), 0, 0).trimmed() : *notice);
    m_notice->setTone(failed ? Semantic::danger : Semantic::success);
    const auto& raw = m_workspace.rawError();
    m_notice->setDetails(failed ? raw : std::nullopt, failed);
}

void GitBannerStack::continueConflict()
{
    switch (m_workspace.conflict()) {
    case GitConflictKind::none:
        return;
    case GitConflictKind::rebase:
        fireAndForget(&m_workspace, m_workspace.continueRebase());
        return;
    case GitConflictKind::revert:
        fireAndForget(&m_workspace, m_workspace.continueRevert());
        return;
    case GitConflictKind::restore:
    case GitConflictKind::autostash:
        fireAndForget(this, markAllResolved());
        return;
    }
}

QCoro::Task<> GitBannerStack::markAllResolved()
{
    const LifeToken alive = m_life.token();
    const QList<GitChangedFile> files = m_workspace.snapshot().unmergedFiles();
    for (const GitChangedFile& file : files) {
        co_await m_workspace.markResolved(file);
        if (!alive || m_workspace.noticeFailed())
            co_return;
    }
}

QCoro::Task<> GitBannerStack::abortConflict()
{
    const GitConflictKind kind = m_workspace.conflict();
    if (kind != GitConflictKind::rebase && kind != GitConflictKind::revert)
        co_return;
    const bool rebase = kind == GitConflictKind::rebase;
    const LifeToken alive = m_life.token();
    PromptDialog dialog;
    dialog.title = rebase ? QStringLiteral("Abort rebase?") : QStringLiteral("Abort undo?");
    dialog.text =
        rebase ? QStringLiteral("Goes back to the branch as it was before this pull. Uncommitted files "
                                "stay as they are.")
               : QStringLiteral("Goes back to the history as it was before this undo. Uncommitted files "
                                "stay as they are.");
    const QString button = rebase ? QStringLiteral("Abort Rebase") : QStringLiteral("Abort Undo");
    dialog.buttons = {button, QStringLiteral("Cancel")};
    dialog.cancelIndex = 1;
    const int choice = co_await m_prompts.ask(dialog);
    if (!alive || choice != 0)
        co_return;
    if (rebase)
        co_await m_workspace.abortRebase();
    else
        co_await m_workspace.abortRevert();
}

} // namespace halvik::views
