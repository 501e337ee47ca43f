#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vd::log {

enum class Level { Debug, Info, Error };

// One event, one line. The default sink writes it to stderr with the time and level.
void write(Level level, std::string_view message);
inline void debug(std::string_view message) { write(Level::Debug, message); }
inline void info(std::string_view message) { write(Level::Info, message); }
inline void error(std::string_view message) { write(Level::Error, message); }

using Sink = std::function<void(Level, std::string_view)>;
// Replaces the sink; an empty one brings back stderr. Returns the previous sink.
Sink setSink(Sink sink);

// Keeps every message written during its lifetime, for tests that assert exact lines.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view line) const;
    void clear();

private:
    Sink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace vd::log
