#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "WindowFixtures.h"
#include "views/VDStatusImages.h"
#include "views/VDUDPTunListViewController.h"

namespace vd {
namespace {

using contract::Command;
using test::idsOf;
using Json = QNComPacket::Dictionary;
using Ids = std::vector<std::int64_t>;
using namespace std::chrono_literals;
using col = VDUDPColumns;

struct UDPFields {
    std::int64_t id = 1;
    std::uint64_t status = 0;
    std::int64_t direction = 0;
    std::string fromHost = "10.0.0.7";
    std::string host = "dns.example";
};

std::string textOf(const UDPFields& s)
{
    return Json{{"id", s.id}, {"status", s.status}, {"direction", s.direction}, {"fromHost", s.fromHost},
                {"fromPort", 50000}, {"host", s.host}, {"port", 53}, {"t_time", 1.5}}
        .dump();
}

std::shared_ptr<const VDUDPTunnelInfo> record(const UDPFields& fields)
{
    return VDUDPTunnelInfo::initWithJSONString(textOf(fields), 1.7e9);
}

TEST(UDPTableModelTest, StatusImagesAndTheAddressColumnsSortByAddressNotByShownText)
{
    VDUDPTunListViewController::Model model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto image = [&](int row) { return model.data(model.index(row, col::kStatus), Qt::DecorationRole).value<QPixmap>().toImage(); };
    model.setRows({record({.id = 1, .status = 2, .direction = 1}), record({.id = 2, .status = 0}),
                   record({.id = 3, .status = 1}), record({.id = 4, .status = 2}),
                   record({.id = 5, .status = 7})});
    // Received wins over a failed status.
    const QImage complete = VDStatusImages::named("complete").toImage();
    EXPECT_EQ((QList<QImage>{image(0), image(1), image(2), image(3), image(4)}),
              (QList<QImage>{complete, VDStatusImages::named("connecting").toImage(), complete, VDStatusImages::named("error").toImage(), QImage()}));
    EXPECT_FALSE(model.flags(model.index(0, col::kId)) & Qt::ItemIsSelectable);

    model.setRows({record({.id = 1, .fromHost = "10.0.0.9", .host = "b.example"}), record({.id = 2, .fromHost = "10.0.0.10", .host = "a.example"}),
                   record({.id = 3, .fromHost = "10.0.0.1", .host = ""})});
    model.sort(col::kServer);
    EXPECT_EQ(idsOf(model.mainArray()), (Ids{3, 2, 1})) << "an empty host (shown as --) first";
    model.sort(col::kClient, Qt::DescendingOrder);
    EXPECT_EQ(idsOf(model.mainArray()), (Ids{1, 2, 3}));
}

// --- the list, fed pushes directly ---------------------------------------------------------------

class UDPListTest : public test::WindowProcesserTest {
protected:
    UDPListTest()
    {
        list.resize(1000, 600);
        list.show();
    }
    void push(const UDPFields& fields) { feed(Command::udpRecordPush, Json{{"tunnel_info", textOf(fields)}}); }
    std::int64_t topId() const { return (*list.model()->rowAt(list.tableView()->rowAt(0)))->id_(); }

    VDUDPTunListViewController list{idString};
};

TEST_F(UDPListTest, NewestFirstFilteredByDestinationOnlyAndUnchangedWhileHidden)
{
    push({.id = 1, .fromHost = "10.0.0.7", .host = "dns.example"});
    push({.id = 2, .fromHost = "192.168.1.20", .host = "time.example"});
    push({.id = 3, .fromHost = "10.0.0.8", .host = "10.0.0.53"});
    EXPECT_EQ(idsOf(list.mainArray()), (Ids{3, 2, 1}));
    // A client's address never matches; the destination's does, in any case.
    filter("10.0.0");
    EXPECT_EQ(idsOf(list.mainArray()), Ids{3});
    filter("TIME");
    EXPECT_EQ(idsOf(list.mainArray()), Ids{2});
    filter("");

    // Off screen nothing changes; what arrived meanwhile shows with the next push.
    list.hide();
    EXPECT_FALSE(list.viewAppeared());
    push({.id = 4});
    filter("nothing matches this");
    EXPECT_EQ(idsOf(list.mainArray()), (Ids{3, 2, 1}));
    processer->setFilterString("");
    list.show();
    push({.id = 5});
    EXPECT_EQ(idsOf(list.mainArray()), (Ids{5, 4, 3, 2, 1}));
}

// How the table keeps its place, at the very start or after a header click, is the tunnel and
// DNS lists' cases; this one checks that the UDP list keeps it too.
TEST_F(UDPListTest, NewRecordsArriveAboveWhileTheTopRecordStaysAtTheTop)
{
    QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    for (std::int64_t id = 1; id <= 60; ++id)
        push({.id = id});
    auto* table = list.tableView();
    table->scrollTo(list.model()->index(30, 0), QAbstractItemView::PositionAtTop);
    ASSERT_EQ(topId(), 30);

    const auto pushes = inserted.count();
    push({.id = 61});
    push({.id = 62});
    EXPECT_EQ(inserted.count(), pushes + 2) << "new records are inserted, the rows below them stay";
    EXPECT_EQ(list.mainArray().front()->id_(), 62);
    EXPECT_EQ(topId(), 30);
    EXPECT_EQ(table->rowViewportPosition(table->rowAt(0)), 0);
}

class UDPListWithServiceTest : public test::RecordListServiceFixture {
protected:
    UDPListWithServiceTest() : RecordListServiceFixture(20ms) {}

    VDUDPTunListViewController list{idString};
};

TEST_F(UDPListWithServiceTest, ThePushRunsOnlyWhileTheListIsShown)
{
    list.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastSwitch(Command::autoPushUDP) == true; }, 5000));
    EXPECT_EQ(commands(Command::autoPushUDP).size(), 1u) << "the push is not switched on before the list shows";
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.mainArray().size() >= 3; }, 10000));
    const auto ids = idsOf(list.mainArray());
    EXPECT_TRUE(std::is_sorted(ids.rbegin(), ids.rend())) << "newest first";
    list.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastSwitch(Command::autoPushUDP) == false; }, 5000));
}

} // namespace
} // namespace vd
