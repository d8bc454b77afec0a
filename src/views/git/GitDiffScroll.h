#pragma once

#include "views/git/GitHunkHeader.h"

#include <QHash>
#include <QListView>
#include <QSet>

#include <functional>

namespace halvik::views {

class GitDiffModel;

// The scrolling body of a text diff: a list view over GitDiffModel that lays out and paints only
// the rows on screen. Changed lines are picked with the mouse (click, shift-click, drag,
// ctrl-click) or the keyboard (Shift+Up/Down extends, Space toggles the line at the cursor);
// each hunk header carries buttons for the hunk or, when some of its lines are picked, for
// those lines. Up and Down move from hunk to hunk, Return presses the hunk's first button and
// Delete its Discard; the menu key and a right click offer the same actions.
class GitDiffScroll : public QListView
{
    Q_OBJECT
public:
    explicit GitDiffScroll(QWidget* parent = nullptr);

    GitDiffModel* diffModel() const { return m_model; }

    // The buttons every hunk header shows, in order; none for a read-only diff.
    void setActions(const QList<gitcore::GitHunkAction>& actions);
    // Whether a hunk's button can be pressed now.
    void setActionEnabled(std::function<bool(int hunk, gitcore::GitHunkAction action)> enabled);

    QList<GitHunkButton> headerButtons(int hunk) const;
    GitHunkHeader::Look headerLook(int hunk) const;
    // GitDiffLine ids of the picked lines of `hunk`.
    QSet<int> selectedLineIds(int hunk) const;
    int currentHunk() const { return m_currentHunk; }
    int lineCursor() const { return m_lineCursor; }
    void setCurrentHunk(int hunk);

    // Geometry shared with the renderer.
    int lineHeight() const { return m_lineHeight; }
    int headerHeight() const { return m_headerHeight; }
    int charWidth() const { return m_charWidth; }
    int numberColumnWidth() const;
    int markWidth() const { return m_charWidth * 2; }
    int contentWidth() const;

Q_SIGNALS:
    void hunkActionRequested(int hunk, gitcore::GitHunkAction action);

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    bool viewportEvent(QEvent* event) override;

private:
    struct ButtonAt
    {
        int hunk = -1;
        int button = -1;
        bool operator==(const ButtonAt&) const = default;
    };
    ButtonAt buttonAt(const QPoint& pos) const;
    int hunkAt(const QPoint& pos) const;
    int buttonWidth(const QString& label) const;
    void updateMetrics();
    void updateHeader(int hunk);
    // Moves the keyboard's line cursor to the next changed line of the current hunk.
    void stepLineCursor(int step, bool extend);

    GitDiffModel* m_model;
    QList<gitcore::GitHunkAction> m_actions;
    std::function<bool(int, gitcore::GitHunkAction)> m_enabled;
    mutable QHash<QString, int> m_buttonWidths;
    ButtonAt m_hovered;
    ButtonAt m_pressed;
    int m_currentHunk = -1;
    int m_lineCursor = -1; // a row
    int m_lineHeight = 16;
    int m_headerHeight = 30;
    int m_charWidth = 8;
};

} // namespace halvik::views
