#pragma once

#include "gitcore/GitDiff.h"

#include <QAbstractListModel>

#include <optional>

namespace halvik::views {

// One text diff as a flat list of rows: each hunk's header row followed by its lines. The view
// over it lays out and paints only the rows on screen.
class GitDiffModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum class RowKind
    {
        hunkHeader,
        context,
        addition,
        deletion,
        meta
    };
    struct Row
    {
        RowKind kind = RowKind::hunkHeader;
        int hunk = 0;
        int line = -1; // index into the hunk's lines; -1 for the header
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Shows `diff` (its hunks, whatever its kind); keeps everything as it is when it is the diff
    // already shown, so a refresh that changed nothing keeps the selection and the scroll.
    void setDiff(const std::optional<gitcore::GitFileDiff>& diff);
    const std::optional<gitcore::GitFileDiff>& diff() const { return m_diff; }

    const Row& row(int row) const { return m_rows.at(row); }
    const gitcore::GitDiffHunk& hunk(int index) const { return m_diff->hunks.at(index); }
    const gitcore::GitDiffLine* line(int row) const;
    int hunkCount() const { return m_diff ? int(m_diff->hunks.size()) : 0; }
    int headerRow(int hunk) const { return m_headerRows.value(hunk, -1); }
    // The row of the line with GitDiffLine id `lineId`, or -1.
    int rowOfLine(int hunk, int lineId) const;
    // Widest line and highest line number, for the gutter and the horizontal extent.
    int longestLine() const { return m_longestLine; }
    int highestNumber() const { return m_highestNumber; }

    // The line as shown: without its marker, tabs as spaces.
    static QString displayText(const gitcore::GitDiffLine& line);
    // What a screen reader says for the line.
    static QString accessibleText(const gitcore::GitDiffLine& line);

private:
    std::optional<gitcore::GitFileDiff> m_diff;
    QList<Row> m_rows;
    QList<int> m_headerRows;
    int m_longestLine = 0;
    int m_highestNumber = 0;
};

} // namespace halvik::views
