#include "LiveLogView.h"

#include <QFontDatabase>
#include <QScrollBar>

namespace halvik::views {

LiveLogView::LiveLogView(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(visibleLines);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void LiveLogView::appendBatch(const QString& lines)
{
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum() - 2;
    // Only the tail of a large batch can stay on screen: skip laying out the rest.
    qsizetype start = 0;
    qsizetype found = 0;
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (lines.at(i) == QLatin1Char('\n') && ++found == visibleLines) {
            start = i + 1;
            break;
        }
    const int keep = following ? 0 : bar->value();
    appendPlainText(start == 0 ? lines : lines.mid(start));
    if (following)
        bar->setValue(bar->maximum());
    else
        bar->setValue(keep);
}

void LiveLogView::setLog(const QString& text)
{
    clear();
    if (!text.isEmpty())
        appendBatch(text);
}

} // namespace halvik::views
