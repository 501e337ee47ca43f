#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "VDBodyDecoding.h"
#include "VDBodyModes.h"
#include "VDTunnelDetailTextView.h"
#include "platform/Bytes.h"
#include "platform/NotificationCenter.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QTreeWidget;

namespace vd {

class VDBodyModeBar;
class VDHexDumpView;
class VDJsonHighlighter;
class VDLongTextView;
class VDTunnelInfo;
struct VDBodyArrival;

// The captured request or response body of one record: "Loading" until the window's processor
// answers, then the body as text, as a hex dump when it is not UTF-8 text, or "No Data". It
// follows later arrivals of that body from its own window and exports the shown bytes.
//
// Besides that raw view, a body may be shown decoded (its content coding undone), pretty (JSON,
// XML and HTML indented, a form as a table) or as an image, where those apply; the user's last
// choice is remembered and used wherever it applies. They are worked out off the GUI thread.
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
    QPushButton* exportDecodedButton() const { return exportDecodedButton_; }
    VDBodyModeBar* modeBar() const { return modeBar_; }
    // The mode shown now, and the ones the body offers.
    VDBodyMode shownMode() const { return shownMode_; }
    const std::vector<VDBodyMode>& modes() const { return modes_; }
    // Shows the body in a mode it offers (Raw for one it does not) and remembers the choice.
    void chooseMode(VDBodyMode mode);
    // The line above the content: why a mode fell short, or what the image is; empty if none.
    QString note() const;
    QTreeWidget* formTable() const { return formTable_; }
    QLabel* imageLabel() const { return imageLabel_; }

public slots:
    void exportData();
    // "Export Decoded…": writes what Decoded shows.
    void exportDecoded();

private:
    void receiveData(const VDBodyArrival& arrival);
    void setData(const VDShownBody& shown);
    void clearContent();
    void showMode(VDBodyMode mode);
    void showRaw();
    void showText(const QString& text, std::shared_ptr<const VDLongTextView::Lines> lines, bool json);
    void showContent(const VDModeContent& content);

    std::string id_;
    std::int64_t recId = -1;
    std::shared_ptr<const VDTunnelInfo> info;
    bool direct_ = false;
    // Counts deliveries, so that a parse finishing late never replaces a newer body.
    std::uint64_t delivery_ = 0;
    std::shared_ptr<const Bytes> storeData_;
    // The last body shown, as Raw shows it, and what its head says of it.
    VDShownBody shown_;
    std::vector<VDBodyMode> modes_{VDBodyMode::raw};
    VDBodyMode shownMode_ = VDBodyMode::raw;
    // Counts the contents asked for, so that a late one never replaces a newer choice.
    std::uint64_t contentRequest_ = 0;
    VDBodyModeBar* modeBar_;
    QLabel* note_;
    VDHexDumpView* hexView_;
    VDLongTextView* longTextView_;
    QTreeWidget* formTable_;
    QScrollArea* imageArea_;
    QLabel* imageLabel_;
    VDJsonHighlighter* highlighter_ = nullptr;
    QPushButton* exportButton_;
    QPushButton* exportDecodedButton_;
    // Last: no arrival reaches a view that is being destroyed.
    ObservationToken arrivals_;
};

} // namespace vd
