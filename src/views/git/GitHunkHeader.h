#pragma once

#include "gitcore/GitEnums.h"

#include <QList>
#include <QRect>
#include <QString>

class QPainter;
class QStyleOptionViewItem;
class QWidget;

namespace halvik::views {

// One button of a hunk header row.
struct GitHunkButton
{
    gitcore::GitHunkAction action = gitcore::GitHunkAction::include;
    QString label;
    bool enabled = false;
    QRect rect; // in the viewport
};

// The row above each hunk: its "@@" line, muted, and the buttons that include, exclude or
// discard it (or only its selected lines). Painted, not built from widgets, so a diff of
// hundreds of hunks costs only the rows on screen.
class GitHunkHeader
{
public:
    // "Include", or "Include Lines" when lines of the hunk are selected.
    static QString label(gitcore::GitHunkAction action, bool selectedLines);
    // What a button does, in Git's terms, for its tooltip.
    static QString help(gitcore::GitHunkAction action);
    // Places the buttons at the right end of `row`, each `widths` wide.
    static void place(QList<GitHunkButton>& buttons, const QRect& row, const QList<int>& widths);
    struct Look
    {
        int hovered = -1;
        int pressed = -1;
        bool current = false; // the keyboard's hunk while the diff has focus
        bool divider = true;  // a rule above it (not above the first hunk)
    };
    static void paint(QPainter* painter, const QStyleOptionViewItem& option, const QString& header,
                      const QList<GitHunkButton>& buttons, const Look& look, const QWidget* view);

    static constexpr int margin = 8;
    static constexpr int spacing = 6;
};

} // namespace halvik::views
