#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/GuiHeartbeat.h"
#include "platform/Log.h"

namespace {

using namespace std::chrono_literals;

// The stalls the heartbeat logged, in milliseconds, in the order they were logged.
std::vector<long> loggedStalls(const vd::log::Capture& capture)
{
    static const std::regex line("GUI thread stalled for (\\d+) ms");
    std::vector<long> stalls;
    for (const std::string& text : capture.lines()) {
        std::smatch match;
        if (std::regex_match(text, match, line))
            stalls.push_back(std::stol(match[1]));
    }
    return stalls;
}

TEST(GuiHeartbeatTest, AThreadHeldFromItsOwnLoopIsReportedOnceWithHowLongItWasHeld)
{
    vd::log::Capture capture;
    vd::GuiHeartbeat heartbeat;
    // Held from inside its own event loop, as a slow slot would hold it: 600 ms, of which the
    // tick due during it saw at least all but one interval. A busy machine may add short stalls
    // of its own, never one this long.
    QTimer::singleShot(0, [] { std::this_thread::sleep_for(600ms); });
    const auto longStalls = [&] {
        std::vector<long> stalls = loggedStalls(capture);
        std::erase_if(stalls, [](long stall) { return stall < 500; });
        return stalls;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !longStalls().empty(); }, 5000))
        << "lines: " << capture.lines().size();
    const std::vector<long> stalls = longStalls();
    ASSERT_EQ(stalls.size(), 1u);
    EXPECT_LT(stalls[0], 1500);
    // Ticks on time, or late by less than the threshold, are normal work and never told.
    for (long stall : loggedStalls(capture))
        EXPECT_GE(stall, vd::GuiHeartbeat::kThreshold.count());
}

} // namespace
