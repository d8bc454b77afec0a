#include "views/git/GitCompactStack.h"

#include "app/GitWorkspace.h"

#include <QIcon>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

GitCompactStack::GitCompactStack(GitWorkspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_stack(new QStackedLayout(this)),
      m_masterPage(new QWidget(this)), m_detailPage(new QWidget(this)), m_back(new QToolButton(m_detailPage))
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
    detailLayout->addWidget(m_back, 0, Qt::AlignLeft);
    m_stack->addWidget(m_masterPage);
    m_stack->addWidget(m_detailPage);
    connect(m_back, &QToolButton::clicked, this, [this] { m_workspace.setCompactShowsDetail(false); });
    connect(&m_workspace, &GitWorkspace::displayChanged, this, &GitCompactStack::sync);
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
}

} // namespace halvik::views
