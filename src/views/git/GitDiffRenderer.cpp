#include "views/git/GitDiffRenderer.h"

#include "views/common/SemanticColors.h"
#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffScroll.h"
#include "views/git/GitHunkHeader.h"

#include <QPainter>

namespace halvik::views {

namespace {

QColor mix(const QColor& under, const QColor& over, double amount)
{
    return QColor::fromRgbF(float(under.redF() * (1 - amount) + over.redF() * amount),
                            float(under.greenF() * (1 - amount) + over.greenF() * amount),
                            float(under.blueF() * (1 - amount) + over.blueF() * amount));
}

} // namespace

GitDiffColors GitDiffColors::of(const QPalette& palette)
{
    const bool dark = isDark(palette);
    const QColor base = palette.color(QPalette::Base);
    const QColor success = semanticColor(Semantic::success, palette);
    const QColor danger = semanticColor(Semantic::danger, palette);
    GitDiffColors colors;
    colors.additionBackground = mix(base, success, dark ? 0.20 : 0.13);
    colors.removalBackground = mix(base, danger, dark ? 0.20 : 0.12);
    colors.additionGutter = mix(base, success, dark ? 0.30 : 0.22);
    colors.removalGutter = mix(base, danger, dark ? 0.30 : 0.20);
    colors.additionMark = success;
    colors.removalMark = danger;
    colors.gutter = mix(base, palette.color(QPalette::Text), dark ? 0.06 : 0.04);
    colors.number = palette.color(QPalette::PlaceholderText);
    colors.text = palette.color(QPalette::Text);
    colors.meta = palette.color(QPalette::PlaceholderText);
    return colors;
}

GitDiffRenderer::GitDiffRenderer(GitDiffScroll* scroll) : QStyledItemDelegate(scroll), m_scroll(scroll) {}

QSize GitDiffRenderer::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const auto& row = m_scroll->diffModel()->row(index.row());
    const int height =
        row.kind == GitDiffModel::RowKind::hunkHeader ? m_scroll->headerHeight() : m_scroll->lineHeight();
    return {m_scroll->contentWidth(), height};
}

void GitDiffRenderer::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    const GitDiffModel* model = m_scroll->diffModel();
    const GitDiffModel::Row& row = model->row(index.row());
    QStyleOptionViewItem opt = option;
    // Rows reach the right edge of the viewport even when the lines are short.
    opt.rect.setRight(std::max(opt.rect.right(), m_scroll->viewport()->width() - 1));
    if (row.kind == GitDiffModel::RowKind::hunkHeader) {
        const QList<GitHunkButton> buttons = m_scroll->headerButtons(row.hunk);
        GitHunkHeader::paint(painter, opt, model->hunk(row.hunk).header, buttons,
                             m_scroll->headerLook(row.hunk), m_scroll);
        return;
    }

    const GitDiffColors colors = GitDiffColors::of(opt.palette);
    const gitcore::GitDiffLine* line = model->line(index.row());
    QColor background = opt.palette.color(QPalette::Base);
    QColor gutter = colors.gutter;
    QColor markColor = colors.text;
    QString mark;
    if (row.kind == GitDiffModel::RowKind::addition) {
        background = colors.additionBackground;
        gutter = colors.additionGutter;
        markColor = colors.additionMark;
        mark = QStringLiteral("+");
    } else if (row.kind == GitDiffModel::RowKind::deletion) {
        background = colors.removalBackground;
        gutter = colors.removalGutter;
        markColor = colors.removalMark;
        mark = QStringLiteral("\u2212");
    }
    const bool selected = opt.state & QStyle::State_Selected;
    if (selected) {
        const QColor highlight = opt.palette.color(QPalette::Highlight);
        background = mix(background, highlight, 0.35);
        gutter = mix(gutter, highlight, 0.45);
    }

    painter->save();
    const QRect rect = opt.rect;
    painter->fillRect(rect, background);
    // The numbers and the +/− mark stay put while long lines scroll sideways beneath them.
    const int numberWidth = m_scroll->numberColumnWidth();
    const QRect gutterRect(0, rect.top(), numberWidth * 2, rect.height());
    const int markLeft = gutterRect.right() + 1;
    const QRect markRect(markLeft, rect.top(), m_scroll->markWidth(), rect.height());
    const int scrolled = -rect.left();
    const QRect textRect(markLeft + m_scroll->markWidth() - scrolled, rect.top(),
                         rect.right() - markLeft + scrolled, rect.height());
    if (row.kind == GitDiffModel::RowKind::meta) {
        QFont italic = opt.font;
        italic.setItalic(true);
        painter->setFont(italic);
        painter->setPen(colors.meta);
    } else {
        painter->setFont(opt.font);
        painter->setPen(colors.text);
    }
    painter->save();
    painter->setClipRect(QRect(markRect.right() + 1, rect.top(), rect.right(), rect.height()));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      GitDiffModel::displayText(*line));
    painter->restore();

    painter->fillRect(gutterRect, gutter);
    painter->fillRect(markRect, background);
    if (selected)
        painter->fillRect(QRect(0, rect.top(), 3, rect.height()), opt.palette.color(QPalette::Highlight));
    painter->setFont(opt.font);
    const int pad = m_scroll->charWidth();
    painter->setPen(colors.number);
    const auto number = [&](const std::optional<int>& value, int column) {
        if (!value)
            return;
        const QRect cell(column * numberWidth, rect.top(), numberWidth - pad, rect.height());
        painter->drawText(cell, Qt::AlignRight | Qt::AlignVCenter, QString::number(*value));
    };
    number(line->oldNumber, 0);
    number(line->newNumber, 1);
    if (!mark.isEmpty()) {
        painter->setPen(markColor);
        painter->drawText(markRect, Qt::AlignCenter, mark);
    }
    if (index.row() == m_scroll->lineCursor() && m_scroll->hasFocus()) {
        // The keyboard's line cursor.
        painter->setPen(QPen(opt.palette.color(QPalette::Highlight), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRect(0, rect.top(), rect.right(), rect.height() - 1));
    }
    painter->restore();
}

} // namespace halvik::views
