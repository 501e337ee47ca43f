#include "VDHexDumpView.h"

#include <algorithm>
#include <span>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include "data/VDUtils.h"

namespace vd {
namespace {

constexpr std::int64_t kLineBytes = 16;
constexpr int kMargin = 4;

} // namespace

QFont VDHexDumpView::fixedFont()
{
    QFont font = QFontDatabase::families().contains("Courier New") ? QFont("Courier New")
                                                                    : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    return font;
}

VDHexDumpView::VDHexDumpView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFont(fixedFont());
    setFrameShape(QFrame::NoFrame);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
}

void VDHexDumpView::setBytes(std::shared_ptr<const Bytes> bytes)
{
    bytes_ = std::move(bytes);
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

std::string VDHexDumpView::hexString() const
{
    return bytes_ ? VDUtils::hexStringOfData(*bytes_) : std::string();
}

std::int64_t VDHexDumpView::lineCount() const
{
    return bytes_ ? (static_cast<std::int64_t>(bytes_->size()) + kLineBytes - 1) / kLineBytes : 0;
}

QString VDHexDumpView::lineText(std::int64_t line) const
{
    const std::size_t begin = static_cast<std::size_t>(line * kLineBytes);
    const std::size_t length = std::min<std::size_t>(kLineBytes, bytes_->size() - begin);
    // The dump of one line is that line of the whole dump, less its line break.
    std::string text = VDUtils::hexStringOfData(std::span(*bytes_).subspan(begin, length));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
        text.pop_back();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void VDHexDumpView::updateScrollBars()
{
    const int lineHeight = fontMetrics().lineSpacing();
    const int visibleLines = std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight);
    // Scrolled by whole lines; a dump of 16 MiB has a million of them, well inside an int.
    const auto lines = static_cast<int>(std::min<std::int64_t>(lineCount(), INT32_MAX));
    verticalScrollBar()->setRange(0, std::max(0, lines - visibleLines));
    verticalScrollBar()->setPageStep(visibleLines);
    verticalScrollBar()->setSingleStep(1);
    const int lineWidth = fontMetrics().horizontalAdvance(QString(3 * kLineBytes + 2, QChar('0'))) + 2 * kMargin;
    horizontalScrollBar()->setRange(0, std::max(0, lineWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void VDHexDumpView::paintEvent(QPaintEvent*)
{
    if (!bytes_)
        return;
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = metrics.lineSpacing();
    const int x = kMargin - horizontalScrollBar()->value();
    int y = kMargin + metrics.ascent();
    for (std::int64_t line = verticalScrollBar()->value(); line < lineCount() && y - metrics.ascent() < viewport()->height(); ++line) {
        painter.drawText(x, y, lineText(line));
        y += lineHeight;
    }
}

void VDHexDumpView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void VDHexDumpView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copyAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void VDHexDumpView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction("Copy", this, &VDHexDumpView::copyAll)->setEnabled(lineCount() > 0);
    menu.exec(event->globalPos());
}

void VDHexDumpView::copyAll() const
{
    QApplication::clipboard()->setText(QString::fromStdString(hexString()));
}

} // namespace vd
