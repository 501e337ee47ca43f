#include "VDTextEditFindTarget.h"

#include <QPlainTextEdit>
#include <QTextDocument>

#include "VDFindColours.h"

namespace vd {

VDTextEditFindTarget::VDTextEditFindTarget(QPlainTextEdit& edit) : VDRangeFindTarget(&edit), edit_(edit)
{
    connect(&edit, &QPlainTextEdit::textChanged, this, &VDTextEditFindTarget::contentWasReplaced);
}

QWidget* VDTextEditFindTarget::content() const
{
    return &edit_;
}

bool VDTextEditFindTarget::setQuery(const QString& query)
{
    query_ = query;
    return true;
}

std::optional<VDTextRange> VDTextEditFindTarget::search(std::int64_t from, bool backward) const
{
    const QTextCursor found = edit_.document()->find(query_, static_cast<int>(from),
                                                      backward ? QTextDocument::FindBackward : QTextDocument::FindFlags());
    if (found.isNull())
        return std::nullopt;
    return VDTextRange{found.selectionStart(), found.selectionEnd() - found.selectionStart()};
}

std::optional<VDTextRange> VDTextEditFindTarget::searchForward(std::int64_t from) const
{
    return search(from, false);
}

std::optional<VDTextRange> VDTextEditFindTarget::searchBackward(std::int64_t before) const
{
    return search(before, true);
}

std::int64_t VDTextEditFindTarget::contentEnd() const
{
    return edit_.document()->characterCount();
}

void VDTextEditFindTarget::showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current)
{
    const auto select = [this](const VDTextRange& range) {
        QTextCursor cursor(edit_.document());
        cursor.setPosition(static_cast<int>(range.start));
        cursor.setPosition(static_cast<int>(range.end()), QTextCursor::KeepAnchor);
        return cursor;
    };
    QList<QTextEdit::ExtraSelection> marks;
    marks.reserve(static_cast<qsizetype>(matches.size()) + 1);
    QTextCharFormat match;
    match.setBackground(findMatchColour(edit_.palette()));
    for (const VDTextRange& range : matches)
        marks.append({select(range), match});
    if (current) {
        // Drawn as selected text even while focus is in the find field, where the text area's
        // own selection would look inactive.
        QTextCharFormat selected;
        selected.setBackground(edit_.palette().color(QPalette::Highlight));
        selected.setForeground(edit_.palette().color(QPalette::HighlightedText));
        marks.append({select(*current), selected});
        edit_.setTextCursor(select(*current));
        edit_.ensureCursorVisible();
    }
    edit_.setExtraSelections(marks);
}

} // namespace vd
