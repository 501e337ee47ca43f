#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "ExportTargets.h"

namespace httplib {
class Server;
}

namespace vd::ctl {

// Serves GET /metrics on threads of its own. When a token is given, every scrape has to carry
// it as "Authorization: Bearer TOKEN", or is answered 401.
class MetricsServer {
public:
    using Render = std::function<std::string()>;

    // Listening once it returns; throws Failure when the address cannot be bound.
    MetricsServer(const ListenAddress& where, std::optional<std::string> token, Render render);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // The port bound, which the system chose when asked for 0.
    std::uint16_t port() const { return port_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::uint16_t port_ = 0;
    std::atomic<bool> listenEnded_{false};
    std::thread thread_;
};

} // namespace vd::ctl
