#pragma once

#include <QLineEdit>

namespace vd {

// The read-only, single-line text of the detail pane: no frame, no background of its own, and
// selectable so that a user can copy a value. Setting the text it already shows does nothing,
// so a refresh that changes nothing keeps the user's selection.
class VDLabel : public QLineEdit {
    Q_OBJECT
public:
    explicit VDLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
};

} // namespace vd
