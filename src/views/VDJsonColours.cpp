#include "VDJsonColours.h"

#include <QPalette>

namespace vd {
namespace {

struct JsonPalette {
    QColor key, string, number, literal;
};

JsonPalette jsonPalette(const QPalette& palette)
{
    if (palette.color(QPalette::Base).lightness() < 128)
        return {QColor(0x8C, 0xC8, 0xFF), QColor(0xA5, 0xD6, 0x8A), QColor(0xF0, 0xB8, 0x6E), QColor(0xD0, 0xA0, 0xF0)};
    return {QColor(0x0B, 0x4F, 0x9C), QColor(0x1E, 0x6B, 0x1E), QColor(0x9A, 0x4A, 0x00), QColor(0x7B, 0x2C, 0x9E)};
}

qsizetype stringEnd(QStringView line, qsizetype quote)
{
    for (qsizetype i = quote + 1; i < line.size(); ++i) {
        if (line[i] == u'\\')
            ++i;
        else if (line[i] == u'"')
            return i + 1;
    }
    return line.size();
}

bool isNumberChar(QChar c)
{
    return c.isDigit() || c == u'-' || c == u'+' || c == u'.' || c == u'e' || c == u'E';
}

} // namespace

std::vector<VDColourRun> jsonLineColours(QStringView line, const QPalette& palette)
{
    const JsonPalette colours = jsonPalette(palette);
    std::vector<VDColourRun> runs;
    for (qsizetype i = 0; i < line.size();) {
        const QChar c = line[i];
        if (c == u'"') {
            const qsizetype end = stringEnd(line, i);
            qsizetype after = end;
            while (after < line.size() && line[after] == u' ')
                ++after;
            const bool key = after < line.size() && line[after] == u':';
            runs.push_back({i, end - i, key ? colours.key : colours.string});
            i = end;
        } else if (c.isDigit() || c == u'-') {
            qsizetype end = i + 1;
            while (end < line.size() && isNumberChar(line[end]))
                ++end;
            runs.push_back({i, end - i, colours.number});
            i = end;
        } else if (c.isLetter()) {
            qsizetype end = i + 1;
            while (end < line.size() && line[end].isLetter())
                ++end;
            runs.push_back({i, end - i, colours.literal});
            i = end;
        } else {
            ++i;
        }
    }
    return runs;
}

VDJsonHighlighter::VDJsonHighlighter(QTextDocument* document, const QPalette& palette)
    : QSyntaxHighlighter(document), palette_(palette)
{
}

void VDJsonHighlighter::highlightBlock(const QString& text)
{
    for (const VDColourRun& run : jsonLineColours(text, palette_))
        setFormat(static_cast<int>(run.start), static_cast<int>(run.length), run.colour);
}

} // namespace vd
