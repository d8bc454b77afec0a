#include "views/git/GitChangeRow.h"

#include "views/common/SemanticColors.h"
#include "views/git/GitChangesModel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTime>

namespace halvik::views {

namespace {

Semantic kindTone(const QString& kind)
{
    if (kind == QLatin1String("Added"))
        return Semantic::success;
    if (kind == QLatin1String("Removed"))
        return Semantic::danger;
    if (kind == QLatin1String("Conflicted"))
        return Semantic::caution;
    return Semantic::info;
}

const QStyle* styleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

} // namespace

GitChangeRow::GitChangeRow(QObject* parent) : QStyledItemDelegate(parent) {}

QSize GitChangeRow::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {200, option.fontMetrics.height() + 10};
}

QRect GitChangeRow::checkRect(const QStyleOptionViewItem& option, const QRect& rowRect)
{
    const QStyle* style = styleOf(option);
    const int side = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    return {rowRect.left() + 6, rowRect.center().y() - side / 2 + 1, side, side};
}

void GitChangeRow::paint(QPainter* painter, const QStyleOptionViewItem& given, const QModelIndex& index) const
{
    QStyleOptionViewItem option = given;
    initStyleOption(&option, index);
    const QStyle* style = styleOf(option);
    painter->save();
    option.text.clear();
    option.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, option.widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    const QColor text = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor muted = selected ? text : option.palette.color(group, QPalette::PlaceholderText);
    if (selected)
        muted.setAlphaF(0.75);

    // Checkbox, with the partial mark for a file that is partly included.
    QStyleOptionButton check;
    check.rect = checkRect(option, option.rect);
    check.state = QStyle::State_Enabled;
    switch (index.data(Qt::CheckStateRole).value<Qt::CheckState>()) {
    case Qt::Checked:
        check.state |= QStyle::State_On;
        break;
    case Qt::PartiallyChecked:
        check.state |= QStyle::State_NoChange;
        break;
    case Qt::Unchecked:
        check.state |= QStyle::State_Off;
        break;
    }
    check.palette = option.palette;
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, painter, option.widget);

    // The kind, in a fixed column so the names line up.
    QFont small = option.font;
    small.setPointSizeF(option.font.pointSizeF() * 0.85);
    const QFontMetrics smallMetrics(small);
    const int kindWidth = smallMetrics.horizontalAdvance(QStringLiteral("Conflicted")) + 8;
    int x = check.rect.right() + 8;
    const QString kind = index.data(GitChangesModel::KindRole).toString();
    painter->setFont(small);
    painter->setPen(selected ? text : semanticColor(kindTone(kind), option.palette));
    painter->drawText(QRect(x, option.rect.top(), kindWidth, option.rect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, kind);
    x += kindWidth;

    // A turning arc at the right while the file is being worked on.
    int right = option.rect.right() - 6;
    if (index.data(GitChangesModel::BusyRole).toBool()) {
        const int side = option.fontMetrics.height() - 4;
        const QRect mark(right - side, option.rect.center().y() - side / 2, side, side);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(selected ? text : option.palette.color(QPalette::Highlight), 2));
        const int phase = (QTime::currentTime().msecsSinceStartOfDay() / 4) % 360;
        painter->drawArc(mark, -phase * 16, 270 * 16);
        right = mark.left() - 6;
    }

    // The name, then the folder it is in, muted, taking what room is left.
    painter->setFont(option.font);
    const QFontMetrics metrics(option.font);
    const int available = right - x;
    const QString name =
        metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, std::max(0, available));
    painter->setPen(text);
    const QRect textRow(x, option.rect.top(), available, option.rect.height());
    painter->drawText(textRow, Qt::AlignLeft | Qt::AlignVCenter, name);
    const int nameWidth = metrics.horizontalAdvance(name) + 8;
    const QString parent = index.data(GitChangesModel::ParentRole).toString();
    if (!parent.isEmpty() && available - nameWidth > 24) {
        painter->setPen(muted);
        painter->drawText(textRow.adjusted(nameWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(parent, Qt::ElideLeft, available - nameWidth));
    }
    painter->restore();
}

bool GitChangeRow::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                               const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
        event->type() == QEvent::MouseButtonDblClick) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            checkRect(option, option.rect).adjusted(-3, -3, 3, 3).contains(mouse->position().toPoint())) {
            if (event->type() == QEvent::MouseButtonRelease)
                Q_EMIT checkToggled(index);
            return true; // the checkbox does not change the selection
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

} // namespace halvik::views
