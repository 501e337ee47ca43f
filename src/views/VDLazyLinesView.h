#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QAbstractScrollArea>
#include <QString>

#include "VDJsonColours.h"
#include "VDTextRange.h"

class QPainter;

namespace vd {

// A read-only view of many lines that makes and paints only the lines in sight, so a body of
// many megabytes costs no more to show than a small one. Scrolled by whole lines. The user
// copies the whole content (Copy, or the context menu). Matches of a search are marked on the
// lines in sight only, so marking a thousand of them costs nothing until they are seen.
class VDLazyLinesView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit VDLazyLinesView(QWidget* parent = nullptr);

    virtual std::int64_t lineCount() const = 0;

    // Marks the matches of a search lightly and the current one as selected text, scrolled into
    // sight; ranges in the subclass's units. New content drops the marks.
    void setMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current);
    // The first line showing the current match, -1 without one.
    std::int64_t currentMatchLine() const;
    std::int64_t firstVisibleLine() const;
    std::int64_t visibleLineCount() const;

signals:
    void contentReplaced();

protected:
    // The piece of one line that shows (part of) a range: characters of lineText().
    struct LineSpan {
        std::int64_t line;
        int column;
        int length;
    };
    // The pieces of lines that show a range, in line order: a range may run over several lines.
    virtual void appendSpans(const VDTextRange& range, std::vector<LineSpan>& spans) const = 0;
    virtual QString lineText(std::int64_t line) const = 0;
    // Stretches of a line drawn in colours of their own; the rest is in the text colour.
    virtual std::vector<VDColourRun> lineColours(std::int64_t, const QString&) const { return {}; }
    // The widest line, in characters, for the horizontal scroll range.
    virtual int widestLineChars() const = 0;
    virtual QString wholeText() const = 0;
    // After the content changed: back to the top, new ranges, repaint.
    void contentChanged();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateScrollBars();
    void drawLine(QPainter& painter, int x, int y, const QString& text, const std::vector<VDColourRun>& runs) const;
    void copyAll() const;
    void scrollToSpan(const LineSpan& span);
    void paintSpans(QPainter& painter, std::int64_t line, const QString& text, int x, int top,
                    const std::vector<LineSpan>& spans, bool current) const;

    std::vector<LineSpan> matchSpans_;
    std::vector<LineSpan> currentSpans_;
};

} // namespace vd
