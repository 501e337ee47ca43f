#include "VDLazyLinesView.h"

#include <algorithm>
#include <climits>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace vd {
namespace {

constexpr int kMargin = 4;

} // namespace

VDLazyLinesView::VDLazyLinesView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
}

void VDLazyLinesView::contentChanged()
{
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void VDLazyLinesView::updateScrollBars()
{
    const int lineHeight = fontMetrics().lineSpacing();
    const int visibleLines = std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight);
    // A dump of 16 MiB has a million lines, well inside an int.
    const auto lines = static_cast<int>(std::min<std::int64_t>(lineCount(), INT_MAX));
    verticalScrollBar()->setRange(0, std::max(0, lines - visibleLines));
    verticalScrollBar()->setPageStep(visibleLines);
    verticalScrollBar()->setSingleStep(1);
    const int lineWidth = fontMetrics().horizontalAdvance(QString(widestLineChars() + 2, QChar('0'))) + 2 * kMargin;
    horizontalScrollBar()->setRange(0, std::max(0, lineWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void VDLazyLinesView::paintEvent(QPaintEvent*)
{
    if (lineCount() == 0)
        return;
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    const int x = kMargin - horizontalScrollBar()->value();
    int y = kMargin + metrics.ascent();
    for (std::int64_t line = verticalScrollBar()->value(); line < lineCount() && y - metrics.ascent() < viewport()->height(); ++line) {
        const QString text = lineText(line);
        drawLine(painter, x, y, text, lineColours(line, text));
        y += metrics.lineSpacing();
    }
}

void VDLazyLinesView::drawLine(QPainter& painter, int x, int y, const QString& text, const std::vector<VDColourRun>& runs) const
{
    if (runs.empty()) {
        painter.drawText(x, y, text);
        return;
    }
    const QFontMetrics metrics = fontMetrics();
    const QColor plain = palette().color(QPalette::Text);
    qsizetype drawn = 0;
    const auto draw = [&](qsizetype end, const QColor& colour) {
        if (end <= drawn)
            return;
        const QString part = text.mid(drawn, end - drawn);
        painter.setPen(colour);
        painter.drawText(x, y, part);
        x += metrics.horizontalAdvance(part);
        drawn = end;
    };
    for (const VDColourRun& run : runs) {
        draw(run.start, plain);
        draw(run.start + run.length, run.colour);
    }
    draw(text.size(), plain);
    painter.setPen(plain);
}

void VDLazyLinesView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void VDLazyLinesView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copyAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void VDLazyLinesView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction("Copy", this, &VDLazyLinesView::copyAll)->setEnabled(lineCount() > 0);
    menu.exec(event->globalPos());
}

void VDLazyLinesView::copyAll() const
{
    QApplication::clipboard()->setText(wholeText());
}

} // namespace vd
