#include "views/git/GitDiffPane.h"

#include "app/GitWorkspace.h"

#include <QLabel>
#include <QVBoxLayout>

namespace halvik::views {

GitDiffPane::GitDiffPane(GitWorkspace& workspace, Mode mode, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_mode(mode), m_placeholder(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_placeholder, 0, Qt::AlignCenter);
    connect(&m_workspace, &GitWorkspace::diffChanged, this, &GitDiffPane::showDiff);
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitDiffPane::showDiff);
    showDiff();
}

void GitDiffPane::showDiff()
{
    const bool selected = m_mode == Mode::changes ? m_workspace.selectedPath().has_value()
                                                  : m_workspace.selectedHistoryPath().has_value();
    m_placeholder->setText(selected ? QString() : QStringLiteral("Select a file to see its diff."));
}

} // namespace halvik::views
