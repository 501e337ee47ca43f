#pragma once

#include <QPointer>
#include <QWidget>

#include "VDFindTarget.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace vd {

// A bar that searches one content view as the user types: the query field, how many matches
// there are and which one is current ("3 of 17"), previous and next, and a close button.
// Return steps to the next match, Shift+Return to the previous one, Escape closes the bar.
class VDFindBar : public QWidget {
    Q_OBJECT
public:
    explicit VDFindBar(QWidget* parent = nullptr);

    // What is searched from now on; none when the content cannot be searched. An open bar
    // searches the new target at once.
    void setTarget(VDFindTarget* target);
    VDFindTarget* target() const { return target_; }
    // Shows the bar with its query selected, so typing starts a new one.
    void open();
    // Hides the bar and removes the marks; the owner puts focus back on the content.
    void dismiss();
    void findNext();
    void findPrevious();

    QLineEdit* queryField() const { return query_; }
    QLabel* countLabel() const { return count_; }
    QToolButton* previousButton() const { return previous_; }
    QToolButton* nextButton() const { return next_; }
    QToolButton* closeButton() const { return close_; }

signals:
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void search(VDFindStep step);
    void showStatus(const VDFindStatus& status);

    QLineEdit* query_;
    QLabel* count_;
    QToolButton* previous_;
    QToolButton* next_;
    QToolButton* close_;
    QPointer<VDFindTarget> target_;
};

} // namespace vd
