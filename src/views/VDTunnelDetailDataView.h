#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "VDTunnelDetailTextView.h"
#include "platform/Bytes.h"
#include "platform/NotificationCenter.h"

class QPushButton;

namespace vd {

class VDHexDumpView;
class VDLongTextView;
class VDTunnelInfo;
struct VDShownBody;
struct VDBodyArrival;

// The captured request or response body of one record: "Loading" until the window's processor
// answers, then the body as text, as a hex dump when it is not UTF-8 text, or "No Data". It
// follows later arrivals of that body from its own window and exports the shown bytes.
class VDTunnelDetailDataView : public VDTunnelDetailTextView {
    Q_OBJECT
public:
    // Deliveries at least this large are parsed and decoded off the GUI thread.
    static constexpr std::size_t kBackgroundParseBytes = 256 * 1024;

    explicit VDTunnelDetailDataView(QWidget* parent = nullptr);
    ~VDTunnelDetailDataView() override;

    // `direct` true: the request body, false: the response body; fixed for the view's life.
    void setId(const std::string& idString, std::shared_ptr<const VDTunnelInfo> tunnel, bool direct);
    // Shows one delivery of captured bytes (none: nothing was captured).
    void parserData(std::optional<Bytes> captured);

    std::string shownText() const override;
    // The body now shown, which is what "Export as bin" writes; none before any body.
    const std::shared_ptr<const Bytes>& storeData() const { return storeData_; }
    bool isShowingHex() const;
    VDHexDumpView* hexView() const { return hexView_; }
    // Where text too large for the editor widget is shown.
    VDLongTextView* longTextView() const { return longTextView_; }
    QPushButton* exportButton() const { return exportButton_; }

public slots:
    void exportData();

private:
    void receiveData(const VDBodyArrival& arrival);
    void setData(const VDShownBody& shown);

    std::string id_;
    std::int64_t recId = -1;
    std::shared_ptr<const VDTunnelInfo> info;
    bool direct_ = false;
    // Counts deliveries, so that a parse finishing late never replaces a newer body.
    std::uint64_t delivery_ = 0;
    std::shared_ptr<const Bytes> storeData_;
    VDHexDumpView* hexView_;
    VDLongTextView* longTextView_;
    QPushButton* exportButton_;
    // Last: no arrival reaches a view that is being destroyed.
    ObservationToken arrivals_;
};

} // namespace vd
