#include "views/sites/SiteRowDelegate.h"

#include "views/common/SemanticColors.h"
#include "views/common/SiteIcon.h"
#include "views/sites/SiteListModel.h"

#include <QApplication>
#include <QPainter>

namespace halvik::views {

namespace {

constexpr int margin = 4;
constexpr int iconSide = 32;

} // namespace

void SiteRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    const QString name = base.text;
    base.text.clear();
    base.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget); // background and selection

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QRect area = option.rect.adjusted(margin, margin, -margin, -margin);
    const int line = option.fontMetrics.height();
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.9);
    const QFontMetrics smallMetrics(small);
    // The icon, with the status dot as its badge, beside two lines of text centred on it.
    const QRect icon(area.left(), area.top() + (area.height() - iconSide) / 2, iconSide, iconSide);
    const QVariant colour = index.data(SiteListModel::StatusColourRole);
    const QColor background = selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    paintSiteIcon(painter, icon, index.data(SiteListModel::IconRole).value<QImage>(), name,
                  colour.isValid() ? std::optional(colour.value<QColor>()) : std::nullopt, background);
    const int textHeight = line + smallMetrics.height();
    const QRect text(icon.right() + 1 + margin * 2, area.top() + (area.height() - textHeight) / 2,
                     area.right() - icon.right() - margin * 2, textHeight);

    painter->save();
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(text.left(), text.top(), text.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(name, Qt::ElideRight, text.width()));
    painter->setFont(small);
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
    const int text = option.fontMetrics.height() + QFontMetrics(small).height();
    const int height = std::max(text, iconSide) + margin * 2 + 2;
    return {QStyledItemDelegate::sizeHint(option, index).width(), height};
}

} // namespace halvik::views
