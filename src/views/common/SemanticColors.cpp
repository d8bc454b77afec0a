#include "views/common/SemanticColors.h"

#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <cmath>

namespace halvik::views {

namespace {

double luminance(const QColor& colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// Runs a callback on every palette change of the widget it watches.
class PaletteWatch : public QObject
{
public:
    PaletteWatch(QWidget* widget, std::function<void()> update) : QObject(widget), m_update(std::move(update))
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Setting a colour from inside the callback raises another PaletteChange.
        if (!m_updating && event->type() == QEvent::PaletteChange) {
            m_updating = true;
            m_update();
            m_updating = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_update;
    bool m_updating = false;
};

} // namespace

const QList<Semantic>& allSemantics()
{
    static const QList<Semantic> all{Semantic::info, Semantic::caution, Semantic::danger, Semantic::success};
    return all;
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor semanticColor(Semantic role, const QPalette& palette)
{
    const bool dark = isDark(palette);
    switch (role) {
    case Semantic::info:
        return dark ? QColor(0x6c, 0xa8, 0xf0) : QColor(0x1a, 0x5f, 0xb4);
    case Semantic::caution:
        return dark ? QColor(0xf0, 0xa0, 0x4b) : QColor(0x9c, 0x4f, 0x00);
    case Semantic::danger:
        return dark ? QColor(0xf2, 0x6d, 0x6d) : QColor(0xc0, 0x1c, 0x28);
    case Semantic::success:
        return dark ? QColor(0x5c, 0xc9, 0x7b) : QColor(0x1e, 0x75, 0x34);
    }
    return palette.color(QPalette::Text);
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

void followPalette(QWidget* widget, std::function<void()> update)
{
    update();
    new PaletteWatch(widget, std::move(update));
}

void setSemanticText(QWidget* widget, Semantic role)
{
    QPointer<QWidget> guarded(widget);
    followPalette(widget, [guarded, role] {
        if (!guarded)
            return;
        QPalette palette = guarded->palette();
        const QColor colour = semanticColor(role, palette);
        if (palette.color(QPalette::WindowText) == colour && palette.color(QPalette::Text) == colour)
            return;
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
        guarded->setPalette(palette);
    });
}

void recolourLinks(QLabel* label)
{
    QPointer<QLabel> guarded(label);
    new PaletteWatch(label, [guarded] {
        if (!guarded || guarded->text().isEmpty())
            return;
        const QString text = guarded->text();
        guarded->clear();
        guarded->setText(text);
    });
}

} // namespace halvik::views
