#include "VDTrafficChart.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "VDQuantityTexts.h"
#include "platform/Numbers.h"

namespace vd {
namespace {

constexpr int kMargin = 6;
constexpr int kSwatch = 10;
// A new point's line starts in the column of the point before; smoothing reaches one further.
constexpr int kJoinColumns = 3;
// Four to five steps up the speed axis.
constexpr double kSteps = 4;

struct SeriesColours {
    QColor upload, download;
};

// Chosen to read on the palette's base, light or dark.
SeriesColours seriesColours(const QPalette& palette)
{
    if (palette.color(QPalette::Base).lightness() < 128)
        return {QColor(0xF5, 0xA6, 0x5B), QColor(0x6C, 0xB8, 0xF0)};
    return {QColor(0xC4, 0x5A, 0x00), QColor(0x1F, 0x6F, 0xB8)};
}

QColor thinned(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

} // namespace

VDTrafficChart::VDTrafficChart(QWidget* parent) : QWidget(parent), scale_(scaleFor(0))
{
    setAccessibleName("Bandwidth Chart");
    setAccessibleDescription(QString("Upload %1, Download %2").arg(speedText(0), speedText(0)));
    // Reached by Tab so a screen reader can tell the current speeds from the description.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize VDTrafficChart::sizeHint() const
{
    return {600, 180};
}

QSize VDTrafficChart::minimumSizeHint() const
{
    return {240, 110};
}

VDTrafficChart::Scale VDTrafficChart::scaleFor(std::int64_t peak)
{
    // Still lines get an axis of one kilobyte a second rather than none.
    const double value = static_cast<double>(peak > 0 ? peak : 1024);
    double unit = 1;
    while (value / unit >= 1000.0 && unit < 0x1p60)
        unit *= 1024.0;
    const double shown = value / unit;
    const double rough = shown / kSteps;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double normal = rough / magnitude;
    double step = (normal <= 1 ? 1 : normal <= 2 ? 2 : normal <= 5 ? 5 : 10) * magnitude;
    if (unit == 1)
        step = std::max(step, 1.0);
    const double top = std::ceil(shown / step) * step;
    const auto bytes = [&](double count) {
        return static_cast<std::int64_t>(std::min(std::round(count * unit), 0x1p62));
    };
    return {bytes(top), std::max<std::int64_t>(bytes(step), 1)};
}

void VDTrafficChart::append(const VDTrafficPoint& point)
{
    const std::int64_t endColumn = history_.empty() ? 0 : columnOf(history_.newest().time);
    history_.append(point);
    const VDTrafficPoint& newest = history_.newest();
    setAccessibleDescription(QString("Upload %1, Download %2").arg(speedText(newest.upload), speedText(newest.download)));
    const Scale scale = scaleFor(history_.peak());
    if (scale != scale_) {
        scale_ = scale;
        invalidateFrame();
        return;
    }
    if (frame_.isNull())
        return;
    // Columns sit at whole multiples of the pixel width in time, so what is drawn moves left by
    // whole pixels: the pixels move, and only the strip of the new point (with the columns its
    // line joins) is drawn.
    std::int64_t columns = 0;
    if (__builtin_sub_overflow(columnOf(newest.time), endColumn, &columns) || columns >= plot_.width()) {
        update(plot_);
        return;
    }
    const int shift = static_cast<int>(columns);
    if (shift > 0)
        scroll(-shift, 0, plot_);
    update(QRect(plot_.right() - shift - kJoinColumns, plot_.top(), shift + kJoinColumns + 1, plot_.height()) & plot_);
}

double VDTrafficChart::pixelsPerSecond() const
{
    return (plot_.width() - 1) / VDTrafficHistory::kWindowSeconds;
}

std::int64_t VDTrafficChart::columnOf(double time) const
{
    return numbers::saturatingCast<std::int64_t>(std::floor(time * pixelsPerSecond()));
}

void VDTrafficChart::invalidateFrame()
{
    frame_ = QPixmap();
    update();
}

void VDTrafficChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    invalidateFrame();
}

// The focus frame comes and goes with the focus.
void VDTrafficChart::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void VDTrafficChart::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void VDTrafficChart::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        invalidateFrame();
}

void VDTrafficChart::paintFrame()
{
    const QFontMetrics metrics = fontMetrics();
    const int ticks = static_cast<int>(scale_.top / scale_.step);
    int labelWidth = 0;
    for (int i = 0; i <= ticks; ++i)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(speedText(scale_.step * i)));
    const int legendHeight = metrics.height() + kMargin;
    // Inside the border: the series are drawn here and nowhere else.
    plot_ = QRect(QPoint(labelWidth + 2 * kMargin + 1, legendHeight + metrics.height() / 2 + 1),
                  QPoint(width() - kMargin - 2, height() - metrics.height() - kMargin - 1));

    const qreal ratio = devicePixelRatioF();
    frame_ = QPixmap(size() * ratio);
    frame_.setDevicePixelRatio(ratio);
    frame_.fill(palette().color(QPalette::Base));
    QPainter painter(&frame_);
    const QColor text = palette().color(QPalette::Text);
    const QColor grid = thinned(palette().color(QPalette::Mid), 110);

    for (int i = 0; i <= ticks; ++i) {
        const int y = plot_.bottom() - static_cast<int>(std::lround((plot_.height() - 1) * double(i) / ticks));
        painter.setPen(grid);
        painter.drawLine(plot_.left(), y, plot_.right(), y);
        painter.setPen(text);
        const QRect label(kMargin, y - metrics.height() / 2, labelWidth, metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, speedText(scale_.step * i));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot_.adjusted(-1, -1, 0, 0));

    painter.setPen(text);
    const QRect timeAxis(plot_.left(), plot_.bottom() + kMargin / 2, plot_.width(), metrics.height());
    painter.drawText(timeAxis, Qt::AlignLeft | Qt::AlignTop, "10 min ago");
    painter.drawText(timeAxis, Qt::AlignRight | Qt::AlignTop, "now");

    // The legend, right-aligned above the plot: a swatch before each name.
    const SeriesColours colours = seriesColours(palette());
    int x = plot_.right();
    for (const auto& [name, colour] : {std::pair{QString("Download"), colours.download}, std::pair{QString("Upload"), colours.upload}}) {
        x -= metrics.horizontalAdvance(name);
        painter.setPen(text);
        painter.drawText(QRect(x, 0, metrics.horizontalAdvance(name), legendHeight), Qt::AlignLeft | Qt::AlignVCenter, name);
        x -= kSwatch + kMargin / 2;
        painter.fillRect(QRect(x, (legendHeight - kSwatch) / 2, kSwatch, kSwatch), colour);
        x -= 2 * kMargin;
    }
}

void VDTrafficChart::paintSeries(QPainter& painter) const
{
    if (history_.empty() || plot_.width() < 2 || plot_.height() < 2)
        return;
    const std::int64_t endColumn = columnOf(history_.newest().time);
    const double pixelsPerByte = (plot_.height() - 1) / static_cast<double>(scale_.top);
    const auto yOf = [&](std::int64_t speed) { return plot_.bottom() - std::min<double>(speed, scale_.top) * pixelsPerByte; };

    // One point per pixel column, the highest of the column's speeds.
    QPolygonF upload;
    QPolygonF download;
    upload.reserve(plot_.width() + 3);
    download.reserve(plot_.width() + 3);
    double column = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < history_.size(); ++i) {
        const VDTrafficPoint& point = history_.at(i);
        const double x = plot_.right() - static_cast<double>(endColumn - columnOf(point.time));
        if (x == column) {
            upload.back().setY(std::min(upload.back().y(), yOf(point.upload)));
            download.back().setY(std::min(download.back().y(), yOf(point.download)));
            continue;
        }
        column = x;
        upload.append({x, yOf(point.upload)});
        download.append({x, yOf(point.download)});
    }
    // A single report still shows, as a short level line at the right edge.
    if (upload.size() == 1) {
        upload.prepend(upload.front() - QPointF(2, 0));
        download.prepend(download.front() - QPointF(2, 0));
    }

    const SeriesColours colours = seriesColours(palette());
    painter.setClipRect(plot_, Qt::IntersectClip);
    // The raster engine's antialiased fills and wide pens slow down with the square of a long
    // flat edge's length (a still line is one); the filled areas are drawn without smoothing, their
    // edge hidden under the line, and the lines with a one-pixel pen, which has a fast path.
    for (const auto& [line, colour] : {std::pair{&download, colours.download}, std::pair{&upload, colours.upload}}) {
        QPolygonF area = *line;
        area.append({line->back().x(), double(plot_.bottom())});
        area.append({line->front().x(), double(plot_.bottom())});
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(thinned(colour, 45));
        painter.drawPolygon(area);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(colour, 1);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(*line);
    }
}

void VDTrafficChart::paintEvent(QPaintEvent*)
{
    if (frame_.isNull())
        paintFrame();
    QPainter painter(this);
    painter.drawPixmap(0, 0, frame_);
    paintSeries(painter);
    if (hasFocus()) {
        painter.setClipping(false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

} // namespace vd
