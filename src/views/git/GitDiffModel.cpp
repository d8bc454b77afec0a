#include "views/git/GitDiffModel.h"

namespace halvik::views {

using gitcore::GitDiffLine;

namespace {

GitDiffModel::RowKind kindOf(GitDiffLine::Kind kind)
{
    switch (kind) {
    case GitDiffLine::Kind::addition:
        return GitDiffModel::RowKind::addition;
    case GitDiffLine::Kind::deletion:
        return GitDiffModel::RowKind::deletion;
    case GitDiffLine::Kind::meta:
        return GitDiffModel::RowKind::meta;
    case GitDiffLine::Kind::context:
        break;
    }
    return GitDiffModel::RowKind::context;
}

constexpr int tabWidth = 4;

} // namespace

QString GitDiffModel::displayText(const GitDiffLine& line)
{
    QString text = line.kind == GitDiffLine::Kind::meta ? line.text : line.text.mid(1);
    if (text.contains(QLatin1Char('\t')))
        text.replace(QLatin1Char('\t'), QString(tabWidth, QLatin1Char(' ')));
    return text;
}

QString GitDiffModel::accessibleText(const GitDiffLine& line)
{
    switch (line.kind) {
    case GitDiffLine::Kind::addition:
        return QStringLiteral("Added: ") + line.text.mid(1);
    case GitDiffLine::Kind::deletion:
        return QStringLiteral("Removed: ") + line.text.mid(1);
    case GitDiffLine::Kind::meta:
        return line.text.mid(1).trimmed();
    case GitDiffLine::Kind::context:
        break;
    }
    return line.text.mid(1);
}

const GitDiffLine* GitDiffModel::line(int row) const
{
    const Row& r = m_rows.at(row);
    return r.line < 0 ? nullptr : &m_diff->hunks.at(r.hunk).lines.at(r.line);
}

int GitDiffModel::rowOfLine(int hunk, int lineId) const
{
    const int header = headerRow(hunk);
    if (header < 0)
        return -1;
    const auto& lines = m_diff->hunks.at(hunk).lines;
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).id == lineId)
            return header + 1 + i;
    return -1;
}

QVariant GitDiffModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& r = m_rows.at(index.row());
    const GitDiffLine* diffLine = line(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return diffLine ? displayText(*diffLine) : m_diff->hunks.at(r.hunk).header;
    case Qt::AccessibleTextRole:
        return diffLine ? accessibleText(*diffLine) : m_diff->hunks.at(r.hunk).header;
    default:
        return {};
    }
}

Qt::ItemFlags GitDiffModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return Qt::NoItemFlags;
    const RowKind kind = m_rows.at(index.row()).kind;
    // Only changed lines can be picked: they are what a partial include, exclude or discard takes.
    if (kind == RowKind::addition || kind == RowKind::deletion)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return Qt::ItemIsEnabled;
}

void GitDiffModel::setDiff(const std::optional<gitcore::GitFileDiff>& diff)
{
    if (diff == m_diff)
        return;
    beginResetModel();
    m_diff = diff;
    m_rows.clear();
    m_headerRows.clear();
    m_longestLine = 0;
    m_highestNumber = 0;
    if (m_diff) {
        for (int h = 0; h < m_diff->hunks.size(); ++h) {
            const gitcore::GitDiffHunk& hunk = m_diff->hunks.at(h);
            m_headerRows.append(int(m_rows.size()));
            m_rows.append(Row{RowKind::hunkHeader, h, -1});
            m_longestLine = std::max(m_longestLine, int(hunk.header.size()));
            for (int l = 0; l < hunk.lines.size(); ++l) {
                const GitDiffLine& diffLine = hunk.lines.at(l);
                m_rows.append(Row{kindOf(diffLine.kind), h, l});
                // Tabs widen a line when shown; count them at their widest.
                const int tabs = int(diffLine.text.count(QLatin1Char('\t')));
                m_longestLine = std::max(m_longestLine, int(diffLine.text.size()) + tabs * (tabWidth - 1));
                m_highestNumber = std::max(
                    {m_highestNumber, diffLine.oldNumber.value_or(0), diffLine.newNumber.value_or(0)});
            }
        }
    }
    endResetModel();
}

} // namespace halvik::views
