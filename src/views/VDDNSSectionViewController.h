#pragma once

#include <cstdint>

#include <QStandardItemModel>
#include <QWidget>

class QTreeView;

namespace vd {

class VDDNSSectionDelegate;

// The type sidebar of the DNS section: the group "Type" with "All", "Config", "System" and
// "Dynamic". Choosing an entry tells the delegate which records to show; "All" is chosen at first,
// and the sidebar always has one entry chosen.
class VDDNSSectionViewController : public QWidget {
    Q_OBJECT
public:
    explicit VDDNSSectionViewController(QWidget* parent = nullptr);

    // Not owned; the owner clears it before it goes away.
    void setDelegate(VDDNSSectionDelegate* delegate) { delegate_ = delegate; }
    QTreeView* outlineView() const { return outlineView_; }
    const QStandardItemModel& model() const { return model_; }
    // Chooses the entry of a type, as a click on it does.
    void selectType(std::uint64_t type);

private:
    void outlineViewSelectionDidChange();

    VDDNSSectionDelegate* delegate_ = nullptr;
    QStandardItemModel model_;
    QTreeView* outlineView_;
    std::uint64_t type_ = 0;
};

} // namespace vd
