#pragma once

#include <cstdint>

#include <QPixmap>
#include <QWidget>

#include "VDTrafficHistory.h"

namespace vd {

// Upload and download speed over the last ten minutes, drawn with QPainter: a speed axis with
// labels from the formatting functions, a time axis ending now, a legend, and one point per
// report.
//
// Axes, labels and legend change only when the widget's size, palette or font or the speed
// axis's scale do, so they are drawn once into a pixmap. A new point moves the plot's pixels
// left and draws the strip it needs at the right edge. Where the ring holds more points than
// the plot has pixel columns, each column draws the highest speed among its points, so a short
// burst is never lost between two columns.
class VDTrafficChart : public QWidget {
    Q_OBJECT
public:
    explicit VDTrafficChart(QWidget* parent = nullptr);

    void append(const VDTrafficPoint& point);
    const VDTrafficHistory& history() const { return history_; }
    // The speed the top of the axis stands for, bytes per second.
    std::int64_t scaleTop() const { return scale_.top; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // A round top and step in the unit the formatting functions would show the peak in, so the
    // labels read 0, 1.0MB/s, 2.0MB/s rather than 0, 0.9MB/s, 1.8MB/s.
    struct Scale {
        std::int64_t top = 0;
        std::int64_t step = 0;
        bool operator==(const Scale&) const = default;
    };
    static Scale scaleFor(std::int64_t peak);

    double pixelsPerSecond() const;
    // A time's pixel column, counted from the clock's origin; the newest point's is the plot's right edge.
    std::int64_t columnOf(double time) const;
    void invalidateFrame();
    void paintFrame();
    void paintSeries(QPainter& painter) const;

    VDTrafficHistory history_;
    Scale scale_;
    QPixmap frame_;
    QRect plot_;
};

} // namespace vd
