#include "Appearance.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

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

// Breeze draws its icons for one background; the dark variant keeps them visible on dark.
void matchBreezeIcons(bool dark)
{
    if (QIcon::themeName().startsWith(QLatin1String("breeze")))
        QIcon::setThemeName(dark ? QStringLiteral("breeze-dark") : QStringLiteral("breeze"));
}

} // namespace

void applyColorScheme(ColorScheme scheme)
{
    static const QPalette systemPalette = QApplication::palette();
    switch (scheme) {
    case ColorScheme::dark:
        matchBreezeIcons(true); // first: widgets redraw their icons as the palette changes
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
        break;
    case ColorScheme::light:
        matchBreezeIcons(false);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
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
}

} // namespace halvik::views
