#pragma once

#include <QStyledItemDelegate>

namespace halvik::views {

// A site row on two lines: the status dot and name, and under it, muted, where the site opens
// or how it is served.
class SiteRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace halvik::views
