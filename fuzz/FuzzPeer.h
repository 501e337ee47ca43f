#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace vd::fuzz {

// The remote end of a local stream socket, played by a fuzz target: it sends the input as the
// peer's bytes and throws away whatever the code under test writes back.
class FuzzPeer {
public:
    explicit FuzzPeer(int fd) : fd_(fd) {}
    ~FuzzPeer();
    FuzzPeer(const FuzzPeer&) = delete;
    FuzzPeer& operator=(const FuzzPeer&) = delete;

    // A connected pair; the caller owns the first descriptor, the peer the second.
    static int socketPair(int& peerFd);

    // Sends every byte, in pieces of at most `chunk` bytes. Between pieces, and whenever the
    // socket is full, it reads what came back and runs `pump`, so a reader that only goes on
    // when its queue is drained never waits on us. False when the other end went away or
    // stopped reading.
    bool send(std::span<const std::uint8_t> bytes, std::size_t chunk, const std::function<void()>& pump);
    // Tells the other end nothing more comes.
    void shutdownWrite();
    void discardIncoming();

private:
    int fd_;
};

// A listening unix socket in a private folder, for code that connects by path.
class FuzzListener {
public:
    FuzzListener();
    ~FuzzListener();
    FuzzListener(const FuzzListener&) = delete;
    FuzzListener& operator=(const FuzzListener&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A connection's descriptor, or -1 when none came in time.
    int accept(std::chrono::milliseconds timeout);

private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    int fd_ = -1;
};

} // namespace vd::fuzz
