#include "views/git/GitHistoryDetail.h"

#include "views/git/GitDiffPane.h"

#include "app/GitWorkspace.h"

#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QSplitter>
#include <QVBoxLayout>

namespace halvik::views {

using namespace gitcore;

GitHistoryDetail::GitHistoryDetail(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_header(new QWidget(this)), m_placeholder(new QLabel(this)),
      m_subject(new QLabel(m_header)), m_meta(new QLabel(m_header)), m_body(new QLabel(m_header)),
      m_filesTitle(new QLabel(m_header)), m_files(new QListWidget(m_header)),
      m_diff(new GitDiffPane(workspace, GitDiffPane::Mode::commit, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* header = new QVBoxLayout(m_header);
    header->setContentsMargins(4, 0, 4, 0);
    header->setSpacing(4);
    QFont big = m_subject->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.15);
    m_subject->setFont(big);
    m_subject->setWordWrap(true);
    m_subject->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_meta->setForegroundRole(QPalette::PlaceholderText);
    m_meta->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_meta->setWordWrap(true);
    m_body->setWordWrap(true);
    m_body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = m_filesTitle->font();
    bold.setBold(true);
    m_filesTitle->setFont(bold);
    m_files->setAccessibleName(QStringLiteral("Files in this commit"));
    m_files->setMaximumHeight(m_files->fontMetrics().height() * 7);
    m_files->setUniformItemSizes(true);
    header->addWidget(m_subject);
    header->addWidget(m_meta);
    header->addWidget(m_body);
    header->addSpacing(4);
    header->addWidget(m_filesTitle);
    header->addWidget(m_files);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setForegroundRole(QPalette::PlaceholderText);
    m_placeholder->setText(QStringLiteral("Select a commit to see what it changed."));
    layout->addWidget(m_placeholder);
    layout->addWidget(m_header);
    layout->addWidget(m_diff, 1);

    connect(m_files, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_syncing || row < 0)
            return;
        m_workspace.selectHistoryPath(m_files->item(row)->data(Qt::UserRole).toString());
    });
    connect(&m_workspace, &GitWorkspace::diffChanged, this, &GitHistoryDetail::sync);
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitHistoryDetail::sync);
    sync();
}

void GitHistoryDetail::sync()
{
    const auto& detail = m_workspace.commitDetail();
    m_placeholder->setVisible(!detail);
    m_header->setVisible(detail.has_value());
    m_diff->setVisible(detail.has_value());
    if (!detail)
        return;
    const GitCommit& commit = detail->commit;
    m_subject->setText(commit.subject);
    m_meta->setText(commit.author + QStringLiteral(" \u00B7 ") +
                    QLocale().toString(commit.date.toLocalTime(), QLocale::ShortFormat) +
                    QStringLiteral(" \u00B7 ") + commit.shortSHA());
    m_meta->setToolTip(commit.sha); // the full SHA, as "Copy SHA" copies it
    const QString body = detail->body.trimmed();
    m_body->setText(body);
    m_body->setVisible(!body.isEmpty());
    const qsizetype count = detail->files.size();
    m_filesTitle->setText(count == 0   ? QStringLiteral("No files in this commit.")
                          : count == 1 ? QStringLiteral("1 file")
                                       : QString::number(count) + QStringLiteral(" files"));
    m_files->setVisible(count > 0);

    m_syncing = true;
    QStringList shown;
    for (int i = 0; i < m_files->count(); ++i)
        shown << m_files->item(i)->data(Qt::UserRole).toString();
    QStringList paths;
    for (const auto& file : detail->files)
        paths << file.path;
    if (shown != paths) {
        m_files->clear();
        for (const auto& file : detail->files) {
            auto* item = new QListWidgetItem(file.kindLabel() + QStringLiteral("  ") + file.path, m_files);
            item->setData(Qt::UserRole, file.path);
            item->setToolTip(file.path);
        }
    }
    // The file on show: the chosen one, or the first when none is chosen.
    const std::optional<QString>& chosen = m_workspace.selectedHistoryPath();
    const int row = chosen ? int(paths.indexOf(*chosen)) : (paths.isEmpty() ? -1 : 0);
    if (m_files->currentRow() != row)
        m_files->setCurrentRow(row);
    m_syncing = false;
}

} // namespace halvik::views
