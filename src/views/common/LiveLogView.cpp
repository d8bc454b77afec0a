#include "views/common/LiveLogView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

#include <algorithm>

namespace halvik::views {

QVariant LogLinesModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_lines.size())
        return {};
    return m_lines.at(index.row());
}

void LogLinesModel::append(QStringView text, qsizetype limit)
{
    // Lines that would be dropped at once are never made: only the last `limit` are split off.
    qsizetype from = 0;
    qsizetype seen = 0;
    for (qsizetype at = text.size() - 1; at >= 0; --at)
        if (text[at] == QLatin1Char('\n') && ++seen == limit) {
            from = at + 1;
            break;
        }
    QStringList added;
    added.reserve(std::min(seen + 1, limit));
    for (const QStringView line : text.mid(from).split(QLatin1Char('\n')))
        added.append(line.toString());
    const qsizetype overflow = m_lines.size() + added.size() - limit;
    if (overflow > 0) {
        beginRemoveRows({}, 0, int(overflow - 1));
        m_lines.remove(0, overflow);
        endRemoveRows();
    }
    if (added.isEmpty())
        return;
    beginInsertRows({}, int(m_lines.size()), int(m_lines.size() + added.size() - 1));
    m_lines += added;
    endInsertRows();
}

void LogLinesModel::clear()
{
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

LiveLogView::LiveLogView(QWidget* parent) : QTreeView(parent), m_model(new LogLinesModel(this))
{
    setModel(m_model);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A flat list of equal rows: the tree view lays them out without measuring each.
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setHeaderHidden(true);
    setAllColumnsShowFocus(true);
    header()->setStretchLastSection(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setBackgroundRole(QPalette::Base);
}

void LiveLogView::appendBatch(const QString& lines)
{
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum() - 2;
    // The one column is as wide as the longest line so far, so long lines scroll sideways.
    qsizetype longest = 0;
    for (qsizetype start = 0; start <= lines.size();) {
        qsizetype end = lines.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = lines.size();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    if (longest > m_longestLine) {
        m_longestLine = longest;
        fitColumn();
    }
    m_model->append(lines, visibleLines);
    if (following)
        scrollToBottom();
}

void LiveLogView::fitColumn()
{
    const int text =
        int(std::min<qsizetype>(m_longestLine, 4000)) * fontMetrics().horizontalAdvance(QLatin1Char('m'));
    header()->resizeSection(0, std::max(text + 24, viewport()->width()));
}

void LiveLogView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    fitColumn();
}

void LiveLogView::setLog(const QString& text)
{
    clear();
    if (!text.isEmpty())
        appendBatch(text);
}

void LiveLogView::clear()
{
    m_model->clear();
    m_longestLine = 0;
}

QString LiveLogView::text() const
{
    return m_model->lines().join(QLatin1Char('\n'));
}

void LiveLogView::copySelection() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : rows)
        lines << m_model->lines().at(index.row());
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LiveLogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void LiveLogView::contextMenuEvent(QContextMenuEvent* event)
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("Copy"), this,
                                    &LiveLogView::copySelection);
    copy->setEnabled(selectionModel()->hasSelection());
    menu->addAction(tr("Copy Log"), this, [this] { QApplication::clipboard()->setText(text()); });
    menu->addSeparator();
    menu->addAction(tr("Select All"), this, &QTreeView::selectAll);
    menu->popup(event->globalPos());
}

} // namespace halvik::views
