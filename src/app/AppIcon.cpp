#include "AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

namespace vd {

QImage drawApplicationIconImage(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 256-unit grid whatever the size.
    painter.scale(side / 256.0, side / 256.0);
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0x1f, 0x6f, 0xd1));
    tile.setColorAt(1, QColor(0x0b, 0x2a, 0x5c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(16, 16, 224, 224), 48, 48);
    const QRectF dial(56, 64, 144, 144);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 90), 18, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(dial, 20 * 16, 140 * 16);
    painter.setPen(QPen(QColor(0x5d, 0xe4, 0xc7), 18, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(dial, 120 * 16, 40 * 16);
    painter.setPen(QPen(Qt::white, 14, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(128, 136), QPointF(172, 92));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(128, 136), 14, 14);
    return image;
}

QIcon drawApplicationIcon()
{
    QIcon icon;
    for (const int side : kApplicationIconSizes)
        icon.addPixmap(QPixmap::fromImage(drawApplicationIconImage(side)));
    return icon;
}

} // namespace vd
