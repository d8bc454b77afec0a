#include "views/git/GitBranchPopover.h"

#include "views/accounts/AccountWidgets.h"
#include "views/git/GitSheetWidgets.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace halvik::views {

using gitcore::GitBranch;

namespace {

constexpr int branchRole = Qt::UserRole + 1;

// Whether a switch may start: nothing else runs and no rebase waits to be finished.
bool canSwitch(const GitWorkspace& workspace)
{
    return !workspace.busyAction().has_value() && !workspace.snapshot().status.inProgressRebase &&
           !workspace.snapshot().status.hasUnmerged;
}

// A plain tick in the accent colour, as menus mark their checked item.
QIcon checkIcon(const QPalette& palette)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::Highlight), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF tick[] = {{3.0, 8.5}, {6.5, 12.0}, {13.0, 4.5}};
    painter.drawPolyline(tick, 3);
    return QIcon(pixmap);
}

} // namespace

GitBranchPopover::GitBranchPopover(GitWorkspace& workspace, QWidget* parent)
    : QFrame(parent, Qt::Popup), m_workspace(workspace)
{
    setObjectName("gitBranchPopover");
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setAccessibleName(QStringLiteral("Branches"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    m_search = new QLineEdit(this);
    m_search->setObjectName("branchSearch");
    m_search->setPlaceholderText(QStringLiteral("Find a branch"));
    m_search->setClearButtonEnabled(true);
    setGlyph(m_search->addAction(QIcon(), QLineEdit::LeadingPosition), QStringLiteral("edit-find"),
             QStringLiteral("search"));
    m_search->installEventFilter(this);
    layout->addWidget(m_search);

    m_list = new QListWidget(this);
    m_list->setObjectName("branchList");
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setIconSize(QSize(16, 16));
    m_list->setAccessibleName(QStringLiteral("Branches"));
    m_list->viewport()->setBackgroundRole(QPalette::Window);
    layout->addWidget(m_list, 1);

    m_empty = new ToneLabel(QStringLiteral("No branches match."), Tone::muted, this);
    m_empty->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_empty, 1);

    m_rebaseNote =
        new ToneLabel(QStringLiteral("Finish or abort the rebase to switch branches."), Tone::muted, this);
    m_rebaseNote->setObjectName("rebaseNote");
    m_rebaseNote->hide();
    layout->addWidget(m_rebaseNote);
    layout->addWidget(horizontalRule(this));
    m_newBranch = new QPushButton(QStringLiteral("New Branch…"), this);
    setGlyph(m_newBranch, QStringLiteral("vcs-branch"), QStringLiteral("list-add"));
    m_newBranch->setObjectName("newBranchButton");
    m_newBranch->setFlat(true);
    m_newBranch->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 6px;"));
    layout->addWidget(m_newBranch);

    connect(m_search, &QLineEdit::textChanged, this, &GitBranchPopover::rebuild);
    // A click chooses, as in a menu; Return on the current row too.
    connect(m_list, &QListWidget::itemClicked, this, &GitBranchPopover::choose);
    connect(m_list, &QListWidget::itemActivated, this, &GitBranchPopover::choose);
    connect(m_newBranch, &QPushButton::clicked, this, [this] {
        // Out of the way before the sheet opens: a popup and a modal sheet don't share the screen.
        close();
        Q_EMIT newBranchRequested();
    });
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitBranchPopover::rebuild);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, &GitBranchPopover::syncEnabled);
    rebuild();
    m_built = true;
}

void GitBranchPopover::rebuild()
{
    const QString needle = m_search->text().trimmed();
    const auto& snapshot = m_workspace.snapshot();
    m_list->clear();
    QFont sectionFont = m_list->font();
    sectionFont.setBold(true);
    QFont currentFont = m_list->font();
    currentFont.setWeight(QFont::DemiBold);
    // Rows line up whether or not they carry the check mark.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    const QIcon none(blank);
    const QIcon check = checkIcon(palette());

    for (const bool remote : {false, true}) {
        QList<QListWidgetItem*> rows;
        for (qsizetype i = 0; i < snapshot.branches.size(); ++i) {
            const GitBranch& branch = snapshot.branches.at(i);
            if (branch.isRemote != remote || !branch.name.contains(needle, Qt::CaseInsensitive))
                continue;
            const bool current = isCurrent(branch);
            auto* item = new QListWidgetItem(current ? check : none, branch.name);
            item->setData(branchRole, int(i));
            item->setToolTip(branch.upstream ? branch.name + QStringLiteral(" → ") + *branch.upstream
                                             : branch.name);
            item->setData(Qt::AccessibleTextRole,
                          current ? branch.name + QStringLiteral(", current branch") : branch.name);
            if (current)
                item->setFont(currentFont);
            rows.append(item);
        }
        if (rows.isEmpty())
            continue;
        // Titles, not choices: the keyboard passes over them.
        auto* section = new QListWidgetItem(remote ? QStringLiteral("Remote") : QStringLiteral("Local"));
        section->setFlags(Qt::NoItemFlags);
        section->setFont(sectionFont);
        section->setForeground(palette().brush(QPalette::PlaceholderText));
        section->setData(branchRole, -1);
        m_list->addItem(section);
        for (QListWidgetItem* row : rows)
            m_list->addItem(row);
    }
    const bool empty = m_list->count() == 0;
    m_list->setVisible(!empty);
    m_empty->setText(snapshot.branches.isEmpty() ? QStringLiteral("No branches yet.")
                                                 : QStringLiteral("No branches match."));
    m_empty->setVisible(empty);
    syncEnabled();
    // Without a search the highlight starts on the current branch, as the check mark does.
    QListWidgetItem* start = firstBranchItem();
    for (int r = 0; needle.isEmpty() && r < m_list->count(); ++r)
        if (m_list->item(r)
                ->data(Qt::AccessibleTextRole)
                .toString()
                .endsWith(QStringLiteral(", current branch")))
            start = m_list->item(r);
    if (start)
        m_list->setCurrentItem(start);
    fitHeight();
}

void GitBranchPopover::fitHeight()
{
    // As tall as the whole list up to a screenful of rows; the search only shrinks the list,
    // never the popover under the pointer.
    if (m_sized)
        return;
    const int row = qMax(m_list->sizeHintForRow(0), fontMetrics().height() + 4);
    // Every branch and both section titles.
    const int count = int(m_workspace.snapshot().branches.size()) + 2;
    const int listHeight = qBound(row * 4, row * count + 2 * m_list->frameWidth() + 4, row * 14);
    const int chrome = m_search->sizeHint().height() + m_newBranch->sizeHint().height() + 40;
    resize(320, listHeight + chrome);
    m_sized = true;
}

bool GitBranchPopover::isCurrent(const GitBranch& branch) const
{
    const auto& status = m_workspace.snapshot().status;
    return branch.isCurrent || (!branch.isRemote && !status.isDetached && status.branch == branch.name);
}

void GitBranchPopover::syncEnabled()
{
    const bool enabled = canSwitch(m_workspace);
    for (int r = 0; r < m_list->count(); ++r) {
        QListWidgetItem* item = m_list->item(r);
        if (item->data(branchRole).toInt() >= 0)
            item->setFlags(enabled ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags);
    }
    m_newBranch->setEnabled(!m_workspace.busyAction().has_value() && m_workspace.snapshot().status.isRepo);
    const auto& status = m_workspace.snapshot().status;
    m_rebaseNote->setVisible(status.inProgressRebase || status.hasUnmerged);
}

QListWidgetItem* GitBranchPopover::firstBranchItem() const
{
    for (int r = 0; r < m_list->count(); ++r)
        if (m_list->item(r)->data(branchRole).toInt() >= 0)
            return m_list->item(r);
    return nullptr;
}

void GitBranchPopover::choose(QListWidgetItem* item)
{
    if (m_chosen || !item || !(item->flags() & Qt::ItemIsEnabled))
        return;
    const int index = item->data(branchRole).toInt();
    const auto& branches = m_workspace.snapshot().branches;
    if (index < 0 || index >= branches.size())
        return;
    const GitBranch branch = branches.at(index);
    m_chosen = true;
    close();
    if (isCurrent(branch))
        return;
    fireAndForget(&m_workspace, m_workspace.checkout(branch));
}

void GitBranchPopover::popUp(QWidget* anchor)
{
    QPoint origin;
    if (anchor && anchor->isVisible()) {
        origin = anchor->mapToGlobal(QPoint(0, anchor->height() + 4));
    } else if (parentWidget()) {
        const QWidget* window = parentWidget()->window();
        origin =
            window->mapToGlobal(QPoint((window->width() - width()) / 2, (window->height() - height()) / 3));
    }
    // Keep the whole popover on the screen it opens on.
    if (const QScreen* screen = QApplication::screenAt(origin)) {
        const QRect area = screen->availableGeometry();
        origin.setX(qBound(area.left(), origin.x(), qMax(area.left(), area.right() - width())));
        origin.setY(qBound(area.top(), origin.y(), qMax(area.top(), area.bottom() - height())));
    }
    move(origin);
    show();
    m_search->setFocus(Qt::PopupFocusReason);
}

void GitBranchPopover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void GitBranchPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

bool GitBranchPopover::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Down:
        case Qt::Key_Up:
        case Qt::Key_PageDown:
        case Qt::Key_PageUp:
            // The list moves while typing goes on in the field.
            QApplication::sendEvent(m_list, event);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            QListWidgetItem* item = m_list->currentItem();
            choose(item && item->data(branchRole).toInt() >= 0 ? item : firstBranchItem());
            return true;
        }
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void GitBranchPopover::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    // Light and dark switch at once, without reopening.
    if (event->type() == QEvent::PaletteChange && m_built) {
        refreshGlyphs(this);
        rebuild();
    }
}

} // namespace halvik::views
