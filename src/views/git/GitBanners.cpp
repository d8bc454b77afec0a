#include "views/git/GitBanners.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString iconName(Semantic tone)
{
    switch (tone) {
    case Semantic::info:
        return QStringLiteral("dialog-information");
    case Semantic::caution:
        return QStringLiteral("dialog-warning");
    case Semantic::danger:
        return QStringLiteral("dialog-error");
    case Semantic::success:
        return QStringLiteral("emblem-ok-symbolic");
    }
    return {};
}

} // namespace

GitBanner::GitBanner(Semantic tone, QWidget* parent)
    : QFrame(parent), m_tone(tone), m_icon(new QLabel(this)), m_title(new QLabel(this)),
      m_text(new QLabel(this)), m_body(new QVBoxLayout), m_buttons(new QHBoxLayout)
{
    auto* row = new QHBoxLayout(this);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    row->setContentsMargins(margin, margin * 2 / 3, margin, margin * 2 / 3);
    row->addWidget(m_icon, 0, Qt::AlignTop);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setWordWrap(true);
    m_title->hide();
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_body->setSpacing(2);
    m_body->addWidget(m_title);
    m_body->addWidget(m_text);
    row->addLayout(m_body, 1);
    m_buttons->setSpacing(6);
    row->addLayout(m_buttons);
    row->setAlignment(m_buttons, Qt::AlignTop);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    applyIcon();
}

void GitBanner::setTone(Semantic tone)
{
    if (tone == m_tone)
        return;
    m_tone = tone;
    applyIcon();
    update();
}

void GitBanner::setTitle(const QString& title)
{
    m_title->setText(title);
    m_title->setVisible(!title.isEmpty());
}

void GitBanner::setText(const QString& text)
{
    m_text->setText(text);
    m_text->setVisible(!text.isEmpty());
}

QString GitBanner::title() const
{
    return m_title->text();
}

QString GitBanner::text() const
{
    return m_text->text();
}

QPushButton* GitBanner::addButton(const QString& text)
{
    auto* button = new QPushButton(text, this);
    m_buttons->addWidget(button, 0, Qt::AlignTop);
    return button;
}

void GitBanner::applyIcon()
{
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_icon->setPixmap(QIcon::fromTheme(iconName(m_tone)).pixmap(side, side));
}

void GitBanner::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor accent = semanticColor(m_tone, palette());
    QColor fill = accent;
    fill.setAlpha(isDark(palette()) ? 46 : 28);
    accent.setAlpha(150);
    painter.setPen(QPen(accent, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

void GitBanner::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyIcon();
}

// --- Notice ------------------------------------------------------------------------------------

GitNoticeBanner::GitNoticeBanner(QWidget* parent)
    : GitBanner(Semantic::info, parent), m_detailsToggle(new QToolButton(this)), m_copy(nullptr),
      m_close(new QToolButton(this)), m_details(new QLabel(this))
{
    m_detailsToggle->setText(QStringLiteral("Details"));
    m_detailsToggle->setCheckable(true);
    m_detailsToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_detailsToggle->setArrowType(Qt::RightArrow);
    m_detailsToggle->setAutoRaise(true);
    m_detailsToggle->hide();
    m_details->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setWordWrap(true);
    m_details->hide();
    auto* detailsRow = new QHBoxLayout;
    detailsRow->setContentsMargins(0, 0, 0, 0);
    detailsRow->addWidget(m_detailsToggle);
    detailsRow->addStretch();
    body()->addLayout(detailsRow);
    body()->addWidget(m_details);
    connect(m_detailsToggle, &QToolButton::toggled, this, [this](bool open) {
        m_detailsToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_details->setVisible(open);
    });

    m_copy = addButton(QStringLiteral("Copy details"));
    m_copy->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    m_copy->hide();
    connect(m_copy, &QPushButton::clicked, this, [this] { Q_EMIT copyRequested(m_details->text()); });

    m_close->setIcon(QIcon::fromTheme(QStringLiteral("window-close")));
    m_close->setAutoRaise(true);
    m_close->setToolTip(QStringLiteral("Dismiss"));
    m_close->setAccessibleName(QStringLiteral("Dismiss"));
    m_close->hide();
    static_cast<QHBoxLayout*>(layout())->addWidget(m_close, 0, Qt::AlignTop);
    connect(m_close, &QToolButton::clicked, this, &GitNoticeBanner::dismissed);
}

void GitNoticeBanner::setDetails(const std::optional<QString>& details, bool copyable)
{
    const bool has = details.has_value() && !details->trimmed().isEmpty();
    m_details->setText(has ? details->trimmed() : QString());
    m_detailsToggle->setVisible(has);
    if (!has)
        m_detailsToggle->setChecked(false);
    m_copy->setVisible(has && copyable);
}

void GitNoticeBanner::setDismissible(bool dismissible)
{
    m_close->setVisible(dismissible);
}

// --- Identity ----------------------------------------------------------------------------------

GitIdentityBanner::GitIdentityBanner(QWidget* parent)
    : GitBanner(Semantic::info, parent), m_name(new QLineEdit(this)), m_email(new QLineEdit(this)),
      m_save(nullptr)
{
    setText(QStringLiteral("Git needs your name once so every save has it."));
    m_name->setPlaceholderText(QStringLiteral("Name"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_email->setPlaceholderText(QStringLiteral("Email"));
    m_email->setAccessibleName(QStringLiteral("Email"));
    auto* fields = new QHBoxLayout;
    fields->setContentsMargins(0, 4, 0, 0);
    fields->addWidget(m_name, 1);
    fields->addWidget(m_email, 1);
    body()->addLayout(fields);
    m_save = addButton(QStringLiteral("Save identity"));
    connect(m_email, &QLineEdit::returnPressed, m_save, &QPushButton::click);
    connect(m_name, &QLineEdit::returnPressed, m_save, &QPushButton::click);
}

// --- Rebase ------------------------------------------------------------------------------------

GitRebaseBanner::GitRebaseBanner(QWidget* parent)
    : GitBanner(Semantic::caution, parent),
      m_filesTitle(new QLabel(QStringLiteral("Unresolved files"), this)), m_files(new QListWidget(this)),
      m_help(new QLabel(this))
{
    QFont bold = m_filesTitle->font();
    bold.setBold(true);
    m_filesTitle->setFont(bold);
    m_files->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_files->setFrameShape(QFrame::NoFrame);
    m_files->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_files->viewport()->setAutoFillBackground(false);
    m_files->setAutoFillBackground(false);
    m_files->setAccessibleName(QStringLiteral("Unresolved files"));
    m_help->setWordWrap(true);
    m_help->setForegroundRole(QPalette::PlaceholderText);
    body()->addSpacing(4);
    body()->addWidget(m_filesTitle);
    body()->addWidget(m_files);
    body()->addWidget(m_help);
}

void GitRebaseBanner::setFiles(const QStringList& paths)
{
    m_files->clear();
    m_files->addItems(paths);
    m_filesTitle->setVisible(!paths.isEmpty());
    m_files->setVisible(!paths.isEmpty());
    // Up to five rows without a scroll bar; more scroll.
    const int row = m_files->fontMetrics().height() + 4;
    m_files->setFixedHeight(row * int(std::min<qsizetype>(paths.size(), 5)) + 2);
}

void GitRebaseBanner::setHelp(const QString& help)
{
    m_help->setText(help);
    m_help->setVisible(!help.isEmpty());
}

} // namespace halvik::views
