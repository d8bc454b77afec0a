#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QStackedLayout;
class QToolButton;

namespace halvik {
class GitWorkspace;
}

namespace halvik::views {

// The narrow layout: the list, or the detail with a back chevron in its place, as the
// workspace's compactShowsDetail says.
class GitCompactStack : public QWidget
{
    Q_OBJECT
public:
    explicit GitCompactStack(GitWorkspace& workspace, QWidget* parent = nullptr);

    void setPanes(QWidget* master, QWidget* detail);
    QToolButton* backButton() const { return m_back; }
    // What the detail shows: the file or the commit.
    QLabel* titleLabel() const { return m_title; }
    bool showsDetail() const;

private:
    void sync();

    GitWorkspace& m_workspace;
    QStackedLayout* m_stack;
    QWidget* m_masterPage;
    QWidget* m_detailPage;
    QToolButton* m_back;
    QLabel* m_title;
    QPointer<QWidget> m_master;
    QPointer<QWidget> m_detail;
};

} // namespace halvik::views
