#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <optional>

class QPainter;

namespace halvik::views {

// The site's first letter on a tile coloured by its name: the face of a site with no icon.
QPixmap monogram(const QString& name, int side, qreal ratio);

// The site's icon (or its monogram) in `rect`, with a status dot on its lower right corner
// when there is a status; `ring` separates the dot from the icon (the row's background).
void paintSiteIcon(QPainter* painter, const QRect& rect, const QImage& icon, const QString& name,
                   std::optional<QColor> badge = std::nullopt, const QColor& ring = Qt::transparent);

// The same as a pixmap, for labels.
QPixmap siteIconPixmap(const QImage& icon, const QString& name, int side, qreal ratio);

} // namespace halvik::views
