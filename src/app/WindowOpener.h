#pragma once

#include <cstdint>
#include <string>

namespace vd {

// What the connect window asks of the application: open (or bring forward) the main window for
// the chosen service. The connect window calls one of these before it closes itself.
class WindowOpener {
public:
    virtual ~WindowOpener() = default;
    virtual void createLocalWindow() = 0;
    virtual void createRemoteWindowWithHost(const std::string& host, std::int64_t port, const std::string& password) = 0;
    virtual void createRemoteWindowWithUSBPort(std::int64_t port, const std::string& password) = 0;
};

} // namespace vd
