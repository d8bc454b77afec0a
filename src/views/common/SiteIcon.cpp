#include "views/common/SiteIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

namespace halvik::views {

QPixmap monogram(const QString& name, int side, qreal ratio)
{
    const QString key = QStringLiteral("halvik-monogram-%1-%2-%3").arg(name).arg(side).arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    pixmap = QPixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tile = QColor::fromHsl(int(qHash(name) % 360), 110, 110);
    painter.setBrush(tile);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0, 0, side, side), side / 5.0, side / 5.0);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(side / 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, name.left(1).toUpper());
    painter.end();
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

void paintSiteIcon(QPainter* painter, const QRect& rect, const QImage& icon, const QString& name,
                   std::optional<QColor> badge, const QColor& ring)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (icon.isNull()) {
        painter->drawPixmap(rect, monogram(name, rect.width(), painter->device()->devicePixelRatioF()));
    } else {
        // Kept to its shape, centred in the square.
        QSizeF size = icon.size();
        size.scale(rect.size(), Qt::KeepAspectRatio);
        const QRectF target(rect.x() + (rect.width() - size.width()) / 2,
                            rect.y() + (rect.height() - size.height()) / 2, size.width(), size.height());
        painter->drawImage(target, icon);
    }
    if (badge) {
        const qreal dot = std::max(8.0, rect.width() * 0.34);
        const QRectF circle(rect.right() + 1 - dot + 2, rect.bottom() + 1 - dot + 2, dot, dot);
        painter->setPen(QPen(ring, 2));
        painter->setBrush(*badge);
        painter->drawEllipse(circle);
    }
    painter->restore();
}

QPixmap siteIconPixmap(const QImage& icon, const QString& name, int side, qreal ratio)
{
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintSiteIcon(&painter, QRect(0, 0, side, side), icon, name);
    return pixmap;
}

} // namespace halvik::views
