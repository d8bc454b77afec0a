#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QSplitter;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

class GitDiffPane;

// The commit selected in History: its subject, author, date and SHA, its body, its files and
// the diff of the file chosen among them.
class GitHistoryDetail : public QWidget
{
    Q_OBJECT
public:
    explicit GitHistoryDetail(GitWorkspace& workspace, QWidget* parent = nullptr);

    QLabel* subjectLabel() const { return m_subject; }
    QLabel* metaLabel() const { return m_meta; }
    QLabel* bodyLabel() const { return m_body; }
    QLabel* filesLabel() const { return m_filesTitle; }
    QListWidget* fileList() const { return m_files; }
    GitDiffPane* diffPane() const { return m_diff; }

private:
    void sync();

    GitWorkspace& m_workspace;
    QWidget* m_header;
    QLabel* m_placeholder;
    QLabel* m_subject;
    QLabel* m_meta;
    QLabel* m_body;
    QLabel* m_filesTitle;
    QListWidget* m_files;
    GitDiffPane* m_diff;
    bool m_syncing = false;
};

} // namespace halvik::views
