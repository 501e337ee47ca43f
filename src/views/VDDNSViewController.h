#pragma once

#include <string>

#include <QWidget>

#include "VDDNSSectionDelegate.h"
#include "VDLayoutAutosave.h"

class QSplitter;

namespace vd {

class VDDNSListViewController;
class VDDNSSectionViewController;

// The DNS section of a main window: the type sidebar beside the DNS list, in a split view
// remembered under "com.lumenforge.vantordashboard.dns.splitview".
class VDDNSViewController : public QWidget, public VDDNSSectionDelegate {
    Q_OBJECT
public:
    static constexpr const char* kSplitAutosaveName = "com.lumenforge.vantordashboard.dns.splitview";
    static constexpr int kSidebarMinimumWidth = 200;
    // The room the list asks for beside the sidebar; in a narrower window the sidebar folds away
    // first, then the list becomes as narrow as kListNarrowest, its table scrolling sideways.
    static constexpr int kListRoom = 700;
    static constexpr int kListNarrowest = 280;

    explicit VDDNSViewController(std::string idString, QWidget* parent = nullptr);
    ~VDDNSViewController() override;

    const std::string& idString() const { return idString_; }
    QSplitter* splitView() const { return splitView_; }
    VDDNSSectionViewController* sectionVC() const { return sectionVC_; }
    VDDNSListViewController* listVC() const { return listVC_; }

    // Shows only records of the type (0: all) and reloads the list.
    void selectDNSType(std::uint64_t type) override;

private:
    const std::string idString_;
    QSplitter* splitView_;
    VDDNSSectionViewController* sectionVC_;
    VDDNSListViewController* listVC_;
    VDLayoutAutosave autosave_;
};

} // namespace vd
