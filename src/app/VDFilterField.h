#pragma once

#include <chrono>

#include <QLineEdit>
#include <QTimer>

namespace vd {

// The main window's filter field. What the user types is handed on once typing pauses, and at
// once when the field is emptied (clear button or deleting the last character), so clearing
// never lags behind. Text put in by the program is not handed back.
class VDFilterField : public QLineEdit {
    Q_OBJECT
public:
    explicit VDFilterField(QWidget* parent = nullptr, std::chrono::milliseconds pause = std::chrono::milliseconds(150));

    // True while typed text waits to be handed on.
    bool editPending() const { return pause_.isActive(); }

signals:
    void filterEdited(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void edited(const QString& text);

    QTimer pause_;
};

} // namespace vd
