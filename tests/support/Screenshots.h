#pragma once

#include "TestPaths.h"
#include "views/common/Appearance.h"

#include <QCoreApplication>

#include <QDir>
#include <QString>
#include <QWidget>

namespace halvik::test {

// Saves what a person would see to build/screenshots/<name>.png.
inline bool saveScreenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(screenshotDir());
    return widget->grab().save(screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Saves <name>-light.png and <name>-dark.png, then returns to the light scheme.
inline bool saveLightAndDark(QWidget* widget, const QString& name)
{
    using views::ColorScheme;
    bool saved = true;
    for (auto scheme : {ColorScheme::light, ColorScheme::dark}) {
        views::applyColorScheme(scheme);
        QCoreApplication::processEvents(); // let every widget take the new palette
        saved = saveScreenshot(widget, name + (scheme == ColorScheme::dark ? QStringLiteral("-dark")
                                                                           : QStringLiteral("-light"))) &&
                saved;
    }
    views::applyColorScheme(ColorScheme::light);
    return saved;
}

} // namespace halvik::test
