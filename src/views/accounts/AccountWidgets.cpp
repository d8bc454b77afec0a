#include "views/accounts/AccountWidgets.h"

#include "views/common/SemanticColors.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QPainter>

namespace halvik::views {

namespace {

QColor brandColor(SourceControlProvider provider)
{
    switch (provider) {
    case SourceControlProvider::github:
        return QColor(0x24, 0x29, 0x2f);
    case SourceControlProvider::gitlab:
        return QColor(0xe2, 0x43, 0x29);
    case SourceControlProvider::bitbucket:
        return QColor(0x26, 0x84, 0xff);
    case SourceControlProvider::origin:
        return QColor(0x6e, 0x56, 0xcf);
    }
    return Qt::gray;
}

} // namespace

ProviderBadge::ProviderBadge(SourceControlProvider provider, int size, QWidget* parent)
    : QWidget(parent), m_provider(provider), m_size(size)
{
    setFixedSize(size, size);
    setAccessibleName(title(provider));
}

void ProviderBadge::setProvider(SourceControlProvider provider)
{
    m_provider = provider;
    setAccessibleName(title(provider));
    update();
}

void ProviderBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = brandColor(m_provider);
    // GitHub's near-black disappears on a dark window: lift it there.
    if (m_provider == SourceControlProvider::github && isDark(palette()))
        fill = QColor(0x6e, 0x76, 0x81);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
    QFont font = this->font();
    font.setBold(true);
    font.setPixelSize(m_size * 4 / 10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString letters =
        m_provider == SourceControlProvider::origin ? QStringLiteral("O") : title(m_provider).left(1);
    painter.drawText(rect(), Qt::AlignCenter, letters);
}

QColor toneColor(Tone tone, const QPalette& palette)
{
    switch (tone) {
    case Tone::success:
        return semanticColor(Semantic::success, palette);
    case Tone::failure:
        return semanticColor(Semantic::danger, palette);
    case Tone::muted:
        return palette.color(QPalette::PlaceholderText);
    case Tone::plain:
        break;
    }
    return palette.color(QPalette::WindowText);
}

ToneLabel::ToneLabel(const QString& text, Tone tone, QWidget* parent) : QLabel(text, parent), m_tone(tone)
{
    setWordWrap(true);
    applyTone();
}

void ToneLabel::setTone(Tone tone)
{
    m_tone = tone;
    applyTone();
}

void ToneLabel::applyTone()
{
    m_applying = true;
    QPalette palette;
    // Inside a list the label draws with Text rather than WindowText: colour both.
    const QColor color = toneColor(m_tone, QApplication::palette());
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    setPalette(palette);
    setTextInteractionFlags(m_tone == Tone::failure ? Qt::TextSelectableByMouse : Qt::LinksAccessibleByMouse);
    m_applying = false;
}

void ToneLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) &&
        !m_applying)
        applyTone();
}

QLabel* headingLabel(const QString& text, int steps, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * (1.0 + 0.15 * steps));
    font.setBold(true);
    label->setFont(font);
    return label;
}

QString withCodeSpans(const QString& text)
{
    const QString family = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    QString out;
    bool inCode = false;
    for (const QString& part : text.split(QLatin1Char('`'))) {
        out += inCode ? QStringLiteral("<span style=\"font-family:'%1'\">%2</span>")
                            .arg(family, part.toHtmlEscaped())
                      : part.toHtmlEscaped();
        inCode = !inCode;
    }
    return out;
}

} // namespace halvik::views
