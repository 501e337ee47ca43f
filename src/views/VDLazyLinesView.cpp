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

#include "VDFindColours.h"

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
    matchSpans_.clear();
    currentSpans_.clear();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
    // Last: a search run again on hearing it finds the new lines in place.
    emit contentReplaced();
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

void VDLazyLinesView::setMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current)
{
    matchSpans_.clear();
    currentSpans_.clear();
    for (const VDTextRange& match : matches) {
        if (match != current)
            appendSpans(match, matchSpans_);
    }
    if (current)
        appendSpans(*current, currentSpans_);
    if (!currentSpans_.empty())
        scrollToSpan(currentSpans_.front());
    viewport()->update();
}

std::int64_t VDLazyLinesView::currentMatchLine() const
{
    return currentSpans_.empty() ? -1 : currentSpans_.front().line;
}

std::int64_t VDLazyLinesView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

std::int64_t VDLazyLinesView::visibleLineCount() const
{
    return verticalScrollBar()->pageStep();
}

void VDLazyLinesView::scrollToSpan(const LineSpan& span)
{
    // Out of sight, the match comes to a third of the page, where the eye finds it with some
    // context before it.
    QScrollBar* vertical = verticalScrollBar();
    if (span.line < vertical->value() || span.line >= vertical->value() + vertical->pageStep())
        vertical->setValue(static_cast<int>(std::clamp<std::int64_t>(span.line - vertical->pageStep() / 3, 0, INT_MAX)));
    const QString text = lineText(span.line);
    const int left = fontMetrics().horizontalAdvance(text.left(span.column));
    const int right = left + fontMetrics().horizontalAdvance(text.mid(span.column, span.length));
    QScrollBar* horizontal = horizontalScrollBar();
    const int width = viewport()->width() - 2 * kMargin;
    if (left < horizontal->value() || right > horizontal->value() + width)
        horizontal->setValue(left - width / 3);
}

void VDLazyLinesView::paintEvent(QPaintEvent*)
{
    if (lineCount() == 0)
        return;
    QPainter painter(viewport());
    painter.setFont(font());
    const QFontMetrics metrics = fontMetrics();
    const int x = kMargin - horizontalScrollBar()->value();
    int top = kMargin;
    for (std::int64_t line = verticalScrollBar()->value(); line < lineCount() && top < viewport()->height(); ++line) {
        const QString text = lineText(line);
        paintSpans(painter, line, text, x, top, matchSpans_, false);
        painter.setPen(palette().color(QPalette::Text));
        drawLine(painter, x, top + metrics.ascent(), text, lineColours(line, text));
        paintSpans(painter, line, text, x, top, currentSpans_, true);
        top += metrics.lineSpacing();
    }
}

// Matches are painted under the line's text; the current one over it, as selected text.
void VDLazyLinesView::paintSpans(QPainter& painter, std::int64_t line, const QString& text, int x, int top,
                                 const std::vector<LineSpan>& spans, bool current) const
{
    const QFontMetrics metrics = fontMetrics();
    const QColor ground = current ? palette().color(QPalette::Highlight) : findMatchColour(palette());
    const auto lineBefore = [](const LineSpan& span, std::int64_t wanted) { return span.line < wanted; };
    for (auto span = std::lower_bound(spans.begin(), spans.end(), line, lineBefore);
         span != spans.end() && span->line == line; ++span) {
        const QString marked = text.mid(span->column, span->length);
        const int left = x + metrics.horizontalAdvance(text.left(span->column));
        painter.fillRect(QRect(left, top, metrics.horizontalAdvance(marked), metrics.lineSpacing()), ground);
        if (current) {
            painter.setPen(palette().color(QPalette::HighlightedText));
            painter.drawText(left, top + metrics.ascent(), marked);
        }
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
