#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Log.h"

namespace vd::ctl {

// Takes over the log for the life of the program: the data layer's lines would otherwise
// flood the terminal (they go to stderr only with --verbose), and the client manager reports
// how far its login got nowhere else.
//
// Both a refused password and a failed connection reach us as a disconnect with a bare text,
// and the manager's state is back at 0 by then, so neither tells them apart. What does is
// whether the service answered the handshake: the manager logs "Error: <message>" exactly
// when the service turns down our identity or password, on the link's queue right before it
// reports the disconnect, so the line is always seen first. A connection that never comes up,
// or that the service drops without a word, never writes that line. "Connect success" tells a
// service that accepted the connection but never let us in apart from one we never reached,
// and "Connect fail with error: ..." is a connection that could not even be started, which
// the manager reports nowhere else.
class LinkWatch {
public:
    explicit LinkWatch(bool echo);
    ~LinkWatch();
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;

    bool transportUp() const;
    // The service's reason for turning down the login ("(null)" when it gave none).
    std::optional<std::string> refusal() const;
    std::optional<std::string> startFailure() const;

private:
    void take(log::Level level, std::string_view line);

    const bool echo_;
    log::Sink previous_;
    mutable std::mutex mutex_;
    bool transportUp_ = false;
    std::optional<std::string> refusal_;
    std::optional<std::string> startFailure_;
};

} // namespace vd::ctl
