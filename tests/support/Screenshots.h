#pragma once

#include <QDir>
#include <QString>
#include <QWidget>

namespace halvik::test {

// Saves what a person would see to build/screenshots/<name>.png.
inline bool saveScreenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(HALVIK_SCREENSHOT_DIR));
    return widget->grab().save(QStringLiteral(HALVIK_SCREENSHOT_DIR) + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace halvik::test
