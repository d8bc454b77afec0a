#pragma once

#include <QFont>
#include <QStyledItemDelegate>

namespace halvik::views {

// One commit on two compact lines: the subject, then author and date muted with the short SHA
// in the fixed font at the right.
class GitHistoryRow : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GitHistoryRow(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QFont m_fixed; // looked up once: every visible row paints its SHA in it
};

} // namespace halvik::views
