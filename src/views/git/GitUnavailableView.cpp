#include "views/git/GitUnavailableView.h"

#include "platform/PlatformTexts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

GitUnavailableView::GitUnavailableView(QWidget* parent)
    : QWidget(parent), m_icon(new QLabel(this)), m_title(new QLabel(this)), m_message(new QLabel(this)),
      m_commandRow(new QWidget(this)), m_command(new QLineEdit(m_commandRow)),
      m_detailsToggle(new QToolButton(this)), m_details(new QPlainTextEdit(this)),
      m_retry(new QPushButton(QStringLiteral("Retry"), this))
{
    auto* outer = new QVBoxLayout(this);
    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    m_icon->setPixmap(QIcon::fromTheme(QStringLiteral("dialog-warning")).pixmap(48, 48));
    m_icon->setAlignment(Qt::AlignCenter);
    QFont big = m_title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    m_title->setFont(big);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* commandLayout = new QHBoxLayout(m_commandRow);
    commandLayout->setContentsMargins(0, 0, 0, 0);
    m_command->setReadOnly(true);
    m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_command->setAccessibleName(QStringLiteral("Recovery command"));
    auto* copy = new QToolButton(m_commandRow);
    copy->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    copy->setToolTip(QStringLiteral("Copy command"));
    copy->setAccessibleName(QStringLiteral("Copy command"));
    connect(copy, &QToolButton::clicked, this, [this] {
        if (copyText)
            copyText(m_command->text());
    });
    commandLayout->addWidget(m_command, 1);
    commandLayout->addWidget(copy);

    m_detailsToggle->setText(QStringLiteral("Error details"));
    m_detailsToggle->setCheckable(true);
    m_detailsToggle->setAutoRaise(true);
    m_detailsToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_detailsToggle->setArrowType(Qt::RightArrow);
    m_details->setReadOnly(true);
    m_details->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_details->setMaximumHeight(140);
    m_details->hide();
    connect(m_detailsToggle, &QToolButton::toggled, this, [this](bool open) {
        m_detailsToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_details->setVisible(open);
    });
    m_retry->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh")));
    connect(m_retry, &QPushButton::clicked, this, &GitUnavailableView::retryRequested);

    column->addWidget(m_icon);
    column->addWidget(m_title);
    column->addWidget(m_message);
    column->addWidget(m_commandRow);
    column->addWidget(m_detailsToggle, 0, Qt::AlignLeft);
    column->addWidget(m_details);
    column->addWidget(m_retry, 0, Qt::AlignCenter);
    auto* centre = new QHBoxLayout;
    centre->addStretch(1);
    centre->addLayout(column, 4);
    centre->addStretch(1);
    outer->addStretch(1);
    outer->addLayout(centre);
    outer->addStretch(2);
}

void GitUnavailableView::setProblem(const gitcore::GitRepositoryProblem& problem)
{
    const gitcore::GitProblemText text = PlatformTexts::gitProblem(problem.kind);
    m_title->setText(text.title);
    m_message->setText(text.message);
    m_command->setText(text.recoveryCommand.value_or(QString()));
    m_commandRow->setVisible(text.recoveryCommand.has_value());
    m_details->setPlainText(problem.details);
    m_detailsToggle->setVisible(!problem.details.trimmed().isEmpty());
}

} // namespace halvik::views
