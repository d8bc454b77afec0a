#pragma once

#include <QPlainTextEdit>

namespace halvik::views {

// A read-only monospace log that grows in batches, keeps only its most recent lines on screen
// (the whole text stays with the job that owns it), and follows the end while the reader is
// at the end.
class LiveLogView : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int visibleLines = 5000;

    explicit LiveLogView(QWidget* parent = nullptr);

    // Adds one or more lines joined by line feeds.
    void appendBatch(const QString& lines);
    // Replaces everything with `text`, showing its last lines.
    void setLog(const QString& text);
};

} // namespace halvik::views
