#include "views/git/GitDiffScroll.h"

#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffRenderer.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QToolTip>

namespace halvik::views {

using gitcore::GitHunkAction;

GitDiffScroll::GitDiffScroll(QWidget* parent) : QListView(parent), m_model(new GitDiffModel(this))
{
    setModel(m_model);
    setItemDelegate(new GitDiffRenderer(this));
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(QPalette::Base);
    setAccessibleName(QStringLiteral("Diff"));
    updateMetrics();
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_hovered = {};
        m_pressed = {};
        m_currentHunk = -1;
        m_lineCursor = -1;
    });
}

void GitDiffScroll::setActions(const QList<GitHunkAction>& actions)
{
    if (actions == m_actions)
        return;
    m_actions = actions;
    viewport()->update();
}

void GitDiffScroll::setActionEnabled(std::function<bool(int, GitHunkAction)> enabled)
{
    m_enabled = std::move(enabled);
    viewport()->update();
}

void GitDiffScroll::updateMetrics()
{
    const QFontMetrics metrics(font());
    m_charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_lineHeight = metrics.height() + 3;
    QStyleOptionButton option;
    option.initFrom(this);
    const QFontMetrics buttonMetrics(QApplication::font("QPushButton"));
    const int button =
        style()
            ->sizeFromContents(QStyle::CT_PushButton, &option, QSize(40, buttonMetrics.height()), this)
            .height();
    m_headerHeight = std::max(m_lineHeight + 10, button + 6);
    m_buttonWidths.clear();
}

void GitDiffScroll::changeEvent(QEvent* event)
{
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateMetrics();
        scheduleDelayedItemsLayout();
    }
}

int GitDiffScroll::numberColumnWidth() const
{
    const int digits = std::max(3, int(QString::number(m_model->highestNumber()).size()));
    return (digits + 2) * m_charWidth;
}

int GitDiffScroll::contentWidth() const
{
    return numberColumnWidth() * 2 + markWidth() + (m_model->longestLine() + 2) * m_charWidth;
}

int GitDiffScroll::buttonWidth(const QString& label) const
{
    const auto found = m_buttonWidths.constFind(label);
    if (found != m_buttonWidths.constEnd())
        return *found;
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = label;
    const QFontMetrics metrics(QApplication::font("QPushButton"));
    const QSize text(metrics.horizontalAdvance(label), metrics.height());
    // Breathing room beyond the style's own margins, as a dialog button has.
    const int width = std::max(style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this).width() +
                                   2 * metrics.averageCharWidth(),
                               metrics.averageCharWidth() * 10);
    m_buttonWidths.insert(label, width);
    return width;
}

QSet<int> GitDiffScroll::selectedLineIds(int hunk) const
{
    QSet<int> ids;
    if (!selectionModel())
        return ids;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        const auto& row = m_model->row(index.row());
        if (row.hunk == hunk && row.line >= 0)
            ids.insert(m_model->line(index.row())->id);
    }
    return ids;
}

QList<GitHunkButton> GitDiffScroll::headerButtons(int hunk) const
{
    QList<GitHunkButton> buttons;
    const int header = m_model->headerRow(hunk);
    if (header < 0 || m_actions.isEmpty())
        return buttons;
    const bool lines = !selectedLineIds(hunk).isEmpty();
    QList<int> widths;
    for (const GitHunkAction action : m_actions) {
        GitHunkButton button;
        button.action = action;
        button.label = GitHunkHeader::label(action, lines);
        button.enabled = !m_enabled || m_enabled(hunk, action);
        widths.append(buttonWidth(button.label));
        buttons.append(button);
    }
    QRect row = visualRect(m_model->index(header));
    row.setLeft(0);
    row.setRight(viewport()->width() - 1);
    GitHunkHeader::place(buttons, row, widths);
    return buttons;
}

GitHunkHeader::Look GitDiffScroll::headerLook(int hunk) const
{
    GitHunkHeader::Look look;
    look.current = hasFocus() && hunk == m_currentHunk;
    look.divider = hunk > 0;
    if (m_hovered.hunk == hunk)
        look.hovered = m_hovered.button;
    if (m_pressed.hunk == hunk && m_pressed == m_hovered)
        look.pressed = m_pressed.button;
    return look;
}

int GitDiffScroll::hunkAt(const QPoint& pos) const
{
    const QModelIndex index = indexAt(pos);
    return index.isValid() ? m_model->row(index.row()).hunk : -1;
}

GitDiffScroll::ButtonAt GitDiffScroll::buttonAt(const QPoint& pos) const
{
    const QModelIndex index = indexAt(pos);
    if (!index.isValid() || m_model->row(index.row()).kind != GitDiffModel::RowKind::hunkHeader)
        return {};
    const int hunk = m_model->row(index.row()).hunk;
    const QList<GitHunkButton> buttons = headerButtons(hunk);
    for (int i = 0; i < buttons.size(); ++i)
        if (buttons.at(i).rect.contains(pos))
            return {hunk, i};
    return {hunk, -1};
}

void GitDiffScroll::updateHeader(int hunk)
{
    const int header = m_model->headerRow(hunk);
    if (header >= 0) {
        QRect rect = visualRect(m_model->index(header));
        rect.setLeft(0);
        rect.setRight(viewport()->width());
        viewport()->update(rect);
    }
}

void GitDiffScroll::setCurrentHunk(int hunk)
{
    if (hunk < 0 || hunk >= m_model->hunkCount() || hunk == m_currentHunk)
        return;
    m_lineCursor = -1;
    const int previous = m_currentHunk;
    m_currentHunk = hunk;
    updateHeader(previous);
    updateHeader(hunk);
}

void GitDiffScroll::mousePressEvent(QMouseEvent* event)
{
    const ButtonAt at = buttonAt(event->position().toPoint());
    if (at.hunk >= 0) {
        // Header rows are not lines: a press there never changes the picked lines.
        setFocus(Qt::MouseFocusReason);
        setCurrentHunk(at.hunk);
        if (at.button >= 0 && event->button() == Qt::LeftButton &&
            headerButtons(at.hunk).at(at.button).enabled) {
            m_pressed = at;
            m_hovered = at;
            updateHeader(at.hunk);
        }
        event->accept();
        return;
    }
    const int hunk = hunkAt(event->position().toPoint());
    QListView::mousePressEvent(event);
    if (hunk >= 0)
        setCurrentHunk(hunk);
}

void GitDiffScroll::mouseMoveEvent(QMouseEvent* event)
{
    const ButtonAt at = buttonAt(event->position().toPoint());
    const ButtonAt hovered = at.button >= 0 ? at : ButtonAt{};
    if (hovered != m_hovered) {
        const ButtonAt previous = m_hovered;
        m_hovered = hovered;
        updateHeader(previous.hunk);
        updateHeader(hovered.hunk);
    }
    if (m_pressed.hunk >= 0) {
        event->accept();
        return;
    }
    QListView::mouseMoveEvent(event);
}

void GitDiffScroll::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressed.hunk >= 0) {
        const ButtonAt pressed = m_pressed;
        m_pressed = {};
        updateHeader(pressed.hunk);
        if (buttonAt(event->position().toPoint()) == pressed) {
            const QList<GitHunkButton> buttons = headerButtons(pressed.hunk);
            if (pressed.button < buttons.size() && buttons.at(pressed.button).enabled)
                Q_EMIT hunkActionRequested(pressed.hunk, buttons.at(pressed.button).action);
        }
        event->accept();
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void GitDiffScroll::leaveEvent(QEvent* event)
{
    const ButtonAt previous = m_hovered;
    m_hovered = {};
    updateHeader(previous.hunk);
    QListView::leaveEvent(event);
}

void GitDiffScroll::keyPressEvent(QKeyEvent* event)
{
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        const int count = m_model->hunkCount();
        if (count == 0)
            return;
        int hunk = m_currentHunk < 0 ? 0 : m_currentHunk + (event->key() == Qt::Key_Down ? 1 : -1);
        hunk = std::clamp(hunk, 0, count - 1);
        setCurrentHunk(hunk);
        scrollTo(m_model->index(m_model->headerRow(hunk)), QAbstractItemView::PositionAtTop);
        event->accept();
        return;
    }
    if (event->modifiers() == Qt::ShiftModifier &&
        (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        stepLineCursor(event->key() == Qt::Key_Down ? 1 : -1, true);
        event->accept();
        return;
    }
    if (plain && event->key() == Qt::Key_Space) {
        if (m_lineCursor < 0)
            stepLineCursor(1, false);
        if (m_lineCursor >= 0)
            selectionModel()->select(m_model->index(m_lineCursor), QItemSelectionModel::Toggle);
        event->accept();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((plain && enter) || (plain && event->key() == Qt::Key_Delete)) {
        // Return takes the first button of the hunk (Include or Exclude); Delete its Discard.
        for (const GitHunkButton& button : headerButtons(m_currentHunk)) {
            if (enter || button.action == GitHunkAction::discard) {
                if (button.enabled)
                    Q_EMIT hunkActionRequested(m_currentHunk, button.action);
                break;
            }
        }
        event->accept();
        return;
    }
    if (plain && event->key() == Qt::Key_Escape && selectionModel() && selectionModel()->hasSelection()) {
        clearSelection();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void GitDiffScroll::stepLineCursor(int step, bool extend)
{
    if (m_currentHunk < 0)
        setCurrentHunk(0);
    const int header = m_model->headerRow(m_currentHunk);
    if (header < 0)
        return;
    const int end = header + 1 + int(m_model->hunk(m_currentHunk).lines.size());
    const bool inHunk = m_lineCursor > header && m_lineCursor < end;
    int row = inHunk ? m_lineCursor + step : (step > 0 ? header + 1 : end - 1);
    for (; row > header && row < end; row += step) {
        const auto kind = m_model->row(row).kind;
        if (kind == GitDiffModel::RowKind::addition || kind == GitDiffModel::RowKind::deletion)
            break;
    }
    if (row <= header || row >= end)
        return;
    m_lineCursor = row;
    const QModelIndex index = m_model->index(row);
    if (extend)
        selectionModel()->select(index, QItemSelectionModel::Select);
    scrollTo(index);
    viewport()->update(visualRect(index));
}

bool GitDiffScroll::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const ButtonAt at = buttonAt(help->pos());
        if (at.button >= 0) {
            const GitHunkButton button = headerButtons(at.hunk).value(at.button);
            QToolTip::showText(help->globalPos(), GitHunkHeader::help(button.action), viewport(),
                               button.rect);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QListView::viewportEvent(event);
}

void GitDiffScroll::contextMenuEvent(QContextMenuEvent* event)
{
    const int hunk = event->reason() == QContextMenuEvent::Mouse ? hunkAt(event->pos()) : m_currentHunk;
    const QList<GitHunkButton> buttons = headerButtons(hunk);
    if (buttons.isEmpty())
        return;
    setCurrentHunk(hunk);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const GitHunkButton& button : buttons) {
        QAction* action = menu->addAction(button.label);
        action->setEnabled(button.enabled);
        const GitHunkAction which = button.action;
        connect(action, &QAction::triggered, this,
                [this, hunk, which] { Q_EMIT hunkActionRequested(hunk, which); });
    }
    const QPoint at =
        event->reason() == QContextMenuEvent::Mouse
            ? event->globalPos()
            : viewport()->mapToGlobal(visualRect(m_model->index(m_model->headerRow(hunk))).bottomLeft());
    menu->popup(at);
}

void GitDiffScroll::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    if (m_currentHunk < 0 && m_model->hunkCount() > 0)
        m_currentHunk = 0;
    updateHeader(m_currentHunk);
}

void GitDiffScroll::focusOutEvent(QFocusEvent* event)
{
    QListView::focusOutEvent(event);
    updateHeader(m_currentHunk);
}

void GitDiffScroll::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QListView::selectionChanged(selected, deselected);
    // Header labels say whether they act on the hunk or on its picked lines.
    QSet<int> hunks;
    for (const auto* selection : {&selected, &deselected})
        for (const QItemSelectionRange& range : *selection)
            for (int row = range.top(); row <= range.bottom(); ++row)
                hunks.insert(m_model->row(row).hunk);
    for (const int hunk : hunks)
        updateHeader(hunk);
}

} // namespace halvik::views
