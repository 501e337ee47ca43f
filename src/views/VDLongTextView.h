#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "VDLazyLinesView.h"

namespace vd {

// Text too large for an editor widget to lay out in one go (a minified body of a few megabytes
// is one enormous line, which takes the toolkit minutes to wrap): lines are cut into segments
// of a bounded length and painted as they come into sight. Copy gives the text as it is.
class VDLongTextView : public VDLazyLinesView {
    Q_OBJECT
public:
    // The longest segment painted as one line.
    static constexpr int kSegmentChars = 1000;

    explicit VDLongTextView(QWidget* parent = nullptr);

    // Whether an editor widget would stall on this text. Measured here: a line of 256 K
    // characters with spaces takes it about 0.1 s, one of 4 M without spaces minutes, and
    // 4 M characters in many short lines 0.3 s.
    static bool needsLazyLayout(const QString& text);

    // Where the painted lines of a text start and how long they are: worked out in one pass over
    // the text, which a caller may make off the GUI thread for a text of many megabytes.
    struct Segment {
        qsizetype start;
        int length;
    };
    struct Lines {
        std::vector<Segment> segments;
        int widest = 0;
    };
    // Shared, so that a view showing them again copies nothing.
    static std::shared_ptr<const Lines> linesOf(const QString& text);

    void setText(QString text)
    {
        auto lines = linesOf(text);
        setText(std::move(text), std::move(lines));
    }
    void setText(QString text, std::shared_ptr<const Lines> lines);
    // Colours each painted line; none (the default) paints it in the text colour.
    void setColouring(std::function<std::vector<VDColourRun>(QStringView)> colouring) { colouring_ = std::move(colouring); }
    const QString& text() const { return text_; }
    std::int64_t lineCount() const override { return static_cast<std::int64_t>(lines_->segments.size()); }

protected:
    QString lineText(std::int64_t line) const override;
    int widestLineChars() const override { return lines_->widest; }
    QString wholeText() const override { return text_; }
    std::vector<VDColourRun> lineColours(std::int64_t, const QString& text) const override
    {
        return colouring_ ? colouring_(text) : std::vector<VDColourRun>();
    }
    void appendSpans(const VDTextRange& range, std::vector<LineSpan>& spans) const override;

private:
    QString text_;
    std::shared_ptr<const Lines> lines_ = std::make_shared<const Lines>();
    std::function<std::vector<VDColourRun>(QStringView)> colouring_;
};

} // namespace vd
