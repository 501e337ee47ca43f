#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vd {

// One client of the service: a local process, or a remote host known by its address.
struct VDProcessInfo {
    // The addresses that count as this machine, shared by all clients of one processor.
    std::shared_ptr<const std::vector<std::string>> _localIPs;
    std::string processIconPath;
    std::string bundleIdentifier;
    std::string processName;
    std::int64_t processId = 0;
    std::string processPath;
    std::string fromHost;
    std::int64_t fromPort = 0;

    // A remote client by its address; else the process name, or address:port without one.
    std::string title() const;
};

} // namespace vd
