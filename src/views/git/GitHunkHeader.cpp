#include "views/git/GitHunkHeader.h"

#include "gitcore/EnumTable.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>

namespace halvik::views {

QString GitHunkHeader::label(gitcore::GitHunkAction action, bool selectedLines)
{
    const QString verb = gitcore::title(action);
    return selectedLines ? verb + QStringLiteral(" Lines") : verb;
}

QString GitHunkHeader::help(gitcore::GitHunkAction action)
{
    switch (action) {
    case gitcore::GitHunkAction::include:
        return QStringLiteral("Stage these changes: git apply --cached");
    case gitcore::GitHunkAction::exclude:
        return QStringLiteral("Unstage these changes: git apply --cached --reverse");
    case gitcore::GitHunkAction::discard:
        return QStringLiteral("Throw these changes away from the worktree: git apply --reverse");
    }
    return {};
}

void GitHunkHeader::place(QList<GitHunkButton>& buttons, const QRect& row, const QList<int>& widths)
{
    int right = row.right() - margin;
    const int height = row.height() - 6;
    for (qsizetype i = buttons.size() - 1; i >= 0; --i) {
        const int width = widths.value(i);
        buttons[i].rect = QRect(right - width + 1, row.top() + (row.height() - height) / 2, width, height);
        right -= width + spacing;
    }
}

void GitHunkHeader::paint(QPainter* painter, const QStyleOptionViewItem& option, const QString& header,
                          const QList<GitHunkButton>& buttons, const Look& look, const QWidget* view)
{
    const QPalette& palette = option.palette;
    const QRect row = option.rect;
    painter->save();
    const QColor base = palette.color(QPalette::Base);
    const QColor window = palette.color(QPalette::Window);
    QColor band = QColor::fromRgbF((base.redF() + window.redF()) / 2, (base.greenF() + window.greenF()) / 2,
                                   (base.blueF() + window.blueF()) / 2);
    painter->fillRect(row, band);
    if (look.divider) {
        painter->setPen(palette.color(QPalette::Mid));
        painter->drawLine(row.topLeft(), row.topRight());
    }
    if (look.current) {
        painter->fillRect(QRect(0, row.top(), 3, row.height()), palette.color(QPalette::Highlight));
    }

    // Like the buttons, the "@@" line stays in view while long lines scroll sideways.
    const int textRight = buttons.isEmpty() ? row.right() - margin : buttons.first().rect.left() - margin;
    const int textLeft = margin + 4;
    const QRect textRect(textLeft, row.top(), std::max(0, textRight - textLeft), row.height());
    painter->setFont(option.font);
    painter->setPen(palette.color(QPalette::PlaceholderText));
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(header, Qt::ElideRight, textRect.width()));

    QStyle* style = view ? view->style() : QApplication::style();
    for (int i = 0; i < buttons.size(); ++i) {
        const GitHunkButton& button = buttons.at(i);
        QStyleOptionButton opt;
        opt.initFrom(view);
        opt.rect = button.rect;
        opt.text = button.label;
        opt.fontMetrics = QFontMetrics(QApplication::font("QPushButton"));
        opt.state = QStyle::State_Raised;
        if (button.enabled) {
            opt.state |= QStyle::State_Enabled;
            if (i == look.hovered)
                opt.state |= QStyle::State_MouseOver;
            if (i == look.pressed)
                opt.state |= QStyle::State_Sunken;
        } else {
            opt.state &= ~QStyle::State_Enabled;
            opt.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        painter->setFont(QApplication::font("QPushButton"));
        style->drawControl(QStyle::CE_PushButton, &opt, painter, view);
    }
    painter->restore();
}

} // namespace halvik::views
