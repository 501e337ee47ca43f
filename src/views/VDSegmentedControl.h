#pragma once

#include <QButtonGroup>
#include <QStringList>
#include <QWidget>

namespace vd {

// A row of segments of equal width, one selected at a time. Only a click emits
// segmentSelected; setSelectedSegment is quiet, so a controller can select without looping.
class VDSegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit VDSegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int selectedSegment() const { return group_.checkedId(); }
    void setSelectedSegment(int segment);
    int segmentCount() const { return static_cast<int>(group_.buttons().size()); }
    QAbstractButton* segment(int index) const { return group_.button(index); }

signals:
    void segmentSelected(int segment);

protected:
    bool event(QEvent* event) override;

private:
    // Equal segments: the widest label decides the width of all of them, once the style and
    // font that measure the labels are known.
    void equalise();

    QButtonGroup group_;
};

} // namespace vd
