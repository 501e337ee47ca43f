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

TEST(Log, LinesFromManyThreadsAllArriveWholeAndInEachThreadsOrder)
{
    constexpr int kThreads = 8, kLinesEach = 500;
    log::Capture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int n = 0; n < kLinesEach; ++n)
                log::info("thread " + std::to_string(t) + " line " + std::to_string(n));
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        ASSERT_TRUE(line.size() > 7 && line[7] >= '0' && line[7] < '0' + kThreads) << line;
        const int t = line[7] - '0';
        ASSERT_EQ(line, "thread " + std::to_string(t) + " line " + std::to_string(next[t]++));
    }
}

TEST(Log, ACaptureCanEndWhileOtherThreadsLog)
{
    // Worker threads keep logging while a test's capture ends. The sanitizers report a line
    // that still reaches the capture after it is gone.
    std::atomic<long> outside{0};
    auto previous = log::setSink([&](log::Level, std::string_view) { ++outside; });
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&] {
            while (!stop.load())
                log::info("busy");
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < deadline) {
        auto capture = std::make_unique<log::Capture>();
        EXPECT_TRUE(test::eventually([&] { return capture->contains("busy"); }, 1s));
    }
    // With no capture left, the lines go to the sink that was there before.
    EXPECT_TRUE(test::eventually([&] { return outside.load() > 0; }));
    stop = true;
    for (auto& writer : writers)
        writer.join();
    log::setSink(std::move(previous));
}

} // namespace
} // namespace vd
