#include "VDTopTalkersList.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace vd {
namespace {

constexpr int kPadding = 4;

class TalkerRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static int rowHeight(const QFontMetrics& metrics) { return metrics.height() + 2 * kPadding; }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {option.rect.width(), rowHeight(option.fontMetrics)};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QPalette& palette = option.palette;
        const QRect row = option.rect;
        const double share = index.data(VDTopTalkersModel::ShareRole).toDouble();
        QColor bar = palette.color(QPalette::Highlight);
        bar.setAlpha(60);
        painter->fillRect(QRect(row.left(), row.top() + 1, static_cast<int>(row.width() * share), row.height() - 2), bar);

        const QRect text = row.adjusted(kPadding, 0, -kPadding, 0);
        const QString bytes = index.data(VDTopTalkersModel::BytesTextRole).toString();
        const int bytesWidth = option.fontMetrics.horizontalAdvance(bytes);
        painter->setPen(palette.color(QPalette::Text));
        painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter, bytes);
        const QString title = option.fontMetrics.elidedText(index.data().toString(), Qt::ElideMiddle,
                                                            text.width() - bytesWidth - 2 * kPadding);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, title);

        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor = palette.color(QPalette::Base);
            const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
        }
    }
};

} // namespace

VDTopTalkersList::VDTopTalkersList(const QString& accessibleName, int visibleRows, QWidget* parent)
    : QListView(parent), visibleRows_(visibleRows)
{
    setAccessibleName(accessibleName);
    setModel(&model_);
    setItemDelegate(new TalkerRowDelegate(this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fitRows();
    connect(this, &QListView::clicked, this, &VDTopTalkersList::choose);
}

// Exactly the stack's rows, without a scroll bar, in whatever font it is shown.
void VDTopTalkersList::fitRows()
{
    setFixedHeight(visibleRows_ * TalkerRowDelegate::rowHeight(fontMetrics()) + 2 * frameWidth());
}

void VDTopTalkersList::changeEvent(QEvent* event)
{
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitRows();
}

void VDTopTalkersList::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && currentIndex().isValid()) {
        choose(currentIndex());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void VDTopTalkersList::choose(const QModelIndex& index)
{
    if (index.isValid())
        emit chosen(index.data(VDTopTalkersModel::NameRole).toString());
}

} // namespace vd
