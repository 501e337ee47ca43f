#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "views/VDTopTalkersList.h"
#include "views/VDTopTalkersModel.h"
#include "views/VDTrafficChart.h"
#include "views/VDTrafficPanel.h"

namespace vd {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

QString accessibleText(QObject* object, QAccessible::Text kind)
{
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(object);
    return found ? found->text(kind) : QString("(not accessible)");
}

QStringList shownNames(VDTopTalkersList* list)
{
    QStringList names;
    for (const auto& row : list->talkers().rows())
        names << row.name;
    return names;
}

// The panel in a window between two other controls, so Tab has somewhere to come from and go to.
class TrafficPanelTest : public testing::Test {
protected:
    TrafficPanelTest()
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        layout->addWidget(panel);
        layout->addWidget(after);
        window.resize(700, 500);
    }
    void showActive()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void report(double time, TrafficGrowth clients, TrafficGrowth hosts, std::int64_t up = 1536, std::int64_t down = 3 * kMiB)
    {
        panel->addReport({time, up, down, std::move(clients), std::move(hosts)});
    }

    QWidget window;
    QPushButton* before = new QPushButton("Before");
    VDTrafficPanel* panel = new VDTrafficPanel;
    QPushButton* after = new QPushButton("After");
};

TEST_F(TrafficPanelTest, ClickReturnAndSpaceOnARowChooseItsName)
{
    panel->setClientTitles([](const QString& client) { return "Title of " + client; });
    showActive();
    report(0, {{"com.example.browser", 900}, {"com.example.mail", 300}}, {{"a.example", 50}, {"b.example", 70}});
    ASSERT_EQ(shownNames(panel->topHosts()), (QStringList{"b.example", "a.example"}));
    EXPECT_EQ(panel->topClients()->model()->index(0, 0).data().toString(), "Title of com.example.browser");

    QSignalSpy clients(panel, &VDTrafficPanel::clientChosen);
    QSignalSpy hosts(panel, &VDTrafficPanel::hostChosen);
    VDTopTalkersList* list = panel->topHosts();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    list = panel->topClients();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Return);
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(hosts, (QList<QList<QVariant>>{{"a.example"}}));
    EXPECT_EQ(clients, (QList<QList<QVariant>>{{"com.example.mail"}, {"com.example.browser"}})) << "the name, not the title";
}

TEST_F(TrafficPanelTest, ScreenReadersHearNamesSpeedsAndBytes)
{
    showActive();
    report(0, {}, {{"a.example", 2048}});
    EXPECT_EQ(accessibleText(panel, QAccessible::Name), "Traffic");
    EXPECT_EQ(accessibleText(panel->chart(), QAccessible::Name), "Bandwidth Chart");
    EXPECT_EQ(accessibleText(panel->chart(), QAccessible::Description), "Upload 1.5KB/s, Download 3.0MB/s");
    EXPECT_EQ(accessibleText(panel->topClients(), QAccessible::Name), "Top Clients");
    EXPECT_EQ(accessibleText(panel->topHosts(), QAccessible::Name), "Top Hosts");
    QAccessibleInterface* hosts = QAccessible::queryAccessibleInterface(panel->topHosts());
    ASSERT_TRUE(hosts && hosts->tableInterface());
    ASSERT_EQ(hosts->tableInterface()->rowCount(), 1);
    EXPECT_EQ(hosts->tableInterface()->cellAt(0, 0)->text(QAccessible::Name), "a.example, 2.0KB");
}

TEST_F(TrafficPanelTest, TabMovesThroughThePanelAndOutOfIt)
{
    showActive();
    before->setFocus();
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QWidget* focus = QApplication::focusWidget();
        visited << (focus == after ? "After" : focus->accessibleName());
    }
    EXPECT_EQ(visited, (QStringList{"Bandwidth Chart", "Top Clients", "Top Hosts", "After"}));
}

TEST_F(TrafficPanelTest, StacksCatchUpWhenShownAfterReportsArrivedHiddenAndShrinkAsNamesExpire)
{
    QAbstractItemModelTester tester(&panel->topClients()->talkers(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int second = 0; second < 8; ++second)
        report(second, {{"client-" + std::to_string(second), 100 + second}}, {});
    EXPECT_TRUE(panel->topClients()->talkers().rows().empty()) << "no work for a hidden panel's stacks";
    window.show();
    EXPECT_EQ(shownNames(panel->topClients()),
              (QStringList{"client-7", "client-6", "client-5", "client-4", "client-3"}));
    report(8, {{"client-3", 1000}}, {});
    EXPECT_EQ(shownNames(panel->topClients()),
              (QStringList{"client-3", "client-7", "client-6", "client-5", "client-4"}));
    report(11 * 60, {{"late", 1}}, {});
    EXPECT_EQ(shownNames(panel->topClients()), (QStringList{"late"}));
}

TEST(TopTalkersModelTest, AnnouncesOnlyRowsThatLookDifferent)
{
    VDTopTalkersModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    using Row = VDTopTalkersModel::Row;
    model.setRows({Row{"a", "a", 10 * kMiB}, Row{"b", "b", 5 * kMiB}, Row{"c", "c", kMiB}});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setRows({Row{"a", "a", 10 * kMiB + 100}, Row{"b", "b", 5 * kMiB + 10}, Row{"c", "c", kMiB + 5}});
    EXPECT_EQ(changed.count(), 0) << "the same texts and bars";
    model.setRows({Row{"a", "a", 10 * kMiB}, Row{"b", "b", 5 * kMiB}, Row{"c", "c", 2 * kMiB}});
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 2);
    EXPECT_EQ(changed[0][1].toModelIndex().row(), 2);
    EXPECT_EQ(model.index(2).data(Qt::AccessibleTextRole).toString(), "c, 2.0MB");
    EXPECT_DOUBLE_EQ(model.index(2).data(VDTopTalkersModel::ShareRole).toDouble(), 0.2);
}

TEST(TrafficChartTest, PaintsEmptyOneFullAndStillSeriesOnAScaleOfRoundSteps)
{
    struct Case {
        const char* what;
        int points;
        std::int64_t download;
        std::int64_t scaleTop;
    };
    QImage empty;
    for (const Case& c : {Case{"no point", 0, 0, 1024}, Case{"one point", 1, 3 * kMiB + kMiB / 2, 4 * kMiB},
                          Case{"a full ring", static_cast<int>(VDTrafficHistory::kCapacity), 999, 1000},
                          Case{"still lines", 600, 0, 1024}, Case{"the largest speed", 2, std::numeric_limits<std::int64_t>::max(), 0}}) {
        VDTrafficChart chart;
        chart.resize(500, 200);
        for (int i = 0; i < c.points; ++i)
            chart.append({i * 0.25, c.download / 2, c.download});
        const QImage image = chart.grab().toImage();
        ASSERT_FALSE(image.isNull()) << c.what;
        if (c.scaleTop > 0) {
            EXPECT_EQ(chart.scaleTop(), c.scaleTop) << c.what;
        } else {
            EXPECT_GE(chart.scaleTop(), c.download / 2) << c.what;
        }
        if (c.points == 0) {
            empty = image;
        } else if (c.download > 0) {
            EXPECT_NE(image, empty) << c.what << ": the series shows";
        }
    }
}

// A new point moves the pixels already drawn and paints only a strip; what the screen shows
// after many reports must be what drawing everything afresh gives, also when reports come
// between two pixel columns and when the speed axis changes its scale midway.
TEST(TrafficChartTest, WhatMovedPixelsShowEqualsAFullRedraw)
{
    VDTrafficChart chart;
    chart.resize(700, 260);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    const std::int64_t scaleBefore = chart.scaleTop();
    // 350 seconds: every point is still inside the window, so none leaves at the left edge.
    for (int i = 0; i < 500; ++i) {
        const std::int64_t rise = i < 300 ? 0 : 2 * kMiB;
        chart.append({i * 0.7, 100000 + 3000 * (i % 37), 400000 + 5000 * ((i * 7) % 50) + rise});
        QCoreApplication::processEvents();
    }
    EXPECT_NE(chart.scaleTop(), scaleBefore);
    const QImage shown = chart.screen()->grabWindow(chart.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage redrawn = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), redrawn.size());
    EXPECT_TRUE(shown == redrawn);
}

TEST(TrafficChartTest, TimesAtTheEndsOfTheRangeRedrawInsteadOfOverflowing)
{
    VDTrafficChart chart;
    chart.resize(400, 200);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    for (const double time : {-1e300, 0.0, 1e300}) {
        chart.append({time, 1, 1});
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(chart.history().size(), 1u);
}

} // namespace
} // namespace vd
