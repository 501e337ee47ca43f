#include "VDSegmentedControl.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>

namespace vd {
namespace {

// A segment is a tab to assistive technology: its role says so, and its default action selects
// it the way a click does. Qt's own interface for a checkable button only toggles the check
// mark, which would leave the section unchanged behind a segment that reads as selected.
class AccessibleSegment : public QAccessibleWidget {
public:
    explicit AccessibleSegment(QWidget* segment) : QAccessibleWidget(segment, QAccessible::PageTab) {}

    QString text(QAccessible::Text kind) const override
    {
        const QString text = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && text.isEmpty() ? button()->text() : text;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = button()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString& action) override
    {
        if (action == pressAction() && button()->isEnabled())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* accessibleSegments(const QString& className, QObject* object)
{
    if (className == QLatin1String(VDSegmentedControl::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::PageTabList);
    if (className == QLatin1String("QToolButton") && qobject_cast<VDSegmentedControl*>(object->parent()))
        return new AccessibleSegment(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

VDSegmentedControl::VDSegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleSegments), true);
    Q_UNUSED(factoryInstalled);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_.setExclusive(true);

    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setText(labels[i]);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_.addButton(button, i);
        layout->addWidget(button);
    }
    equalise();

    connect(&group_, &QButtonGroup::idClicked, this, &VDSegmentedControl::segmentSelected);
}
bool VDSegmentedControl::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Polish || event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        equalise();
    return handled;
}

void VDSegmentedControl::equalise()
{
    int widest = 0;
    for (auto* button : group_.buttons()) {
        button->ensurePolished();
        widest = std::max(widest, button->sizeHint().width());
    }
    for (auto* button : group_.buttons())
        button->setFixedWidth(widest);
}

void VDSegmentedControl::setSelectedSegment(int segment)
{
    if (auto* button = group_.button(segment))
        button->setChecked(true);
}

} // namespace vd
