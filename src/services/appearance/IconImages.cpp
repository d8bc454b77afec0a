#include "IconImages.h"

#include <QPainter>
#include <QSet>

namespace halvik::appearance {

bool isFlatFill(const QImage& image)
{
    if (image.isNull() || image.width() < 9 || image.height() < 9)
        return true;
    const int w = image.width();
    const int h = image.height();
    QSet<int> keys;
    for (const int y : {h / 8, h / 2, 7 * h / 8})
        for (const int x : {w / 8, w / 2, 7 * w / 8}) {
            const QColor colour = image.pixelColor(x, y).toRgb();
            const int r = int(colour.redF() * 31);
            const int g = int(colour.greenF() * 31);
            const int b = int(colour.blueF() * 31);
            keys.insert(r * 1024 + g * 32 + b);
            if (keys.size() >= 3)
                return false;
        }
    return keys.size() == 1;
}

QImage preparedIcon(const QImage& image, int maxPixel)
{
    if (image.isNull())
        return {};
    QSize size = image.size();
    if (size.width() > maxPixel || size.height() > maxPixel)
        size.scale(maxPixel, maxPixel, Qt::KeepAspectRatio);
    QImage out(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), out.size()), image);
    painter.end();
    return out;
}

} // namespace halvik::appearance
