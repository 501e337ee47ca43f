#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include <QDialog>
#include <QPointer>

#include "LinkEndTexts.h"
#include "VDWindowController.h"
#include "WindowId.h"
#include "platform/NotificationCenter.h"

class QAbstractButton;
class QAction;
class QLabel;
class QMenuBar;
class QStackedWidget;

namespace vd {

class HarExportCommand;
class VDDataProcesser;
class VDFilterField;
class VDRecordTableView;
class VDSegmentedControl;
class VDTunnelDetailViewController;
class WindowOverview;

struct MainWindowTiming {
    // How long a connection may take before "Connecting..." is shown.
    std::chrono::milliseconds connectingCheck{1000};
    // How long typing may pause before the filter follows it.
    std::chrono::milliseconds filterPause{150};
};

// One main window: its link to one service (through the processor it binds under its window
// id), the sheets that tell how the link is doing, the section switch and the filter field.
class VDMainWindowsController : public VDWindowController {
    Q_OBJECT
public:
    enum Section { RecentRequests = 0, ActiveConnections = 1, DNS = 2, UDP = 3 };

    using Timing = MainWindowTiming;

    explicit VDMainWindowsController(std::string idString, Timing timing = {}, QObject* parent = nullptr);
    ~VDMainWindowsController() override;

    void loadWindow() override;
    // The View menu of this window's menu bar: the sections, the filter, and the shown list's
    // Reload and Clean, each with its shortcut.
    void addViewMenu(QMenuBar& bar);
    // The local service; `socketPath` empty: at its usual place.
    void openLocalWindow(std::string socketPath = {});
    void openRemoteWindowWithHost(std::string host, std::int64_t port, std::string password);
    void openRemoteWindowWithUSBPort(std::int64_t port, std::string password);
    // (Re)connects the bound processor by the stored kind and parameters.
    void open();
    void selectControl(int segment);

    const std::string& idString() const { return idString_; }
    ConnectionKind type() const { return type_; }
    VDSegmentedControl* mainControl() const { return mainControl_; }
    VDFilterField* searchField() const { return searchField_; }
    // The status bar's figures and the pause of this window's lists.
    WindowOverview* overview() const { return overview_; }
    // File ▸ "Export HAR…" for this window's shown tunnel list.
    HarExportCommand* harExport() const { return harExport_; }
    // The section shown, and the one of a segment if it was made.
    QWidget* shownSection() const;
    QWidget* section(int segment) const { return sections_.at(static_cast<std::size_t>(segment)); }
    // The sheet on the window, if any.
    QDialog* sheet() const { return sheet_; }

signals:
    // After a refused login: the user wants the connect window back, filled in with this
    // service but for the password. The window closes right after.
    void connectWindowRequested(vd::ConnectionKind kind, const QString& host, qint64 port);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bindProcesser(ConnectionKind kind);
    const std::shared_ptr<VDDataProcesser>& processer() const { return processer_; }
    QWidget* makeSection(int segment);
    void installToolbar();

    void connectingCheck(std::uint64_t attempt);
    void sizeToSection();
    void widenFor(const VDRecordTableView& table);
    VDRecordTableView* shownTable() const;
    // The detail pane holding the keyboard focus of this window, if any.
    VDTunnelDetailViewController* detailPaneWithFocus() const;
    void connectComplete(std::uint64_t attempt);
    void disconnected(std::uint64_t attempt, const LinkEnd& end);
    void usbDaemonChanged(std::uint64_t attempt, const QString& detail);
    void backToConnectWindow();
    LinkPlace place() const;
    void showSheet(QDialog* sheet);
    void dismissSheet();

    // The shown section's enabled button of that object name; none when it has none.
    QAbstractButton* shownButton(std::initializer_list<const char*> names) const;
    void updateViewMenu();
    // The status bar's line: which service this window shows and how its link is.
    QString serviceName() const;
    void showLinkState(const QString& state);
    void filterEdited(const QString& text);
    void checkFilterSearchTextfield();
    // Ends the link and lets the processor go; runs once, when the window closes or goes away.
    void tearDown();

    const std::string idString_;
    const Timing timing_;
    ConnectionKind type_ = ConnectionKind::None;
    std::string socketPath_;
    std::string host_;
    std::int64_t port_ = 0;
    std::string password_;
    // Held, not only looked up: another window may bind its own processor under an equal id
    // string (a TCP host named "USB"), and this window's link must not die of it.
    std::shared_ptr<VDDataProcesser> processer_;
    // Each open() is one attempt; callbacks and checks of an earlier attempt change nothing.
    std::uint64_t attempt_ = 0;
    // Why a USB link still waits, while the daemon cannot be reached; empty otherwise.
    QString usbDaemonDetail_;
    bool closed_ = false;
    // No frame was remembered: the window takes the size its first section asks for, and
    // follows it while its columns grow to fit their first rows, until the user sizes it.
    bool sizeToFirstSection_ = false;
    QSize sizeGiven_;

    QStackedWidget* stack_ = nullptr;
    VDSegmentedControl* mainControl_ = nullptr;
    VDFilterField* searchField_ = nullptr;
    QLabel* linkStatus_ = nullptr;
    QAction* reloadAction_ = nullptr;
    QAction* cleanAction_ = nullptr;
    HarExportCommand* harExport_ = nullptr;
    WindowOverview* overview_ = nullptr;
    std::array<QWidget*, 4> sections_{};
    QPointer<QDialog> sheet_;
    // Last member: reset first, so no observer callback runs into a half-destroyed controller.
    ObservationToken filterObservation_;
};

} // namespace vd
