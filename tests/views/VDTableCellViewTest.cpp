#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include <gtest/gtest.h>

#include "views/VDTableCellView.h"

namespace vd {
namespace {

using Cell = VDTableCellView;

TEST(TableCellViewTest, EachLayoutPlacesOnlyItsOwnParts)
{
    const QRect cell(100, 40, 150, 20);
    EXPECT_FALSE(Cell::placementOf(Cell::textOnly, cell).image.isValid());
    EXPECT_EQ(Cell::placementOf(Cell::textOnlyTop, cell).text.top(), cell.top() + 5);
    EXPECT_FALSE(Cell::placementOf(Cell::imageOnly, cell).text.isValid());
    EXPECT_EQ(Cell::placementOf(Cell::imageOnly, cell).image.center(), cell.center());
    const auto both = Cell::placementOf(Cell::imageAndText, cell);
    EXPECT_EQ(both.image, QRect(cell.left() + 2, cell.top() + 2, 16, 16));
    EXPECT_EQ(both.text.left(), both.image.right() + 1 + 5);
}

// Painting a cell draws its image where its layout puts it and nothing where it does not.
TEST(TableCellViewTest, PaintsTheImageOfAnImageCellAndNoneOfATextCell)
{
    QStandardItemModel model(1, 2);
    QPixmap red(24, 24);
    red.fill(Qt::red);
    for (int column = 0; column < 2; ++column) {
        model.setData(model.index(0, column), red, Qt::DecorationRole);
        model.setData(model.index(0, column), "text", Qt::DisplayRole);
    }
    model.setData(model.index(0, 0), Cell::imageOnly, Cell::LayoutRole);

    const Cell delegate;
    const auto render = [&](int column) {
        QImage canvas(40, 20, QImage::Format_ARGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        QStyleOptionViewItem option;
        option.rect = canvas.rect();
        option.palette.setColor(QPalette::Text, Qt::black);
        delegate.paint(&painter, option, model.index(0, column));
        return canvas;
    };
    EXPECT_EQ(render(0).pixelColor(20, 10), QColor(Qt::red));
    const QImage text = render(1);
    for (int x = 0; x < text.width(); ++x)
        ASSERT_NE(text.pixelColor(x, 10), QColor(Qt::red));
}

} // namespace
} // namespace vd
