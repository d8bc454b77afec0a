#pragma once

#include <QImage>

namespace halvik::appearance {

// The image rules of icons and previews, which need QtGui; the rest are in AppearanceRules.

// A page that shows one colour: 9 samples on a grid, quantised to 5 bits a channel. An image
// smaller than 9 pixels a side, or a null one, counts as flat.
bool isFlatFill(const QImage& image);

// The image redrawn so its longer side is at most `maxPixel`, on a transparent background.
QImage preparedIcon(const QImage& image, int maxPixel);

} // namespace halvik::appearance
