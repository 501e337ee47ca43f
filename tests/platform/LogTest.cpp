#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Waiting.h"
#include "platform/Log.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::eventually;

TEST(Log, CaptureKeepsTheExactLinesOfEveryLevelInOrder)
{
    log::Capture capture;
    log::info("socket opened");
    log::error("read failed: connection reset");
    log::debug("  leading and trailing spaces  ");
    log::write(log::Level::Info, "");
    log::info(std::string("with\0nul", 8));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"socket opened", "read failed: connection reset",
                                                         "  leading and trailing spaces  ", "",
                                                         std::string("with\0nul", 8)}));
    EXPECT_TRUE(capture.contains("socket opened"));
    EXPECT_FALSE(capture.contains("socket"));
    capture.clear();
    EXPECT_TRUE(capture.lines().empty());
    log::info("after clear");
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"after clear"});

    // A nested capture hands back to the outer one.
    {
        log::Capture inner;
        log::info("inner");
        EXPECT_EQ(inner.lines(), std::vector<std::string>{"inner"});
    }
    log::info("outer");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"after clear", "outer"}));
}

TEST(Log, SetSinkHandsBackThePreviousSink)
{
    std::vector<std::pair<log::Level, std::string>> mine;
    auto previous = log::setSink([&](log::Level level, std::string_view message) { mine.emplace_back(level, message); });
    log::error("to mine");
    auto returned = log::setSink(std::move(previous));
    log::info("not to mine");

    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].first, log::Level::Error);
    EXPECT_EQ(mine[0].second, "to mine");
    // What came back is the sink that was replaced, still working.
    ASSERT_TRUE(returned);
    returned(log::Level::Debug, "called directly");
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[1].second, "called directly");
}

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
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 500;
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
    const std::regex shape(R"(thread (\d+) line (\d+))");
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int t = std::stoi(match[1]);
        const int n = std::stoi(match[2]);
        ASSERT_EQ(n, next[t]) << "thread " << t;
        ++next[t];
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
    int rounds = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        auto capture = std::make_unique<log::Capture>();
        EXPECT_TRUE(eventually([&] { return !capture->lines().empty(); }, 1s));
        capture.reset();
        ++rounds;
    }
    // With no capture left, the lines go to the sink again.
    EXPECT_TRUE(eventually([&] { return outside.load() > 0; }, 5s));
    stop = true;
    for (auto& writer : writers)
        writer.join();
    log::setSink(std::move(previous));
    EXPECT_GT(rounds, 0);
}

} // namespace
} // namespace vd
