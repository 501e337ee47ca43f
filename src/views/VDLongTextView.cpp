#include "VDLongTextView.h"

#include <algorithm>

namespace vd {

namespace {

constexpr qsizetype kLongestEditorLine = 64 * 1024;
constexpr qsizetype kLargestEditorText = 1024 * 1024;

} // namespace

VDLongTextView::VDLongTextView(QWidget* parent) : VDLazyLinesView(parent) {}

bool VDLongTextView::needsLazyLayout(const QString& text)
{
    if (text.size() > kLargestEditorText)
        return true;
    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf(QChar('\n'), lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        if (lineEnd - lineStart > kLongestEditorLine)
            return true;
        lineStart = lineEnd + 1;
    }
    return false;
}

std::shared_ptr<const VDLongTextView::Lines> VDLongTextView::linesOf(const QString& text)
{
    auto made = std::make_shared<Lines>();
    Lines& lines = *made;
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    while (lineStart <= size) {
        qsizetype lineEnd = text.indexOf(QChar('\n'), lineStart);
        if (lineEnd < 0)
            lineEnd = size;
        // A CRLF line ends before its CR.
        const qsizetype contentEnd = lineEnd > lineStart && text[lineEnd - 1] == QChar('\r') ? lineEnd - 1 : lineEnd;
        qsizetype start = lineStart;
        do {
            const auto length = static_cast<int>(std::min<qsizetype>(kSegmentChars, contentEnd - start));
            lines.segments.push_back({start, length});
            lines.widest = std::max(lines.widest, length);
            start += length;
        } while (start < contentEnd);
        if (lineEnd == size)
            break;
        lineStart = lineEnd + 1;
    }
    return made;
}

void VDLongTextView::setText(QString text, std::shared_ptr<const Lines> lines)
{
    text_ = std::move(text);
    lines_ = std::move(lines);
    contentChanged();
}

QString VDLongTextView::lineText(std::int64_t line) const
{
    const Segment& segment = lines_->segments[static_cast<std::size_t>(line)];
    return text_.mid(segment.start, segment.length);
}

void VDLongTextView::appendSpans(const VDTextRange& range, std::vector<LineSpan>& spans) const
{
    // The segment holding the range's start, then each following one it reaches into.
    const std::vector<Segment>& segments = lines_->segments;
    auto segment = std::upper_bound(segments.begin(), segments.end(), range.start,
                                    [](std::int64_t position, const Segment& s) { return position < s.start; });
    if (segment != segments.begin())
        --segment;
    for (; segment != segments.end() && segment->start < range.end(); ++segment) {
        const std::int64_t from = std::max<std::int64_t>(range.start, segment->start);
        const std::int64_t to = std::min<std::int64_t>(range.end(), segment->start + segment->length);
        if (to > from)
            spans.push_back({segment - segments.begin(), static_cast<int>(from - segment->start), static_cast<int>(to - from)});
    }
}

} // namespace vd
