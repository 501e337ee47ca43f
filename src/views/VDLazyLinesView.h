#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractScrollArea>
#include <QString>

#include "VDJsonColours.h"

class QPainter;

namespace vd {

// A read-only view of many lines that makes and paints only the lines in sight, so a body of
// many megabytes costs no more to show than a small one. Scrolled by whole lines. The user
// copies the whole content (Copy, or the context menu).
class VDLazyLinesView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit VDLazyLinesView(QWidget* parent = nullptr);

    virtual std::int64_t lineCount() const = 0;

protected:
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
};

} // namespace vd
