#pragma once

#include <cstdint>
#include <string>

namespace vd {

// How a main window reaches its service; the numbers are the window's `type`.
enum class ConnectionKind : int { None = 0, Local = 1, Remote = 2, USB = 3 };

// Names a main window and keys its processor in the registry. Two requests reach the same
// window only when both the kind and the id string match: a TCP host literally named "USB"
// would otherwise spell the same id as a USB device.
struct WindowId {
    ConnectionKind kind = ConnectionKind::None;
    std::string idString;

    bool operator==(const WindowId&) const = default;

    static WindowId local();
    // The password enters as its SHA-256 hex digest: windows stay distinct per password, and
    // the id (which shows up in logs and in the processor registry) never carries the secret.
    static WindowId remote(const std::string& host, std::int64_t port, const std::string& password);
    static WindowId usb(std::int64_t port, const std::string& password);
};

} // namespace vd
