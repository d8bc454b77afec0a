#include "views/common/SemanticColors.h"

namespace halvik::views {

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
        return dark ? QColor(0xf0, 0xa0, 0x4b) : QColor(0xb3, 0x5a, 0x00);
    case Semantic::danger:
        return dark ? QColor(0xf2, 0x6d, 0x6d) : QColor(0xc0, 0x1c, 0x28);
    case Semantic::success:
        return dark ? QColor(0x5c, 0xc9, 0x7b) : QColor(0x26, 0x80, 0x3c);
    }
    return palette.color(QPalette::Text);
}

} // namespace halvik::views
