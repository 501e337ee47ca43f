#include "Copypast.h"

#include <optional>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace vd {
namespace {

enum class EditAction { cut, copy, paste, selectAll };

// What a text control allows right now; the three kinds of control differ only in how they tell.
struct TextControlState {
    bool editable;
    bool hasSelection;
    bool selectable;
    bool concealed; // a password field never hands its text out
};

std::optional<EditAction> actionFor(const QKeyEvent& key)
{
    // Exactly Ctrl: Ctrl+Shift+C and friends belong to whoever else wants them.
    if (key.modifiers() != Qt::ControlModifier)
        return std::nullopt;
    switch (key.key()) {
    case Qt::Key_X: return EditAction::cut;
    case Qt::Key_C: return EditAction::copy;
    case Qt::Key_V: return EditAction::paste;
    case Qt::Key_A: return EditAction::selectAll;
    default: return std::nullopt;
    }
}

template <typename TextView>
TextControlState textViewState(const TextView& view)
{
    const Qt::TextInteractionFlags flags = view.textInteractionFlags();
    return {!view.isReadOnly(), view.textCursor().hasSelection(),
            (flags & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::TextEditable)) != 0, false};
}

std::optional<TextControlState> stateOf(const QObject* control)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(control))
        return TextControlState{!line->isReadOnly(), line->hasSelectedText(), true, line->echoMode() != QLineEdit::Normal};
    if (const auto* text = qobject_cast<const QTextEdit*>(control))
        return textViewState(*text);
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(control))
        return textViewState(*plain);
    return std::nullopt;
}

bool canPerform(EditAction action, const TextControlState& state)
{
    switch (action) {
    case EditAction::cut: return state.editable && state.hasSelection && !state.concealed;
    case EditAction::copy: return state.hasSelection && !state.concealed;
    case EditAction::paste: return state.editable && !QApplication::clipboard()->text().isEmpty();
    case EditAction::selectAll: return state.selectable;
    }
    return false;
}

const char* slotName(EditAction action)
{
    switch (action) {
    case EditAction::cut: return "cut";
    case EditAction::copy: return "copy";
    case EditAction::paste: return "paste";
    case EditAction::selectAll: return "selectAll";
    }
    return "";
}

} // namespace

bool Copypast::eventFilter(QObject* watched, QEvent* event)
{
    const bool override = event->type() == QEvent::ShortcutOverride;
    if (!override && event->type() != QEvent::KeyPress)
        return false;
    // Only the control with the keyboard focus acts, as the one the user is typing in.
    if (watched != QApplication::focusWidget())
        return false;
    const std::optional<EditAction> action = actionFor(*static_cast<QKeyEvent*>(event));
    if (!action)
        return false;
    const std::optional<TextControlState> state = stateOf(watched);
    if (!state)
        return false;
    const bool able = canPerform(*action, *state);
    if (override) {
        // Accepting claims the combination for the control; ignoring it lets the menu have it,
        // even where the control itself would have claimed it.
        event->setAccepted(able);
        return true;
    }
    // The combination is ours either way: left to the control, a password field would cut by
    // deleting without copying.
    if (able)
        QMetaObject::invokeMethod(watched, slotName(*action)); // all three controls have these slots
    return true;
}

} // namespace vd
