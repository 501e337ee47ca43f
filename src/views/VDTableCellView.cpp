#include "VDTableCellView.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QPixmap>

namespace vd {
namespace {

constexpr int kTextInset = 3;

QRect centred(const QRect& cell, int side)
{
    return QRect(cell.x() + (cell.width() - side) / 2, cell.y() + (cell.height() - side) / 2, side, side);
}

Qt::TextElideMode elideMode(const QModelIndex& index)
{
    const QVariant mode = index.data(VDTableCellView::ElideRole);
    return mode.isValid() ? static_cast<Qt::TextElideMode>(mode.toInt()) : Qt::ElideRight;
}

} // namespace

VDTableCellView::VDTableCellView(QObject* parent) : QStyledItemDelegate(parent) {}

QColor VDTableCellView::alarmColor(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightness() < 128 ? QColor(0xFF, 0x80, 0x80) : QColor(0xB0, 0x00, 0x20);
}

QFont VDTableCellView::cellFont(const QFont& base)
{
    QFont font = base;
    font.setPixelSize(13);
    return font;
}

VDTableCellView::Placement VDTableCellView::placementOf(Layout layout, const QRect& cell)
{
    const QRect fullText = cell.adjusted(kTextInset, 0, -kTextInset, 0);
    switch (layout) {
    case textOnlyTop: return {{}, fullText.adjusted(0, 5, 0, 0), Qt::AlignLeft | Qt::AlignTop};
    case imageOnly: return {centred(cell, 12), {}, {}};
    case imageAndText: {
        const QRect image(cell.x() + 2, cell.y() + (cell.height() - 16) / 2, 16, 16);
        const QRect text(image.right() + 1 + 5, cell.y(), cell.right() - image.right() - 5 - kTextInset, cell.height());
        return {image, text, Qt::AlignLeft | Qt::AlignVCenter};
    }
    case textOnly:
    default: return {{}, fullText, Qt::AlignLeft | Qt::AlignVCenter};
    }
}

int VDTableCellView::wrappedTextHeight(const QFont& base, const QString& text, int cellWidth)
{
    const int width = placementOf(textOnlyTop, QRect(0, 0, cellWidth, 0)).text.width();
    return QFontMetrics(cellFont(base)).boundingRect(QRect(0, 0, std::max(width, 1), 0), Qt::TextWordWrap, text).height();
}

void VDTableCellView::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The table has drawn the row's background (alternating colours); the style adds the
    // selection, then only the parts of this cell's layout are drawn.
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);

    const auto layout = static_cast<Layout>(index.data(LayoutRole).toInt());
    const Placement place = placementOf(layout, option.rect);
    painter->save();
    if (place.image.isValid()) {
        const auto image = index.data(Qt::DecorationRole).value<QPixmap>();
        if (!image.isNull()) {
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawPixmap(place.image, image);
        }
    }
    if (place.text.isValid()) {
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFont& font = fontFor(option.font);
        painter->setFont(font);
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(selected                         ? option.palette.color(QPalette::HighlightedText)
                        : index.data(AlarmRole).toBool() ? alarmColor(option.palette)
                                                         : option.palette.color(QPalette::Text));
        if (index.data(WrapRole).toBool()) {
            // A word longer than the cell must not spill into its neighbours.
            painter->setClipRect(option.rect);
            painter->drawText(place.text, static_cast<int>(place.textAlignment) | Qt::TextWordWrap, text);
        } else {
            const QStaticText& line = lineFor({text, place.text.width(), elideMode(index)});
            const bool top = place.textAlignment & Qt::AlignTop;
            const QPointF origin(place.text.left(), place.text.top() + (top ? 0 : (place.text.height() - lineHeight_) / 2));
            // A cell too narrow even for the ellipsis must not draw into its neighbours.
            if (line.size().width() > place.text.width())
                painter->setClipRect(place.text, Qt::IntersectClip);
            painter->drawStaticText(origin, line);
        }
    }
    // Solid vertical grid lines between columns; rows are told apart by their backgrounds.
    painter->setPen(option.palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
}

const QFont& VDTableCellView::fontFor(const QFont& base) const
{
    if (base != base_ || lineHeight_ == 0) {
        base_ = base;
        font_ = cellFont(base);
        const QFontMetricsF metrics(font_);
        lineHeight_ = metrics.ascent() + metrics.descent();
        lines_.clear();
    }
    return font_;
}

const QStaticText& VDTableCellView::lineFor(const LineKey& key) const
{
    if (const auto found = lines_.constFind(key); found != lines_.constEnd())
        return *found;
    if (lines_.size() >= kMostLines)
        lines_.clear();
    QStaticText line(QFontMetrics(font_).elidedText(key.text, key.elide, key.width));
    line.setTextFormat(Qt::PlainText);
    line.prepare(QTransform(), font_);
    return *lines_.insert(key, std::move(line));
}

QSize VDTableCellView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto layout = static_cast<Layout>(index.data(LayoutRole).toInt());
    if (layout == imageOnly)
        return {20, kRowHeight};
    const int text = QFontMetrics(cellFont(option.font)).horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return {text + 2 * kTextInset + (layout == imageAndText ? 23 : 0), kRowHeight};
}

} // namespace vd
