#include "views/git/GitDiffPane.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "views/common/SemanticColors.h"
#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffScroll.h"
#include "views/git/GitImagePreview.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

using gitcore::GitDiffKind;
using gitcore::GitDiffScope;
using gitcore::GitHunkAction;

namespace {

const QString scopeHelp =
    QStringLiteral("Included is the index (git diff --cached). Remaining is the worktree.");

QToolButton* makeScopeButton(const QString& text, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setCheckable(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setToolTip(scopeHelp);
    button->setFocusPolicy(Qt::StrongFocus);
    // The chosen side reads at a glance in both colour schemes.
    QObject::connect(button, &QAbstractButton::toggled, button, [button](bool checked) {
        QFont font = button->font();
        font.setBold(checked);
        button->setFont(font);
    });
    return button;
}

} // namespace

GitDiffPane::GitDiffPane(GitWorkspace& workspace, Mode mode, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_mode(mode), m_bar(new QWidget(this)),
      m_name(new QLabel(m_bar)), m_folder(new QLabel(m_bar)), m_counts(new QLabel(m_bar)),
      m_scopeBox(new QWidget(m_bar)), m_included(makeScopeButton(QStringLiteral("Included"), m_scopeBox)),
      m_remaining(makeScopeButton(QStringLiteral("Remaining"), m_scopeBox)),
      m_stack(new QStackedWidget(this)), m_messageIcon(new QLabel(m_stack)), m_message(new QLabel(m_stack)),
      m_image(new GitImagePreview(m_stack)), m_scroll(new GitDiffScroll(m_stack))
{
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto* barLayout = new QHBoxLayout(m_bar);
    barLayout->setContentsMargins(10, 6, 8, 6);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folder->setForegroundRole(QPalette::PlaceholderText);
    m_counts->setTextFormat(Qt::RichText);
    // Never wider than the pane: fitBar() hides what does not fit.
    m_folder->setMinimumWidth(1);
    m_counts->setMinimumWidth(1);
    m_counts->setForegroundRole(QPalette::PlaceholderText);
    m_counts->setAccessibleName(QStringLiteral("Changed lines"));
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    barLayout->addWidget(m_name);
    barLayout->addWidget(m_folder);
    barLayout->addSpacing(6);
    barLayout->addWidget(m_counts);
    barLayout->addStretch(1);

    auto* scopeLayout = new QHBoxLayout(m_scopeBox);
    scopeLayout->setContentsMargins(0, 0, 0, 0);
    scopeLayout->setSpacing(0);
    auto* scopeLabel = new QLabel(QStringLiteral("Scope"), m_scopeBox);
    scopeLabel->setForegroundRole(QPalette::PlaceholderText);
    scopeLabel->setToolTip(scopeHelp);
    scopeLayout->addWidget(scopeLabel);
    scopeLayout->addSpacing(8);
    scopeLayout->addWidget(m_included);
    scopeLayout->addWidget(m_remaining);
    auto* group = new QButtonGroup(m_scopeBox);
    group->setExclusive(true);
    group->addButton(m_included);
    group->addButton(m_remaining);
    m_scopeBox->setAccessibleName(QStringLiteral("Scope"));
    m_scopeBox->setVisible(mode == Mode::changes);
    barLayout->addWidget(m_scopeBox);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);

    auto* messagePage = new QWidget(m_stack);
    auto* messageLayout = new QVBoxLayout(messagePage);
    messageLayout->setContentsMargins(24, 24, 24, 24);
    messageLayout->addStretch(1);
    messageLayout->addWidget(m_messageIcon, 0, Qt::AlignHCenter);
    messageLayout->addSpacing(8);
    m_message->setParent(messagePage);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setForegroundRole(QPalette::PlaceholderText);
    messageLayout->addWidget(m_message);
    messageLayout->addStretch(1);
    m_messagePage = messagePage;
    m_stack->addWidget(messagePage);
    m_stack->addWidget(m_image);
    m_stack->addWidget(m_scroll);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(line);
    layout->addWidget(m_stack, 1);
    m_bar->setVisible(false);
    line->setVisible(false);
    m_divider = line;

    connect(m_included, &QAbstractButton::clicked, this,
            [this] { m_workspace.setDiffScope(GitDiffScope::included); });
    connect(m_remaining, &QAbstractButton::clicked, this,
            [this] { m_workspace.setDiffScope(GitDiffScope::remaining); });
    connect(m_scroll, &GitDiffScroll::hunkActionRequested, this, &GitDiffPane::runAction);
    m_scroll->setActionEnabled([this](int hunk, GitHunkAction action) {
        const auto& diff = m_scroll->diffModel()->diff();
        if (!diff || hunk >= diff->hunks.size() || !diff->hunks.at(hunk).canApply)
            return false;
        if (m_workspace.busyAction())
            return false;
        // Throwing work away waits until the rebase is settled.
        const auto& status = m_workspace.snapshot().status;
        return !(action == GitHunkAction::discard && (status.inProgressRebase || status.hasUnmerged));
    });

    connect(&m_workspace, &GitWorkspace::diffChanged, this, &GitDiffPane::showDiff);
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitDiffPane::showDiff);
    connect(&m_workspace, &GitWorkspace::displayChanged, this, &GitDiffPane::showDiff);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, &GitDiffPane::refreshActions);
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitDiffPane::refreshActions);
    showDiff();
}

QString GitDiffPane::kindText(GitDiffKind kind)
{
    switch (kind) {
    case GitDiffKind::empty:
        return QStringLiteral("No changes in this scope.");
    case GitDiffKind::tooLarge:
        return QStringLiteral("This diff is too large to show here. Open the file in your editor.");
    case GitDiffKind::missing:
        return QStringLiteral("This file isn\u2019t available.");
    case GitDiffKind::binary:
        return QStringLiteral("Binary file \u2014 whole-file include, exclude, or discard only.");
    case GitDiffKind::image:
        return GitImagePreview::unavailableText();
    case GitDiffKind::text:
        break;
    }
    return {};
}

QString GitDiffPane::countsText(const gitcore::GitFileDiff& diff) const
{
    int added = 0;
    int removed = 0;
    for (const auto& hunk : diff.hunks) {
        for (const auto& line : hunk.lines) {
            added += line.kind == gitcore::GitDiffLine::Kind::addition ? 1 : 0;
            removed += line.kind == gitcore::GitDiffLine::Kind::deletion ? 1 : 0;
        }
    }
    if (added == 0 && removed == 0)
        return {};
    const QString hunks =
        diff.hunks.size() == 1 ? QStringLiteral("1 hunk") : QStringLiteral("%1 hunks").arg(diff.hunks.size());
    // Rich text takes no palette roles: a muted colour of its own, between text and background.
    const QColor text = palette().color(QPalette::Text);
    const QColor under = palette().color(QPalette::Base);
    const QString muted = QColor::fromRgbF(float(text.redF() * 0.5 + under.redF() * 0.5),
                                           float(text.greenF() * 0.5 + under.greenF() * 0.5),
                                           float(text.blueF() * 0.5 + under.blueF() * 0.5))
                              .name();
    return QStringLiteral(
               "<span style=\"color:%1\">+%2</span>&nbsp;&nbsp;<span style=\"color:%3\">\u2212%4</span>"
               "&nbsp;&nbsp;<span style=\"color:%5\">%6</span>")
        .arg(semanticColor(Semantic::success, palette()).name())
        .arg(added)
        .arg(semanticColor(Semantic::danger, palette()).name())
        .arg(removed)
        .arg(muted, hunks);
}

QString GitDiffPane::iconName(GitDiffKind kind)
{
    switch (kind) {
    case GitDiffKind::empty:
        return QStringLiteral("emblem-ok-symbolic");
    case GitDiffKind::tooLarge:
        return QStringLiteral("text-x-generic");
    case GitDiffKind::missing:
        return QStringLiteral("dialog-question");
    case GitDiffKind::binary:
        return QStringLiteral("application-octet-stream");
    case GitDiffKind::image:
        return QStringLiteral("image-x-generic");
    case GitDiffKind::text:
        break;
    }
    return QStringLiteral("text-x-generic");
}

QAbstractButton* GitDiffPane::scopeButton(GitDiffScope scope) const
{
    return scope == GitDiffScope::included    ? m_included
           : scope == GitDiffScope::remaining ? m_remaining
                                              : nullptr;
}

QString GitDiffPane::message() const
{
    if (m_stack->currentWidget() == m_messagePage)
        return m_message->text();
    if (m_stack->currentWidget() == m_image)
        return m_image->message();
    return {};
}

void GitDiffPane::fitBar()
{
    // In a narrow pane the folder gives way first, then the counts; the name and the Scope
    // picker stay whole.
    m_folder->setVisible(!m_folder->text().isEmpty());
    m_counts->setVisible(!m_counts->text().isEmpty());
    for (QLabel* label : {m_folder, m_counts}) {
        if (m_bar->layout()->sizeHint().width() <= width())
            break;
        label->setVisible(false);
    }
}

void GitDiffPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitBar();
}

void GitDiffPane::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The counts carry colours of their own: they follow a change of colour scheme.
    if (event->type() == QEvent::PaletteChange) {
        if (const gitcore::GitFileDiff* diff = shownDiff())
            m_counts->setText(countsText(*diff));
    }
}

bool GitDiffPane::hasSelection() const
{
    if (m_mode == Mode::changes)
        return m_workspace.listTab() == gitcore::GitListTab::changes &&
               m_workspace.selectedPath().has_value();
    return m_workspace.listTab() == gitcore::GitListTab::history &&
           m_workspace.selectedCommitSHA().has_value();
}

const gitcore::GitFileDiff* GitDiffPane::shownDiff() const
{
    const auto& diff = m_workspace.loadedDiff();
    if (!diff || !hasSelection())
        return nullptr;
    // Both panes watch the one loaded diff: each takes only its own kind.
    const bool commit = diff->scope == GitDiffScope::commit;
    return commit == (m_mode == Mode::commit) ? &*diff : nullptr;
}

void GitDiffPane::showMessage(const QString& text, const QString& icon)
{
    m_message->setText(text);
    // A large, muted picture of the state above its sentence.
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize) * 3 / 2;
    m_messageIcon->setPixmap(QIcon::fromTheme(icon).pixmap(QSize(size, size), QIcon::Disabled));
    m_stack->setCurrentWidget(m_messagePage);
}

void GitDiffPane::showDiff()
{
    syncScope();
    const gitcore::GitFileDiff* diff = shownDiff();
    if (!diff) {
        if (!hasSelection()) {
            m_bar->setVisible(false);
            m_divider->setVisible(false);
            m_scroll->diffModel()->setDiff(std::nullopt);
            showMessage(QStringLiteral("Select a file to see its diff."), QStringLiteral("document-preview"));
        }
        // Otherwise the diff is on its way: the previous one stays until it lands.
        return;
    }

    const QString parent = QFileInfo(diff->path).path();
    m_name->setText(QFileInfo(diff->path).fileName());
    QString folder = parent == QStringLiteral(".") ? QString() : parent;
    if (diff->originalPath)
        folder += (folder.isEmpty() ? QString() : QStringLiteral("  ")) + QStringLiteral("from ") +
                  *diff->originalPath;
    m_folder->setText(folder);
    m_bar->setVisible(true);
    m_divider->setVisible(true);
    m_counts->setText(countsText(*diff));
    fitBar();

    // An unresolved file has no two-sided diff to show; say what to do with it instead.
    const bool noHunks =
        diff->kind == GitDiffKind::empty || (diff->kind == GitDiffKind::text && diff->hunks.isEmpty());
    if (m_mode == Mode::changes && noHunks) {
        for (const gitcore::GitChangedFile& file : m_workspace.snapshot().files)
            if (file.path == diff->path && file.isConflicted) {
                showMessage(
                    QStringLiteral("This file has unresolved conflicts. Resolve the marked sections in "
                                   "your editor, then choose Mark Resolved."),
                    QStringLiteral("dialog-warning"));
                return;
            }
    }

    switch (diff->kind) {
    case GitDiffKind::text: {
        if (diff->hunks.isEmpty()) {
            showMessage(kindText(GitDiffKind::empty), iconName(GitDiffKind::empty));
            return;
        }
        const auto& previous = m_scroll->diffModel()->diff();
        const bool sameFile = previous && previous->path == diff->path && previous->scope == diff->scope;
        const int position = m_scroll->verticalScrollBar()->value();
        const bool changed = !(previous && *previous == *diff);
        m_scroll->diffModel()->setDiff(*diff);
        if (changed && sameFile) {
            // Staging a hunk reloads the file: stay where the reader was.
            m_scroll->doItemsLayout();
            m_scroll->verticalScrollBar()->setValue(position);
        }
        refreshActions();
        m_stack->setCurrentWidget(m_scroll);
        return;
    }
    case GitDiffKind::image: {
        m_stack->setCurrentWidget(m_image);
        if (diff->scope == GitDiffScope::remaining) {
            // The worktree's side is the file on disk.
            const QString file =
                m_workspace.site() ? QDir(m_workspace.site()->path()).filePath(diff->path) : QString();
            if (m_image->path() != file || file.isEmpty())
                m_image->showFile(file);
            return;
        }
        // The index's or a commit's picture comes from Git.
        const QString key =
            (diff->scope == GitDiffScope::included
                 ? QStringLiteral(":")
                 : m_workspace.selectedCommitSHA().value_or(QString()) + QStringLiteral(":")) +
            diff->path;
        if (m_image->path() != key) {
            m_image->expect(key);
            fireAndForget(this, showStoredImage(diff->path, diff->scope, key));
        }
        return;
    }
    default:
        showMessage(kindText(diff->kind), iconName(diff->kind));
        return;
    }
}

QCoro::Task<> GitDiffPane::showStoredImage(QString path, GitDiffScope scope, QString key)
{
    const LifeToken alive = m_life.token();
    GitWorkspace& workspace = m_workspace;
    const QByteArray bytes = co_await workspace.storedFile(path, scope);
    if (alive)
        m_image->showBytes(key, bytes);
}

void GitDiffPane::syncScope()
{
    if (m_mode != Mode::changes)
        return;
    const GitDiffScope scope = m_workspace.diffScope();
    m_included->setChecked(scope == GitDiffScope::included);
    m_remaining->setChecked(scope == GitDiffScope::remaining);
}

void GitDiffPane::refreshActions()
{
    QList<GitHunkAction> actions;
    const auto& diff = m_scroll->diffModel()->diff();
    if (m_mode == Mode::changes && diff) {
        if (diff->scope == GitDiffScope::remaining)
            actions = {GitHunkAction::include, GitHunkAction::discard};
        else if (diff->scope == GitDiffScope::included)
            actions = {GitHunkAction::exclude};
    }
    m_scroll->setActions(actions);
    m_scroll->viewport()->update();
}

void GitDiffPane::runAction(int hunk, GitHunkAction action)
{
    const auto& diff = m_scroll->diffModel()->diff();
    if (!diff || hunk < 0 || hunk >= diff->hunks.size())
        return;
    const QSet<int> lines = m_scroll->selectedLineIds(hunk);
    if (lines.isEmpty())
        fireAndForget(this, m_workspace.applyHunk(*diff, diff->hunks.at(hunk), action));
    else
        fireAndForget(this, m_workspace.applyLines(*diff, diff->hunks.at(hunk), lines, action));
}

} // namespace halvik::views
