#include "VDMainWindowsController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "AppSettings.h"
#include "ConnectionSheets.h"
#include "HarExportCommand.h"
#include "VDFilterField.h"
#include "VDWindowLook.h"
#include "WindowOverview.h"
#include "data/VDDataManager.h"
#include "data/VDNotifications.h"
#include "link/QNComClientManager.h"
#include "link/ServiceContract.h"
#include "platform/MainQueue.h"
#include "platform/UserPaths.h"
#include "views/GuiThread.h"
#include "views/VDBaseSectionViewController.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDCurTunViewController.h"
#include "views/VDDNSViewController.h"
#include "views/VDRecordTableView.h"
#include "views/VDRecTunViewController.h"
#include "views/VDSegmentedControl.h"
#include "views/VDTunnelDetailViewController.h"
#include "views/VDUDPTunListViewController.h"

namespace vd {
namespace {

// All main windows share one remembered frame.
constexpr const char* kFrameName = "VantorDabashboardMainWindow";
constexpr QSize kFirstSize(960, 640);
constexpr QSize kLeastSize(500, 400);
// How far a window opened beside another is moved from it, so both title bars show.
constexpr QPoint kCascade(32, 32);

// The main window opened last, while it is open: the next one cascades from it.
QPointer<QWidget>& lastMainWindow()
{
    static QPointer<QWidget> window;
    return window;
}

// The frame moved by one cascade step from `from`, kept inside `area`: one that would leave it
// starts again at the area's top left.
QRect cascaded(const QRect& from, const QRect& area)
{
    QRect frame = from.translated(kCascade);
    if (!area.contains(frame))
        frame.moveTopLeft(area.topLeft());
    return frame;
}

// The switch's segments, in order.
const QStringList& sectionLabels()
{
    static const QStringList labels{"Recent Requests", "Active Connections", "DNS", "UDP"};
    return labels;
}

ShownList::Kind listOf(int segment)
{
    switch (segment) {
    case VDMainWindowsController::RecentRequests: return ShownList::recent;
    case VDMainWindowsController::ActiveConnections: return ShownList::active;
    case VDMainWindowsController::DNS: return ShownList::dns;
    default: return ShownList::udp;
    }
}

} // namespace

VDMainWindowsController::VDMainWindowsController(std::string idString, Timing timing, QObject* parent)
    : VDWindowController(parent), idString_(std::move(idString)), timing_(timing)
{
    connect(this, &VDWindowController::windowWillClose, this, &VDMainWindowsController::tearDown);
}

VDMainWindowsController::~VDMainWindowsController()
{
    filterObservation_.reset();
    tearDown();
}

void VDMainWindowsController::loadWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    auto* window = new QMainWindow;
    window->setWindowTitle("Vantor Dashboard");
    window->setMinimumSize(kLeastSize);
    stack_ = new QStackedWidget(window);
    window->setCentralWidget(stack_);
    setWindow(window);
    installToolbar();

    const QScreen* screen = QGuiApplication::primaryScreen();
    // The area left by panels and docks, at the screen's scale: a window as large as the whole
    // screen would run under them.
    if (screen)
        window->setMaximumSize(screen->availableGeometry().size() - frameAllowance(*window));
    const auto settings = appSettings();
    if (!window->restoreGeometry(settings->value(kFrameName).toByteArray())) {
        // Room for the whole toolbar, switch and filter, on a first start; the first section
        // asks for room for all its columns when it is made.
        window->resize(kFirstSize.boundedTo(window->maximumSize()));
        centreOnScreen(*window);
        sizeToFirstSection_ = true;
    }
    // All windows share one remembered frame; a second one opened there would hide the first.
    if (QWidget* last = lastMainWindow(); last && last->isVisible() && screen) {
        // Content rectangles, so the area leaves room above for the title bar.
        const QSize frame = frameAllowance(*last);
        const QRect area = screen->availableGeometry().adjusted(frame.width() / 2, frame.height() - frame.width() / 2,
                                                                -frame.width() / 2, -frame.width() / 2);
        window->setGeometry(cascaded(last->geometry(), area));
        sizeToFirstSection_ = false;
    }
    lastMainWindow() = window;

    harExport_ = new HarExportCommand(idString_, window, [this]() -> VDBaseTunnelListViewController* {
        QWidget* section = shownSection();
        return section ? section->findChild<VDBaseTunnelListViewController*>() : nullptr;
    }, this);

    linkStatus_ = new QLabel(window);
    linkStatus_->setObjectName("linkStatus");
    window->statusBar()->addWidget(linkStatus_, 1);
    overview_ = new WindowOverview(*window, idString_, [this] { return processer_; });
    // As the Active Connections sidebar does, which then shows the client chosen.
    connect(overview_, &WindowOverview::clientChosen, this, [this](const QString& client) {
        selectControl(ActiveConnections);
        if (auto* sidebar = section(ActiveConnections)->findChild<VDBaseSectionViewController*>())
            sidebar->chooseClient(client.toStdString());
    });

    // Any processor may post the change, from any thread.
    filterObservation_ = NotificationCenter::defaultCenter()->addObserver(kVDFilterStringChanged, nullptr, [this](const Notification&) {
        runOnGuiThread(this, [this] { checkFilterSearchTextfield(); });
    });
}

bool VDMainWindowsController::eventFilter(QObject* watched, QEvent* event)
{
    // The window's least size grows where its content needs more (an open detail pane in a low
    // window), so nothing in it is cut off.
    if (watched == window() && event->type() == QEvent::LayoutRequest && window()->layout())
        window()->setMinimumSize(kLeastSize.expandedTo(window()->layout()->minimumSize()));
    return VDWindowController::eventFilter(watched, event);
}

void VDMainWindowsController::installToolbar()
{
    auto* window = static_cast<QMainWindow*>(this->window());
    auto* toolbar = new QToolBar(window);
    toolbar->setObjectName("VBMainToolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    // The filter and the sections live in the toolbar; it must not be hidden away.
    toolbar->toggleViewAction()->setVisible(false);

    mainControl_ = new VDSegmentedControl(sectionLabels(), toolbar);
    mainControl_->setObjectName("VMMainControl");
    mainControl_->setAccessibleName("Sections");
    toolbar->addWidget(mainControl_);

    auto* space = new QWidget(toolbar);
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(space);

    searchField_ = new VDFilterField(toolbar, timing_.filterPause);
    searchField_->setObjectName("VMFilter");
    toolbar->addWidget(searchField_);
    window->addToolBar(toolbar);

    connect(mainControl_, &VDSegmentedControl::segmentSelected, this, &VDMainWindowsController::selectControl);
    connect(searchField_, &VDFilterField::filterEdited, this, &VDMainWindowsController::filterEdited);
}

void VDMainWindowsController::addViewMenu(QMenuBar& bar)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    QMenu* menu = bar.addMenu("&View");
    for (int segment = 0; segment < sectionLabels().size(); ++segment) {
        QAction* show = menu->addAction(sectionLabels()[segment]);
        show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + segment)));
        connect(show, &QAction::triggered, this, [this, segment] { selectControl(segment); });
    }
    menu->addSeparator();
    menu->addAction(overview_->pauseAction());
    menu->addAction(overview_->trafficAction());
    QAction* filter = menu->addAction("Filter");
    filter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    // One shortcut for both, since two on the same keys would fire neither: within a detail pane
    // it finds in what the pane shows, anywhere else it filters the lists.
    connect(filter, &QAction::triggered, this, [this] {
        if (VDTunnelDetailViewController* pane = detailPaneWithFocus()) {
            pane->openFindBar();
            return;
        }
        searchField_->setFocus(Qt::ShortcutFocusReason);
        searchField_->selectAll();
    });
    reloadAction_ = menu->addAction("Reload");
    reloadAction_->setShortcut(QKeySequence(Qt::Key_F5));
    connect(reloadAction_, &QAction::triggered, this, [this] {
        if (QAbstractButton* button = shownButton({"reloadButton", "DNSRefreshButton"}))
            button->click();
    });
    cleanAction_ = menu->addAction("Clean");
    cleanAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(cleanAction_, &QAction::triggered, this, [this] {
        if (QAbstractButton* button = shownButton({"cleanButton"}))
            button->click();
    });
    menu->addSeparator();
    // The header's column menu, for the keyboard: the shown list's columns.
    QMenu* columns = menu->addMenu("Columns");
    connect(columns, &QMenu::aboutToShow, this, [this, columns] {
        columns->clear();
        if (VDRecordTableView* table = shownTable())
            table->addColumnItems(*columns);
    });
    updateViewMenu();
}

// --- connecting --------------------------------------------------------------------------------

void VDMainWindowsController::bindProcesser(ConnectionKind kind)
{
    processer_ = VDDataManager::sharedInstance().bindProcesserId(idString_);
    type_ = kind;
}

void VDMainWindowsController::openLocalWindow(std::string socketPath)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    bindProcesser(ConnectionKind::Local);
    socketPath_ = std::move(socketPath);
    open();
}

void VDMainWindowsController::openRemoteWindowWithHost(std::string host, std::int64_t port, std::string password)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    bindProcesser(ConnectionKind::Remote);
    host_ = std::move(host);
    port_ = port;
    password_ = std::move(password);
    open();
}

void VDMainWindowsController::openRemoteWindowWithUSBPort(std::int64_t port, std::string password)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    bindProcesser(ConnectionKind::USB);
    port_ = port;
    password_ = std::move(password);
    open();
}

void VDMainWindowsController::open()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto processer = this->processer();
    if (closed_ || !processer || type_ == ConnectionKind::None) {
        close();
        return;
    }
    dismissSheet();
    const std::uint64_t attempt = ++attempt_;
    // Both arrive on the processor's queue. The QPointer is only looked at on the main thread.
    const QPointer<VDMainWindowsController> weak(this);
    processer->setConnectCompleteBlock([weak, attempt](const std::optional<Error>&) {
        runBlockInMainThread([weak, attempt] {
            if (weak)
                weak->connectComplete(attempt);
        });
    });
    processer->setDisconnectBlock([weak, attempt](const LinkEnd& end) {
        runBlockInMainThread([weak, attempt, end] {
            if (weak)
                weak->disconnected(attempt, end);
        });
    });
    usbDaemonDetail_.clear();
    if (type_ == ConnectionKind::USB) {
        processer->clientManager()->setUSBDaemonBlock(
            [weak, attempt](const std::optional<QNComClientManager::USBDaemonUnreachable>& unreachable) {
                const QString detail =
                    unreachable ? usbDaemonUnreachableDetail(unreachable->address, unreachable->error.description) : QString();
                runBlockInMainThread([weak, attempt, detail] {
                    if (weak)
                        weak->usbDaemonChanged(attempt, detail);
                });
            });
    }

    switch (type_) {
    case ConnectionKind::Local:
        if (socketPath_.empty())
            processer->connectToLocal();
        else
            processer->connectToSocketPath(socketPath_);
        break;
    case ConnectionKind::Remote:
        processer->connectToHost(host_, port_, password_);
        break;
    case ConnectionKind::USB:
        processer->connectToUSBPort(port_, password_);
        break;
    case ConnectionKind::None:
        break;
    }

    showLinkState("Connecting...");
    QTimer::singleShot(timing_.connectingCheck, this, [this, attempt] { connectingCheck(attempt); });
    if (!shownSection())
        selectControl(ActiveConnections);
    if (std::exchange(sizeToFirstSection_, false)) {
        sizeToSection();
        if (VDRecordTableView* table = shownTable()) {
            connect(table, &VDRecordTableView::columnsGrown, this, [this, table] {
                // A size the user gave the window is theirs to keep.
                if (window()->size() == sizeGiven_)
                    widenFor(*table);
                else
                    table->disconnect(this);
            });
        }
    }
}

void VDMainWindowsController::sizeToSection()
{
    QWidget* window = this->window();
    window->resize(window->sizeHint().expandedTo(kFirstSize).boundedTo(window->maximumSize()));
    centreOnScreen(*window);
    sizeGiven_ = window->size();
}

// By what the table lacks of its columns' width: the window is laid out by now, and the wider
// tunnel area takes all of the new width.
void VDMainWindowsController::widenFor(const VDRecordTableView& table)
{
    const int lacking = table.sizeHint().width() - table.width();
    if (lacking <= 0)
        return;
    QWidget* window = this->window();
    window->resize(QSize(window->width() + lacking, window->height()).boundedTo(window->maximumSize()));
    centreOnScreen(*window);
    sizeGiven_ = window->size();
}

void VDMainWindowsController::connectingCheck(std::uint64_t attempt)
{
    const auto processer = this->processer();
    if (closed_ || attempt != attempt_ || !processer || processer->connectStatus() != ConnectStatus::connecting)
        return;
    showSheet(makeConnectingSheet(window(), usbDaemonDetail_, this, [this] { close(); }));
}

void VDMainWindowsController::usbDaemonChanged(std::uint64_t attempt, const QString& detail)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (closed_ || attempt != attempt_)
        return;
    usbDaemonDetail_ = detail;
    showLinkState(detail.isEmpty() ? QString("Connecting...") : "Connecting... " + detail);
    if (sheet_ && sheet_->objectName() == "connectingSheet")
        setSheetDetail(*sheet_, detail);
}

void VDMainWindowsController::connectComplete(std::uint64_t attempt)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (closed_ || attempt != attempt_)
        return;
    dismissSheet();
    showLinkState("Connected");
}

void VDMainWindowsController::disconnected(std::uint64_t attempt, const LinkEnd& end)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (closed_ || attempt != attempt_)
        return;
    showLinkState("Closed: " + linkEndReason(end));
    ConnectClosedActions actions{[this] { open(); }, [this] { close(); }, {}};
    // Another password is typed in the connect window; the service itself is as it was.
    if (end.cause == LinkEndCause::LoginRefused && type_ != ConnectionKind::Local)
        actions.changePassword = [this] { backToConnectWindow(); };
    showSheet(makeConnectClosedSheet(window(), linkEndReason(end), linkEndDetail(end, place()), this, std::move(actions)));
}

void VDMainWindowsController::backToConnectWindow()
{
    emit connectWindowRequested(type_, QString::fromStdString(host_), port_);
    close();
}

LinkPlace VDMainWindowsController::place() const
{
    const std::string socket = socketPath_.empty() ? contract::localSocketPath(paths::home()).string() : socketPath_;
    return {type_, socket, host_, port_};
}

QString VDMainWindowsController::serviceName() const
{
    const LinkPlace where = place();
    switch (type_) {
    case ConnectionKind::Local: return QString("Local Machine (%1)").arg(QString::fromStdString(where.socketPath));
    case ConnectionKind::Remote: {
        const QString host = QString::fromStdString(host_);
        return QString(host.contains(':') ? "[%1]:%2" : "%1:%2").arg(host).arg(port_);
    }
    case ConnectionKind::USB: return QString("USB device %1").arg(port_);
    case ConnectionKind::None: break;
    }
    return {};
}

void VDMainWindowsController::showLinkState(const QString& state)
{
    if (linkStatus_)
        linkStatus_->setText(serviceName() + QStringLiteral("  \u2014  ") + state);
}

void VDMainWindowsController::showSheet(QDialog* sheet)
{
    dismissSheet();
    sheet_ = sheet;
    sheet->open();
}

void VDMainWindowsController::dismissSheet()
{
    if (!sheet_)
        return;
    // Its buttons' actions belong to the situation it was shown for, not to whatever comes now.
    sheet_->disconnect(this);
    for (auto* child : sheet_->findChildren<QObject*>())
        child->disconnect(this);
    sheet_->hide();
    sheet_->deleteLater();
    sheet_ = nullptr;
}

// --- sections and filter -----------------------------------------------------------------------

QWidget* VDMainWindowsController::shownSection() const
{
    return stack_ ? stack_->currentWidget() : nullptr;
}

void VDMainWindowsController::selectControl(int segment)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (segment < 0 || segment >= static_cast<int>(sections_.size()) || !stack_)
        return;
    auto& section = sections_[static_cast<std::size_t>(segment)];
    if (!section) {
        section = makeSection(segment);
        stack_->addWidget(section);
    }
    stack_->setCurrentWidget(section);
    mainControl_->setSelectedSegment(segment);
    updateViewMenu();
    const VDRecordTableView* table = shownTable();
    overview_->showList({listOf(segment), table ? table->model() : nullptr});
}

VDTunnelDetailViewController* VDMainWindowsController::detailPaneWithFocus() const
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window())
        return nullptr;
    for (QWidget* widget = focus; widget; widget = widget->parentWidget()) {
        if (auto* pane = qobject_cast<VDTunnelDetailViewController*>(widget))
            return pane;
    }
    return nullptr;
}

VDRecordTableView* VDMainWindowsController::shownTable() const
{
    QWidget* section = shownSection();
    return section ? section->findChild<VDRecordTableView*>() : nullptr;
}

QAbstractButton* VDMainWindowsController::shownButton(std::initializer_list<const char*> names) const
{
    QWidget* section = shownSection();
    if (!section)
        return nullptr;
    for (const char* name : names) {
        if (auto* button = section->findChild<QAbstractButton*>(name); button && button->isEnabled())
            return button;
    }
    return nullptr;
}

// A disabled action takes no shortcut either, so the items follow the section as it changes.
void VDMainWindowsController::updateViewMenu()
{
    if (reloadAction_)
        reloadAction_->setEnabled(shownButton({"reloadButton", "DNSRefreshButton"}) != nullptr);
    if (cleanAction_)
        cleanAction_->setEnabled(shownButton({"cleanButton"}) != nullptr);
    if (harExport_)
        harExport_->update();
}

QWidget* VDMainWindowsController::makeSection(int segment)
{
    switch (segment) {
    case RecentRequests:
        return new VDRecTunViewController(idString_, stack_);
    case ActiveConnections:
        return new VDCurTunViewController(idString_, stack_);
    case DNS:
        return new VDDNSViewController(idString_, stack_);
    default:
        return new VDUDPTunListViewController(idString_, stack_);
    }
}

void VDMainWindowsController::filterEdited(const QString& text)
{
    if (const auto processer = this->processer())
        processer->setFilterString(text.toStdString());
}

void VDMainWindowsController::checkFilterSearchTextfield()
{
    const auto processer = this->processer();
    // Text still being typed here wins over whatever another window just set.
    if (!processer || !searchField_ || searchField_->editPending())
        return;
    const QString filter = QString::fromStdString(processer->filterString());
    if (searchField_->text() != filter)
        searchField_->setText(filter);
}

// --- closing -------------------------------------------------------------------------------------

void VDMainWindowsController::tearDown()
{
    if (closed_)
        return;
    closed_ = true;
    dismissSheet();
    if (QWidget* window = this->window()) {
        const auto settings = appSettings();
        settings->setValue(kFrameName, window->saveGeometry());
        syncAppSettings(*settings);
    }
    const auto processer = std::move(processer_);
    if (!processer)
        return;
    processer->setConnectCompleteBlock({});
    processer->setDisconnectBlock({});
    processer->clientManager()->setUSBDaemonBlock({});
    // A newer window with the same id may have bound its own processor meanwhile; that one stays.
    auto& registry = VDDataManager::sharedInstance();
    if (registry.getProcesserOfId(idString_) == processer)
        registry.removeId(idString_);
    else
        processer->disconnect();
}

} // namespace vd
