#include "views/sites/SiteRowDelegate.h"

#include "views/common/SemanticColors.h"
#include "views/sites/SiteListModel.h"

#include <QApplication>
#include <QPainter>

namespace halvik::views {

namespace {

constexpr int margin = 4;
constexpr int dotWidth = 12;

} // namespace

void SiteRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    const QString name = base.text;
    const QIcon dot = base.icon;
    base.text.clear();
    base.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget); // background and selection

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QRect area = option.rect.adjusted(margin, margin / 2, -margin, -margin / 2);
    const int line = option.fontMetrics.height();
    if (!dot.isNull())
        dot.paint(painter, QRect(area.left(), area.top() + (line - dotWidth) / 2, dotWidth, dotWidth));
    const QRect text = area.adjusted(dotWidth + margin, 0, 0, 0);

    painter->save();
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(text.left(), text.top(), text.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(name, Qt::ElideRight, text.width()));
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.9);
    painter->setFont(small);
    const QFontMetrics smallMetrics(small);
    // A job of the site takes the second line while it runs or after it failed.
    const QString job = index.data(SiteListModel::JobTextRole).toString();
    QColor second = palette.color(QPalette::PlaceholderText);
    if (!job.isEmpty())
        second = semanticColor(
            index.data(SiteListModel::JobFailedRole).toBool() ? Semantic::danger : Semantic::info, palette);
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : second);
    const QString subtitle = job.isEmpty() ? index.data(SiteListModel::SubtitleRole).toString() : job;
    painter->drawText(QRect(text.left(), text.top() + line, text.width(), smallMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      smallMetrics.elidedText(subtitle, Qt::ElideMiddle, text.width()));
    painter->restore();
}

QSize SiteRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.9);
    const int height = option.fontMetrics.height() + QFontMetrics(small).height() + margin * 2;
    return {QStyledItemDelegate::sizeHint(option, index).width(), height};
}

} // namespace halvik::views
