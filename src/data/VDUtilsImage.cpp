// The only Qt in the data layer. Icons are resized and turned here, also off the GUI thread,
// which QImage and a QPainter on a QImage allow.

#include <cmath>

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include "VDUtils.h"
#include "platform/Log.h"

namespace vd {
namespace {

constexpr QImage::Format kFormat = QImage::Format_ARGB32_Premultiplied;

// Whole pixels for a size given in fractions: rounding errors of a rotation (50.0000001) must
// not add a column, while a real fraction does, so nothing of the picture is cut off.
int pixels(double length)
{
    return static_cast<int>(std::ceil(length - 1e-6));
}

// Copy compositing at full opacity: the picture replaces the transparent canvas, alpha included,
// instead of being blended onto it.
void prepare(QPainter& painter)
{
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setOpacity(1.0);
}

} // namespace

std::optional<QImage> VDUtils::imageResize(const QImage& image, const QSizeF& newSize)
{
    if (image.isNull()) {
        log::error("Invalid Image");
        return std::nullopt;
    }
    const QSize size = newSize.toSize();
    if (size.isEmpty())
        return std::nullopt;
    // The painter's own smoothing is bilinear, which turns a large icon shrunk to list size into
    // noise; Qt's smooth scaling averages the covered pixels instead.
    const QImage scaled = image.convertToFormat(kFormat).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage out(size, kFormat);
    if (scaled.isNull() || out.isNull()) // too large to allocate
        return std::nullopt;
    out.fill(Qt::transparent);
    QPainter painter(&out);
    prepare(painter);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), scaled, QRectF(scaled.rect()));
    painter.end();
    return out;
}

// A positive angle turns the picture counter-clockwise as seen on screen, the usual sense of
// an angle; Qt's y axis points down, so its rotation runs the other way.
QImage VDUtils::roateSourceImage(const QImage& image, double degrees)
{
    if (image.isNull())
        return {};
    QTransform turn;
    turn.rotate(-degrees);
    const QRectF bounds = turn.mapRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    QImage out(pixels(bounds.width()), pixels(bounds.height()), kFormat);
    if (out.isNull())
        return {};
    out.fill(Qt::transparent);
    QPainter painter(&out);
    prepare(painter);
    painter.translate(out.width() / 2.0, out.height() / 2.0);
    painter.rotate(-degrees);
    painter.drawImage(QPointF(-image.width() / 2.0, -image.height() / 2.0), image);
    painter.end();
    return out;
}

} // namespace vd
