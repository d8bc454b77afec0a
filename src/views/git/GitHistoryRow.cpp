#include "views/git/GitHistoryRow.h"

#include "views/git/GitHistoryModel.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>

namespace halvik::views {

GitHistoryRow::GitHistoryRow(QObject* parent)
    : QStyledItemDelegate(parent), m_fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
}

QSize GitHistoryRow::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {200, option.fontMetrics.height() * 2 + 12};
}

void GitHistoryRow::paint(QPainter* painter, const QStyleOptionViewItem& given,
                          const QModelIndex& index) const
{
    QStyleOptionViewItem option = given;
    initStyleOption(&option, index);
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    painter->save();
    option.text.clear();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, option.widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    const QColor text = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor muted = selected ? text : option.palette.color(group, QPalette::PlaceholderText);
    if (selected)
        muted.setAlphaF(0.75);

    const QRect inner = option.rect.adjusted(8, 5, -8, -5);
    const int line = option.fontMetrics.height();
    const QRect top(inner.left(), inner.top(), inner.width(), line);
    const QRect bottom(inner.left(), inner.top() + line + 2, inner.width(), line);

    // Short SHA at the right of the second line, in the fixed font.
    QFont fixed = m_fixed;
    fixed.setPointSizeF(option.font.pointSizeF() * 0.9);
    const QFontMetrics fixedMetrics(fixed);
    const QString sha = index.data(GitHistoryModel::ShortSHARole).toString();
    const int shaWidth = fixedMetrics.horizontalAdvance(sha);
    painter->setFont(fixed);
    painter->setPen(muted);
    painter->drawText(bottom, Qt::AlignRight | Qt::AlignVCenter, sha);

    QFont subjectFont = option.font;
    subjectFont.setWeight(QFont::DemiBold);
    painter->setFont(subjectFont);
    painter->setPen(text);
    painter->drawText(
        top, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(subjectFont).elidedText(index.data().toString(), Qt::ElideRight, top.width()));

    painter->setFont(option.font);
    painter->setPen(muted);
    const QString byline = index.data(GitHistoryModel::AuthorRole).toString() + QStringLiteral(" \u00B7 ") +
                           index.data(GitHistoryModel::DateRole).toString();
    painter->drawText(bottom.adjusted(0, 0, -shaWidth - 8, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(byline, Qt::ElideRight, bottom.width() - shaWidth - 8));
    painter->restore();
}

} // namespace halvik::views
