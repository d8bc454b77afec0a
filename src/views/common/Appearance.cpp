#include "views/common/Appearance.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace halvik::views {

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(40, 40, 43), base(30, 30, 32), text(232, 232, 235), accent(64, 128, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(140, 140, 145));
    p.setColor(QPalette::Link, QColor(110, 168, 254));
    p.setColor(QPalette::LinkVisited, QColor(180, 150, 250));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 125));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 125));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 125));
    return p;
}

// Fusion outlines check boxes and radio buttons in a shade of the window colour, which on a
// dark window all but vanishes against the field it sits in; there they get a visible rim.
class RimmedIndicatorStyle : public QProxyStyle
{
public:
    RimmedIndicatorStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        const bool indicator = element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton;
        if (!indicator || option->palette.color(QPalette::Window).lightness() >= 128)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, element == PE_IndicatorRadioButton);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(option->palette.color(QPalette::PlaceholderText));
        const QRectF rim = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (element == PE_IndicatorRadioButton)
            painter->drawEllipse(rim.adjusted(0.5, 0.5, -0.5, -0.5));
        else
            painter->drawRect(rim);
        painter->restore();
    }
};

// The icon theme the desktop chose, put back when the appearance follows the system again.
QString& systemIconTheme()
{
    static QString theme;
    return theme;
}

// A chosen Light or Dark appearance takes Breeze in the matching shade, so icons keep their
// contrast whatever theme the desktop uses; System gives the desktop's theme back.
void matchIcons(ColorScheme scheme)
{
    if (scheme == ColorScheme::system) {
        QIcon::setFallbackThemeName(QStringLiteral("breeze"));
        QIcon::setThemeName(systemIconTheme());
        return;
    }
    const QString breeze =
        scheme == ColorScheme::dark ? QStringLiteral("breeze-dark") : QStringLiteral("breeze");
    QIcon::setFallbackThemeName(breeze);
    QIcon::setThemeName(breeze);
}

} // namespace

void applyColorScheme(ColorScheme scheme)
{
    static const QPalette systemPalette = QApplication::palette();
    matchIcons(scheme); // first: widgets redraw their icons as the palette changes
    switch (scheme) {
    case ColorScheme::dark:
        QApplication::setStyle(new RimmedIndicatorStyle);
        QApplication::setPalette(darkPalette());
        break;
    case ColorScheme::light:
        QApplication::setStyle(new RimmedIndicatorStyle);
        QApplication::setPalette(QApplication::style()->standardPalette());
        break;
    case ColorScheme::system:
        QApplication::setPalette(systemPalette);
        break;
    }
}

void installIconTheme()
{
    // Some platform plugins (offscreen, minimal desktops) search no icon folders of their own.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        if (const QString icons = data + QStringLiteral("/icons"); !paths.contains(icons))
            paths << icons;
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(QStringLiteral("breeze"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("breeze"));
    systemIconTheme() = QIcon::themeName();
}

QIcon applicationIcon()
{
    return QIcon::fromTheme(QStringLiteral("halvik"), QIcon(QStringLiteral(":/halvik/halvik.svg")));
}

} // namespace halvik::views
