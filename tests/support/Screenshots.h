#pragma once

#include "TestPaths.h"

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

} // namespace halvik::test
