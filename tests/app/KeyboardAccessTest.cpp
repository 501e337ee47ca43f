#include <algorithm>

#include <QAccessible>
#include <QToolButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSplitter>

#include "ShellFixture.h"
#include "support/WidgetProbe.h"
#include "app/AppSettings.h"
#include "app/VDAboutWindowController.h"
#include "app/VDFilterField.h"
#include "app/VDStartWindowController.h"
#include "views/VDBaseTunViewController.h"
#include "views/VDFindBar.h"
#include "views/VDRecordTableView.h"
#include "views/VDSegmentedControl.h"
#include "views/VDSidebarYield.h"
#include "views/VDTunnelColumns.h"
#include "views/VDTunnelDetailViewController.h"
#include "views/VDUserDefaults.h"

namespace vd::test {
namespace {

constexpr const char* kActiveColumnsName = "com.lumenforge.vantordashboard.currenttunnel.tableview";

QAccessibleInterface* accessible(QObject* object)
{
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(found, nullptr);
    return found;
}

// What a screen reader reaches by Tab or by an action but cannot name, as "Class objectName".
QStringList unnamedControls(QWidget& window)
{
    QStringList unnamed;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        if (!control)
            continue;
        QStringList actions = control->actionInterface() ? control->actionInterface()->actionNames() : QStringList();
        actions.removeAll(QAccessibleActionInterface::setFocusAction());
        const bool reachable = (widget->focusPolicy() & Qt::TabFocus) || !actions.isEmpty();
        if (reachable && control->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString("%1 %2").arg(widget->metaObject()->className(), widget->objectName());
    }
    return unnamed;
}

// Selects a segment the way a screen reader does: by the default action of its tab.
void activate(QAbstractButton* segment)
{
    QAccessibleInterface* tab = accessible(segment);
    ASSERT_EQ(tab->role(), QAccessible::PageTab) << segment->text().toStdString();
    ASSERT_TRUE(tab->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// The real program, its local window on the simulated service.
class KeyboardAccessTest : public DelegateTest {
protected:
    void SetUp() override
    {
        delegate_.createLocalWindow();
        window_ = delegate_.localWindow();
        ASSERT_TRUE(waitFor([&] { return connected(*window_); }));
        window_->window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_->window()));
    }

    VDRecordTableView* shownTable() const
    {
        for (auto* table : window_->shownSection()->findChildren<VDRecordTableView*>()) {
            if (table->isVisibleTo(window_->window()))
                return table;
        }
        return nullptr;
    }

    // Opens the first record of the shown list in the detail pane.
    VDTunnelDetailViewController* openFirstRecord() const
    {
        VDRecordTableView* table = shownTable();
        EXPECT_TRUE(waitFor([&] { return table->model()->rowCount() > 0; }));
        table->selectRow(0);
        auto* pane = window_->shownSection()->findChild<VDTunnelDetailViewController*>();
        EXPECT_TRUE(pane && waitFor([&] { return pane->isVisible(); }));
        return pane;
    }

    void press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }

    QAction* viewMenuItem(const QString& text) const
    {
        for (QAction* item : window_->window()->findChild<QMenuBar*>()->actions()) {
            if (item->text() == "&View")
                return menuItem(*item->menu(), text);
        }
        return nullptr;
    }

    VDMainWindowsController* window_ = nullptr;
};

TEST_F(KeyboardAccessTest, EveryWindowNamesItsControlsAndItsTabsSwitchByTheirAccessibleAction)
{
    VDSegmentedControl& sections = *window_->mainControl();
    EXPECT_EQ(accessible(&sections)->role(), QAccessible::PageTabList);
    for (int segment : {VDMainWindowsController::DNS, VDMainWindowsController::UDP, VDMainWindowsController::RecentRequests,
                        VDMainWindowsController::ActiveConnections}) {
        SCOPED_TRACE(segment);
        activate(sections.segment(segment));
        ASSERT_EQ(window_->shownSection(), window_->section(segment));
        EXPECT_EQ(sections.selectedSegment(), segment);
        EXPECT_TRUE(accessible(sections.segment(segment))->state().selected);
        EXPECT_EQ(unnamedControls(*window_->window()), QStringList());
    }

    // A record opens the detail pane: its tabs, arrow and text views are walked as well.
    auto* pane = openFirstRecord();
    ASSERT_NE(pane, nullptr);
    VDSegmentedControl* detail = pane->segmentedControl();
    for (int tab = 0; tab < detail->segmentCount(); ++tab) {
        if (!detail->segment(tab)->isEnabled())
            continue;
        SCOPED_TRACE(detail->segment(tab)->text().toStdString());
        activate(detail->segment(tab));
        EXPECT_EQ(detail->selectedSegment(), tab);
        EXPECT_EQ(unnamedControls(*window_->window()), QStringList());
    }

    delegate_.showConnectWindow();
    delegate_.about();
    for (VDWindowController* other : std::initializer_list<VDWindowController*>{delegate_.connectWindow(), delegate_.aboutWindow()}) {
        SCOPED_TRACE(other->window()->metaObject()->className());
        EXPECT_EQ(unnamedControls(*other->window()), QStringList());
    }
    // Escape closes About.
    QWidget* about = delegate_.aboutWindow()->window();
    about->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    press(about, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !about->isVisible(); }));
}

TEST_F(KeyboardAccessTest, ShortcutsReachEverySectionAndTabLeavesEveryList)
{
    QWidget* window = window_->window();
    for (int segment : {VDMainWindowsController::RecentRequests, VDMainWindowsController::ActiveConnections,
                        VDMainWindowsController::DNS, VDMainWindowsController::UDP}) {
        SCOPED_TRACE(segment);
        press(window, Qt::Key_1 + segment, Qt::ControlModifier);
        ASSERT_EQ(window_->shownSection(), window_->section(segment));
        EXPECT_EQ(window_->mainControl()->selectedSegment(), segment);
        // Reload in every list the service can reload; Clean only in Recent Requests.
        EXPECT_EQ(viewMenuItem("Reload")->isEnabled(), segment != VDMainWindowsController::UDP);
        EXPECT_EQ(viewMenuItem("Clean")->isEnabled(), segment == VDMainWindowsController::RecentRequests);

        VDRecordTableView* table = shownTable();
        ASSERT_NE(table, nullptr);
        EXPECT_FALSE(accessible(table)->text(QAccessible::Name).isEmpty());
        for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                                Qt::KeyboardModifiers(Qt::ControlModifier),
                                                Qt::ControlModifier | Qt::ShiftModifier}) {
            table->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(table->hasFocus());
            press(table, modifiers & Qt::ShiftModifier ? Qt::Key_Backtab : Qt::Key_Tab, modifiers);
            EXPECT_FALSE(table->hasFocus()) << "Tab stays in the list, modifiers " << modifiers.toInt();
        }
    }

    // Ctrl+F goes to the filter; Escape there empties it at once, and the list follows.
    press(window, Qt::Key_F, Qt::ControlModifier);
    VDFilterField* filter = window_->searchField();
    ASSERT_TRUE(filter->hasFocus());
    QSignalSpy edits(filter, &VDFilterField::filterEdited);
    QTest::keyClicks(filter, "example");
    for (auto* clear : filter->findChildren<QToolButton*>())
        EXPECT_EQ(accessible(clear)->text(QAccessible::Name), "Clear Filter");
    press(filter, Qt::Key_Escape);
    EXPECT_TRUE(filter->text().isEmpty());
    ASSERT_FALSE(edits.isEmpty());
    EXPECT_EQ(edits.last().at(0).toString(), QString());
}

TEST_F(KeyboardAccessTest, CtrlFFindsInTheDetailPaneWhileFocusIsInItAndFiltersEverywhereElse)
{
    VDRecordTableView* table = shownTable();
    auto* pane = openFirstRecord();
    ASSERT_NE(pane, nullptr);
    VDFindBar& bar = *pane->findBar();

    table->setFocus(Qt::OtherFocusReason);
    press(table, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(window_->searchField()->hasFocus());
    EXPECT_FALSE(bar.isVisible());

    activate(pane->segmentedControl()->segment(VDTunnelDetailViewController::kTime));
    auto* time = pane->contentView()->findChild<QPlainTextEdit*>();
    ASSERT_NE(time, nullptr);
    time->setFocus(Qt::OtherFocusReason);
    press(time, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar.isVisible());
    ASSERT_TRUE(bar.queryField()->hasFocus());
    EXPECT_TRUE(window_->searchField()->text().isEmpty());
    QTest::keyClicks(bar.queryField(), "s");
    EXPECT_TRUE(bar.countLabel()->text().startsWith("1 of ")) << bar.countLabel()->text().toStdString();
    EXPECT_EQ(unnamedControls(*window_->window()), QStringList());
    // Tab goes on from the query through the bar's buttons.
    press(bar.queryField(), Qt::Key_Tab);
    EXPECT_TRUE(bar.isAncestorOf(QApplication::focusWidget())) << QApplication::focusWidget()->metaObject()->className();

    press(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(bar.isVisible());
    EXPECT_TRUE(time->hasFocus());
    // Back in the list, Ctrl+F filters again.
    table->setFocus(Qt::OtherFocusReason);
    press(table, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(window_->searchField()->hasFocus());
    EXPECT_FALSE(bar.isVisible());
}

TEST_F(KeyboardAccessTest, TheKeyboardActsOnTheCurrentRowAsTheMenuDoes)
{
    press(window_->window(), Qt::Key_2, Qt::ControlModifier);
    VDRecordTableView* table = shownTable();
    QAccessibleTableInterface* cells = accessible(table)->tableInterface();
    ASSERT_NE(cells, nullptr);
    // The status column is an image; it reads as its status.
    ASSERT_TRUE(waitFor([&] { return table->model()->rowCount() > 0; }));
    QAccessibleInterface* status = cells->cellAt(0, 0);
    ASSERT_NE(status, nullptr);
    const auto headers = status->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers.front()->text(QAccessible::Name), "Status");
    // Qt makes the header cell for the caller and keeps no hold on it.
    QAccessible::deleteAccessibleInterface(QAccessible::registerAccessibleInterface(headers.front()));
    EXPECT_TRUE(QStringList({"Active", "Completed", "Failed"}).contains(status->text(QAccessible::Name)))
        << status->text(QAccessible::Name).toStdString();

    table->setFocus(Qt::OtherFocusReason);
    table->setCurrentIndex(table->model()->index(0, 1));
    const qint64 id = table->model()->index(0, 1).data().toLongLong();
    press(table, Qt::Key_Menu);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "the Menu key opens the row's menu";
    EXPECT_EQ(menu->actions().front()->text(), "Kill Connection");
    menu->close();
    press(table, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(qobject_cast<QMenu*>(QApplication::activePopupWidget()), nullptr) << "Shift+F10 opens it too";
    QApplication::activePopupWidget()->close();

    // Delete kills the selected active connection, as "Kill Connection" does.
    press(table, Qt::Key_Delete);
    ASSERT_TRUE(waitFor([&] {
        for (const auto& packet : sim_.received()) {
            if (packet.value("t", 0) == 18 && packet["d"].value("tunnel_id", std::int64_t{-1}) == id)
                return true;
        }
        return false;
    }));
}

TEST_F(KeyboardAccessTest, AWindowOfAnotherServiceOpensBesideTheFirstAndEachStatusBarNamesItsService)
{
    VDMainWindowsController& remote = openRemote();
    auto statusOf = [](const VDMainWindowsController& window) {
        return window.window()->findChild<QLabel*>("linkStatus")->text();
    };
    EXPECT_NE(remote.window()->pos(), window_->window()->pos());
    EXPECT_TRUE(remote.window()->screen()->availableGeometry().contains(remote.window()->geometry().topLeft()));

    const QString local = "Local Machine (" + QString::fromStdString((dir_ / "db.connect").string()) + ")";
    EXPECT_TRUE(waitFor([&] { return statusOf(*window_) == local + QString::fromUtf8("  \u2014  Connected"); }))
        << statusOf(*window_).toStdString();
    const QString remoteConnected = QString("127.0.0.1:%1").arg(sim_.tcpPort()) + QString::fromUtf8("  \u2014  Connected");
    EXPECT_TRUE(waitFor([&] { return statusOf(remote) == remoteConnected; })) << statusOf(remote).toStdString();

    sim_.closeAllConnections();
    EXPECT_TRUE(waitFor([&] { return statusOf(*window_).startsWith(local + QString::fromUtf8("  \u2014  Closed: ")); }))
        << statusOf(*window_).toStdString();
}

// Layout: the window at its first start, at its smallest, across a restart and in a dark theme.
using WindowLayoutTest = KeyboardAccessTest;

TEST_F(WindowLayoutTest, ColumnsFitTheirTitlesAndRowsInSightAndEverySectionShrinksInsideTheWindow)
{
    QWidget* window = window_->window();
    for (int segment : {VDMainWindowsController::ActiveConnections, VDMainWindowsController::RecentRequests,
                        VDMainWindowsController::DNS, VDMainWindowsController::UDP}) {
        SCOPED_TRACE(segment);
        window_->selectControl(segment);
        VDRecordTableView* table = shownTable();
        QHeaderView* header = table->horizontalHeader();
        for (int column = 0; column < header->count(); ++column)
            EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << "title cut in column " << column;

        // The sidebar gives way first.
        auto* split = window_->shownSection()->findChild<QSplitter*>();
        // At least 500 x 400, more only where the content needs it.
        window->resize(500, 400);
        ASSERT_TRUE(waitFor([&] { return window->size() == window->minimumSize(); })) << window->size().width();
        EXPECT_TRUE(window->size().boundedTo(QSize(560, 400)) == window->size()) << window->size().width();
        const QRect shown(table->mapTo(window, QPoint()), table->size());
        EXPECT_TRUE(window->rect().contains(shown)) << "the table, its scroll bars with it, leaves the window";
        EXPECT_TRUE(!split || waitFor([&] { return split->sizes().front() == 0; }));
        window->resize(1000, 700);
    }

    // An open detail pane keeps its least height: the window keeps room for it rather than cut it.
    window_->selectControl(VDMainWindowsController::ActiveConnections);
    auto* pane = openFirstRecord();
    ASSERT_NE(pane, nullptr);
    window->resize(window->minimumSize());
    QTest::qWait(50);
    EXPECT_TRUE(window->rect().contains(QRect(pane->mapTo(window, QPoint()), pane->size())))
        << "the detail pane is cut at " << window->height();

    // The method column ("SOCKS5", "HTTPS") grows to its rows in sight, the first time they come.
    window_->selectControl(VDMainWindowsController::ActiveConnections);
    VDRecordTableView* table = shownTable();
    QStyleOptionViewItem option;
    option.font = table->font();
    const auto widest = [&] {
        int width = 0;
        for (int row = std::max(table->rowAt(0), 0); row <= table->rowAt(table->viewport()->height() - 1); ++row)
            width = std::max(width, table->itemDelegate()->sizeHint(option, table->model()->index(row, VDTunnelColumns::kMethod)).width());
        return width;
    };
    ASSERT_TRUE(waitFor([&] { return table->model()->rowCount() > 0; }));
    EXPECT_TRUE(waitFor([&] { return table->columnWidth(VDTunnelColumns::kMethod) >= widest(); }))
        << table->columnWidth(VDTunnelColumns::kMethod) << " < " << widest();

    // A first start (no remembered frame, no other window open) asks for room for the sidebar
    // and every column, as far as the screen's free area allows.
    window->hide();
    appSettings()->remove("VantorDabashboardMainWindow");
    QWidget* first = openRemote().window();
    EXPECT_GE(first->sizeHint().width(), VDBaseTunViewController::kSidebarMinimumWidth + table->horizontalHeader()->length());
    EXPECT_EQ(first->width(), std::min(first->sizeHint().width(), first->maximumWidth()));
    EXPECT_TRUE(first->screen()->availableGeometry().contains(first->geometry()));
}

TEST(SidebarYieldTest, TheSidebarFoldsWhenTheListLacksItsRoomAndReturnsAtItsWidthUnlessTheUserOpenedIt)
{
    QSplitter split;
    split.addWidget(new QWidget);
    split.addWidget(new QWidget);
    split.setCollapsible(0, true);
    split.setStretchFactor(1, 1);
    new VDSidebarYield(split, 700);
    split.resize(1000, 300);
    split.show();
    split.setSizes({230, 770});
    const auto sidebar = [&] { return split.sizes().front(); };

    split.resize(800, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sidebar() == 0; }));
    split.resize(920, 300);
    QTest::qWait(20);
    EXPECT_EQ(sidebar(), 0) << "back before the list has its room beside it";
    split.resize(1000, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sidebar() == 230; })) << sidebar();

    // Opened by the user while folded: it stays, narrow window or not.
    split.resize(800, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sidebar() == 0; }));
    split.setSizes({150, 650});
    emit split.splitterMoved(150, 1);
    split.resize(790, 300);
    QTest::qWait(20);
    EXPECT_GT(sidebar(), 0);
}

TEST_F(WindowLayoutTest, ColumnWidthsHiddenColumnsAndSortSurviveARestart)
{
    const auto forget = [] { userDefaults()->remove(kActiveColumnsName); };
    forget();
    VDRecordTableView* table = shownTable();
    QHeaderView* header = table->horizontalHeader();
    header->resizeSection(VDTunnelColumns::kPolicy, 333);
    header->setSortIndicator(VDTunnelColumns::kId, Qt::DescendingOrder);

    // The header's menu shows every column by its title ("Status" for the image column) and hides one.
    emit header->customContextMenuRequested(QPoint(10, 5));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    const QStringList titles = menuTexts(*menu);
    EXPECT_EQ(titles, QStringList({"Status", "ID", "Date", "Client", "Status", "Policy", "Upload", "Download", "Duration",
                                   "Method", "Server", "Code", "URL/Path", "Content Type", "Content Length"}));
    // The columns read from the HTTP exchange are offered, not shown.
    EXPECT_FALSE(menu->actions().at(VDTunnelColumns::kCode)->isChecked());
    menu->close();
    // The View menu's "Columns" holds the same items, for the keyboard.
    QMenu* columns = viewMenuItem("Columns")->menu();
    ASSERT_NE(columns, nullptr);
    emit columns->aboutToShow();
    ASSERT_EQ(columns->actions().size(), titles.size());
    columns->actions().at(VDTunnelColumns::kServer)->trigger();
    EXPECT_TRUE(header->isSectionHidden(VDTunnelColumns::kServer));
    ASSERT_TRUE(waitFor([&] { return userDefaults()->contains(kActiveColumnsName); }));

    // A window opened now reads them from the user defaults.
    VDMainWindowsController& restarted = openRemote();
    auto* again = restarted.section(VDMainWindowsController::ActiveConnections)->findChild<VDRecordTableView*>();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->columnWidth(VDTunnelColumns::kPolicy), 333);
    EXPECT_TRUE(again->horizontalHeader()->isSectionHidden(VDTunnelColumns::kServer));
    EXPECT_EQ(again->horizontalHeader()->sortIndicatorSection(), VDTunnelColumns::kId);
    EXPECT_EQ(again->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    ASSERT_TRUE(waitFor([&] { return again->model()->rowCount() > 1; }));
    EXPECT_GT(again->model()->index(0, VDTunnelColumns::kId).data().toLongLong(),
              again->model()->index(1, VDTunnelColumns::kId).data().toLongLong()) << "the rows follow the restored sort";
    forget();
}

TEST_F(WindowLayoutTest, ADarkPaletteLeavesNoLightPatchInTheWindow)
{
    const QPalette light = QApplication::palette();
    // Every role derived from a dark button and window colour: light text on near-black ground.
    QApplication::setPalette(QPalette(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b)));
    VDMainWindowsController& shown = openRemote();
    ASSERT_TRUE(waitFor([&] { return connected(shown); }));
    auto* table = shown.shownSection()->findChild<VDRecordTableView*>();
    ASSERT_TRUE(waitFor([&] { return table->model()->rowCount() > 0; }));
    table->selectRow(0);
    QTest::qWait(100);
    const QImage image = shown.window()->grab().toImage();
    QApplication::setPalette(light);
    qint64 bright = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            bright += QColor(image.pixel(x, y)).lightness() > 200;
    }
    // Light text on dark ground: letters are a small share of the pixels; a light pane is not.
    EXPECT_LT(bright * 10, qint64(image.width()) * image.height()) << bright << " bright pixels";
}

} // namespace
} // namespace vd::test
