#pragma once

#include <vector>

#include <QColor>
#include <QPalette>
#include <QStringView>
#include <QSyntaxHighlighter>

namespace vd {

// A stretch of one line drawn in a colour of its own.
struct VDColourRun {
    qsizetype start;
    qsizetype length;
    QColor colour;
};

// The colours of the tokens of one line of pretty-printed JSON: keys, strings, numbers and the
// literals true, false and null. A JSON string never spans lines, so a line is read by itself;
// a token cut by the line's end is coloured as far as it goes. Chosen to read on the palette's
// base, light or dark.
std::vector<VDColourRun> jsonLineColours(QStringView line, const QPalette& palette);

// The same colours in a text editor's document, line by line as the editor lays them out.
class VDJsonHighlighter : public QSyntaxHighlighter {
public:
    VDJsonHighlighter(QTextDocument* document, const QPalette& palette);

protected:
    void highlightBlock(const QString& text) override;

private:
    const QPalette palette_;
};

} // namespace vd
