#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTreeView>

namespace halvik::views {

// The lines of a live log, as rows.
class LogLinesModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_lines.size());
    }
    QVariant data(const QModelIndex& index, int role) const override;

    // Adds the lines of `text` (joined by line feeds); keeps at most `limit` lines, dropping the oldest.
    void append(QStringView text, qsizetype limit);
    void clear();
    const QStringList& lines() const { return m_lines; }

private:
    QStringList m_lines;
};

// A read-only monospace log backed by a list model, so a flood of output costs only what it
// adds: it keeps the most recent lines (the whole text stays with the job that owns it),
// follows the end while the reader is at the end, and copies the selected lines.
class LiveLogView : public QTreeView
{
    Q_OBJECT
public:
    static constexpr qsizetype visibleLines = 100'000;

    explicit LiveLogView(QWidget* parent = nullptr);

    // Adds one or more lines joined by line feeds.
    void appendBatch(const QString& lines);
    // Replaces everything with `text`.
    void setLog(const QString& text);
    void clear();
    // The lines shown, joined by line feeds.
    QString text() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void copySelection() const;
    void fitColumn();

    LogLinesModel* m_model;
    qsizetype m_longestLine = 0;
};

} // namespace halvik::views
