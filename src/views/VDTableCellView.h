#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace vd {

// The one cell of every table: paints a row's text and image in one of four layouts, so a table
// of any length costs one painter per visible cell and no widget per row. The model names the
// layout of each cell under `LayoutRole` (textOnly when it does not), its text under
// Qt::DisplayRole and its image (a QPixmap) under Qt::DecorationRole. A text is one line cut off
// with an ellipsis (at its end, or where the model answers under `ElideRole`), unless the model
// answers true under `WrapRole`: it then wraps over as many
// lines as the cell's width needs (the row must be tall enough, see wrappedTextHeight).
class VDTableCellView : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum Layout : int { textOnly, textOnlyTop, imageOnly, imageAndText };
    enum Overflow : int { elideEnd, wrap, elideMiddle };
    static constexpr int LayoutRole = Qt::UserRole + 100;
    static constexpr int WrapRole = Qt::UserRole + 101;
    // Qt::ElideMiddle for a single-line text that loses its middle rather than its end.
    static constexpr int ElideRole = Qt::UserRole + 102;
    // True for a text that reports a failure, drawn in `alarmColor` unless its row is selected.
    static constexpr int AlarmRole = Qt::UserRole + 103;
    static constexpr int kRowHeight = 20;

    explicit VDTableCellView(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // A red that reads on the palette's base: deep on light tables, light on dark ones.
    static QColor alarmColor(const QPalette& palette);

    // The single-line text of every cell: the system font at 13 pixels.
    static QFont cellFont(const QFont& base);

    // Where the parts of a cell go, inside the cell's rectangle.
    struct Placement {
        QRect image;
        QRect text;
        Qt::Alignment textAlignment;
    };
    static Placement placementOf(Layout layout, const QRect& cell);
    // The height a wrapping text takes in a cell of this width, in the cell's font.
    static int wrappedTextHeight(const QFont& base, const QString& text, int cellWidth);

private:
    // One-line texts as drawn, cut to their cell's width and shaped once: shaping the glyphs
    // is most of a cell's cost, and a repaint (a refresh, a sort, a keystroke) mostly shows
    // texts that were on screen a moment ago.
    struct LineKey {
        QString text;
        int width;
        Qt::TextElideMode elide;
        bool operator==(const LineKey&) const = default;
        friend size_t qHash(const LineKey& key, size_t seed) { return qHashMulti(seed, key.text, key.width, key.elide); }
    };
    // More texts than several screens of cells hold; past it the shaped lines start over.
    static constexpr qsizetype kMostLines = 4096;

    // The cell font of this base, made once: a font made for every cell looks its glyphs up anew.
    const QFont& fontFor(const QFont& base) const;
    const QStaticText& lineFor(const LineKey& key) const;

    mutable QFont base_;
    mutable QFont font_;
    mutable qreal lineHeight_ = 0;
    mutable QHash<LineKey, QStaticText> lines_;
};

} // namespace vd
