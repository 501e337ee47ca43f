#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace vd::fuzz {

// A relay between a client and a server on unix sockets that keeps every byte the server sends,
// so seeds are the very bytes a dashboard receives. One connection; runs on its own thread.
class TrafficRecorder {
public:
    TrafficRecorder(std::filesystem::path listenPath, std::filesystem::path serverPath);
    ~TrafficRecorder();
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    const std::filesystem::path& path() const { return listenPath_; }
    std::vector<std::uint8_t> serverBytes() const;

private:
    void relay();

    std::filesystem::path listenPath_;
    std::filesystem::path serverPath_;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> serverBytes_;
    std::thread thread_;
};

} // namespace vd::fuzz
