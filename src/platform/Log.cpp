#include "Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace vd::log {
namespace {

const char* levelName(Level level)
{
    switch (level) {
    case Level::Debug: return "debug";
    case Level::Info: return "info";
    case Level::Error: return "error";
    }
    return "info";
}

void writeToStderr(Level level, std::string_view message)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One fprintf per line, so lines from different threads never interleave.
    std::fprintf(stderr, "%s.%03d [%s] %.*s\n", stamp, static_cast<int>(millis), levelName(level),
                 static_cast<int>(message.size()), message.data());
}

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

Sink& currentSink()
{
    static Sink sink;
    return sink;
}

} // namespace

// The sink runs under the lock, so replacing it waits for writes under way: a capture that ends
// while other threads log is never written to afterwards. Sinks must not log themselves.
void write(Level level, std::string_view message)
{
    std::lock_guard lock(sinkMutex());
    if (const Sink& sink = currentSink())
        sink(level, message);
    else
        writeToStderr(level, message);
}

Sink setSink(Sink sink)
{
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

Capture::Capture()
{
    previous_ = setSink([this](Level, std::string_view message) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message);
    });
}

Capture::~Capture()
{
    setSink(std::move(previous_));
}

std::vector<std::string> Capture::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

bool Capture::contains(std::string_view line) const
{
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

void Capture::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace vd::log
