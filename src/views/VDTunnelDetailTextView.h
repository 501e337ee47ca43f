#pragma once

#include <string>

#include <QWidget>

#include "data/TextRun.h"

class QHBoxLayout;
class QPlainTextEdit;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

namespace vd {

class VDFindTarget;

// The read-only, scrolling text of a detail tab, with buttons that open the shown text in an
// external editor when one is installed. Subclasses add their own buttons left of these and
// may show their text in a view of their own instead of the text area.
class VDTunnelDetailTextView : public QWidget {
    Q_OBJECT
public:
    explicit VDTunnelDetailTextView(QWidget* parent = nullptr);

    // Replaces the whole text in the system font.
    void setText(const QString& text);
    // Appends styled text: bold or regular runs of the system font.
    void setAttributedText(const StyledText& text);

    // Names the text area and every view shown in its place, for screen readers: the tab's title.
    void setContentName(const QString& name);

    QPlainTextEdit* textView() const { return textView_; }
    // The rightmost button placed so far; none when there is no button.
    QPushButton* lastButton() const { return lastButton_; }
    // What the editor buttons hand over: the text that is shown.
    virtual std::string shownText() const;
    // The search of the view now shown in the content area; none when it cannot be searched.
    // Subclasses with views of other kinds answer for them.
    virtual VDFindTarget* findTarget();

signals:
    // Another view took the content area, so findTarget() answers differently.
    void findTargetChanged();

public slots:
    void openInSubl();
    void openInVSC();

protected:
    // A button left of the ones placed so far (or in the corner when it is the first).
    QPushButton* addButton(const QString& title);
    // A view that can be shown in place of the text area.
    void addContentView(QWidget* view);
    // A bar above the text area and the views shown in its place, top to bottom in call order.
    void addAboveContent(QWidget* bar);
    // Shows an added view, or the text area again for none.
    void showContentView(QWidget* view);
    // The font of the text: the system font at 12 pixels.
    static QFont textFont();

private:
    QPlainTextEdit* textView_;
    QStackedLayout* content_;
    QVBoxLayout* above_;
    QHBoxLayout* buttons_;
    QPushButton* lastButton_ = nullptr;
};

} // namespace vd
