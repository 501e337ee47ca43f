#include <atomic>
#include <functional>
#include <thread>

#include <QTest>

#include "WindowFixtures.h"
#include "app/ShellFixture.h"
#include "data/VDNotifications.h"
#include "platform/NotificationCenter.h"
#include "views/VDCurTunListViewController.h"
#include "views/VDListPause.h"

namespace vd {
namespace {

using contract::Command;
using test::records;
using Ids = std::vector<std::int64_t>;

// An active list that counts how often it copies its processor's tunnels: once per reload
// that did not return early.
class CountingList : public VDCurTunListViewController {
public:
    using VDCurTunListViewController::VDCurTunListViewController;
    mutable std::atomic<int> copies{0};

protected:
    TunnelList tunnelsOf(const VDDataProcesser& processer) const override
    {
        ++copies;
        return VDCurTunListViewController::tunnelsOf(processer);
    }
};

// The active list of one window, in a window with its pause, beside a second window's
// processor whose refreshes every view hears as well.
class WindowReloadsTest : public test::WindowProcesserTest {
protected:
    WindowReloadsTest()
    {
        window.resize(1000, 600);
        list->resize(1000, 600);
    }
    ~WindowReloadsTest() override { VDDataManager::sharedInstance().removeId(otherId); }

    void SetUp() override
    {
        window.show();
        report(Command::currentTunnels, records({1, 2, 3}));
        ASSERT_EQ(shownIds(), (Ids{1, 2, 3}));
        list->copies = 0;
    }
    Ids shownIds() const { return test::idsOf(list->mainArray()); }
    int copiesAfter(const std::function<void()>& act)
    {
        const int before = list->copies;
        act();
        settle();
        return list->copies - before;
    }

    const std::string otherId = idString + "-OTHER";
    const std::shared_ptr<VDDataProcesser> other = VDDataManager::sharedInstance().bindProcesserId(otherId);
    QWidget window;
    VDListPause* pause = new VDListPause(&window);
    CountingList* list = new CountingList(idString, &window);
};

// Only what the window's own processor changed, in what the list shows, costs it a reload.
TEST_F(WindowReloadsTest, OnlyItsOwnProcessorsChangesReloadTheList)
{
    const auto post = [](const char* name) { NotificationCenter::defaultCenter()->post(name); };
    const struct {
        const char* what;
        std::function<void()> act;
        int copies;
    } cases[] = {
        {"the other window's report", [&] { other->processPacket(test::report(Command::currentTunnels, records({7}))); }, 0},
        {"the other window's filter text", [&] { other->setFilterString("host7"); }, 0},
        {"a client chosen in the other window", [&] { other->setCurrentFilterBundleId("com.app1"); post(kVDCurrentTunnelRefreshed); }, 0},
        {"a refresh with nothing changed", [&] { post(kVDCurrentTunnelRefreshed); }, 0},
        {"its own report", [&] { processer->processPacket(test::report(Command::currentTunnels, records({1, 2, 3, 5}))); }, 1},
        {"its own filter text", [&] { processer->setFilterString("host"); }, 1},
        {"a client chosen in its own sidebar", [&] { processer->setCurrentFilterBundleId("com.app1"); post(kVDCurrentTunnelRefreshed); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(copiesAfter(c.act), c.copies);
    }
    // What the list shows is its own window's: ids 1, 3 and 5 are of the client chosen.
    EXPECT_EQ(shownIds(), (Ids{1, 3, 5}));
}

// Paused, the window's reports wait and other windows' are not even held; resuming shows what
// arrived meanwhile, and a filter change shows it at once.
TEST_F(WindowReloadsTest, PausedReportsWaitUntilResumedAndAFilterChangeStillReloads)
{
    pause->setPaused(true);
    EXPECT_EQ(copiesAfter([&] {
        processer->processPacket(test::report(Command::currentTunnels, records({1, 2, 3, 4})));
        other->processPacket(test::report(Command::currentTunnels, records({8})));
    }), 0);
    EXPECT_EQ(shownIds(), (Ids{1, 2, 3}));

    EXPECT_EQ(copiesAfter([&] { pause->setPaused(false); }), 1);
    EXPECT_EQ(shownIds(), (Ids{1, 2, 3, 4}));

    pause->setPaused(true);
    EXPECT_EQ(copiesAfter([&] {
        processer->processPacket(test::report(Command::currentTunnels, records({2, 6})));
        processer->setFilterString("host2");
    }), 1);
    EXPECT_EQ(shownIds(), Ids{2});
    EXPECT_EQ(copiesAfter([&] { pause->setPaused(false); }), 0) << "nothing arrived after the filter's reload";
}

// Reports of both processors from threads of their own while the GUI thread reloads: a check
// made before queuing never drops the reload of a change that raced with it, so the list ends
// on its own processor's last report.
TEST_F(WindowReloadsTest, ReportsRacingWithReloadsAreNeverMissed)
{
    const auto hammer = [](VDDataProcesser& target, std::int64_t offset) {
        for (std::int64_t round = 0; round < 300; ++round)
            target.processPacket(test::report(Command::currentTunnels, records({offset + round, offset + round + 1})));
    };
    std::atomic<int> running{2};
    std::thread own([&] {
        hammer(*processer, 0);
        processer->processPacket(test::report(Command::currentTunnels, records({41, 42, 43})));
        --running;
    });
    std::thread others([&] {
        hammer(*other, 1000);
        --running;
    });
    while (running > 0)
        QCoreApplication::processEvents();
    own.join();
    others.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownIds() == Ids{41, 42, 43}; }, 5000)) << ::testing::PrintToString(shownIds());
}

} // namespace
} // namespace vd
