#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include <gtest/gtest.h>

#include "views/VDTableCellView.h"

namespace vd {
namespace {

using Cell = VDTableCellView;

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
