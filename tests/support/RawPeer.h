#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vd::test {

// A hand-driven peer on a unix socket: the test decides every byte it sends and reads what
// arrives. Blocking calls with time limits, so a test never hangs.
class RawPeer {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit RawPeer(std::filesystem::path socketPath);
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    const std::filesystem::path& path() const { return path_; }

    bool accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool send(const Bytes& bytes);
    bool send(const std::string& bytes);
    // Bytes up to and including the next 0xDB 0xBC, or nothing when none arrives in time.
    std::optional<Bytes> readPacket(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True when the client closed its end (reads end of stream) within the time.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Stops reading, so the client's writes back up.
    void closeConnection();

private:
    bool readMore(std::chrono::milliseconds timeout);

    std::filesystem::path path_;
    int listener_ = -1;
    int connection_ = -1;
    Bytes pending_;
    bool peerClosed_ = false;
};

} // namespace vd::test
