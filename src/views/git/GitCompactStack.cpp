#include "views/git/GitCompactStack.h"

#include "app/GitWorkspace.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

GitCompactStack::GitCompactStack(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_stack(new QStackedLayout(this)),
      m_masterPage(new QWidget(this)), m_detailPage(new QWidget(this)), m_back(new QToolButton(m_detailPage)),
      m_title(new QLabel(m_detailPage))
{
    auto* masterLayout = new QVBoxLayout(m_masterPage);
    masterLayout->setContentsMargins(0, 0, 0, 0);
    auto* detailLayout = new QVBoxLayout(m_detailPage);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    m_back->setIcon(QIcon::fromTheme(QStringLiteral("go-previous")));
    m_back->setText(QStringLiteral("Back"));
    m_back->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_back->setAutoRaise(true);
    m_back->setToolTip(QStringLiteral("Back to the list (Alt+Left)"));
    m_back->setAccessibleName(QStringLiteral("Back"));
    m_back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* top = new QHBoxLayout;
    top->addWidget(m_back);
    top->addWidget(m_title, 1);
    detailLayout->addLayout(top);
    m_stack->addWidget(m_masterPage);
    m_stack->addWidget(m_detailPage);
    connect(m_back, &QToolButton::clicked, this, [this] { m_workspace.setCompactShowsDetail(false); });
    connect(&m_workspace, &GitWorkspace::displayChanged, this, &GitCompactStack::sync);
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitCompactStack::sync);
    connect(&m_workspace, &GitWorkspace::diffChanged, this, &GitCompactStack::sync);
    sync();
}

void GitCompactStack::setPanes(QWidget* master, QWidget* detail)
{
    m_master = master;
    m_detail = detail;
    m_masterPage->layout()->addWidget(master);
    static_cast<QVBoxLayout*>(m_detailPage->layout())->addWidget(detail, 1);
    master->show();
    detail->show();
    sync();
}

bool GitCompactStack::showsDetail() const
{
    return m_stack->currentWidget() == m_detailPage;
}

void GitCompactStack::sync()
{
    m_stack->setCurrentWidget(m_workspace.compactShowsDetail() ? m_detailPage : m_masterPage);
    QString title;
    if (m_workspace.listTab() == gitcore::GitListTab::history) {
        if (const auto& detail = m_workspace.commitDetail())
            title = detail->commit.subject;
    } else if (const auto& path = m_workspace.selectedPath()) {
        title = *path;
    }
    m_title->setText(
        m_title->fontMetrics().elidedText(title, Qt::ElideMiddle, std::max(80, m_title->width())));
    m_title->setToolTip(title);
}

} // namespace halvik::views
