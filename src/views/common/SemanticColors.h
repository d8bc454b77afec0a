#pragma once

#include <QColor>
#include <QPalette>

namespace halvik::views {

// The few colours that carry meaning, each with a light and a dark variant chosen for contrast
// against the palette's base.
enum class Semantic
{
    info,    // blue
    caution, // orange
    danger,  // red
    success  // green
};

bool isDark(const QPalette& palette);
QColor semanticColor(Semantic role, const QPalette& palette);

} // namespace halvik::views
