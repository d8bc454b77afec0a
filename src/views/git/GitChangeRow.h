#pragma once

#include <QStyledItemDelegate>

namespace halvik::views {

// One changed file on one compact line: the inclusion checkbox, the kind, the name, the
// parent folder in a muted colour and, while an operation works on it, a turning mark.
class GitChangeRow : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GitChangeRow(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Where the checkbox of a row drawn in `rowRect` sits.
    static QRect checkRect(const QStyleOptionViewItem& option, const QRect& rowRect);

Q_SIGNALS:
    void checkToggled(const QModelIndex& index);
};

} // namespace halvik::views
