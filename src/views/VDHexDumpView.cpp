#include "VDHexDumpView.h"

#include <algorithm>
#include <span>

#include <QFontDatabase>

#include "data/VDUtils.h"

namespace vd {
namespace {

constexpr std::int64_t kLineBytes = 16;

// Where a byte's two digits stand in its line: after the line's leading space, three columns a
// byte, one more past the gap after the eighth.
int digitColumn(std::int64_t byteInLine)
{
    return static_cast<int>(1 + 3 * byteInLine + (byteInLine >= 8 ? 1 : 0));
}

} // namespace

QFont VDHexDumpView::fixedFont()
{
    QFont font = QFontDatabase::families().contains("Courier New") ? QFont("Courier New")
                                                                    : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    return font;
}

VDHexDumpView::VDHexDumpView(QWidget* parent) : VDLazyLinesView(parent)
{
    setFont(fixedFont());
}

void VDHexDumpView::setBytes(std::shared_ptr<const Bytes> bytes)
{
    bytes_ = std::move(bytes);
    contentChanged();
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

int VDHexDumpView::widestLineChars() const
{
    return 3 * kLineBytes;
}

QString VDHexDumpView::wholeText() const
{
    return QString::fromStdString(hexString());
}

void VDHexDumpView::appendSpans(const VDTextRange& range, std::vector<LineSpan>& spans) const
{
    for (std::int64_t byte = range.start; byte < range.end();) {
        const std::int64_t line = byte / kLineBytes;
        const std::int64_t last = std::min(range.end(), (line + 1) * kLineBytes) - 1;
        const int column = digitColumn(byte % kLineBytes);
        spans.push_back({line, column, digitColumn(last % kLineBytes) + 2 - column});
        byte = last + 1;
    }
}

} // namespace vd
