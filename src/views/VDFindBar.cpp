#include "VDFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace vd {
namespace {

QToolButton* iconButton(QStyle::StandardPixmap icon, const QString& name, const QString& tip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon, nullptr, parent));
    button->setAccessibleName(name);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

VDFindBar::VDFindBar(QWidget* parent) : QWidget(parent), query_(new QLineEdit(this)), count_(new QLabel(this))
{
    query_->setPlaceholderText("Find");
    query_->setAccessibleName("Find");
    query_->setClearButtonEnabled(true);
    // The field's own clear button comes unnamed; a screen reader would announce a bare button.
    for (auto* clear : query_->findChildren<QToolButton*>())
        clear->setAccessibleName("Clear Find");
    query_->installEventFilter(this);
    count_->setMinimumWidth(count_->fontMetrics().horizontalAdvance("1000 of 1000+") + 8);
    previous_ = iconButton(QStyle::SP_ArrowUp, "Previous Match", "Previous Match (Shift+Return)", this);
    next_ = iconButton(QStyle::SP_ArrowDown, "Next Match", "Next Match (Return)", this);
    close_ = iconButton(QStyle::SP_TitleBarCloseButton, "Close Find Bar", "Close (Escape)", this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(query_, 1);
    layout->addWidget(count_);
    layout->addWidget(previous_);
    layout->addWidget(next_);
    layout->addWidget(close_);

    connect(query_, &QLineEdit::textChanged, this, [this] { search(VDFindStep::kFromHere); });
    connect(previous_, &QToolButton::clicked, this, &VDFindBar::findPrevious);
    connect(next_, &QToolButton::clicked, this, &VDFindBar::findNext);
    connect(close_, &QToolButton::clicked, this, &VDFindBar::dismiss);
}

void VDFindBar::setTarget(VDFindTarget* target)
{
    if (target != target_) {
        if (target_) {
            target_->disconnect(this);
            target_->clearFind();
        }
        target_ = target;
        if (target_)
            connect(target_, &VDFindTarget::contentReplaced, this, [this] { search(VDFindStep::kFromHere); });
    }
    // Also when the last target went with its view and none follows: the count must not stay.
    search(VDFindStep::kFromHere);
}

void VDFindBar::open()
{
    const bool wasHidden = isHidden();
    show();
    query_->setFocus(Qt::ShortcutFocusReason);
    query_->selectAll();
    if (wasHidden)
        search(VDFindStep::kFromHere);
}

void VDFindBar::dismiss()
{
    hide();
    if (target_)
        target_->clearFind();
    emit dismissed();
}

void VDFindBar::findNext()
{
    search(VDFindStep::kNext);
}

void VDFindBar::findPrevious()
{
    search(VDFindStep::kPrevious);
}

void VDFindBar::search(VDFindStep step)
{
    // A hidden bar marks nothing: its query waits for the next time it opens.
    if (isHidden())
        return;
    if (!target_ || query_->text().isEmpty()) {
        if (target_)
            target_->clearFind();
        showStatus({});
        return;
    }
    showStatus(target_->find(query_->text(), step));
}

void VDFindBar::showStatus(const VDFindStatus& status)
{
    const bool searched = !query_->text().isEmpty();
    previous_->setEnabled(status.found);
    next_->setEnabled(status.found);
    const QString more = status.capped ? "+" : "";
    if (!searched)
        count_->clear();
    else if (!status.found)
        count_->setText("No matches");
    else if (status.current < 0)
        count_->setText(QString("%1%2 matches").arg(status.count).arg(more));
    else
        count_->setText(QString("%1 of %2%3").arg(status.current + 1).arg(status.count).arg(more));
}

bool VDFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == query_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                findPrevious();
            else
                findNext();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Escape reaches here from the field and from the buttons alike, which leave it to their parent.
void VDFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vd
