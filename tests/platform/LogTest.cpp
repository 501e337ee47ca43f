#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Log.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

TEST(Log, AnEmptySinkWritesStampedLinesToStderr)
{
    auto previous = log::setSink({});
    testing::internal::CaptureStderr();
    log::error("disk full");
    log::info("second line");
    const std::string written = testing::internal::GetCapturedStderr();
    log::setSink(std::move(previous));
    const std::regex expected(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[error\] disk full\n)"
                              R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[info\] second line\n)");
    EXPECT_TRUE(std::regex_match(written, expected)) << written;
}

// Worker threads keep logging while a test's capture ends. The sanitizers report a line that
// still reaches the capture after it is gone; every line arrives whole and in its thread's order.
TEST(Log, LinesFromManyThreadsArriveWholeInOrderAndACaptureCanEndWhileTheyLog)
{
    std::atomic<long> outside{0};
    auto previous = log::setSink([&](log::Level, std::string_view) { ++outside; });
    std::vector<std::jthread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([w](std::stop_token stop) {
            for (long n = 0; !stop.stop_requested(); ++n)
                log::info(std::to_string(w) + " " + std::to_string(n));
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < deadline) {
        auto capture = std::make_unique<log::Capture>();
        EXPECT_TRUE(test::eventually([&] { return capture->lines().size() > 100; }, 2s));
        std::vector<long> last(4, -1);
        for (const auto& line : capture->lines()) {
            const auto space = line.find(' ');
            ASSERT_TRUE(space == 1 && line[0] >= '0' && line[0] < '4') << line;
            const long n = std::stol(line.substr(2));
            EXPECT_TRUE(last[line[0] - '0'] < 0 || n == last[line[0] - '0'] + 1) << line;
            last[line[0] - '0'] = n;
        }
    }
    // With no capture left, the lines go to the sink that was there before.
    EXPECT_TRUE(test::eventually([&] { return outside.load() > 0; }));
    writers.clear();
    log::setSink(std::move(previous));
}

} // namespace
} // namespace vd
