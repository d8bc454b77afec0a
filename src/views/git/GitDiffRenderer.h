#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace halvik::views {

class GitDiffScroll;

// The colours of a diff for one palette: additions and removals in the shared semantic colours,
// the line-number gutter muted.
struct GitDiffColors
{
    QColor additionBackground;
    QColor removalBackground;
    QColor additionGutter;
    QColor removalGutter;
    QColor additionMark;
    QColor removalMark;
    QColor gutter;
    QColor number;
    QColor text;
    QColor meta;

    static GitDiffColors of(const QPalette& palette);
};

// Paints the rows of a GitDiffScroll: hunk headers with their buttons, and lines with their
// old and new numbers, a +/− mark and the text in the monospace font.
class GitDiffRenderer : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GitDiffRenderer(GitDiffScroll* scroll);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    GitDiffScroll* m_scroll;
};

} // namespace halvik::views
